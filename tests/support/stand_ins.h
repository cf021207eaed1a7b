// Test helpers that find what the build made for the tests: the stand-in libraries, which lie
// beside the test programs, and the launcher.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace test_support {

// The folder of the running test program, where every stand-in library is built.
std::filesystem::path TestBinaryFolder();

// The stand-in library built by the CMake target of that name, beside the test program.
std::filesystem::path StandInLibrary(std::string_view target);

// The same, as the system's text.
std::u16string StandInText(std::string_view target);

// A path handed over by the build as a UTF-8 compile definition, in the platform's preferred form.
std::filesystem::path BuiltFile(const char* utf8Path);

// The launcher program as it was built.
std::filesystem::path BuiltLauncher();

}  // namespace test_support
