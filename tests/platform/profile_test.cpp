// Tests of the profile reader through real files, written to run unchanged against every backend.
#include "platform/profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include "temp_folder.h"
#include "utf16.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

constexpr std::size_t kSize = 64;
const std::u16string kDefault = u"dflt";

using test_support::FixedForm;
using test_support::Utf16BeFile;
using test_support::Utf16LeFile;

// One query of one file. The result must be the length of expected. differsOnWindows and
// differsOnWine say why the platform's own reader is known to answer otherwise there.
struct Case {
  const char* name;
  std::string file;
  std::u16string section;
  std::u16string key;
  std::u16string expected;
  std::size_t size = kSize;
  std::u16string defaultValue = kDefault;
  const char* differsOnWindows = nullptr;
  const char* differsOnWine = nullptr;
};

const char* const kAnsiCodePage = "narrow files are read in the ANSI code page, not UTF-8";

// Why the platform's own reader, where these tests run, is known to answer c otherwise; null when
// it answers as ours does (always on POSIX, where the reader is ours).
const char* KnownDifference(const Case& c) {
#if defined(_WIN32)
  // Wine's ntdll exports its version; Windows' does not.
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const bool wine = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  return wine ? c.differsOnWine : c.differsOnWindows;
#else
  (void)c;
  return nullptr;
#endif
}

const std::string kLongValue(70000, 'v');
// A file longer than any read chunk, with a two-byte character straddling the 64 KiB mark.
const std::string kStraddling = "[S]\nk=" + std::string(65529, 'a') + "\xC3\xA9\n";

