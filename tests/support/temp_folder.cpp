// Test helper: a fresh temporary folder of its own, removed with everything in it afterwards.
#include "temp_folder.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <system_error>

namespace fs = std::filesystem;

namespace test_support {

TempFolder::TempFolder(std::string_view prefix) {
  std::random_device entropy;
  do {
    path_ = fs::temp_directory_path() / (std::string(prefix) + std::to_string(entropy()));
  } while (!fs::create_directory(path_));
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

fs::path TempFolder::Write(const std::string& name, std::string_view bytes) const {
  const fs::path file = path_ / name;
  std::ofstream(file, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return file;
}

std::u16string FixedForm(const fs::path& path) {
  std::u16string text = path.u16string();
  std::replace(text.begin(), text.end(), u'/', u'\\');
  return text;
}

}  // namespace test_support
