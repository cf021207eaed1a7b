// End-to-end tests of the launcher fed hostile settings files and hostile plugin replies.
#include <gtest/gtest.h>

#include <climits>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "deployment.h"
#include "hostile_replies.h"
#include "request/dhcp_server_request.h"
#include "utf16.h"

namespace fs = std::filesystem;

namespace {

using test_support::Deployment;
using test_support::kRegistrationLine;
using test_support::kSound;
using test_support::kSoundFile;
using test_support::RegistrationAndPluginRun;
using test_support::Settings;
using test_support::StandInLibrary;

const fs::path kLauncher = test_support::BuiltLauncher();
const fs::path kSucceedingComponent = StandInLibrary("stand_in_component_succeeding");
const fs::path kRecorderPlugin = StandInLibrary("stand_in_plugin_recorder");

constexpr std::size_t kMiB = std::size_t{1024} * 1024;

// Runs the launcher and checks what every run must hold whatever its inputs: it ends by itself
// with exit code 0, everything outside log/ stays as it was (names and sizes), and log/ holds
// nothing but the record. Returns the recorded lines.
std::vector<std::string> RunContained(const Deployment& deployment) {
  const auto before = deployment.TreeOutsideLog();
  EXPECT_EQ(deployment.Run(), 0);
  EXPECT_EQ(deployment.TreeOutsideLog(), before);
  EXPECT_EQ(deployment.LogEntries(), std::vector<std::string>{Deployment::RecordFileName()});
  return deployment.RecordedLines();
}

// size bytes drawn from the whole byte range (NULs, stray UTF-8 lead and continuation bytes,
// line ends, "[", "=" and all), the same on every run. The first byte is a NUL, so the file never
// opens with a byte-order mark.
std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::string bytes(size, '\0');
  for (std::size_t i = 1; i < size; ++i) {
    bytes[i] = static_cast<char>(byte(generator));
  }
  return bytes;
}

