// Test helpers for the stand-in plugins: their paths as the system's text, and their call records.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "call_record.h"
#include "platform/text.h"
#include "stand_in_plugin_paths.h"
#include "stand_in_replies.h"

namespace stand_in {

inline std::u16string Wide(std::string_view utf8) {
  std::u16string wide;
  EXPECT_TRUE(platform::Utf8ToUtf16(utf8, wide)) << utf8;
  return wide;
}

inline std::string Narrow(std::u16string_view wide) {
  std::string narrow;
  EXPECT_TRUE(platform::Utf16ToUtf8(wide, narrow));
  return narrow;
}

// The record line of call n of entryPoint with text, for a text without "\" or a newline.
inline std::string Line(int n, std::string_view entryPoint, std::u16string_view text) {
  return std::to_string(n) + '\t' + std::string(entryPoint) + '\t' + Narrow(text);
}

// Sets the record variable, or removes it when value is empty.
inline void SetRecordVariable(const std::string& value) {
#if defined(_WIN32)
  _putenv((std::string(kRecordFileVariable) + '=' + value).c_str());
#else
  if (value.empty()) {
    unsetenv(kRecordFileVariable);
  } else {
    setenv(kRecordFileVariable, value.c_str(), 1);
  }
#endif
}

// A record file of its own for the lifetime of the object; DHCP_TEST_RECORD_FILE names it
// meanwhile. The file does not exist until a plugin records a call.
class ScopedRecordFile {
 public:
  ScopedRecordFile() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            (std::string("dhcp_record_") + test->test_suite_name() + '_' + test->name() + '_' +
             std::to_string(random()) + ".txt");
    SetRecordVariable(path_.string());
  }
  ScopedRecordFile(const ScopedRecordFile&) = delete;
  ScopedRecordFile& operator=(const ScopedRecordFile&) = delete;
  ~ScopedRecordFile() {
    SetRecordVariable("");
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }

  // The lines recorded so far, without their "\n"; empty when nothing was recorded.
  std::vector<std::string> Lines() const {
    std::ifstream file(path_, std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = all.find('\n'); end != std::string::npos; end = all.find('\n', start)) {
      lines.push_back(all.substr(start, end - start));
      start = end + 1;
    }
    EXPECT_EQ(start, all.size()) << "the record ends in an unfinished line";
    return lines;
  }

  // Forgets what was recorded so far.
  void Clear() const {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }

 private:
  std::filesystem::path path_;
};

}  // namespace stand_in
