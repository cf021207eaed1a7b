// Test helper: a fresh temporary folder of its own, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace test_support {

class TempFolder {
 public:
  // Creates a folder named prefix plus a unique suffix in the system's temporary folder.
  explicit TempFolder(std::string_view prefix = "dhcp-test-");
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder();

  const std::filesystem::path& path() const { return path_; }

  // Writes bytes, byte for byte, as the file name in the folder and returns its path.
  std::filesystem::path Write(const std::string& name, std::string_view bytes) const;

 private:
  std::filesystem::path path_;
};

// path as the system's text, in its fixed form: backslashes between folders.
std::u16string FixedForm(const std::filesystem::path& path);

}  // namespace test_support
