// Text made safe to show on a terminal or to write as one line of a log.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// text with every control and line-breaking character spelled out, so that it cannot move a
// terminal's cursor, erase what was shown or end a line early: C0 controls and DEL as \xNN, C1
// controls (U+0080 to U+009F) and the line and paragraph separators U+2028 and U+2029 as \uNNNN
// (hexadecimal digits in upper case). Unpaired surrogates become U+FFFD, so that the result always
// converts to UTF-8. Everything else is kept as it is. Never throws except std::bad_alloc.
std::u16string SpellOutControls(std::u16string_view text);

}  // namespace platform
