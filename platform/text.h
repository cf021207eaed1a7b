// Exact conversion between the system's narrow text (UTF-8) and its wide text (UTF-16).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Converts UTF-8 to UTF-16. Returns false, leaving out untouched, when in is not well-formed UTF-8
// (a stray or missing continuation byte, an overlong form, an encoded surrogate, a code point past
// U+10FFFF).
bool Utf8ToUtf16(std::string_view in, std::u16string& out);

// Converts UTF-16 to UTF-8. Returns false, leaving out untouched, when in holds a lone surrogate.
bool Utf16ToUtf8(std::u16string_view in, std::string& out);

// The pieces both the strict conversion above and lenient decoders are built from.

// The length of the UTF-8 sequence a byte opens: 1 for ASCII, 2 to 4 for a lead byte, 0 for a
// byte that cannot open a well-formed sequence (a continuation byte, C0, C1, F5 to FF).
std::size_t Utf8SequenceLength(unsigned char lead);

// Decodes sequence, whose size is Utf8SequenceLength of its first byte, into c. Returns false when
// it is not well-formed: a missing continuation byte, an overlong form, an encoded surrogate or a
// code point past U+10FFFF.
bool DecodeUtf8Sequence(std::string_view sequence, char32_t& c);

// Whether c, a UTF-16 unit or a code point, is a high (leading) surrogate, a low (trailing)
// surrogate, or either.
constexpr bool IsHighSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
constexpr bool IsLowSurrogate(char32_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}
constexpr bool IsSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDFFF;
}

// Appends code point c (not a surrogate, at most U+10FFFF) as one or two UTF-16 units.
void AppendUtf16(char32_t c, std::u16string& out);

}  // namespace platform
