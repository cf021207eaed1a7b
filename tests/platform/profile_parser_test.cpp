// Tests of our own profile reader's in-memory parts: decoding in pieces and the search on odd text.
#include "platform/posix/profile_parser.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

std::u16string DecodeInPieces(const std::string& bytes, std::size_t piece) {
  platform::ProfileDecoder decoder(bytes.size());
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    decoder.Feed(std::string_view(bytes).substr(at, piece));
  }
  return decoder.Finish();
}

TEST(ProfileDecoder, GivesTheSameTextWhateverThePieces) {
  const struct {
    std::string bytes;
    std::u16string text;
  } known[] = {
      {"", u""},
      {"a", u"a"},
      {"\xEF\xBB\xBF", u""},
      {"\xEF\xBB", {0xDCEF, 0xDCBB}},
      {"\xEF\xBB\xBF\xEF\xBB\xBF", u"\uFEFF"},
      {"\xEF\xBB\xBF[\xE2\x82\xAC]\r\n\xF0\x9F\x98\x80", u"[€]\r\n😀"},
      {"\xE2\x82", {0xDCE2, 0xDC82}},
      {"\xC0\x80=\xED\xA0\x80", {0xDCC0, 0xDC80, u'=', 0xDCED, 0xDCA0, 0xDC80}},
      {"\xE0\x9F\xBF\xF0\x8F\xBF\xBF", {0xDCE0, 0xDC9F, 0xDCBF, 0xDCF0, 0xDC8F, 0xDCBF, 0xDCBF}},
      {"\xF4\x90\x80\x80x", {0xDCF4, 0xDC90, 0xDC80, 0xDC80, u'x'}},
      {"\xC3z\xC3\xA9", {0xDCC3, u'z', u'é'}},
      {"\xFF\xFE"
       "a\0b"s,
       u"a"},
      {"\xFF\xFE=\0\x3D\xD8\x00\xDE\x41"s, u"=😀"},
      {"\xFE\xFF\0a\xD8\x3D\xDE\x00"s, u"a😀"},
      {"\xFE\xFF\xD8", u""},
  };
  for (const auto& k : known) {
    SCOPED_TRACE(testing::PrintToString(k.bytes));
    for (const std::size_t piece : {1, 2, 3, 5, 64}) {
      EXPECT_EQ(DecodeInPieces(k.bytes, piece), k.text) << "pieces of " << piece;
    }
  }

  // Random files built from the bytes that matter to marks, sequences and lines.
  const std::string alphabet =
      "\xEF\xBB\xBF\xFF\xFE\xC3\xA9\xF0\x9F\x98\x80\xE2\x82\xED\xA0[]=\r\na"s;
  std::mt19937 random(20240611);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(random() % 24, '\0');
    for (char& byte : bytes) {
      byte = alphabet[random() % alphabet.size()];
    }
    const std::u16string whole = DecodeInPieces(bytes, bytes.size() + 1);
    for (const std::size_t piece : {1, 2, 3}) {
      ASSERT_EQ(DecodeInPieces(bytes, piece), whole) << testing::PrintToString(bytes);
    }
  }
}

TEST(ProfileSearch, StaysInsideOddText) {
  const std::u16string huge(2'000'000, u'[');
  EXPECT_FALSE(platform::FindProfileValue(huge, u"", u""));
  const std::u16string equals = u"[]\n" + std::u16string(2'000'000, u'=');
  EXPECT_EQ(platform::FindProfileValue(equals, u"", u"").value_or(u"?").size(), 1'999'999U);
  EXPECT_FALSE(platform::FindProfileValue(u"[\xD83D]\nk=v", std::u16string(1, 0xD83D), u"k"));

  // Random texts and queries: a value found is a view into the text and holds no line end or NUL.
  const std::u16string alphabet = u"[] \t\v;=\"'\r\n\0kKsS"s;
  std::mt19937 random(7);
  for (int round = 0; round < 20000; ++round) {
    std::u16string text(random() % 40, u'\0');
    for (char16_t& unit : text) {
      unit = alphabet[random() % alphabet.size()];
    }
    const std::u16string names[] = {u"", u"k", u"s", u" S ", u"k k"};
    const auto value = platform::FindProfileValue(text, names[random() % 5], names[random() % 5]);
    if (value) {
      ASSERT_GE(value->data(), text.data()) << testing::PrintToString(text);
      ASSERT_LE(value->data() + value->size(), text.data() + text.size());
      ASSERT_EQ(value->find_first_of(u"\r\n\0"s), std::u16string_view::npos);
    }
  }
}

}  // namespace
