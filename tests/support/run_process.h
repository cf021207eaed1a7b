// Test helper: runs a program as a child process and reads its exit status, and finds the running
// program, on every platform.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace test_process {

// Runs program without arguments, with workingDirectory as its current directory and this
// process's environment plus the variable name set to value. Waits for it to end and returns its
// exit status as the platform reports it, or nullopt when it could not be started or did not end
// normally (killed by a signal).
std::optional<int> RunProgram(const std::filesystem::path& program,
                              const std::filesystem::path& workingDirectory,
                              const std::string& name, const std::filesystem::path& value);

// The exit status the platform reports for a program that returned code: the code itself on
// Windows, its low byte on POSIX (-2 reads as 254).
int ExitStatusOf(int code);

// The file of the running program.
std::filesystem::path ThisProgram();

}  // namespace test_process
