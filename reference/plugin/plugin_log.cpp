// The reference plugin's log: one UTF-8 line per event, appended to a fixed file.
#include "plugin_log.h"

#include <array>
#include <cstddef>
#include <cstdio>
#include <ctime>

#include "platform/text.h"
#include "safe_file.h"

namespace dhcp_plugin {

namespace {

using platform::IsHighSurrogate;
using platform::IsLowSurrogate;

// The text with control and line-breaking characters spelled out and unpaired surrogates replaced,
// so that it always converts to UTF-8.
std::u16string Printable(std::u16string_view text) {
  std::u16string printable;
  printable.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      printable += c;
      printable += text[++i];
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      printable += u'\uFFFD';
    } else if (c < 0x20 || c == 0x7F) {
      std::array<char, 5> escape{};
      std::snprintf(escape.data(), escape.size(), "\\x%02X", static_cast<unsigned>(c));
      printable.append(escape.data(), escape.data() + 4);
    } else if ((c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029) {
      std::array<char, 7> escape{};
      std::snprintf(escape.data(), escape.size(), "\\u%04X", static_cast<unsigned>(c));
      printable.append(escape.data(), escape.data() + 6);
    } else {
      printable += c;
    }
  }
  return printable;
}

}  // namespace

std::filesystem::path DefaultLogFolder() {
  return std::filesystem::path("..") / "log";
}

std::string FormatLogLine(std::string_view timestamp, std::string_view event,
                          std::u16string_view text) {
  std::string utf8;
  platform::Utf16ToUtf8(Printable(text), utf8);
  std::string line;
  line.reserve(timestamp.size() + event.size() + utf8.size() + 4);
  line.append(timestamp).append(" ").append(event).append(": ").append(utf8).append("\n");
  return line;
}

std::string CurrentTimestamp() {
  const std::time_t now = std::time(nullptr);
  const std::tm* utc = now == static_cast<std::time_t>(-1) ? nullptr : std::gmtime(&now);
  std::array<char, 32> buffer{};
  if (utc == nullptr ||
      std::strftime(buffer.data(), buffer.size(), "%Y-%m-%dT%H:%M:%SZ", utc) == 0) {
    return "-";
  }
  return buffer.data();
}

void AppendToLog(const std::filesystem::path& folder, std::string_view event,
                 std::u16string_view text) noexcept {
  try {
    safe_file::AppendRotating(folder, kLogFileName, kOldLogFileName,
                              FormatLogLine(CurrentTimestamp(), event, text), kLogRotateBytes);
  } catch (...) {
    // Out of memory: the request goes on without its log line.
  }
}

}  // namespace dhcp_plugin
