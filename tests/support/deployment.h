// Test helper: a staged deployment of the built launcher that runs it as a process and reads back
// what its stand-ins recorded and what it changed on disk.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "record_format.h"
#include "stand_ins.h"
#include "temp_folder.h"

namespace test_support {

// An installed launcher in a fresh temporary folder (the root): bin/ (the launcher, and the
// component and the plugin when added), config/ and log/. The launcher runs in bin/; the stand-ins
// record their calls to log/record.txt. The root is removed again on destruction.
class Deployment {
 public:
  // Copies the launcher built at launcher into bin/.
  explicit Deployment(const std::filesystem::path& launcher = BuiltLauncher());
  Deployment(const Deployment&) = delete;
  Deployment& operator=(const Deployment&) = delete;

  // Installs builtComponent as bin/fylDHCPD.dll.
  void AddComponent(const std::filesystem::path& builtComponent) const;
  // Installs builtPlugin as bin/mekDHCPPluginu.dll.
  void AddPlugin(const std::filesystem::path& builtPlugin) const;
  // Writes content, byte for byte, as config/fylDHCPServer.ini.
  void WriteSettings(const std::string& content) const;
  // Where the launcher looks for its settings: config/fylDHCPServer.ini (which may not exist).
  std::filesystem::path SettingsFile() const;

  // Runs the launcher in bin/ with the record file named in its environment and waits for it.
  // Returns its exit status as test_process::RunProgram reports it.
  std::optional<int> Run() const;

  // The lines the stand-ins recorded, without their line ends; none when the file is absent. A
  // last line without a line end is marked "<no line end>".
  std::vector<std::string> RecordedLines() const;

  // Every file and folder under the root except log/ and what lies in it, by path relative to the
  // root (with "/" between names): the size of each file, -1 for each folder.
  std::map<std::string, std::intmax_t> TreeOutsideLog() const;
  // The names of the entries in log/.
  std::vector<std::string> LogEntries() const;
  // The name of the record file in log/.
  static std::string RecordFileName();

 private:
  std::filesystem::path Bin() const;
  std::filesystem::path RecordFile() const;

  TempFolder root_;
  std::filesystem::path launcherName_;
};

// The four settings as the launcher sends them.
struct Settings {
  std::string subnetMask;
  std::string gateway;
  std::string duringTime;
  std::string rangeIp;
};

// Sound settings, and the settings file that holds them.
extern const Settings kSound;
extern const char kSoundFile[];

// The "RunDHCPServer" request text that carries settings, as UTF-8.
std::string RequestText(const Settings& settings);

// What a recorder leaves behind after a registration and one plugin run on the request carrying
// settings: the recorder leaves the text unchanged, so Release sees the request too.
std::vector<std::string> RegistrationAndPluginRun(const Settings& settings);

}  // namespace test_support

// The names the end-to-end tests first used.
namespace test_deployment {
using namespace test_support;  // NOLINT(google-build-using-namespace)
}  // namespace test_deployment
