// Tests of the settings reader against real settings files.
#include "launcher/ini_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "temp_folder.h"
#include "utf16.h"

namespace {

constexpr char kGuard = '#';
constexpr std::size_t kGuardBytes = 8;

// A settings file in a folder of its own, removed afterwards.
class SettingsFile : public testing::Test {
 protected:
  // Writes the file and returns its name in the system's fixed form (UTF-8, backslashes).
  std::string Write(const std::string& bytes, const char* name = "fylDHCPServer.ini") {
    return test_support::Utf8(test_support::FixedForm(folder_.Write(name, bytes)));
  }

  // Reads key into a buffer of capacity bytes followed by guard bytes, which must stay untouched.
  int Read(const std::string& file, const char* section, const char* key, std::size_t capacity) {
    buffer_.assign(capacity + kGuardBytes, kGuard);
    const int result =
        CIniReader().ReadString(file.c_str(), section, key, buffer_.data(), capacity);
    EXPECT_EQ(
        std::count(buffer_.begin() + static_cast<std::ptrdiff_t>(capacity), buffer_.end(), kGuard),
        static_cast<std::ptrdiff_t>(kGuardBytes))
        << "written past capacity";
    return result;
  }
  std::string Value() const {
    return std::string(buffer_.begin(), std::find(buffer_.begin(), buffer_.end(), '\0'));
  }

  test_support::TempFolder folder_;
  std::vector<char> buffer_;
};

TEST_F(SettingsFile, ReadsValuesAndTellsMissingKeys) {
  const std::string file = Write(
      "[PARAMS]\r\n"
      "SubNetMask = 255.255.255.0\r\n"
      "Gateway=\r\n"
      "DuringTime=@1@\r\n"
      "RangeIp=\" 10.0.0.10-10.0.0.99 \"\r\n");
  EXPECT_EQ(Read(file, "PARAMS", "SubNetMask", 200), 0);
  EXPECT_EQ(Value(), "255.255.255.0");
  EXPECT_EQ(Read(file, "params", "SUBNETMASK", 200), 0);
  EXPECT_EQ(Value(), "255.255.255.0");
  EXPECT_EQ(Read(file, "PARAMS", "Gateway", 200), 0);
  EXPECT_EQ(Value(), "");
  EXPECT_EQ(Read(file, "PARAMS", "RangeIp", 200), 0);
  EXPECT_EQ(Value(), " 10.0.0.10-10.0.0.99 ");

  // Missing key, section or file, and the marker itself, all read as missing with an empty value.
  EXPECT_EQ(Read(file, "PARAMS", "DuringTime", 200), 1);
  EXPECT_EQ(Value(), "");
  EXPECT_EQ(Read(file, "PARAMS", "Subnet", 200), 1);
  EXPECT_EQ(Value(), "");
  EXPECT_EQ(Read(file, "OTHER", "SubNetMask", 200), 1);
  EXPECT_EQ(Value(), "");
  EXPECT_EQ(Read(file + ".missing", "PARAMS", "SubNetMask", 200), 1);
  EXPECT_EQ(Value(), "");

  // Names too long for the reader are missing, one character shorter they are found.
  const std::string longest(299, 'k');
  const std::string longFile =
      Write("[PARAMS]\n" + longest + "=1\n" + longest + "k=2\n", "long_names.ini");
  EXPECT_EQ(Read(longFile, "PARAMS", longest.c_str(), 200), 0);
  EXPECT_EQ(Value(), "1");
  EXPECT_EQ(Read(longFile, "PARAMS", (longest + "k").c_str(), 200), 1);
  EXPECT_EQ(Value(), "");

  // No buffer at all, or no room: nothing is written.
  EXPECT_EQ(CIniReader().ReadString(file.c_str(), "PARAMS", "SubNetMask", nullptr, 0), 1);
  EXPECT_EQ(CIniReader().ReadString(nullptr, "PARAMS", "SubNetMask", nullptr, 0), 1);
  EXPECT_EQ(Read(file, "PARAMS", "SubNetMask", 0), 1);
  EXPECT_EQ(Read(file, "PARAMS", "Gateway", 1), 0);
  EXPECT_EQ(Value(), "");
}

TEST_F(SettingsFile, RejectsValuesThatDoNotFitWhole) {
  const std::string mask = "255.255.255.0";                            // 13 bytes
  const std::string text = "Gr\xC3\xBC\xC3\x9F\x65 \xF0\x9F\x98\x80";  // 12 bytes, 4 in the last
  // UTF-16, which every platform reads exactly; the last value holds a lone surrogate.
  const std::u16string lines = u"[PARAMS]\nSubNetMask=255.255.255.0\nText=Grüße 😀\nFull=" +
                               std::u16string(1022, u'f') + u"\nCut=" + std::u16string(1023, u'c') +
                               u"\nBroken=a\xD800\n";
  std::string bytes = "\xFF\xFE";
  for (const char16_t unit : lines) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  const std::string file = Write(bytes);

  EXPECT_EQ(Read(file, "PARAMS", "SubNetMask", mask.size() + 1), 0);
  EXPECT_EQ(Value(), mask);
  EXPECT_EQ(Read(file, "PARAMS", "SubNetMask", mask.size()), 1);
  EXPECT_EQ(Value(), "");

  // A multi-byte value arrives exactly; a character that would straddle the end rejects it.
  EXPECT_EQ(Read(file, "PARAMS", "Text", text.size() + 1), 0);
  EXPECT_EQ(Value(), text);
  for (std::size_t capacity = text.size() - 3; capacity <= text.size(); ++capacity) {
    EXPECT_EQ(Read(file, "PARAMS", "Text", capacity), 1) << capacity;
    EXPECT_EQ(Value(), "");
  }

  // The reader's buffer holds 1023 units: a value that fills it may have been cut.
  EXPECT_EQ(Read(file, "PARAMS", "Full", 2000), 0);
  EXPECT_EQ(Value(), std::string(1022, 'f'));
  EXPECT_EQ(Read(file, "PARAMS", "Cut", 2000), 1);
  EXPECT_EQ(Value(), "");

  // A value that is not well-formed text cannot be handed back exactly.
  EXPECT_EQ(Read(file, "PARAMS", "Broken", 200), 1);
  EXPECT_EQ(Value(), "");
}

}  // namespace
