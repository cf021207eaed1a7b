// The reference plugin's log: one UTF-8 line per event, appended to a fixed file.
#include "plugin_log.h"

#include <array>
#include <cstddef>
#include <cstdio>
#include <ctime>

#include "platform/printable.h"
#include "platform/text.h"
#include "safe_file.h"

namespace dhcp_plugin {

std::filesystem::path DefaultLogFolder() {
  return std::filesystem::path("..") / "log";
}

std::string FormatLogLine(std::string_view timestamp, std::string_view event,
                          std::u16string_view text) {
  std::string utf8;
  platform::Utf16ToUtf8(platform::SpellOutControls(text), utf8);
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
