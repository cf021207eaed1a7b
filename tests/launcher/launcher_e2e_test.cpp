// End-to-end tests of the launcher: the built program run in a staged deployment.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "deployment.h"
#include "launcher/launcher.h"
#include "run_process.h"
#include "utf16.h"

namespace fs = std::filesystem;

namespace {

using test_support::kRegistrationLine;
using test_support::kSound;
using test_support::kSoundFile;
using test_support::RegistrationAndPluginRun;
using test_support::Settings;
using test_support::StandInLibrary;

const fs::path kSucceedingComponent = StandInLibrary("stand_in_component_succeeding");
const fs::path kPositiveComponent = StandInLibrary("stand_in_component_positive");
const fs::path kFailingComponent = StandInLibrary("stand_in_component_failing");
const fs::path kComponentWithoutEntryPoint =
    StandInLibrary("stand_in_component_without_entry_point");
const fs::path kRecorderPlugin = StandInLibrary("stand_in_plugin_recorder");

// A deployment of the built launcher.
class Deployment : public test_support::Deployment {
 public:
  void AddPlugin() const { test_support::Deployment::AddPlugin(kRecorderPlugin); }
};

// Each outcome of the registration, in a deployed run and in this process with the component named
// by its full path: the registration's code is the exit code, and only a registered component lets
// the plugin run.
TEST(Launcher, RegistrationDecidesTheExitCodeAndWhetherThePluginRuns) {
  struct Case {
    const char* name;
    fs::path component;  // empty: no component installed
    bool plugin;
    int code;
    std::vector<std::string> record;
  };
  const std::vector<Case> cases = {
      {"component absent", {}, true, -2, {}},
      {"no DllRegisterServer", kComponentWithoutEntryPoint, true, -3, {}},
      {"registration fails", kFailingComponent, true, -4, {kRegistrationLine}},
      {"registration returns 1", kPositiveComponent, true, 0, RegistrationAndPluginRun(kSound)},
      {"registration returns 0", kSucceedingComponent, true, 0, RegistrationAndPluginRun(kSound)},
      {"plugin absent", kSucceedingComponent, false, 0, {kRegistrationLine}},
  };
  const auto registerAt = [](const fs::path& path) {
    const std::u8string name = path.u8string();
    return RegisterComponent(reinterpret_cast<const char*>(name.c_str()));
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Deployment deployment;
    if (!c.component.empty()) {
      deployment.AddComponent(c.component);
    }
    if (c.plugin) {
      deployment.AddPlugin();
    }
    deployment.WriteSettings(kSoundFile);
    EXPECT_EQ(deployment.Run(), test_process::ExitStatusOf(c.code));
    EXPECT_EQ(deployment.RecordedLines(), c.record);

    const fs::path inProcess =
        c.component.empty() ? kSucceedingComponent.parent_path() / "absent.dll" : c.component;
    EXPECT_EQ(registerAt(inProcess), c.code);
  }
  // Names that cannot be loaded at all.
  EXPECT_EQ(RegisterComponent("\xFF.dll"), -2);  // not UTF-8
  EXPECT_EQ(RegisterComponent(""), -2);
  EXPECT_EQ(RegisterComponent(nullptr), -2);
}

TEST(Launcher, SendsTheSettingsToThePluginAndOnlySoundOnes) {
  const std::string fits(199, '7');  // with its terminator, exactly the 200-byte buffer
  struct Case {
    const char* name;
    std::optional<std::string> file;  // none: no settings file
    Settings sent;
  };
  const std::vector<Case> cases = {
      {"sound settings", kSoundFile, kSound},
      {"no settings file", std::nullopt, {}},
      {"no Gateway key",
       "[PARAMS]\nSubNetMask=255.255.255.0\nDuringTime=3600\nRangeIp=10.0.0.2-10.0.0.9\n",
       {"255.255.255.0", "", "3600", "10.0.0.2-10.0.0.9"}},
      {"names in other letter case",
       "[params]\nSUBNETMASK=255.0.0.0\ngateway=10.0.0.1\nduringtime=60\nRANGEIP=10.0.0.2\n",
       {"255.0.0.0", "10.0.0.1", "60", "10.0.0.2"}},
      {"settings in another section only", "[OTHER]\nSubNetMask=255.0.0.0\n", {}},
      {"values up to the buffer and past it",
       "[PARAMS]\nSubNetMask=" + fits + "\nGateway=" + fits +
           "8\nDuringTime=" + std::string(2000, '9') + "\nRangeIp=" + fits + "\n",
       {fits, "", "", fits}},
      // Only a file in UTF-16 reads alike everywhere: Windows reads any other file in its ANSI
      // code page. The buffer's limit counts the value's UTF-8 bytes, not its characters.
      {"values beyond ASCII",
       test_support::Utf16LeFile(
           u"[PARAMS]\r\nSubNetMask=" + std::u16string(197, u'7') + u"\u00E9\r\nGateway=" +
           std::u16string(198, u'7') +
           u"\u00E9\r\nDuringTime=\u00DF\r\nRangeIp=Z\u00FCrich-\u0394-\U0001F600\r\n"),
       {std::string(197, '7') + "\xC3\xA9", "", "\xC3\x9F",
        "Z\xC3\xBCrich-\xCE\x94-\xF0\x9F\x98\x80"}},
      {"values holding @",
       "[PARAMS]\nSubNetMask=255.255.255.0\nGateway=10.0.0.1@\n"
       "DuringTime=x@@@ZOR_PLUGIN_RESPONSE_RETURN_CODE=5\nRangeIp=10.0.0.2@10.0.0.9\n",
       {"255.255.255.0", "", "", ""}},
      {"a value holding @ beside sound ones",
       "[PARAMS]\nSubNetMask=@255.255.255.0\nGateway=10.0.0.1\nDuringTime=3600\n"
       "RangeIp=10.0.0.2-10.0.0.9\n",
       {"", "10.0.0.1", "3600", "10.0.0.2-10.0.0.9"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Deployment deployment;
    deployment.AddComponent(kSucceedingComponent);
    deployment.AddPlugin();
    if (c.file) {
      deployment.WriteSettings(*c.file);
    }
    EXPECT_EQ(deployment.Run(), 0);
    EXPECT_EQ(deployment.RecordedLines(), RegistrationAndPluginRun(c.sent));
  }
}

}  // namespace