const Case kCases[] = {
    // Result and buffer.
    {"exact fit", "[S]\nk=abcd", u"S", u"k", u"abcd", 5},
    {"value cut to size - 1", "[S]\nk=abcdef", u"S", u"k", u"abcd", 5},
    {"size 1 holds only the terminator", "[S]\nk=abc", u"S", u"k", u"", 1},
    {"cut counts UTF-16 units", Utf16LeFile(u"[S]\nk=a😀z"), u"S", u"k", {u'a', 0xD83D}, 3},
    {"default cut like a value", "[S]\n", u"S", u"k", u"dfl", 4},
    {"long value is not wrapped", "[S]\nk=" + kLongValue, u"S", u"k",
     std::u16string(kLongValue.begin(), kLongValue.end()), 70001, kDefault,
     "a value's length wraps modulo 65536"},
    // The file.
    {"empty file", "", u"S", u"k", kDefault},
    {"blank lines only", "\r\n \t\v\r\n\n", u"", u"", kDefault},
    {"UTF-16LE mark only", "\xFF\xFE", u"S", u"k", kDefault},
    {"UTF-16BE mark only", "\xFE\xFF", u"S", u"k", kDefault},
    {"UTF-8 mark only", "\xEF\xBB\xBF", u"S", u"k", kDefault},
    {"UTF-16LE", Utf16LeFile(u"[Pärams]\r\nk=Grüße 😀\r\n"), u"PäRAMS", u"K", u"Grüße 😀"},
    {"UTF-16LE of odd length", Utf16LeFile(u"[S]\r\nk=v") + "\x41", u"S", u"k", u"v", kSize,
     kDefault, nullptr, "a lone last byte is read as a unit of its own"},
    {"UTF-16BE", Utf16BeFile(u"[S]\r\nk=Grüße 😀\r\n"), u"S", u"k", u"Grüße 😀", kSize, kDefault,
     "FE FF is not read as UTF-16BE"},
    {"UTF-8 mark dropped", "\xEF\xBB\xBF[S]\nk=v", u"S", u"k", u"v", kSize, kDefault,
     "the UTF-8 mark is kept and breaks the header on line 1"},
    {"UTF-8 with mark", "\xEF\xBB\xBF[S]\nk=Gr\xC3\xBC\xC3\x9F\x65", u"S", u"k", u"Grüße", kSize,
     kDefault, "the UTF-8 mark is kept and breaks the header on line 1"},
    {"UTF-8 without mark", "[S]\nk=Gr\xC3\xBC\xC3\x9F\x65", u"S", u"k", u"Grüße", kSize, kDefault,
     kAnsiCodePage, kAnsiCodePage},
    {"UTF-8 straddling a read chunk", kStraddling, u"S", u"k", std::u16string(65529, u'a') + u"é",
     65600, kDefault, kAnsiCodePage, kAnsiCodePage},
    {"undecodable byte kept apart",
     "[S]\nk=a\xFF\x62",
     u"S",
     u"k",
     {u'a', 0xDCFF, u'b'},
     kSize,
     kDefault,
     kAnsiCodePage,
     kAnsiCodePage},
    {"undecodable key never matches", "[S]\nk\xFF=1\n", u"S", {u'k', 0xDCFF}, kDefault},
    {"undecodable header never matches", "[S\xC3]\nk=1\n", {u'S', 0xDCC3}, u"k", kDefault},
    {"undecodable line disturbs no other", "[S]\n;caf\xE9\nk=v\n", u"S", u"k", u"v"},
    {"LF", "[S]\nj=1\nk=2\n", u"S", u"k", u"2"},
    {"lone CR", "[S]\rj=1\rk=2\r", u"S", u"k", u"2"},
    {"mixed line ends", "[S]\r\nj=1\rk=2\n\rm=3", u"S", u"m", u"3"},
    {"no stray CR in a value", "[S]\r\nk=v\r\r\n", u"S", u"k", u"v"},
    {"last line without line end", "[S]\r\nk=v", u"S", u"k", u"v"},
    {"NUL ends a value", "[S]\r\nk=ab\0cd\r\nm=x"s, u"S", u"k", u"ab"},
    {"lines after a NUL still read", "[S]\r\nk=ab\0cd\r\nm=x"s, u"S", u"m", u"x"},
    {"file of a long line", "[S]\n;" + std::string(3'000'000, 'x') + "\nk=v", u"S", u"k", u"v"},
    // Sections.
    {"header and name trimmed", " \t[ \vMy Section\t ] \r\nk=v", u"My Section", u"k", u"v"},
    {"inner blanks belong to the name", "[My Section]\nk=v", u"MySection", u"k", kDefault},
    {"first ] ends the name", "[a]b]\nk=v", u"a", u"k", u"v", kSize, kDefault, nullptr,
     "the last ] ends the name"},
    {"text after the first ] is no name", "[a]b]\nk=v", u"a]b", u"k", kDefault, kSize, kDefault,
     nullptr, "the last ] ends the name"},
    {"key=value after ] is ignored", "[S] k=v\nm=w", u"S", u"k", kDefault},
    {"key after a header with trailing text", "[S] k=v\nm=w", u"S", u"m", u"w"},
    {"header without ]", "[PARAMS  \r\nk=v", u"PARAMS", u"k", u"v", kSize, kDefault, nullptr,
     "a line without ] is no header"},
    {"empty section name", "[]\nk=v", u"", u"k", u"v", kSize, kDefault, nullptr,
     "the lines before the first header form a section \"\" that hides []"},
    {"quotes ; and = in a name", "[a;b=\"c\"]\nk=v", u"a;b=\"c\"", u"k", u"v"},
    {"lines before the first header", "k=v\n[S]\nm=w", u"", u"k", kDefault, kSize, kDefault,
     nullptr, "lines before the first header belong to the section \"\""},
    {"keys before a header are not its keys", "k=v\n[S]\nm=w", u"S", u"k", kDefault},
    {"repeated section: first occurrence", "[S]\nk=1\n[s]\nk=2\nm=3", u"S", u"k", u"1"},
    {"repeated section: later keys unseen", "[S]\nk=1\n[s]\nk=2\nm=3", u"S", u"m", kDefault},
    // Keys and values.
    {"; line is a comment", "[S]\n;k=1\nk=2", u"S", u"k", u"2"},
    {"; line defines no key", "[S]\n;k=1\n", u"S", u";k", kDefault, kSize, kDefault, nullptr,
     "a ; line is a key starting with ;"},
    {"indented ; line is a comment", "[S]\n \t;k=1\n", u"S", u";k", kDefault, kSize, kDefault,
     nullptr, "a ; line is a key starting with ;"},
    {"# is no comment", "[S]\n#k=1\n", u"S", u"#k", u"1"},
    {"value after the first =", "[S]\nk=a=b", u"S", u"k", u"a=b"},
    {"key and value trimmed", "[S]\n \t\vk \t= \t v w \v\r\n", u"S", u"k", u"v w"},
    {"inner blanks belong to the key", "[S]\nmy key=v", u"S", u"my key", u"v"},
    {"a key without its inner blanks", "[S]\nmy key=v", u"S", u"mykey", kDefault},
    {"line starting with = is the key \"\"", "[S]\n=v", u"S", u"", u"v"},
    {"line without = defines no key", "[S]\nflag\n", u"S", u"flag", kDefault},
    {"first of a repeated key wins", "[S]\nk=\nK=2", u"S", u"k", u""},
    {"empty value is not the default", "[S]\nk= \t \n", u"S", u"k", u""},
    {"values are literal", "[S]\nk=1.2.3.4 ; gw %PATH% \\n", u"S", u"k",
     u"1.2.3.4 ; gw %PATH% \\n"},
    {"quotes removed after trimming", "[S]\nk= \"  a  \" ", u"S", u"k", u"  a  "},
    {"single quotes removed", "[S]\nk='x'", u"S", u"k", u"x"},
    {"one pair of quotes only", "[S]\nk=\"\"x\"\"", u"S", u"k", u"\"x\""},
    {"outer quotes of two quoted parts", "[S]\nk=\"a\" \"b\"", u"S", u"k", u"a\" \"b"},
    {"empty quoted value", "[S]\nk=''", u"S", u"k", u""},
    {"mismatched quotes stay", "[S]\nk=\"x'", u"S", u"k", u"\"x'"},
    {"one-sided quote stays", "[S]\nk=\"x", u"S", u"k", u"\"x"},
    {"lone quote stays", "[S]\nk=\"", u"S", u"k", u"\""},
    {"names match without regard to case", "[PARAMS]\nSubNetMask=AbC", u"params", u"SUBNETMASK",
     u"AbC"},
    {"spaces around queried names", "[PARAMS]\nGateway=g", u"  PARAMS ", u" Gateway  ", u"g"},
    {"key never matched by prefix", "[PARAMS]\nSubNetMask=m", u"PARAMS", u"SubNet", kDefault},
    {"section never matched by prefix", "[PARAMS]\nk=v", u"PARAM", u"k", kDefault},
    {"section never matched by extension", "[PARAMS]\nk=v", u"PARAMS2", u"k", kDefault},
    // The default.
    {"default loses trailing spaces only", "", u"S", u"k", u" \td \t", kSize, u" \td \t  "},
    {"default of spaces", "", u"S", u"k", u"", kSize, u"   ", nullptr,
     "a default of spaces keeps its first space"},
    {"marker: missing key", "[PARAMS]\n", u"PARAMS", u"Gateway", u"@1@", kSize, u"@1@"},
    {"marker: value @1@", "[PARAMS]\nGateway=@1@", u"PARAMS", u"Gateway", u"@1@", kSize, u"@1@"},
    {"marker: blanks", "[PARAMS]\nGateway= @1@ ", u"PARAMS", u"Gateway", u"@1@", kSize, u"@1@"},
    {"marker: double quotes", "[PARAMS]\nGateway=\"@1@\"", u"PARAMS", u"Gateway", u"@1@", kSize,
     u"@1@"},
    {"marker: single quotes", "[PARAMS]\nGateway='@1@'", u"PARAMS", u"Gateway", u"@1@", kSize,
     u"@1@"},
};

