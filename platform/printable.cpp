// Text made safe to show on a terminal or to write as one line of a log.
#include "printable.h"

#include <array>
#include <cstdio>

#include "text.h"

namespace platform {

std::u16string SpellOutControls(std::u16string_view text) {
  std::u16string printable;
  printable.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      printable += c;
      printable += text[++i];
    } else if (IsSurrogate(c)) {
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

}  // namespace platform
