// Test helpers for the system's UTF-16 text: conversion from and to UTF-8, and the bytes of a
// UTF-16 file.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/text.h"

namespace test_support {

// utf8 as the system's text; a test fails when utf8 is not valid UTF-8.
inline std::u16string Utf16(std::string_view utf8) {
  std::u16string text;
  EXPECT_TRUE(platform::Utf8ToUtf16(utf8, text)) << utf8;
  return text;
}

// text as UTF-8; a test fails when text is not valid UTF-16.
inline std::string Utf8(std::u16string_view text) {
  std::string utf8;
  EXPECT_TRUE(platform::Utf16ToUtf8(text, utf8));
  return utf8;
}

// The bytes of text in UTF-16LE, or UTF-16BE when bigEndian, without a byte-order mark.
inline std::string Utf16Bytes(std::u16string_view text, bool bigEndian = false) {
  std::string bytes;
  for (const char16_t unit : text) {
    const char low = static_cast<char>(unit & 0xFFU);
    const char high = static_cast<char>(unit >> 8U);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
  }
  return bytes;
}

// A whole UTF-16LE file: the byte-order mark FF FE, then text.
inline std::string Utf16LeFile(std::u16string_view text) {
  return "\xFF\xFE" + Utf16Bytes(text);
}

// A whole UTF-16BE file: the byte-order mark FE FF, then text.
inline std::string Utf16BeFile(std::u16string_view text) {
  return "\xFE\xFF" + Utf16Bytes(text, true);
}

}  // namespace test_support