// A fresh folder of its own for each test, removed afterwards.
class ProfileFiles : public testing::Test {
 protected:
  fs::path Write(const std::string& name, const std::string& bytes) const {
    return temp_.Write(name, bytes);
  }

  test_support::TempFolder temp_;
  const fs::path& folder_ = temp_.path();
};

TEST_F(ProfileFiles, AnswersAsThePlatformReader) {
  constexpr char16_t kGuard = 0xBEEF;
  for (std::size_t i = 0; i < std::size(kCases); ++i) {
    const Case& c = kCases[i];
    SCOPED_TRACE(testing::Message()
                 << "case " << i << ": " << c.name
                 << " (differs on Windows: " << (c.differsOnWindows ? c.differsOnWindows : "no")
                 << "; on Wine: " << (c.differsOnWine ? c.differsOnWine : "no") << ")");
    if (const char* reason = KnownDifference(c)) {
      std::printf("skipped case %zu (%s): %s\n", i, c.name, reason);
      continue;
    }
    const fs::path file = Write("case" + std::to_string(i) + ".ini", c.file);
    std::vector<char16_t> buffer(c.size + 2, kGuard);
    const std::size_t result = platform::ReadProfileString(c.section, c.key, c.defaultValue,
                                                           buffer.data(), c.size, FixedForm(file));
    EXPECT_EQ(result, c.expected.size());
    if (result >= c.size) {
      continue;
    }
    EXPECT_EQ(std::u16string(buffer.data(), result), c.expected);
    EXPECT_EQ(buffer[result], u'\0');
    EXPECT_EQ(buffer[c.size], kGuard);
    EXPECT_EQ(buffer[c.size + 1], kGuard);
  }
}

