// Test helpers for the record file the recording stand-ins write (record_format.h).
#include "record_file.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

#include "utf16.h"

namespace fs = std::filesystem;

namespace test_support {

std::vector<std::string> ReadRecordLines(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos;
       start = end + 1, end = text.find('\n', start)) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) {
    lines.push_back(text.substr(start) + "<no line end>");
  }
  return lines;
}

std::string RecordLine(int n, std::string_view entryPoint, std::u16string_view text) {
  return std::to_string(n) + '\t' + std::string(entryPoint) + '\t' + EscapeForRecord(Utf8(text));
}

std::vector<std::string> UnchangedCalls(std::u16string_view text) {
  return {RecordLine(1, "Initialize", text), RecordLine(2, "RequestService", text),
          RecordLine(3, "Release", text)};
}

void SetEnvironment(const char* name, const std::string& value) {
#if defined(_WIN32)
  _putenv((std::string(name) + '=' + value).c_str());
#else
  if (value.empty()) {
    unsetenv(name);
  } else {
    setenv(name, value.c_str(), 1);
  }
#endif
}

ScopedRecordFile::ScopedRecordFile()
    : folder_("dhcp-record-"), path_(folder_.path() / "record.txt") {
  SetEnvironment(kRecordFileVariable, path_.string());
}

ScopedRecordFile::~ScopedRecordFile() {
  SetEnvironment(kRecordFileVariable, "");
}

std::vector<std::string> ScopedRecordFile::Lines() const {
  return ReadRecordLines(path_);
}

void ScopedRecordFile::Clear() const {
  std::error_code ignored;
  fs::remove(path_, ignored);
}

}  // namespace test_support
