// Test helpers for the record file the recording stand-ins write (record_format.h).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "record_format.h"
#include "temp_folder.h"

namespace test_support {

// The lines of the record file at path, without their "\n"; none when the file is absent. A last
// line without its "\n" is marked "<no line end>", so it never matches an expected line.
std::vector<std::string> ReadRecordLines(const std::filesystem::path& path);

// The record line of call n of entryPoint with text.
std::string RecordLine(int n, std::string_view entryPoint, std::u16string_view text);

// The three record lines of one request whose text the plugin leaves unchanged.
std::vector<std::string> UnchangedCalls(std::u16string_view text);

// Sets an environment variable of this process, or removes it when value is empty.
void SetEnvironment(const char* name, const std::string& value);

// A record file of its own for the lifetime of the object, named by the record variable
// meanwhile. The file does not exist until a stand-in records a call.
class ScopedRecordFile {
 public:
  ScopedRecordFile();
  ScopedRecordFile(const ScopedRecordFile&) = delete;
  ScopedRecordFile& operator=(const ScopedRecordFile&) = delete;
  ~ScopedRecordFile();

  // The lines recorded so far (ReadRecordLines).
  std::vector<std::string> Lines() const;
  // Forgets what was recorded so far.
  void Clear() const;

 private:
  TempFolder folder_;
  std::filesystem::path path_;
};

}  // namespace test_support
