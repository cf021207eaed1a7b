// Test helper: a staged deployment of the built launcher that runs it as a process and reads back
// what its stand-ins recorded and what it changed on disk.
#include "deployment.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#include "run_process.h"

namespace fs = std::filesystem;

namespace test_deployment {

namespace {

constexpr char kRecordVariable[] = "DHCP_TEST_RECORD_FILE";
constexpr char kRecordFileName[] = "record.txt";
constexpr char kLogFolder[] = "log";

}  // namespace

const char kRegistrationLine[] = "DllRegisterServer";

const Settings kSound = {"255.255.255.0", "192.168.1.1", "3600", "192.168.1.100-192.168.1.200"};

const char kSoundFile[] =
    "[PARAMS]\n"
    "SubNetMask=255.255.255.0\n"
    "Gateway=192.168.1.1\n"
    "DuringTime=3600\n"
    "RangeIp=192.168.1.100-192.168.1.200\n";

fs::path BuiltFile(const char* utf8Path) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8Path))).make_preferred();
}

Deployment::Deployment(const fs::path& launcher) : launcherName_(launcher.filename()) {
  std::random_device entropy;
  do {
    root_ = fs::temp_directory_path() / ("dhcp-launcher-e2e-" + std::to_string(entropy()));
  } while (!fs::create_directory(root_));
  fs::create_directory(Bin());
  fs::create_directory(root_ / "config");
  fs::create_directory(root_ / kLogFolder);
  fs::copy_file(launcher, Bin() / launcherName_);
}

Deployment::~Deployment() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
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
  return root_ / "config" / "fylDHCPServer.ini";
}

std::optional<int> Deployment::Run() const {
  return test_process::RunProgram(Bin() / launcherName_, Bin(), kRecordVariable, RecordFile());
}

std::vector<std::string> Deployment::RecordedLines() const {
  std::ifstream file(RecordFile(), std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos;
       start = end + 1, end = text.find('\n', start)) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) {
    lines.push_back(text.substr(start) + "<no line end>");
  }
  return lines;
}

std::map<std::string, std::intmax_t> Deployment::TreeOutsideLog() const {
  std::map<std::string, std::intmax_t> tree;
  const fs::path log = root_ / kLogFolder;
  for (auto entry = fs::recursive_directory_iterator(root_); entry != fs::end(entry); ++entry) {
    if (entry->path() == log) {
      entry.disable_recursion_pending();
      continue;
    }
    // A folder's size is not a file size; a file without read permission still has one.
    std::error_code error;
    const bool folder = entry->is_directory(error);
    const std::uintmax_t size = folder ? 0 : entry->file_size(error);
    tree[entry->path().lexically_relative(root_).generic_string()] =
        folder  ? -1
        : error ? -2
                : static_cast<std::intmax_t>(size);
  }
  return tree;
}

std::vector<std::string> Deployment::LogEntries() const {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(root_ / kLogFolder)) {
    names.push_back(entry.path().filename().generic_string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Deployment::RecordFileName() {
  return kRecordFileName;
}

fs::path Deployment::Bin() const {
  return root_ / "bin";
}

fs::path Deployment::RecordFile() const {
  return root_ / kLogFolder / kRecordFileName;
}

std::string RequestText(const Settings& settings) {
  return "RunDHCPServer@@@DHCP_ZOR_PLUGIN_SUBNETMASK_PARAMETER=" + settings.subnetMask +
         "@@@DHCP_ZOR_PLUGIN_GATEWAY_PARAMETER=" + settings.gateway +
         "@@@DHCP_ZOR_PLUGIN_DURING_TIME_PARAMETER=" + settings.duringTime +
         "@@@DHCP_ZOR_PLUGIN_RANGE_IP_PARAMETER=" + settings.rangeIp;
}

std::string EscapedForRecord(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    escaped += c == '\\' ? std::string("\\\\") : c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return escaped;
}

std::vector<std::string> RegistrationAndPluginRun(const Settings& settings) {
  const std::string text = EscapedForRecord(RequestText(settings));
  return {kRegistrationLine, "1\tInitialize\t" + text, "2\tRequestService\t" + text,
          "3\tRelease\t" + text};
}

}  // namespace test_deployment
