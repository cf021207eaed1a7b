// Exact conversion between the system's narrow text (UTF-8) and its wide text (UTF-16).
#include "text.h"

#include <cstddef>
#include <cstdint>
#include <utility>

namespace platform {

std::size_t Utf8SequenceLength(unsigned char lead) {
  if (lead < 0x80) {
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    return 2;
  }
  if (lead >= 0xE0 && lead <= 0xEF) {
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    return 4;
  }
  return 0;
}

bool DecodeUtf8Sequence(std::string_view sequence, char32_t& c) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(sequence.data());
  const std::size_t length = sequence.size();
  if (length == 1) {
    c = bytes[0];
    return true;
  }
  // The second byte's range rules out overlong forms, encoded surrogates and code points past
  // U+10FFFF.
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (bytes[0] == 0xE0) {
    low = 0xA0;
  } else if (bytes[0] == 0xED) {
    high = 0x9F;
  } else if (bytes[0] == 0xF0) {
    low = 0x90;
  } else if (bytes[0] == 0xF4) {
    high = 0x8F;
  }
  if (bytes[1] < low || bytes[1] > high) {
    return false;
  }
  char32_t decoded = bytes[0] & (0x7FU >> length);
  for (std::size_t k = 1; k < length; ++k) {
    if ((bytes[k] & 0xC0U) != 0x80U) {
      return false;
    }
    decoded = (decoded << 6U) | (bytes[k] & 0x3FU);
  }
  c = decoded;
  return true;
}

void AppendUtf16(char32_t c, std::u16string& out) {
  if (c >= 0x10000) {
    const char32_t v = c - 0x10000;
    out += static_cast<char16_t>(0xD800 + (v >> 10U));
    out += static_cast<char16_t>(0xDC00 + (v & 0x3FFU));
  } else {
    out += static_cast<char16_t>(c);
  }
}

bool Utf8ToUtf16(std::string_view in, std::u16string& out) {
  std::u16string result;
  result.reserve(in.size());
  std::size_t i = 0;
  while (i < in.size()) {
    const std::size_t length = Utf8SequenceLength(static_cast<unsigned char>(in[i]));
    char32_t c = 0;
    if (length == 0 || in.size() - i < length || !DecodeUtf8Sequence(in.substr(i, length), c)) {
      return false;
    }
    AppendUtf16(c, result);
    i += length;
  }
  out = std::move(result);
  return true;
}

bool Utf16ToUtf8(std::u16string_view in, std::string& out) {
  std::string result;
  result.reserve(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    char32_t c = in[i];
    if (IsHighSurrogate(c)) {
      if (i + 1 == in.size() || !IsLowSurrogate(in[i + 1])) {
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
