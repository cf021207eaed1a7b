// Records a stand-in plugin's calls in a file, so tests can see them after the library is unloaded.
#include "call_record.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/text.h"

namespace stand_in {

namespace {

// Lives in the plugin's own image, so it starts again at 0 whenever the library is loaded anew.
int callsSinceLoad = 0;

}  // namespace

void RecordCall(const char* entryPoint, const std::u16string& text) noexcept {
  const int n = ++callsSinceLoad;
  const char* const recordFile = std::getenv(test_support::kRecordFileVariable);
  if (recordFile == nullptr || *recordFile == '\0') {
    return;
  }
  try {
    std::string narrow;
    if (!platform::Utf16ToUtf8(text, narrow)) {
      narrow = "?";
    }
    // snprintf rather than std::to_string, whose digit table is a load-wide unique symbol; such a
    // symbol can keep the library from unloading, and the call count relies on it unloading.
    char number[16];
    std::snprintf(number, sizeof number, "%d", n);
    const std::string line = std::string(number) + '\t' + entryPoint + '\t' +
                             test_support::EscapeForRecord(narrow) + '\n';
    // Binary mode: the line ends in "\n" on every platform.
    std::FILE* file = std::fopen(recordFile, "ab");
    if (file == nullptr) {
      return;
    }
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
  } catch (...) {
    // Out of memory while building the line: the call goes unrecorded.
  }
}

}  // namespace stand_in
