// Tests of the exact conversion between UTF-8 and UTF-16.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

TEST(Text, RoundTripsEveryKindOfCodePoint) {
  const struct {
    std::string utf8;
    std::u16string utf16;
  } cases[] = {
      {"", u""},
      {"plain ASCII \x7F"s, u"plain ASCII \x7F"},
      {"a\0b"s, u"a\0b"s},
      {"\xC2\x80\xDF\xBF", u"\u0080\u07FF"},
      {"\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF", u"\u0800\uD7FF\uE000\uFFFF"},
      {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", u"\U00010000\U0010FFFF"},
      {"Gr\xC3\xBC\xC3\x9F\x65 \xF0\x9F\x98\x80!", u"Grüße 😀!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.utf8);
    std::u16string wide = u"stale";
    ASSERT_TRUE(platform::Utf8ToUtf16(c.utf8, wide));
    EXPECT_EQ(wide, c.utf16);
    std::string narrow = "stale";
    ASSERT_TRUE(platform::Utf16ToUtf8(c.utf16, narrow));
    EXPECT_EQ(narrow, c.utf8);
  }
}

TEST(Text, RejectsInvalidUtf8AndLeavesOutputAlone) {
  const std::string invalid[] = {
      "\x80",                  // continuation byte without a lead
      "a\xBF",                 // the same after valid text
      "\xC3",                  // lead byte at the end
      "\xC3z",                 // lead byte followed by no continuation
      "\xE2\x82",              // three-byte sequence cut short
      "\xF0\x9F\x98",          // four-byte sequence cut short
      "\xC0\x80",              // overlong NUL
      "\xC1\xBF",              // overlong two-byte form
      "\xE0\x9F\xBF",          // overlong three-byte form
      "\xF0\x8F\xBF\xBF",      // overlong four-byte form
      "\xED\xA0\x80",          // encoded high surrogate
      "\xED\xBF\xBF",          // encoded low surrogate
      "\xF4\x90\x80\x80",      // past U+10FFFF
      "\xF5\x80\x80\x80",      // lead byte past U+10FFFF
      "\xF8\x88\x80\x80\x80",  // five-byte form
      "\xFE",
      "\xFF",
  };
  for (const auto& bytes : invalid) {
    SCOPED_TRACE(testing::PrintToString(bytes));
    std::u16string out = u"untouched";
    EXPECT_FALSE(platform::Utf8ToUtf16(bytes, out));
    EXPECT_EQ(out, u"untouched");
    EXPECT_FALSE(platform::Utf8ToUtf16("ok " + bytes + " ok", out));
    EXPECT_EQ(out, u"untouched");
  }
}

TEST(Text, RejectsLoneSurrogatesAndLeavesOutputAlone) {
  const std::u16string invalid[] = {
      {0xD800},                 // high surrogate at the end
      {0xD83D, u'x'},           // high surrogate followed by a non-surrogate
      {0xDE00},                 // low surrogate alone
      {0xDE00, 0xD83D},         // a pair in the wrong order
      {u'a', 0xD83D, 0xD83D},   // two high surrogates
      {0xD83D, 0xDE00, 0xDE00}  // a valid pair followed by a stray low surrogate
  };
  for (const auto& units : invalid) {
    SCOPED_TRACE(testing::PrintToString(units));
    std::string out = "untouched";
    EXPECT_FALSE(platform::Utf16ToUtf8(units, out));
    EXPECT_EQ(out, "untouched");
  }
}

}  // namespace
