// End-to-end tests of the launcher's library search on Windows: libraries planted in the working
// directory or in a folder on PATH are never loaded in place of the component or the plugin.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "deployment.h"
#include "run_process.h"

namespace {

namespace fs = std::filesystem;

constexpr char kComponentName[] = "fylDHCPD.dll";
constexpr char kPluginName[] = "mekDHCPPluginu.dll";

enum Place { kNowhere, kBesideProgram, kWorkingDirectory, kPathFolder };

// Where the component and the plugin lie, and what the launcher must do with them.
struct Case {
  const char* what;
  Place component;
  Place plugin;
  int exitCode;
  bool registered;
  bool pluginRan;
};

// The program's folder bin/, a working directory work/ apart from it, and a folder path/ put on
// PATH, in a fresh temporary folder removed afterwards.
class PlantedLibraries : public testing::Test {
 protected:
  PlantedLibraries() {
    std::random_device entropy;
    do {
      root_ = fs::temp_directory_path() / ("dhcp-library-search-" + std::to_string(entropy()));
    } while (!fs::create_directory(root_));
    for (const Place place : {kBesideProgram, kWorkingDirectory, kPathFolder}) {
      fs::create_directories(Folder(place));
    }
    fs::copy_file(test_deployment::BuiltFile(DHCP_TEST_LAUNCHER),
                  Folder(kBesideProgram) / kLauncher);
  }
  ~PlantedLibraries() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  fs::path Folder(Place place) const {
    switch (place) {
      case kBesideProgram:
        return root_ / "bin";
      case kWorkingDirectory:
        return root_ / "work";
      case kPathFolder:
        return root_ / "path";
      case kNowhere:
        break;
    }
    return {};
  }

  void Plant(Place place, const char* built, const char* name) const {
    if (place != kNowhere) {
      fs::copy_file(test_deployment::BuiltFile(built), Folder(place) / name,
                    fs::copy_options::overwrite_existing);
    }
  }

  // Runs the launcher from bin/ in work/ with path/ first on PATH; the record file's lines.
  std::optional<int> Run(std::vector<std::string>& recorded) const {
    const fs::path record = root_ / "record.txt";
    fs::remove(record);
    std::vector<wchar_t> path(32767);
    const DWORD length =
        GetEnvironmentVariableW(L"PATH", path.data(), static_cast<DWORD>(path.size()));
    const std::wstring oldPath(path.data(), length < path.size() ? length : 0);
    SetEnvironmentVariableW(L"PATH", (Folder(kPathFolder).wstring() + L";" + oldPath).c_str());
    const std::optional<int> status =
        test_process::RunProgram(Folder(kBesideProgram) / kLauncher, Folder(kWorkingDirectory),
                                 "DHCP_TEST_RECORD_FILE", record);
    SetEnvironmentVariableW(L"PATH", oldPath.c_str());
    recorded.clear();
    std::ifstream lines(record);
    for (std::string line; std::getline(lines, line);) {
      recorded.push_back(line);
    }
    return status;
  }

  static constexpr char kLauncher[] = "dhcp-launcher.exe";
  fs::path root_;
};

TEST_F(PlantedLibraries, LoadsTheComponentBesideTheProgramAndThePluginFromTheWorkingDirectory) {
  const Case cases[] = {
      {"both where they belong", kBesideProgram, kWorkingDirectory, 0, true, true},
      {"component only on PATH", kPathFolder, kWorkingDirectory, -2, false, false},
      {"component only in the working directory", kWorkingDirectory, kNowhere, -2, false, false},
      {"plugin only on PATH", kBesideProgram, kPathFolder, 0, true, false},
      {"plugin only beside the program", kBesideProgram, kBesideProgram, 0, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const Place place : {kBesideProgram, kWorkingDirectory, kPathFolder}) {
      fs::remove(Folder(place) / kComponentName);
      fs::remove(Folder(place) / kPluginName);
    }
    Plant(c.component, DHCP_TEST_COMPONENT_SUCCEEDING, kComponentName);
    Plant(c.plugin, DHCP_TEST_PLUGIN_RECORDER, kPluginName);
    std::vector<std::string> recorded;
    EXPECT_EQ(Run(recorded), test_process::ExitStatusOf(c.exitCode));
    const bool registered =
        !recorded.empty() && recorded.front() == test_deployment::kRegistrationLine;
    EXPECT_EQ(registered, c.registered);
    EXPECT_EQ(recorded.size() > 1, c.pluginRan) << testing::PrintToString(recorded);
  }
}

TEST_F(PlantedLibraries, RunsWithTheSystemsErrorDialogsOff) {
  // The probe registers only when the launcher's error mode keeps dialogs away.
  Plant(kBesideProgram, DHCP_TEST_COMPONENT_ERROR_MODE_PROBE, kComponentName);
  std::vector<std::string> recorded;
  EXPECT_EQ(Run(recorded), 0);
  EXPECT_EQ(recorded, std::vector<std::string>{test_deployment::kRegistrationLine});
}

}  // namespace
