// End-to-end tests of dhcp-launcher-check: the built program run in staged deployments.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "check/report.h"
#include "deployment.h"
#include "record_file.h"
#include "record_format.h"
#include "stand_in_replies.h"
#include "stand_ins.h"
#include "utf16.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#endif

namespace fs = std::filesystem;
using nlohmann::json;
using namespace std::string_literals;

namespace {

using test_deployment::BuiltFile;
using test_deployment::kSound;
using test_deployment::kSoundFile;

const fs::path kCheck = BuiltFile(DHCP_TEST_CHECK);
const fs::path kComponent = test_support::StandInLibrary("stand_in_component_succeeding");
const fs::path kFailingComponent = test_support::StandInLibrary("stand_in_component_failing");
const fs::path kComponentWithoutEntryPoint =
    test_support::StandInLibrary("stand_in_component_without_entry_point");
const fs::path kRecorderPlugin = test_support::StandInLibrary("stand_in_plugin_recorder");
const fs::path kUnchangedPlugin = test_support::StandInLibrary("stand_in_plugin_unchanged");
const fs::path kFixedReplyPlugin = test_support::StandInLibrary("stand_in_plugin_fixed_reply");
const fs::path kScriptedPlugin = test_support::StandInLibrary("stand_in_plugin_scripted");
const fs::path kReferencePlugin = BuiltFile(DHCP_TEST_REFERENCE_PLUGIN);

struct Outcome {
  int status = -1;
  std::string output;
};

#ifndef _WIN32
// The status of a check run that had not ended within its time and was stopped (timeout's).
constexpr int kTimedOut = 124;
#endif

// A deployment with the check program in bin/, where the launcher would lie.
class Deployment : public test_deployment::Deployment {
 public:
  // The plugin's own settings hold Engine=check, so that no plugin ever starts a DHCP server.
  Deployment() : test_deployment::Deployment(kCheck) { WritePluginSettings(""); }

  void WritePluginSettings(const std::string& more) const {
    std::ofstream(Root() / "config" / "mekDHCPPluginu.ini", std::ios::binary)
        << "[ENGINE]\nEngine=check\n"
        << more;
  }

  fs::path Root() const { return SettingsFile().parent_path().parent_path(); }

