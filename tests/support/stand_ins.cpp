// Test helpers that find what the build made for the tests: the stand-in libraries, which lie
// beside the test programs, and the launcher.
#include "stand_ins.h"

#include "run_process.h"

namespace fs = std::filesystem;

namespace test_support {

fs::path TestBinaryFolder() {
  static const fs::path folder = test_process::ThisProgram().parent_path();
  return folder;
}

fs::path StandInLibrary(std::string_view target) {
  return TestBinaryFolder() / (std::string(target) + DHCP_MODULE_SUFFIX);
}

std::u16string StandInText(std::string_view target) {
  return StandInLibrary(target).u16string();
}

fs::path BuiltFile(const char* utf8Path) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8Path))).make_preferred();
}

fs::path BuiltLauncher() {
  return BuiltFile(DHCP_TEST_LAUNCHER);
}

}  // namespace test_support
