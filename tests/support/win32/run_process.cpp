// Test helper on Windows: CreateProcessW with a working directory, wait, GetExitCodeProcess;
// the running program from GetModuleFileNameW.
#include "../run_process.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace test_process {

std::optional<int> RunProgram(const std::filesystem::path& program,
                              const std::filesystem::path& workingDirectory,
                              const std::string& name, const std::filesystem::path& value) {
  // The child inherits this process's environment, with the variable set here.
  const std::wstring wideName(name.begin(), name.end());
  if (!SetEnvironmentVariableW(wideName.c_str(), value.wstring().c_str())) {
    return std::nullopt;
  }
  const std::wstring application = program.wstring();
  std::wstring commandLine = L"\"" + application + L"\"";
  const std::wstring directory = workingDirectory.wstring();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // Under Wine, starting a program right after the previous one ended now and then fails for a
  // moment; a start that fails three times is reported with the system's error code.
  constexpr int kStartAttempts = 3;
  for (int attempt = 1;; ++attempt) {
    if (CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       directory.c_str(), &startup, &process)) {
      break;
    }
    const DWORD error = GetLastError();
    std::fprintf(stderr, "CreateProcessW failed (attempt %d, error %lu)\n", attempt,
                 static_cast<unsigned long>(error));
    if (attempt == kStartAttempts) {
      return std::nullopt;
    }
    Sleep(200);
  }
  CloseHandle(process.hThread);
  DWORD exitCode = 0;
  const bool ended = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                     GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hProcess);
  if (!ended) {
    return std::nullopt;
  }
  // The exit code is the program's 32-bit int, handed back as its unsigned pattern.
  return static_cast<std::int32_t>(exitCode);
}

int ExitStatusOf(int code) {
  return code;
}

std::filesystem::path ThisProgram() {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (length < name.size()) {
      name.resize(length);
      return name;
    }
    name.resize(name.size() * 2);
  }
}

}  // namespace test_process