  // Runs the check program of bin/ with arguments in the folder from (relative to the root), its
  // output (stdout and stderr) captured. On POSIX a run that has not ended after seconds is
  // stopped and ends with kTimedOut, so that a check that hangs fails its test instead of blocking
  // the suite.
  Outcome Check(const std::string& arguments, [[maybe_unused]] int seconds = 120,
                const std::string& from = "bin") const {
    const fs::path folder = Root() / from;
    const fs::path program = Root() / "bin" / kCheck.filename();
    const fs::path output = Root() / "output.txt";
    const std::string record = (Root() / "log" / RecordFileName()).string();
#ifdef _WIN32
    _putenv_s(test_support::kRecordFileVariable, record.c_str());
    const std::string command = "cd /d \"" + folder.string() + "\" && \"" + program.string() +
                                "\" " + arguments + " > \"" + output.string() + "\" 2>&1";
#else
    setenv(test_support::kRecordFileVariable, record.c_str(), 1);
    const std::string command = "cd '" + folder.string() + "' && timeout -k 5 " +
                                std::to_string(seconds) + " '" + program.string() + "' " +
                                arguments + " > '" + output.string() + "' 2>&1";
#endif
    Outcome outcome;
    const int result = std::system(command.c_str());
#ifdef _WIN32
    outcome.status = result;
#else
    outcome.status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
#endif
    {
      std::ifstream file(output, std::ios::binary);
      outcome.output.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    fs::remove(output);
    return outcome;
  }
};

#ifdef _WIN32
// A file without a byte-order mark is read in the ANSI code page, where every byte is text.
constexpr int kNarrowByteStatus = check::kExitOk;
constexpr char kNarrowByteReason[] = "ok";
constexpr char kNarrowByteText[] = "read in the ANSI code page";
constexpr char kUnmarked[] = "ansi";
constexpr char kCopy[] = "copy ";
#else
constexpr int kNarrowByteStatus = check::kExitSetting;
constexpr char kNarrowByteReason[] = "not-text";
constexpr char kNarrowByteText[] = "255.255.255.\\xFF";
constexpr char kUnmarked[] = "utf-8";
constexpr char kCopy[] = "cp ";
#endif

std::vector<std::string> Reasons(const json& report) {
  std::vector<std::string> reasons;
  for (const json& value : report["settings"]["values"]) {
    reasons.push_back(value["reason"]);
  }
  return reasons;
}

// The JSON report's hints as "about: text" and, for one with a command, "about: command".
std::vector<std::string> Hints(const json& report) {
  std::vector<std::string> hints;
  for (const json& hint : report["hints"]) {
    hints.push_back(hint["about"].get<std::string>() + ": " + hint["text"].get<std::string>());
    if (!hint["command"].is_null()) {
      hints.push_back(hint["about"].get<std::string>() + ": " + hint["command"].get<std::string>());
    }
  }
  return hints;
}

// Whether one of texts begins with start.
bool HasStart(const std::vector<std::string>& texts, const std::string& start) {
  return std::any_of(texts.begin(), texts.end(),
                     [&](const std::string& text) { return text.starts_with(start); });
}

TEST(Check, ReportsEveryReasonWithItsExitStatusAndChangesNothing) {
  const std::string ok = "ok";
  const std::vector<std::string> allOk = {ok, ok, ok, ok};
  const std::vector<std::string> allMissing(4, "missing-file");
  const std::string tooLong(200, '7');  // one byte more than the launcher's 199
  // kLinkLoop: a plugin file that links to itself, which the system cannot look at.
  enum Plugin { kNoPlugin, kRecorder, kNotALibrary, kLinkLoop };
  struct Case {
    const char* name;
    std::optional<std::string> settings;  // none: no settings file; "": a folder in its place
    const fs::path* component;
    Plugin plugin;
    int status;
    std::vector<std::string> reasons;
    std::string text;      // what the text report must say
    const char* encoding;  // the JSON report's, nullptr for null
    std::size_t warnings = 0;
    std::string hint = "";     // the start of the one hint ("about: text") or of its command
    std::string from = "bin";  // the working folder, relative to the deployment
    bool sample = false;       // config/fylDHCPServer.ini.sample lies beside the settings file
  };
  const std::string mixed =
      "[params]\nSubNetMask=255.255.255.0\nGateway=a@b\nDuringTime=" + tooLong +
      "\nRangeIp=\"@1@\"\nGateway=1.2.3.4\n[PARAMS]\nGateway=1.2.3.4\n";
  const std::string wrongFolder =
      "working-folder: the working folder is not a deployment's bin/ folder";
  std::vector<Case> cases = {
      {"sound", kSoundFile, &kComponent, kRecorder, check::kExitOk, allOk, "send all four settings",
       kUnmarked},
      {"no settings file", std::nullopt, &kComponent, kRecorder, check::kExitSettingsFile,
       allMissing, "exists: no", nullptr, 0, "settings-file: create it with a [PARAMS] section"},
      {"no settings file, its sample beside it", std::nullopt, &kComponent, kRecorder,
       check::kExitSettingsFile, allMissing, "fylDHCPServer.ini.sample", nullptr, 0,
       "settings-file: "s + kCopy, "bin", true},
      {"a folder for a settings file", "", &kComponent, kRecorder, check::kExitSettingsFile,
       std::vector<std::string>(4, "unreadable"), "readable: no", nullptr, 0,
       "settings-file: it must be a regular file"},
      {"[PARAM]", "[PARAM]\nSubNetMask=255.255.255.0\n", &kComponent, kRecorder,
       check::kExitSettingsFile, std::vector<std::string>(4, "missing-section"),
       "hint: did you mean [PARAMS] for [PARAM]?", kUnmarked, 0,
       "section: did you mean [PARAMS] for [PARAM]?"},
      {"Gatway",
       "[PARAMS]\nSubNetMask=1\nGatway=2\nDuringTime=3\nRangeIp=4\n",
       &kComponent,
       kRecorder,
       check::kExitSetting,
       {ok, "missing-key", ok, ok},
       "did you mean Gateway?",
       kUnmarked},
      {"@, too long, marker, duplicate",
       mixed,
       &kComponent,
       kRecorder,
       check::kExitSetting,
       {ok, "holds-at", "too-long", "marker"},
       "[PARAMS] appears 2 times",
       kUnmarked,
       2},
      {"a byte that is not UTF-8",
       "[PARAMS]\nSubNetMask=255.255.255.\xFF\nGateway=1\nDuringTime=2\nRangeIp=3\n",
       &kComponent,
       kRecorder,
       kNarrowByteStatus,
       {kNarrowByteReason, ok, ok, ok},
       kNarrowByteText,
       kUnmarked},
      {"UTF-16LE",
       "\xFF\xFE[\0P\0A\0R\0A\0M\0S\0]\0\n\0S\0u\0b\0N\0e\0t\0M\0a\0s\0k\0=\0\x31\0\0\xD8"s,
       &kComponent,
       kRecorder,
       check::kExitSetting,
       {"not-text", "missing-key", "missing-key", "missing-key"},
       "UTF-16LE (byte-order mark FF FE)",
       "utf-16le-bom"},
      // Windows' reader takes the mark for text of the first line: a comment line takes it here.
      {"a UTF-8 mark", "\xEF\xBB\xBF; sound\n"s + kSoundFile, &kComponent, kRecorder,
       check::kExitOk, allOk, "byte-order mark EF BB BF", "utf-8-bom"},
      {"no component", kSoundFile, nullptr, kRecorder, check::kExitComponent, allOk, "exit code -2",
       kUnmarked},
      {"no DllRegisterServer", kSoundFile, &kComponentWithoutEntryPoint, kRecorder,
       check::kExitComponent, allOk, "exit code -3", kUnmarked},
      {"no plugin", kSoundFile, &kComponent, kNoPlugin, check::kExitPlugin, allOk,
       "not in the working directory", kUnmarked},
      {"a plugin that is not a library", kSoundFile, &kComponent, kNotALibrary, check::kExitPlugin,
       allOk, "loads: no: it is not a library", kUnmarked},
      // Run from the deployment's top or from config/, the program's own deployment is meant.
      {"run from the deployment's top", kSoundFile, &kComponent, kRecorder,
       check::kExitSettingsFile, allMissing, "hint: the working folder is not", nullptr, 0,
       wrongFolder, ""},
      {"run from config/", kSoundFile, &kComponent, kRecorder, check::kExitPlugin, allOk,
       "--deployment ", kUnmarked, 0, wrongFolder, "config"},
  };
#ifndef _WIN32
  cases.push_back({"a plugin file that links to itself", kSoundFile, &kComponent, kLinkLoop,
                   check::kExitPlugin, allOk, "not in the working directory", kUnmarked});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Deployment deployment;
    if (c.component != nullptr) {
      deployment.AddComponent(*c.component);
    }
    if (c.plugin == kRecorder) {
      deployment.AddPlugin(kRecorderPlugin);
    } else if (c.plugin == kNotALibrary) {
      std::ofstream(deployment.Root() / "bin" / "mekDHCPPluginu.dll") << "not a library\n";
    } else if (c.plugin == kLinkLoop) {
      fs::create_symlink("mekDHCPPluginu.dll", deployment.Root() / "bin" / "mekDHCPPluginu.dll");
    }
    if (c.settings == "") {
      fs::create_directories(deployment.SettingsFile());
    } else if (c.settings.has_value()) {
      deployment.WriteSettings(*c.settings);
    }
    if (c.sample) {
      std::ofstream(deployment.Root() / "config" / "fylDHCPServer.ini.sample") << kSoundFile;
    }
    const auto tree = deployment.TreeOutsideLog();

    const Outcome text = deployment.Check("", 120, c.from);
    EXPECT_EQ(text.status, c.status) << text.output;
    EXPECT_NE(text.output.find(c.text), std::string::npos) << text.output;

    const Outcome outcome = deployment.Check("--json", 120, c.from);
    EXPECT_EQ(outcome.status, c.status);
    const json report = json::parse(outcome.output, nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << outcome.output;
    EXPECT_EQ(Reasons(report), c.reasons);
    EXPECT_EQ(report["ok"], c.status == check::kExitOk);
    EXPECT_EQ(report["component"]["loads"], c.component != nullptr);
    EXPECT_EQ(report["component"]["entry_point"], c.component == &kComponent);
    EXPECT_EQ(report["plugin"]["loads"], c.plugin == kRecorder && c.from == "bin");
    EXPECT_EQ(report["plugin"]["found"],
              (c.plugin == kRecorder || c.plugin == kNotALibrary) && c.from == "bin");
    EXPECT_FALSE(report["plugin"].contains("status"));
    for (const char* field : {"path", "exists", "section_found"}) {
      EXPECT_TRUE(report["settings"].contains(field)) << field;
    }
    EXPECT_EQ(report["settings"]["encoding"],
              c.encoding == nullptr ? json(nullptr) : json(c.encoding));
    if (c.from == "bin") {  // else the folder above the working folder is the temporary one
      EXPECT_EQ(report["warnings"].size(), c.warnings) << report["warnings"];
    }
    const std::vector<std::string> hints = Hints(report);
    if (c.hint.empty()) {
      EXPECT_EQ(hints, std::vector<std::string>{});
    } else {
      EXPECT_EQ(report["hints"].size(), 1U) << report["hints"];
      EXPECT_TRUE(HasStart(hints, c.hint)) << c.hint << " not in " << report["hints"];
    }
    if (c.from != "bin") {
      // The command checks the deployment meant, by this very program.
      const std::string command = report["hints"][0]["command"];
      EXPECT_NE(command.find(kCheck.filename().string() + " --deployment "), std::string::npos);
      EXPECT_TRUE(command.ends_with(deployment.Root().filename().string()) ||
                  command.ends_with(deployment.Root().filename().string() + "'"))
          << command;
    }

    // Without --register and --run-plugin nothing is called and nothing is written.
    EXPECT_EQ(deployment.RecordedLines(), std::vector<std::string>{});
    EXPECT_EQ(deployment.TreeOutsideLog(), tree);
  }
}

TEST(Check, RunsThePluginAndRegistersOnlyWhenAsked) {
  const Deployment deployment;
  deployment.AddComponent(kComponent);
  deployment.AddPlugin(kRecorderPlugin);
  deployment.WriteSettings(kSoundFile);

  const Outcome outcome = deployment.Check("--json --run-plugin");
  EXPECT_EQ(outcome.status, check::kExitOk) << outcome.output;
  const json report = json::parse(outcome.output, nullptr, false);
  ASSERT_FALSE(report.is_discarded()) << outcome.output;
  const std::string request = test_deployment::RequestText(kSound);
  EXPECT_EQ(report["request"], request);
  EXPECT_EQ(report["plugin"]["status"], 0);
  EXPECT_EQ(report["plugin"]["return_code"], 0);
  EXPECT_EQ(report["plugin"]["message"], "");
  // The recorder got the very request the report shows; the component was not registered.
  std::vector<std::string> run = test_deployment::RegistrationAndPluginRun(kSound);
  run.erase(run.begin());
  EXPECT_EQ(deployment.RecordedLines(), run);

  const Outcome registered = deployment.Check("--register");
  EXPECT_EQ(registered.status, check::kExitOk) << registered.output;
  EXPECT_EQ(deployment.RecordedLines().back(), test_deployment::kRegistrationLine);

  fs::remove(deployment.Root() / "bin" / "fylDHCPD.dll");
  deployment.AddComponent(kFailingComponent);
  EXPECT_EQ(deployment.Check("--register").status, check::kExitComponent);
  EXPECT_EQ(deployment.Check("--no-such-option").status, check::kExitUsage);
}

#ifndef _WIN32
TEST(Check, DoesNotLoadALibraryOthersCanWrite) {
  const Deployment deployment;
  deployment.AddComponent(kComponent);
  deployment.AddPlugin(kRecorderPlugin);
  deployment.WriteSettings(kSoundFile);
  const fs::path plugin = deployment.Root() / "bin" / "mekDHCPPluginu.dll";
  fs::permissions(plugin, fs::perms::others_write, fs::perm_options::add);
  fs::permissions(deployment.Root() / "config", fs::perms::group_write, fs::perm_options::add);
  // A state folder whose name a shell would split: its fix quotes it.
  deployment.WritePluginSettings("StateFolder=..\\it's state\n");
  const fs::path state = deployment.Root() / "it's state";
  fs::create_directory(state);
  fs::permissions(state, fs::perms::others_write, fs::perm_options::add);

  const Outcome refused = deployment.Check("--json --run-plugin");
  EXPECT_EQ(refused.status, check::kExitUnsafeLibrary);
  const json report = json::parse(refused.output, nullptr, false);
  ASSERT_FALSE(report.is_discarded()) << refused.output;
  EXPECT_EQ(report["plugin"]["refused"], true);
  EXPECT_EQ(report["plugin"]["loads"], false);
  ASSERT_EQ(report["warnings"].size(), 3U) << report["warnings"];
  EXPECT_NE(report["warnings"][0].get<std::string>().find("anyone can write it"),
            std::string::npos);
  // Each warning comes with the command that fixes it; the state folder's is the plugin's own.
  const std::string quotedState = "'" + deployment.Root().string() + "/it'\\''s state'";
  EXPECT_EQ(Hints(report), (std::vector<std::string>{
                               "permissions: " + report["warnings"][0].get<std::string>(),
                               "permissions: chmod o-w " + plugin.string(),
                               "permissions: " + report["warnings"][1].get<std::string>(),
                               "permissions: chmod g-w " + (deployment.Root() / "config").string(),
                               "permissions: " + report["warnings"][2].get<std::string>(),
                               "permissions: chmod 700 " + quotedState}));
  EXPECT_NE(deployment.Check("").output.find("\n    fix: chmod 700 " + quotedState + "\n"),
            std::string::npos);
  EXPECT_EQ(deployment.RecordedLines(), std::vector<std::string>{});

  const Outcome anyway = deployment.Check("--load-anyway");
  EXPECT_EQ(anyway.status, check::kExitOk) << anyway.output;
  EXPECT_NE(anyway.output.find("warning: "), std::string::npos);
}
#endif

TEST(Check, WorksFromAnotherFolderWithDeployment) {
  const Deployment deployment;
  deployment.AddComponent(kComponent);
  deployment.AddPlugin(kRecorderPlugin);
  deployment.WriteSettings(kSoundFile);
  const Deployment elsewhere;  // an empty deployment: the check program runs from its bin/
  const Outcome outcome =
      elsewhere.Check("--json --deployment \"" + deployment.Root().string() + "\"");
  EXPECT_EQ(outcome.status, check::kExitOk) << outcome.output;
  const json report = json::parse(outcome.output, nullptr, false);
  ASSERT_FALSE(report.is_discarded()) << outcome.output;
  EXPECT_EQ(fs::path(report["component"]["path"].get<std::string>()),
            (deployment.Root() / "bin" / "fylDHCPD.dll"));

  // A deployment's bin/ or config/ given in its place: the deployment is named.
  for (const char* folder : {"bin", "config"}) {
    const Outcome wrong =
        elsewhere.Check("--deployment \"" + (deployment.Root() / folder).string() + "\"");
    EXPECT_EQ(wrong.status, check::kExitUsage) << wrong.output;
    EXPECT_NE(wrong.output.find("is a deployment: --deployment " + deployment.Root().string()),
              std::string::npos)
        << wrong.output;
  }
}

#ifndef _WIN32
// Whether this process may make files and folders another user owns (root only). A test that needs
// them skips without, or fails when CI is set, so that no CI machine passes it by skipping.
bool MayPlayOtherUsers() {
  if (geteuid() == 0) {
    return true;
  }
  if (std::getenv("CI") != nullptr) {
    ADD_FAILURE() << "run as root under CI: the test makes files another user owns";
  }
  return false;
}

constexpr uid_t kOtherUser = 65534;  // nobody

// A folder with exactly mode, whatever the umask.
fs::path MakeFolder(const fs::path& path, fs::perms mode) {
  fs::create_directories(path);
  fs::permissions(path, mode);
  return path;
}

constexpr fs::perms kShared = fs::perms::all;                          // 0777
constexpr fs::perms kSticky = fs::perms::all | fs::perms::sticky_bit;  // 1777
constexpr fs::perms kGroupWritable = fs::perms::owner_all | fs::perms::group_all |
                                     fs::perms::others_read | fs::perms::others_exec;  // 0775
constexpr fs::perms kPrivate = fs::perms::owner_all | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read |
                               fs::perms::others_exec;  // 0755

TEST(Check, LoadsNoLibraryThatAFolderOrLinkOnItsWayLetsOthersSwap) {
  // The deployment is copied into outside/deployment; outside/shared and outside/safe hold the
  // files some cases link to. Each case names the one thing others could use to swap a library.
  enum Change { kNone, kOtherOwner, kLinkPlugin, kLinkPluginThroughShared, kOtherOwnsLink };
  struct Case {
    const char* name;
    fs::perms outside;  // the folder that holds the deployment
    fs::perms shared;
    Change change;
    bool otherUser;  // needs root
    int status;
    bool componentRefused;
    const char* warned;  // what a warning names, relative to outside ("" outside itself)
    const char* fix;     // the command that fixes it, less that path
  };
  const std::vector<Case> cases = {
      {"a sound deployment", kPrivate, kPrivate, kNone, false, check::kExitOk, false, nullptr,
       nullptr},
      {"a folder above it that others may write", kShared, kPrivate, kNone, false,
       check::kExitUnsafeLibrary, true, "", "chmod go-w"},
      {"a folder above it that its group may write", kGroupWritable, kPrivate, kNone, false,
       check::kExitUnsafeLibrary, true, "", "chmod g-w"},
      {"a folder above it that others may write, with the sticky bit", kSticky, kPrivate, kNone,
       false, check::kExitOk, false, nullptr, nullptr},
      {"a plugin linked from a folder others may write", kPrivate, kShared, kLinkPlugin, false,
       check::kExitUnsafeLibrary, false, "shared", "chmod go-w"},
      {"a plugin linked from a sticky folder", kPrivate, kSticky, kLinkPlugin, false,
       check::kExitOk, false, nullptr, nullptr},
      {"a plugin linked through a link in a folder others may write", kPrivate, kShared,
       kLinkPluginThroughShared, false, check::kExitUnsafeLibrary, false, "shared", "chmod go-w"},
      {"a deployment root that another user owns", kPrivate, kPrivate, kOtherOwner, true,
       check::kExitUnsafeLibrary, true, "deployment", "chown root"},
      {"a link that another user owns in a sticky folder", kPrivate, kSticky, kOtherOwnsLink, true,
       check::kExitUnsafeLibrary, false, "shared/link.dll", "chown -h root"},
  };
  const bool otherUsers = MayPlayOtherUsers();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.otherUser && !otherUsers) {
      std::cout << "not run (needs root): " << c.name << "\n";
      continue;
    }
    const test_support::TempFolder top("dhcp-check-ways-");
    const fs::path outside = MakeFolder(top.path() / "outside", c.outside);
    const fs::path shared = MakeFolder(outside / "shared", c.shared);
    const fs::path safe = MakeFolder(outside / "safe", kPrivate);
    {
      const Deployment staged;
      staged.AddComponent(kComponent);
      staged.AddPlugin(kRecorderPlugin);
      staged.WriteSettings(kSoundFile);
      fs::copy(staged.Root(), outside / "deployment", fs::copy_options::recursive);
    }
    const fs::path root = outside / "deployment";
    const fs::path plugin = root / "bin" / "mekDHCPPluginu.dll";
    if (c.change == kOtherOwner) {
      ASSERT_EQ(chown(root.c_str(), kOtherUser, kOtherUser), 0);
    } else if (c.change != kNone) {
      const fs::path real = (c.change == kLinkPlugin ? shared : safe) / "real.dll";
      fs::rename(plugin, real);
      if (c.change == kLinkPlugin) {
        fs::create_symlink(real, plugin);
      } else {
        fs::create_symlink(real, shared / "link.dll");
        fs::create_symlink(shared / "link.dll", plugin);
      }
      if (c.change == kOtherOwnsLink) {
        ASSERT_EQ(lchown((shared / "link.dll").c_str(), kOtherUser, kOtherUser), 0);
      }
    }