TEST(HostileSettings, EveryDamagedSettingsFileStillSendsAWellFormedRequest) {
  const Settings none;
  Settings longMask = kSound;
  longMask.subnetMask.clear();
  struct Case {
    const char* name;
    std::function<Settings(const Deployment&)> stage;  // returns the settings to be sent
  };
  const std::vector<Case> cases = {
      {"random bytes",
       [&](const Deployment& d) {
         d.WriteSettings(RandomBytes(kMiB, 1));
         return none;
       }},
      {"random bytes, then the settings",
       [&](const Deployment& d) {
         d.WriteSettings(RandomBytes(kMiB, 2) + "\n" + kSoundFile);
         return kSound;
       }},
      {"a UTF-16 mark, then random bytes of odd length",
       [&](const Deployment& d) {
         d.WriteSettings("\xFF\xFE" + RandomBytes(kMiB + 1, 3));
         return none;
       }},
      // Random UTF-16 units: lone surrogates, NULs, line ends and unassigned characters.
      {"a UTF-16 mark, random units, then the settings",
       [&](const Deployment& d) {
         d.WriteSettings(
             "\xFF\xFE" + RandomBytes(kMiB, 4) +
             test_support::Utf16Bytes(test_support::Utf16(std::string("\r\n") + kSoundFile)));
         return kSound;
       }},
      {"a folder in the file's place",
       [&](const Deployment& d) {
         fs::create_directory(d.SettingsFile());
         std::ofstream(d.SettingsFile() / "inside.ini") << kSoundFile;
         return none;
       }},
      // Root, and Windows, where permissions only make a file read-only, can read the file
      // anyway: the launcher then sends its settings. Either way it must end with 0.
      {"a file without read permission",
       [&](const Deployment& d) {
         d.WriteSettings(kSoundFile);
         fs::permissions(d.SettingsFile(), fs::perms::none);
         const bool readable = std::ifstream(d.SettingsFile(), std::ios::binary).is_open();
         return readable ? kSound : none;
       }},
      // The value does not fit the launcher's buffer: it is sent empty, the others intact.
      {"one line of 10 MiB",
       [&](const Deployment& d) {
         d.WriteSettings("[PARAMS]\nSubNetMask=" + std::string(10 * kMiB, '5') +
                         "\nGateway=192.168.1.1\nDuringTime=3600\n"
                         "RangeIp=192.168.1.100-192.168.1.200\n");
         return longMask;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Deployment deployment(kLauncher);
    deployment.AddComponent(kSucceedingComponent);
    deployment.AddPlugin(kRecorderPlugin);
    const Settings sent = c.stage(deployment);
    EXPECT_EQ(RunContained(deployment), RegistrationAndPluginRun(sent));
  }
}

TEST(HostileSettings, A100MiBFileIsReadToItsEnd) {
  const Deployment deployment(kLauncher);
  deployment.AddComponent(kSucceedingComponent);
  deployment.AddPlugin(kRecorderPlugin);
  // Sections of ordinary lines, among them decoys that only look like the settings; the real
  // section comes last.
  std::string block;
  for (int section = 0; section < 1000; ++section) {
    block += "[Section" + std::to_string(section) + "]\n";
    for (int line = 0; line < 20; ++line) {
      block += "Key" + std::to_string(line) + "=a value of moderate length, 0123456789\n";
    }
    block += "[PARAMS2]\nSubNetMask=10.9.9.9\n[ PARAMS X ]\nGateway=10.9.9.9\n";
  }
  {
    std::ofstream file(deployment.SettingsFile(), std::ios::binary);
    for (std::size_t written = 0; written < 100 * kMiB; written += block.size()) {
      file << block;
    }
    file << kSoundFile;
  }
  ASSERT_GE(fs::file_size(deployment.SettingsFile()), 100 * kMiB);
  EXPECT_EQ(RunContained(deployment), RegistrationAndPluginRun(kSound));
}

// What the launcher's request reads back from a hostile reply.
struct ReadBack {
  int returnCode;
  std::u16string message;
};

ReadBack ExpectedReadBack(stand_in::HostileReply shape) {
  using stand_in::HostileReply;
  switch (shape) {
    case HostileReply::kHuge:
      return {31, stand_in::HugeMessage()};
    case HostileReply::kNuls:
      return {4, std::u16string(stand_in::kNulMessage)};
    case HostileReply::kLoneSurrogates:
      return {12, std::u16string(stand_in::kLoneSurrogateMessage)};
    case HostileReply::kManyKeys:
      // The message comes after the table's 100 slots are taken, and is dropped.
      return {-9, u""};
    case HostileReply::kOverlongNumber:
      return {INT_MAX, u"big"};
    case HostileReply::kSeparatorOnly:
    case HostileReply::kEmpty:
    case HostileReply::kManyAts:
    case HostileReply::kFieldsWithoutEquals:
      return {0, u""};
  }
  return {};
}

TEST(HostilePlugins, EveryHostileReplyIsCarriedAndReadWithoutHarm) {
  const std::string request = test_support::EscapeForRecord(test_support::RequestText(kSound));
  for (const stand_in::HostilePlugin& plugin : stand_in::kHostilePlugins) {
    SCOPED_TRACE(plugin.library);
    std::string replySummary;
    {
      std::u16string summary = stand_in::SummarizeText(stand_in::HostileReplyText(plugin.shape));
      replySummary.assign(summary.begin(), summary.end());  // ASCII
    }
    {
      const Deployment deployment(kLauncher);
      deployment.AddComponent(kSucceedingComponent);
      deployment.AddPlugin(StandInLibrary(plugin.library));
      deployment.WriteSettings(kSoundFile);
      const std::vector<std::string> expected = {kRegistrationLine, "1\tInitialize\t" + request,
                                                 "2\tRequestService\t" + request,
                                                 "3\tRelease\t" + replySummary};
      EXPECT_EQ(RunContained(deployment), expected);
    }

    // The same reply taken in this process, where the request's reading of it shows.
    CDhcpServerRequest dhcp;
    dhcp.SetPluginPath(StandInLibrary(plugin.library).u16string());
    dhcp.SetSubnetMask(u"255.255.255.0");
    dhcp.SetGateway(u"192.168.1.1");
    dhcp.SetDuringTime(u"3600");
    dhcp.SetRangeIp(u"192.168.1.100-192.168.1.200");
    const ReadBack expected = ExpectedReadBack(plugin.shape);
    EXPECT_EQ(dhcp.RunDHCPServer(), expected.returnCode);
    EXPECT_EQ(dhcp.GetReturnCode(), expected.returnCode);
    // Summaries keep a failure's output short for the long messages.
    EXPECT_EQ(stand_in::SummarizeText(dhcp.GetResponseMessage()),
              stand_in::SummarizeText(expected.message));
    if (expected.message.size() < 64) {
      EXPECT_EQ(dhcp.GetResponseMessage(), expected.message);
    }
  }
}

// Memory running out in the middle of the request (here: std::bad_alloc out of RequestService)
// ends the run with 0 like any other failure after the registration, not with a crash.
TEST(HostilePlugins, RunningOutOfMemoryDuringTheRequestStillEndsWithZero) {
#ifdef _WIN32
  // Each Windows DLL links its own runtime, so the escaping exception's clean-up code lies in the
  // plugin, which is unloaded before the launcher has finished with the exception. An exception
  // escaping a plugin breaks the plugin contract and cannot be survived there.
  GTEST_SKIP() << "an exception from a plugin cannot outlive the plugin on Windows";
#endif
  const std::string request = test_support::EscapeForRecord(test_support::RequestText(kSound));
  const Deployment deployment(kLauncher);
  deployment.AddComponent(kSucceedingComponent);
  deployment.AddPlugin(StandInLibrary("stand_in_plugin_out_of_memory"));
  deployment.WriteSettings(kSoundFile);
  const std::vector<std::string> expected = {kRegistrationLine, "1\tInitialize\t" + request,
                                             "2\tRequestService\t" + request};
  EXPECT_EQ(RunContained(deployment), expected);
}

}  // namespace
