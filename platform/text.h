// Exact conversion between the system's narrow text (UTF-8) and its wide text (UTF-16).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Converts UTF-8 to UTF-16. Returns false, leaving out untouched, when in is not well-formed UTF-8
// (a stray or missing continuation byte, an overlong form, an encoded surrogate, a code point past
// U+10FFFF).
bool Utf8ToUtf16(std::string_view in, std::u16string& out);

// Converts UTF-16 to UTF-8. Returns false, leaving out untouched, when in holds a lone surrogate.
bool Utf16ToUtf8(std::u16string_view in, std::string& out);

}  // namespace platform