    const Deployment runner;  // runs the check program with --deployment
    const Outcome outcome =
        runner.Check("--json --run-plugin --deployment '" + root.string() + "'");
    EXPECT_EQ(outcome.status, c.status) << outcome.output;
    const json report = json::parse(outcome.output, nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << outcome.output;
    const bool refused = c.status == check::kExitUnsafeLibrary;
    EXPECT_EQ(report["plugin"]["refused"], refused);
    EXPECT_EQ(report["plugin"]["loads"], !refused);
    EXPECT_EQ(report["component"]["refused"], c.componentRefused);
    std::string warnings;
    for (const json& warning : report["warnings"]) {
      warnings += warning.get<std::string>() + "\n";
    }
    const std::vector<std::string> hints = Hints(report);
    if (c.warned == nullptr) {
      EXPECT_EQ(warnings, "");
      EXPECT_EQ(hints, std::vector<std::string>{});
    } else {
      const std::string named = (*c.warned != '\0' ? outside / c.warned : outside).string();
      EXPECT_NE(warnings.find(named + ": "), std::string::npos) << named << " not in\n" << warnings;
      const std::string fix = "permissions: " + std::string(c.fix) + " " + named;
      EXPECT_NE(std::find(hints.begin(), hints.end(), fix), hints.end())
          << fix << " not in " << report["hints"];
    }
    // The plugin was called only where nothing stood in the way.
    EXPECT_EQ(runner.RecordedLines().empty(), refused);
  }
}

TEST(Check, ReadsTheSettingsFileOnceWhileAFifoIsSwappedIn) {
  const Deployment deployment;
  deployment.AddComponent(kComponent);
  deployment.AddPlugin(kRecorderPlugin);
  const fs::path config = deployment.Root() / "config";
  std::ofstream(config / "sound.ini", std::ios::binary) << kSoundFile;
  ASSERT_EQ(mkfifo((config / "fifo").c_str(), 0600), 0);
  const std::string settings = deployment.SettingsFile().string();
  const std::string spare = (config / "spare").string();
  // Another process's part: the settings file and a FIFO take turns under the file's name.
  std::atomic<bool> stop = false;
  std::thread swapper([&] {
    for (bool fifo = false; !stop; fifo = !fifo) {
      ::unlink(spare.c_str());
      if (::link((config / (fifo ? "fifo" : "sound.ini")).c_str(), spare.c_str()) == 0) {
        ::rename(spare.c_str(), settings.c_str());
      }
    }
  });
  int readable = 0;
  int unreadable = 0;
  for (int run = 0; run < 40; ++run) {
    const Outcome outcome = deployment.Check("--json", 30);
    if (outcome.status == kTimedOut) {
      ADD_FAILURE() << "the check hung on the FIFO in run " << run;
      break;
    }
    const json report = json::parse(outcome.output, nullptr, false);
    if (report.is_discarded()) {
      ADD_FAILURE() << outcome.output;
      break;
    }
    // Whichever file it opened, everything it says comes from that one file.
    if (report["settings"]["readable"] == true) {
      ++readable;
      EXPECT_EQ(outcome.status, check::kExitOk) << outcome.output;
      EXPECT_EQ(Reasons(report), std::vector<std::string>(4, "ok"));
    } else {
      ++unreadable;
      EXPECT_EQ(outcome.status, check::kExitSettingsFile) << outcome.output;
      EXPECT_EQ(Reasons(report), std::vector<std::string>(4, "unreadable"));
    }
  }
  stop = true;
  swapper.join();
  std::cout << "opened the settings file " << readable << " times, the FIFO " << unreadable
            << " times\n";
}
#endif

TEST(Check, SpellsOutControlCharactersInTheTextReport) {
  // Escape sequences that would erase lines and move the cursor, C1's CSI, DEL and a line
  // separator, in values and in the name of the deployment's folder. UTF-16LE reads the same on
  // every platform.
  const std::string settings = test_support::Utf16LeFile(
      u"[PARAMS]\nSubNetMask=255.255.255.0\x1b[2K\x1b[1A\nGateway=1.2.3.4\u009B"
      u"2J\nDuringTime=3600\x7f\nRangeIp=a\u2028b\n");
  struct Case {
    std::string folder;  // the deployment's folder
    std::string shown;   // how the report shows it
  };
#ifdef _WIN32
  // Windows' file names hold no control characters.
  const std::vector<Case> cases = {{"deployment", "deployment"}};
#else
  const std::vector<Case> cases = {
      {"deploy\x1b]0;x\x07ment", "deploy\\x1B]0;x\\x07ment"},
      // A name that is not UTF-8, which POSIX allows: its byte shows as in a value.
      {"deploy\xffment", "deploy\\xFFment"},
  };
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    const test_support::TempFolder top("dhcp-check-spelling-");
    const fs::path root = top.path() / c.folder;
    {
      const Deployment staged;
      staged.AddComponent(kComponent);
      staged.AddPlugin(kRecorderPlugin);
      staged.WriteSettings(settings);
      fs::copy(staged.Root(), root, fs::copy_options::recursive);
    }
    const Deployment runner;
    const std::string arguments = "--deployment \"" + root.string() + "\"";

    const Outcome text = runner.Check(arguments);
    EXPECT_EQ(text.status, check::kExitOk) << text.output;
    for (const std::string& spelled :
         {"255.255.255.0\\x1B[2K\\x1B[1A\""s, "1.2.3.4\\u009B2J\""s, "3600\\x7F\""s, "a\\u2028b\""s,
          c.shown + (fs::path::preferred_separator == '/' ? "/" : "\\") + "bin"}) {
      EXPECT_NE(text.output.find(spelled), std::string::npos) << spelled << " not in\n"
                                                              << text.output;
    }
    for (const char* raw : {"\x1b", "\x07", "\x7f", "\xc2\x9b", "\xe2\x80\xa8", "\xff"}) {
      EXPECT_EQ(text.output.find(raw), std::string::npos) << text.output;
    }

    // JSON escapes control characters itself: its values are the file's own.
    const Outcome outcome = runner.Check("--json " + arguments);
    const json report = json::parse(outcome.output, nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << outcome.output;
    EXPECT_EQ(report["settings"]["values"][0]["in_file"], "255.255.255.0\x1b[2K\x1b[1A");
    EXPECT_EQ(report["settings"]["values"][3]["sent"],
              "a\xe2\x80\xa8"
              "b");
  }
}

// The replies of the scripted stand-in to the operator's requests.
constexpr char kAnswered[] = "@@@ZOR_PLUGIN_RESPONSE_ANSWERED=";
std::string Query(const std::string& code, const std::string& keys) {
  return "QueryDHCPServer@@@ZOR_PLUGIN_RESPONSE_RETURN_CODE=" + code +
         "@@@ZOR_PLUGIN_RESPONSE_MESSAGE=status " + code + kAnswered + "QueryDHCPServer" + keys;
}
const std::string kDryRun =
    "TestDHCPServer@@@ZOR_PLUGIN_RESPONSE_RETURN_CODE=59@@@ZOR_PLUGIN_RESPONSE_MESSAGE=would "
    "fail=refused"s +
    kAnswered + "TestDHCPServer";
const std::string kStopped = "StopDHCPServer@@@ZOR_PLUGIN_RESPONSE_RETURN_CODE=0"s + kAnswered +
                             "StopDHCPServer@@@ZOR_PLUGIN_RESPONSE_MESSAGE=stopped";
constexpr char kRunning[] =
    "@@@ZOR_PLUGIN_RESPONSE_SERVER_RUNNING=1@@@ZOR_PLUGIN_RESPONSE_SERVER_ENGINE=kea"
    "@@@ZOR_PLUGIN_RESPONSE_SERVER_VERSION=2.2.0@@@ZOR_PLUGIN_RESPONSE_SERVER_PID=4242"
    "@@@ZOR_PLUGIN_RESPONSE_SERVER_INTERFACE=eth1"
    "@@@ZOR_PLUGIN_RESPONSE_SERVER_RANGE=192.168.1.100-192.168.1.200"
    "@@@ZOR_PLUGIN_RESPONSE_SERVER_MASK=255.255.255.0@@@ZOR_PLUGIN_RESPONSE_SERVER_ROUTER=192.168."
    "1.1"
    "@@@ZOR_PLUGIN_RESPONSE_SERVER_LEASE_SECONDS=3600"
    "@@@ZOR_PLUGIN_RESPONSE_SERVER_STARTED=2026-12-08T07:39:45Z"
    "@@@ZOR_PLUGIN_RESPONSE_SERVER_LEASES_ACTIVE=7@@@ZOR_PLUGIN_RESPONSE_SERVER_POOL_SIZE=101";
const json kNone = {{"running", false},
                    {"engine", nullptr},
                    {"version", nullptr},
                    {"pid", nullptr},
                    {"interface", nullptr},
                    {"range", nullptr},
                    {"mask", nullptr},
                    {"router", nullptr},
                    {"lease_seconds", nullptr},
                    {"started", nullptr},
                    {"leases_active", nullptr},
                    {"pool_size", nullptr},
                    {"matches_settings", nullptr},
                    {"ha", nullptr}};

json Running(const json& changes) {
  json server = {{"running", true},
                 {"engine", "kea"},
                 {"version", "2.2.0"},
                 {"pid", 4242},
                 {"interface", "eth1"},
                 {"range", "192.168.1.100-192.168.1.200"},
                 {"mask", "255.255.255.0"},
                 {"router", "192.168.1.1"},
                 {"lease_seconds", 3600},
                 {"started", "2026-12-08T07:39:45Z"},
                 {"leases_active", 7},
                 {"pool_size", 101},
                 {"matches_settings", nullptr},
                 {"ha", nullptr}};
  server.update(changes);
  return server;
}

TEST(Check, ReportsTheServerAsThePluginTellsIt) {
  const std::string differences =
      "@@@ZOR_PLUGIN_RESPONSE_SERVER_MATCHES_SETTINGS=0"
      "@@@ZOR_PLUGIN_RESPONSE_SERVER_DIFFERENCES=RangeIp is a-b, the server was started with c-d; "
      "Interface is eth2, the server serves eth1";
  struct Case {
    const char* name;
    const fs::path* plugin;
    std::string script;  // the scripted plugin's replies, one line each
    const char* options;
    int status;
    json server;       // the report's "server"
    json dryRun;       // "dry_run" with --server, "stop" with --stop-server
    std::string text;  // what the text report must say
  };
  const json refused = {{"code", 59}, {"message", "would fail=refused"}};
  const std::vector<Case> cases = {
      {"a plugin that hands the text back", &kUnchangedPlugin, "", "--server", check::kExitNoStatus,
       nullptr, nullptr, "this plugin reports no server status"},
      {"a plugin with one reply for all", &kFixedReplyPlugin, "", "--server", check::kExitNoStatus,
       nullptr, nullptr, "this plugin does no dry run"},
      {"a plugin that cannot stop", &kUnchangedPlugin, "", "--stop-server", check::kExitNoStatus,
       nullptr, nullptr, "does not know the stop request"},
      {"none runs", &kScriptedPlugin,
       "QueryDHCPServer\t" + Query("0", "@@@ZOR_PLUGIN_RESPONSE_SERVER_RUNNING=0") + "\n" +
           "TestDHCPServer\t" + kDryRun + "\n",
       "--server", check::kExitNoServer, kNone, refused, "running: no"},
      {"one runs, matching", &kScriptedPlugin,
       "QueryDHCPServer\t" +
           Query("0", kRunning + "@@@ZOR_PLUGIN_RESPONSE_SERVER_MATCHES_SETTINGS=1"s) +
           "\nTestDHCPServer\t" + kDryRun + "\n",
       "--server", check::kExitOk, Running({{"matches_settings", true}}), refused,
       "leases active: 7 of 101"},
      {"one runs, not matching", &kScriptedPlugin,
       "QueryDHCPServer\t" + Query("0", kRunning + differences) + "\n", "--server",
       check::kExitServerDiffers, Running({{"matches_settings", false}}), nullptr,
       "\n    Interface is eth2, the server serves eth1"},
      {"values that do not read as their kind", &kScriptedPlugin,
       "QueryDHCPServer\t" +
           Query("0", kRunning + "@@@ZOR_PLUGIN_RESPONSE_SERVER_PID=42x"
                                 "@@@ZOR_PLUGIN_RESPONSE_SERVER_LEASES_ACTIVE=-1"
                                 "@@@ZOR_PLUGIN_RESPONSE_SERVER_POOL_SIZE=1234567890123456789"
                                 "@@@ZOR_PLUGIN_RESPONSE_SERVER_MATCHES_SETTINGS=yes"
                                 "@@@ZOR_PLUGIN_RESPONSE_SERVER_ENGINE="s) +
           "\n",
       "--server", check::kExitOk,
       Running({{"pid", nullptr},
                {"leases_active", nullptr},
                {"pool_size", nullptr},
                {"engine", nullptr}}),
       nullptr, "running: yes, since 2026-12-08T07:39:45Z"},
      {"one of a pair, its partner silent", &kScriptedPlugin,
       "QueryDHCPServer\t" +
           Query("0", kRunning + "@@@ZOR_PLUGIN_RESPONSE_SERVER_HA_MODE=load-balancing"
                                 "@@@ZOR_PLUGIN_RESPONSE_SERVER_HA_ROLE=secondary"
                                 "@@@ZOR_PLUGIN_RESPONSE_SERVER_HA_STATE=partner-down"s) +
           "\n",
       "--server", check::kExitOk,
       Running({{"ha",
                 {{"mode", "load-balancing"},
                  {"role", "secondary"},
                  {"state", "partner-down"},
                  {"partner_state", nullptr}}}}),
       nullptr,
       "pair: load-balancing, this server the secondary; its state: partner-down; its "
       "partner's: not known"},
      {"a status it cannot tell", &kScriptedPlugin, "QueryDHCPServer\t" + Query("56", "") + "\n",
       "--server", check::kExitNoStatus, nullptr, nullptr,
       "no server status: the plugin answered 56: status 56"},
      {"a running flag that does not read", &kScriptedPlugin,
       "QueryDHCPServer\t" + Query("0", "@@@ZOR_PLUGIN_RESPONSE_SERVER_RUNNING=true") + "\n",
       "--server", check::kExitNoStatus, nullptr, nullptr, "no server status"},
      {"stopped",
       &kScriptedPlugin,
       "StopDHCPServer\t" + kStopped + "@@@ZOR_PLUGIN_RESPONSE_SERVER_RUNNING=0\n",
       "--stop-server",
       check::kExitOk,
       kNone,
       {{"code", 0}, {"message", "stopped"}},
       "answered 0: stopped"},
      {"still running",
       &kScriptedPlugin,
       "StopDHCPServer\t" + kStopped + kRunning + "\n",
       "--stop-server",
       check::kExitStillRunning,
       Running(json::object()),
       {{"code", 0}, {"message", "stopped"}},
       "running: yes, kea 2.2.0, pid 4242, since 2026-12-08T07:39:45Z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Deployment deployment;
    deployment.AddComponent(kComponent);
    deployment.AddPlugin(*c.plugin);
    deployment.WriteSettings(kSoundFile);
    const fs::path script = deployment.Root() / "script.txt";
    std::ofstream(script, std::ios::binary) << c.script;
    test_support::SetEnvironment(stand_in::kReplyScriptVariable, script.string());

    const Outcome text = deployment.Check(c.options);
    EXPECT_EQ(text.status, c.status) << text.output;
    EXPECT_NE(text.output.find(c.text), std::string::npos) << text.output;

    const Outcome outcome = deployment.Check("--json "s + c.options);
    EXPECT_EQ(outcome.status, c.status) << outcome.output;
    const json report = json::parse(outcome.output, nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << outcome.output;
    EXPECT_EQ(report["server"], c.server);
    const bool stop = std::string(c.options) == "--stop-server";
    EXPECT_EQ(report[stop ? "stop" : "dry_run"], c.dryRun);
    EXPECT_FALSE(report.contains(stop ? "dry_run" : "stop"));
    EXPECT_EQ(report["exit_status"], c.status);
  }
  test_support::SetEnvironment(stand_in::kReplyScriptVariable, "");
}

TEST(Check, SendsTheStatusQueryAndDryRunWithTheSettingsAndTheStopWithNone) {
  const Deployment deployment;
  deployment.AddComponent(kComponent);
  deployment.AddPlugin(kScriptedPlugin);
  deployment.WriteSettings(kSoundFile);
  const std::string request = test_deployment::RequestText(kSound);
  const std::string parameters = request.substr(request.find("@@@"));
  const auto calls = [](const std::string& text) {
    return std::vector<std::string>{
        test_support::RecordLine(1, "Initialize", test_support::Utf16(text)),
        test_support::RecordLine(2, "RequestService", test_support::Utf16(text)),
        test_support::RecordLine(3, "Release", test_support::Utf16(text))};
  };
  EXPECT_EQ(deployment.Check("--server").status, check::kExitNoStatus);
  std::vector<std::string> expected = calls("QueryDHCPServer" + parameters);
  for (std::string& line : calls("TestDHCPServer" + parameters)) {
    expected.push_back(line);
  }
  EXPECT_EQ(deployment.RecordedLines(), expected);

  fs::remove(deployment.Root() / "log" / Deployment::RecordFileName());
  EXPECT_EQ(deployment.Check("--stop-server").status, check::kExitNoStatus);
  EXPECT_EQ(deployment.RecordedLines(), calls("StopDHCPServer"));

  // Each is a request of its own: never together, nor with the launcher's.
  fs::remove(deployment.Root() / "log" / Deployment::RecordFileName());
  for (const char* options :
       {"--server --run-plugin", "--stop-server --server", "--stop-server --run-plugin"}) {
    EXPECT_EQ(deployment.Check(options).status, check::kExitUsage) << options;
  }
  EXPECT_EQ(deployment.RecordedLines(), std::vector<std::string>{});
}

// The reference plugin with no server of this deployment running: the status query, dry run and
// stop request change nothing, and do not make the state folder. With Engine=check the dry run
// answers what a start would; on Windows, where no engine runs, so do they.
TEST(Check, TheReferencePluginWithNoServerChangesNothing) {
  const Deployment deployment;
  deployment.AddComponent(kComponent);
  deployment.AddPlugin(kReferencePlugin);
  deployment.WriteSettings(kSoundFile);
  const auto tree = deployment.TreeOutsideLog();

  const Outcome server = deployment.Check("--json --server");
  EXPECT_EQ(server.status, check::kExitNoServer) << server.output;
  const json report = json::parse(server.output, nullptr, false);
  ASSERT_FALSE(report.is_discarded()) << server.output;
  EXPECT_EQ(report["server"], kNone);
  EXPECT_EQ(report["dry_run"]["code"], 0);
  EXPECT_NE(report["dry_run"]["message"].get<std::string>().find("Engine=check"),
            std::string::npos);

  const Outcome stop = deployment.Check("--json --stop-server");
  EXPECT_EQ(stop.status, check::kExitOk) << stop.output;
  const json stopped = json::parse(stop.output, nullptr, false);
  ASSERT_FALSE(stopped.is_discarded()) << stop.output;
  EXPECT_EQ(stopped["stop"]["code"], 0);
  EXPECT_EQ(stopped["server"], kNone);
  EXPECT_EQ(deployment.TreeOutsideLog(), tree);
}

}  // namespace