TEST_F(ProfileFiles, UnreadableFilesGiveTheDefaultAndSizeZeroWritesNothing) {
  const fs::path good = Write("good.ini", "[S]\r\nk=value\r\n");
  fs::create_directories(folder_ / "sub");
  fs::create_directories(folder_ / "dir.ini");
  char16_t buffer[16] = {};

  const auto read = [&](const std::u16string& path, std::size_t size) {
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    return platform::ReadProfileString(u"S", u"k", u"dflt  ", buffer, size, path);
  };
  EXPECT_EQ(read(FixedForm(good), 16), 5U);
  EXPECT_EQ(std::u16string(buffer), u"value");
  EXPECT_EQ(read(FixedForm(folder_) + u"\\sub\\..\\good.ini", 16), 5U);
  EXPECT_EQ(std::u16string(buffer), u"value");

  const std::u16string unreadable[] = {
      FixedForm(folder_ / "missing.ini"),
      FixedForm(folder_ / "missing" / "good.ini"),
      FixedForm(folder_ / "dir.ini"),
      FixedForm(folder_),
  };
  for (const auto& path : unreadable) {
    SCOPED_TRACE(testing::PrintToString(path));
    EXPECT_EQ(read(path, 16), 4U);
    EXPECT_EQ(std::u16string(buffer), u"dflt");
  }

  EXPECT_EQ(read(FixedForm(good), 0), 0U);
  EXPECT_EQ(buffer[0], u'#');
  EXPECT_EQ(read(FixedForm(folder_ / "missing.ini"), 0), 0U);
  EXPECT_EQ(buffer[0], u'#');
}

TEST_F(ProfileFiles, ReadsASoundSectionBeforeATebibyteOfZeros) {
#if defined(_WIN32)
  GTEST_SKIP() << "the system's own reader reads the whole file";
#else
  // A sparse file: the zeros take no room on disk. A reader that held the file, or read past the
  // answer, would run out of memory or time here.
  const fs::path file = Write("huge.ini", "[PARAMS]\r\nGateway=192.168.1.1\r\nRangeIp='a-b'\r\n");
  std::error_code error;
  fs::resize_file(file, std::uintmax_t{1} << 40U, error);
  if (error) {
    GTEST_SKIP() << "no sparse file of 1 TiB here: " << error.message();
  }
  char16_t buffer[kSize] = {};
  const struct {
    const char16_t* key;
    std::u16string expected;
  } reads[] = {{u"gateway", u"192.168.1.1"}, {u"RangeIp", u"a-b"}};
  for (const auto& read : reads) {
    EXPECT_EQ(
        platform::ReadProfileString(u"PARAMS", read.key, kDefault, buffer, kSize, FixedForm(file)),
        read.expected.size());
    EXPECT_EQ(std::u16string(buffer), read.expected);
  }
#endif
}

