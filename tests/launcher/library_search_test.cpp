// End-to-end tests of the launcher's library search on Windows: libraries planted in the working
// directory or in a folder on PATH are never loaded in place of the component or the plugin.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "record_file.h"
#include "record_format.h"
#include "run_process.h"
#include "stand_ins.h"
#include "temp_folder.h"

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
    for (const Place place : {kBesideProgram, kWorkingDirectory, kPathFolder}) {
      fs::create_directories(Folder(place));
    }
    fs::copy_file(test_support::BuiltLauncher(), Folder(kBesideProgram) / kLauncher);
  }

  fs::path Folder(Place place) const {
    switch (place) {
      case kBesideProgram:
        return root_.path() / "bin";
      case kWorkingDirectory:
        return root_.path() / "work";
      case kPathFolder:
        return root_.path() / "path";
      case kNowhere:
        break;
    }
    return {};
  }

  void Plant(Place place, const char* standIn, const char* name) const {
    if (place != kNowhere) {
      fs::copy_file(test_support::StandInLibrary(standIn), Folder(place) / name,
                    fs::copy_options::overwrite_existing);
    }
  }

  // Runs the launcher from bin/ in work/ with path/ first on PATH; the record file's lines.
  std::optional<int> Run(std::vector<std::string>& recorded) const {
    const fs::path record = root_.path() / "record.txt";
    fs::remove(record);
    std::vector<wchar_t> path(32767);
    const DWORD length =
        GetEnvironmentVariableW(L"PATH", path.data(), static_cast<DWORD>(path.size()));
    const std::wstring oldPath(path.data(), length < path.size() ? length : 0);
    SetEnvironmentVariableW(L"PATH", (Folder(kPathFolder).wstring() + L";" + oldPath).c_str());
    const std::optional<int> status =
        test_process::RunProgram(Folder(kBesideProgram) / kLauncher, Folder(kWorkingDirectory),
                                 test_support::kRecordFileVariable, record);
    SetEnvironmentVariableW(L"PATH", oldPath.c_str());
    recorded = test_support::ReadRecordLines(record);
    return status;
  }

  static constexpr char kLauncher[] = "dhcp-launcher.exe";
  test_support::TempFolder root_{"dhcp-library-search-"};
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
    Plant(c.component, "stand_in_component_succeeding", kComponentName);
    Plant(c.plugin, "stand_in_plugin_recorder", kPluginName);
    std::vector<std::string> recorded;
    EXPECT_EQ(Run(recorded), test_process::ExitStatusOf(c.exitCode));
    const bool registered =
        !recorded.empty() && recorded.front() == test_support::kRegistrationLine;
    EXPECT_EQ(registered, c.registered);
    EXPECT_EQ(recorded.size() > 1, c.pluginRan) << testing::PrintToString(recorded);
  }
}

TEST_F(PlantedLibraries, RunsWithTheSystemsErrorDialogsOff) {
  // The probe registers only when the launcher's error mode keeps dialogs away.
  Plant(kBesideProgram, "stand_in_component_error_mode_probe", kComponentName);
  std::vector<std::string> recorded;
  EXPECT_EQ(Run(recorded), 0);
  EXPECT_EQ(recorded, std::vector<std::string>{test_support::kRegistrationLine});
}

}  // namespace
