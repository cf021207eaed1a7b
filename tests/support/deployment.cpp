// Test helper: a staged deployment of the built launcher that runs it as a process and reads back
// what its stand-ins recorded and what it changed on disk.
#include "deployment.h"

#include <algorithm>
#include <fstream>

#include "record_file.h"
#include "run_process.h"

namespace fs = std::filesystem;

namespace test_support {

namespace {

constexpr char kRecordFileName[] = "record.txt";
constexpr char kLogFolder[] = "log";

}  // namespace

const Settings kSound = {"255.255.255.0", "192.168.1.1", "3600", "192.168.1.100-192.168.1.200"};

const char kSoundFile[] =
    "[PARAMS]\n"
    "SubNetMask=255.255.255.0\n"
    "Gateway=192.168.1.1\n"
    "DuringTime=3600\n"
    "RangeIp=192.168.1.100-192.168.1.200\n";

Deployment::Deployment(const fs::path& launcher)
    : root_("dhcp-launcher-e2e-"), launcherName_(launcher.filename()) {
  fs::create_directory(Bin());
  fs::create_directory(root_.path() / "config");
  fs::create_directory(root_.path() / kLogFolder);
  fs::copy_file(launcher, Bin() / launcherName_);
}

void Deployment::AddComponent(const fs::path& builtComponent) const {
  fs::copy_file(builtComponent, Bin() / "fylDHCPD.dll");
}

void Deployment::AddPlugin(const fs::path& builtPlugin) const {
  fs::copy_file(builtPlugin, Bin() / "mekDHCPPluginu.dll");
}

void Deployment::WriteSettings(const std::string& content) const {
  std::ofstream(SettingsFile(), std::ios::binary) << content;
}

fs::path Deployment::SettingsFile() const {
  return root_.path() / "config" / "fylDHCPServer.ini";
}

std::optional<int> Deployment::Run() const {
  return test_process::RunProgram(Bin() / launcherName_, Bin(), kRecordFileVariable, RecordFile());
}

std::vector<std::string> Deployment::RecordedLines() const {
  return ReadRecordLines(RecordFile());
}

std::map<std::string, std::intmax_t> Deployment::TreeOutsideLog() const {
  std::map<std::string, std::intmax_t> tree;
  const fs::path& root = root_.path();
  const fs::path log = root / kLogFolder;
  for (auto entry = fs::recursive_directory_iterator(root); entry != fs::end(entry); ++entry) {
    if (entry->path() == log) {
      entry.disable_recursion_pending();
      continue;
    }
    // A folder's size is not a file size; a file without read permission still has one.
    std::error_code error;
    const bool folder = entry->is_directory(error);
    const std::uintmax_t size = folder ? 0 : entry->file_size(error);
    tree[entry->path().lexically_relative(root).generic_string()] =
        folder  ? -1
        : error ? -2
                : static_cast<std::intmax_t>(size);
  }
  return tree;
}

std::vector<std::string> Deployment::LogEntries() const {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(root_.path() / kLogFolder)) {
    names.push_back(entry.path().filename().generic_string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Deployment::RecordFileName() {
  return kRecordFileName;
}

fs::path Deployment::Bin() const {
  return root_.path() / "bin";
}

fs::path Deployment::RecordFile() const {
  return root_.path() / kLogFolder / kRecordFileName;
}

std::string RequestText(const Settings& settings) {
  return "RunDHCPServer@@@DHCP_ZOR_PLUGIN_SUBNETMASK_PARAMETER=" + settings.subnetMask +
         "@@@DHCP_ZOR_PLUGIN_GATEWAY_PARAMETER=" + settings.gateway +
         "@@@DHCP_ZOR_PLUGIN_DURING_TIME_PARAMETER=" + settings.duringTime +
         "@@@DHCP_ZOR_PLUGIN_RANGE_IP_PARAMETER=" + settings.rangeIp;
}

std::vector<std::string> RegistrationAndPluginRun(const Settings& settings) {
  const std::string text = EscapeForRecord(RequestText(settings));
  return {kRegistrationLine, "1\tInitialize\t" + text, "2\tRequestService\t" + text,
          "3\tRelease\t" + text};
}

}  // namespace test_support
