// Peak memory and time of the settings reader on huge settings files, against `wc -l` on the same
// file. Each measurement runs in a child process of its own, so its peak resident size
// (ru_maxrss) is its own.
//
//   profile_reader_bench [MiB...]      sizes of the zeros after the [PARAMS] section (256 1024)
//   profile_reader_bench read FILE     reads what the launcher reads: the four keys of [PARAMS]
//   profile_reader_bench miss FILE     reads one key that is not there: one whole pass
//
// The files are sparse, made in a fresh temporary folder and removed afterwards.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/profile.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kValueUnits = 1024;  // the launcher's reader asks with this buffer

const char kSoundSection[] =
    "[PARAMS]\r\nSubNetMask=255.255.255.0\r\nGateway=192.168.1.1\r\nDuringTime=86400\r\n"
    "RangeIp=192.168.1.100-192.168.1.200\r\n";

std::u16string FixedForm(const std::string& path) {
  std::u16string text(path.begin(), path.end());
  for (char16_t& unit : text) {
    if (unit == u'/') {
      unit = u'\\';
    }
  }
  return text;
}

// The child's work: read keys of [PARAMS] and check the answers, so that a fast wrong reader
// cannot pass.
int ReadKeys(const std::string& file, bool missing) {
  const std::u16string path = FixedForm(file);
  std::array<char16_t, kValueUnits> buffer{};
  if (missing) {
    platform::ReadProfileString(u"PARAMS", u"Missing", u"@1@", buffer.data(), buffer.size(), path);
    return std::u16string(buffer.data()) == u"@1@" ? 0 : 1;
  }
  const std::array<std::pair<const char16_t*, const char16_t*>, 4> expected = {{
      {u"SubNetMask", u"255.255.255.0"},
      {u"Gateway", u"192.168.1.1"},
      {u"DuringTime", u"86400"},
      {u"RangeIp", u"192.168.1.100-192.168.1.200"},
  }};
  for (const auto& [key, value] : expected) {
    platform::ReadProfileString(u"PARAMS", key, u"@1@", buffer.data(), buffer.size(), path);
    if (std::u16string(buffer.data()) != value) {
      return 1;
    }
  }
  return 0;
}

struct Figures {
  double seconds = 0;
  double cpuSeconds = 0;  // user and system time, less disturbed by other load than wall time
  long peakKib = 0;
  bool ok = false;
};

// Runs argv in a child process with its output sent away; wall time and peak resident size.
Figures Measure(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    execvp(args[0], args.data());
    _exit(127);
  }
  Figures figures;
  int status = 0;
  struct rusage usage {};
  if (child > 0 && wait4(child, &status, 0, &usage) == child) {
    figures.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    figures.peakKib = usage.ru_maxrss;
    figures.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  return figures;
}

void Print(const char* what, std::size_t mib, const Figures& f, const Figures& wc) {
  std::printf("%-22s %5zu MiB  %7.3f s  %7.3f s cpu  %7.1f MiB peak  %5.1fx  %5.1fx cpu%s\n", what,
              mib, f.seconds, f.cpuSeconds, static_cast<double>(f.peakKib) / 1024.0,
              wc.seconds > 0 ? f.seconds / wc.seconds : 0,
              wc.cpuSeconds > 0 ? f.cpuSeconds / wc.cpuSeconds : 0, f.ok ? "" : "  FAILED");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && (std::strcmp(argv[1], "read") == 0 || std::strcmp(argv[1], "miss") == 0)) {
    return ReadKeys(argv[2], std::strcmp(argv[1], "miss") == 0);
  }
  std::vector<std::size_t> sizes;
  for (int i = 1; i < argc; ++i) {
    sizes.push_back(std::strtoull(argv[i], nullptr, 10));
  }
  if (sizes.empty()) {
    sizes = {256, 1024};
  }

  const fs::path folder =
      fs::temp_directory_path() / ("profile_reader_bench_" + std::to_string(getpid()));
  fs::create_directories(folder);
  bool allOk = true;
  for (const std::size_t mib : sizes) {
    const fs::path file = folder / ("settings_" + std::to_string(mib) + ".ini");
    std::ofstream(file, std::ios::binary) << kSoundSection;
    fs::resize_file(file, fs::file_size(file) + mib * 1024 * 1024);  // sparse zeros

    const Figures wc = Measure({"wc", "-l", file.string()});
    const Figures read = Measure({argv[0], "read", file.string()});
    const Figures miss = Measure({argv[0], "miss", file.string()});
    Print("wc -l", mib, wc, wc);
    Print("launcher's four keys", mib, read, wc);
    Print("one missing key", mib, miss, wc);
    allOk = allOk && wc.ok && read.ok && miss.ok;
    fs::remove(file);
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return allOk ? 0 : 1;
}