// One listing of one file: the sections when section is null, else the keys of that section.
struct Listing {
  const char* name;
  std::string file;
  const char16_t* section;
  std::vector<std::u16string> expected;
  const char* differsOnWindows = nullptr;
  const char* differsOnWine = nullptr;
};

const std::string kListed =
    "k=0\r\n[PARAMS]\r\nSubNetMask=1\r\n Gatway = 3\r\nsubnetmask=4\r\n[Other]\r\nx=1\r\n"
    "[ params ]\r\ny=2\r\n";

// A name one unit longer than the listings hand back, and a key line of zeros longer than the
// POSIX backend's 64 KiB reads.
const std::string kLongNames =
    "[" + std::string(1025, 'S') + "]\r\n[PARAMS]\r\n" + std::string(1025, 'k') + "=1\r\nk=2\r\n";
const std::string kZeroKeyLine =
    "[PARAMS]\r\na=1\r\n" + std::string(std::size_t{100} << 10U, '\0') + "=2\r\nb=3\r\n";
const char* const kKeyEndsAtNul =
    "the system's reader ends the key at its first NUL: it lists \"\"";

const Listing kListings[] = {
    {"sections in file order, each once", kListed, nullptr, {u"PARAMS", u"Other"}},
    {"keys of the first occurrence, each once", kListed, u" params ", {u"SubNetMask", u"Gatway"}},
    {"keys of a later section", kListed, u"OTHER", {u"x"}},
    {"missing section has no keys", kListed, u"PARAM", {}},
    {"empty file has no sections", "", nullptr, {}},
    {"no comment or line without = among the keys", "[S]\r\n;c=1\r\nflag\r\nk=2\r\n", u"S", {u"k"}},
    {"no lines before the first header among the sections", "k=1\r\n[S]\r\n", nullptr, {u"S"}},
    {"UTF-16LE names", Utf16LeFile(u"[Pärams]\r\nGrüße=1\r\n😀=2\r\n"), u"PäRAMS", {u"Grüße", u"😀"}},
    {"no section name over the limit", kLongNames, nullptr, {u"PARAMS"}},
    {"no key name over the limit", kLongNames, u"params", {u"k"}},
    {"no key of a huge line of zeros",
     kZeroKeyLine,
     u"PARAMS",
     {u"a", u"b"},
     kKeyEndsAtNul,
     kKeyEndsAtNul},
};

TEST_F(ProfileFiles, ListsNamesAsThePlatformReader) {
  for (std::size_t i = 0; i < std::size(kListings); ++i) {
    const Listing& c = kListings[i];
    SCOPED_TRACE(testing::Message() << "listing " << i << ": " << c.name);
    const char* reason = nullptr;
#if defined(_WIN32)
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const bool wine = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    reason = wine ? c.differsOnWine : c.differsOnWindows;
#endif
    if (reason != nullptr) {
      std::printf("skipped listing %zu (%s): %s\n", i, c.name, reason);
      continue;
    }
    const std::u16string path = FixedForm(Write("list" + std::to_string(i) + ".ini", c.file));
    std::vector<std::u16string> names = {u"stale"};
    const bool listed = c.section == nullptr ? platform::ListProfileSections(path, names)
                                             : platform::ListProfileKeys(c.section, path, names);
    EXPECT_TRUE(listed);
    EXPECT_EQ(names, c.expected);
  }
}

TEST_F(ProfileFiles, ListingAnUnreadableFileFailsAndLeavesTheListAlone) {
  fs::create_directories(folder_ / "dir.ini");
  const std::u16string unreadable[] = {
      FixedForm(folder_ / "missing.ini"),
      FixedForm(folder_ / "missing" / "good.ini"),
      FixedForm(folder_ / "dir.ini"),
      u"",
  };
  for (const auto& path : unreadable) {
    SCOPED_TRACE(testing::PrintToString(path));
    std::vector<std::u16string> names = {u"kept"};
    EXPECT_FALSE(platform::ListProfileSections(path, names));
    EXPECT_FALSE(platform::ListProfileKeys(u"S", path, names));
    EXPECT_EQ(names, std::vector<std::u16string>{u"kept"});
  }
}

}  // namespace
