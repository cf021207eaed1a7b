// Exact conversion between the system's narrow text (UTF-8) and its wide text (UTF-16).
#include "text.h"

#include <cstddef>
#include <cstdint>
#include <utility>

namespace platform {

namespace {

constexpr char32_t kMaxCodePoint = 0x10FFFF;

bool IsSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDFFF;
}
bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0U) == 0x80U;
}

}  // namespace

bool Utf8ToUtf16(std::string_view in, std::u16string& out) {
  std::u16string result;
  result.reserve(in.size());
  std::size_t i = 0;
  while (i < in.size()) {
    const auto lead = static_cast<unsigned char>(in[i]);
    std::size_t extra = 0;
    char32_t c = 0;
    char32_t least = 0;  // the smallest code point that needs this many bytes
    if (lead < 0x80U) {
      c = lead;
    } else if ((lead & 0xE0U) == 0xC0U) {
      extra = 1, c = lead & 0x1FU, least = 0x80;
    } else if ((lead & 0xF0U) == 0xE0U) {
      extra = 2, c = lead & 0x0FU, least = 0x800;
    } else if ((lead & 0xF8U) == 0xF0U) {
      extra = 3, c = lead & 0x07U, least = 0x10000;
    } else {
      return false;
    }
    if (in.size() - i <= extra) {
      return false;
    }
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto byte = static_cast<unsigned char>(in[i + k]);
      if (!IsContinuation(byte)) {
        return false;
      }
      c = (c << 6U) | (byte & 0x3FU);
    }
    if (c < least || c > kMaxCodePoint || IsSurrogate(c)) {
      return false;
    }
    if (c >= 0x10000) {
      const char32_t v = c - 0x10000;
      result += static_cast<char16_t>(0xD800 + (v >> 10U));
      result += static_cast<char16_t>(0xDC00 + (v & 0x3FFU));
    } else {
      result += static_cast<char16_t>(c);
    }
    i += extra + 1;
  }
  out = std::move(result);
  return true;
}

bool Utf16ToUtf8(std::u16string_view in, std::string& out) {
  std::string result;
  result.reserve(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    char32_t c = in[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 == in.size() || in[i + 1] < 0xDC00 || in[i + 1] > 0xDFFF) {
        return false;
      }
      c = 0x10000 + ((c - 0xD800) << 10U) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (IsSurrogate(c)) {
      return false;
    }
    if (c < 0x80) {
      result += static_cast<char>(c);
    } else if (c < 0x800) {
      result += static_cast<char>(0xC0 | (c >> 6U));
      result += static_cast<char>(0x80 | (c & 0x3FU));
    } else if (c < 0x10000) {
      result += static_cast<char>(0xE0 | (c >> 12U));
      result += static_cast<char>(0x80 | ((c >> 6U) & 0x3FU));
      result += static_cast<char>(0x80 | (c & 0x3FU));
    } else {
      result += static_cast<char>(0xF0 | (c >> 18U));
      result += static_cast<char>(0x80 | ((c >> 12U) & 0x3FU));
      result += static_cast<char>(0x80 | ((c >> 6U) & 0x3FU));
      result += static_cast<char>(0x80 | (c & 0x3FU));
    }
  }
  out = std::move(result);
  return true;
}

}  // namespace platform
