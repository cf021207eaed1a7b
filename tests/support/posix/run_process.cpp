// Test helper on POSIX: fork, change directory, exec and wait; the running program from /proc.
#include "../run_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

extern char** environ;

namespace test_process {

std::optional<int> RunProgram(const std::filesystem::path& program,
                              const std::filesystem::path& workingDirectory,
                              const std::string& name, const std::filesystem::path& value) {
  // Everything the child needs is prepared before fork: only async-signal-safe calls follow it.
  const std::string prefix = name + "=";
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, prefix.c_str(), prefix.size()) != 0) {
      variables.emplace_back(*entry);
    }
  }
  variables.push_back(prefix + value.string());
  std::vector<char*> environment;
  for (std::string& variable : variables) {
    environment.push_back(variable.data());
  }
  environment.push_back(nullptr);
  std::string path = program.string();
  const std::string directory = workingDirectory.string();
  char* arguments[] = {path.data(), nullptr};

  const pid_t child = fork();
  if (child < 0) {
    return std::nullopt;
  }
  if (child == 0) {
    if (chdir(directory.c_str()) == 0) {
      execve(path.c_str(), arguments, environment.data());
    }
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      return std::nullopt;
    }
  }
  if (!WIFEXITED(status)) {
    return std::nullopt;
  }
  return WEXITSTATUS(status);
}

int ExitStatusOf(int code) {
  return code & 0xFF;
}

std::filesystem::path ThisProgram() {
  return std::filesystem::read_symlink("/proc/self/exe");
}

}  // namespace test_process
