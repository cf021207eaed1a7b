// Tests of our own profile reader on text in memory: decoding and scanning in pieces, odd text.
#include "platform/profile_parser.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

constexpr std::size_t kWhole = std::u16string::npos;

std::u16string DecodeInPieces(const std::string& bytes, std::size_t piece) {
  platform::ProfileDecoder decoder;
  std::u16string text;
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    decoder.Feed(std::string_view(bytes).substr(at, piece), text);
  }
  decoder.Finish(text);
  return text;
}

// Feeds text to scanner in pieces of the given size.
void ScanInPieces(std::u16string_view text, std::size_t piece, platform::ProfileScanner& scanner) {
  for (std::size_t at = 0; at < text.size(); at += piece) {
    if (!scanner.Feed(text.substr(at, piece))) {
      return;
    }
  }
  scanner.Finish();
}

std::optional<std::u16string> SearchInPieces(std::u16string_view text, std::u16string_view section,
                                             std::u16string_view key, std::size_t piece,
                                             std::size_t limit = kWhole) {
  platform::ProfileValueSearch search(section, key);
  platform::ProfileScanner scanner(search, search.NameLimit(), limit);
  ScanInPieces(text, piece, scanner);
  return search.Value();
}

// The sections of text, or with a section the keys of that section.
std::vector<std::u16string> ListInPieces(std::u16string_view text,
                                         const std::optional<std::u16string>& section,
                                         std::size_t piece) {
  platform::ProfileNameList list =
      section ? platform::ProfileNameList(*section) : platform::ProfileNameList();
  platform::ProfileScanner scanner(list, kWhole, 0);
  ScanInPieces(text, piece, scanner);
  return list.Take();
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

TEST(ProfileScanner, ListsNamesInFileOrderEachOnce) {
  const std::u16string text =
      u"k=0\n[B]\nx=1\n;c=2\nX=3\n y =4\nflag\n=5\n[a]\n[b]\nz=6\n[ A ]\nw=7\n[\xD83D]\n";
  using Names = std::vector<std::u16string>;
  EXPECT_EQ(ListInPieces(text, std::nullopt, kWhole), (Names{u"B", u"a", u"\xD83D"}));
  EXPECT_EQ(ListInPieces(text, u" b ", kWhole), (Names{u"x", u"y", u""}));
  EXPECT_EQ(ListInPieces(text, u"A", kWhole), Names{});
  EXPECT_EQ(ListInPieces(text, u"missing", kWhole), Names{});
  EXPECT_EQ(ListInPieces(text, std::u16string(1, 0xD83D), kWhole), Names{});
}

TEST(ProfileScanner, AnswersTheSameWhateverThePiecesAndLimits) {
  // Lines far longer than any limit: the scan keeps what it needs and no more.
  const std::u16string huge(2'000'000, u'[');
  EXPECT_FALSE(SearchInPieces(huge, u"", u"", kWhole));
  const std::u16string equals = u"[]\n" + std::u16string(2'000'000, u'=');
  EXPECT_EQ(SearchInPieces(equals, u"", u"", 4096).value_or(u"?").size(), 1'999'999U);
  EXPECT_EQ(SearchInPieces(equals, u"", u"", 4096, 5), std::u16string(5, u'='));
  const std::u16string longKey = u"[S]\n" + std::u16string(1'000'000, u'k') + u"=v\nk=w";
  EXPECT_EQ(SearchInPieces(longKey, u"S", u"k", 1000), u"w");
  EXPECT_EQ(SearchInPieces(u"[S]\nk=\"abcdef\"", u"S", u"k", kWhole, 3), u"abc");
  EXPECT_EQ(SearchInPieces(u"[S]\nk= ab  ", u"S", u"k", kWhole, 3), u"ab");
  EXPECT_FALSE(SearchInPieces(u"[\xD83D]\nk=v", std::u16string(1, 0xD83D), u"k", kWhole));

  // Random texts and queries: any pieces give the answer of the whole text, a limit cuts that
  // answer, and a value holds no line end or NUL.
  const std::u16string alphabet = u"[] \t\v;=\"'\r\n\0kKsS"s;
  const std::u16string names[] = {u"", u"k", u"s", u" S ", u"k k"};
  std::mt19937 random(7);
  for (int round = 0; round < 20000; ++round) {
    std::u16string text(random() % 40, u'\0');
    for (char16_t& unit : text) {
      unit = alphabet[random() % alphabet.size()];
    }
    const std::u16string& section = names[random() % 5];
    const std::u16string& key = names[random() % 5];
    SCOPED_TRACE(testing::PrintToString(text));
    const std::size_t piece = 1 + random() % 4;
    const auto value = SearchInPieces(text, section, key, kWhole);
    ASSERT_EQ(SearchInPieces(text, section, key, piece), value);
    const std::size_t limit = random() % 4;
    ASSERT_EQ(SearchInPieces(text, section, key, piece, limit),
              value ? std::optional(value->substr(0, limit)) : std::nullopt);
    if (value) {
      ASSERT_EQ(value->find_first_of(u"\r\n\0"s), std::u16string::npos);
    }
    ASSERT_EQ(ListInPieces(text, std::nullopt, piece), ListInPieces(text, std::nullopt, kWhole));
    ASSERT_EQ(ListInPieces(text, section, piece), ListInPieces(text, section, kWhole));
  }
}

}  // namespace
