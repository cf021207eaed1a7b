// Tests of the reference plugin and component as the host loads them, in a staged deployment.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#endif

#include "platform/library.h"
#include "plugin_log.h"
#include "plugin_service.h"
#include "request/dhcp_server_request.h"
#include "request/plugin_request.h"
#include "settings_check.h"
#include "temp_folder.h"

namespace fs = std::filesystem;

namespace {

constexpr char16_t kPluginPath[] = u".\\mekDHCPPluginu.dll";

// How the plugin's messages name its settings file, and what its answer to Engine=check advises:
// on Windows no engine runs, so none is advised.
#ifdef _WIN32
constexpr char16_t kSettingsShown[] = u"..\\config\\mekDHCPPluginu.ini";
constexpr char16_t kCheckOnlyEnd[] =
    u"there is no DHCP server engine on this platform (dnsmasq and Kea run on Linux only), so the "
    u"plugin only checks the settings here.";
#else
constexpr char16_t kSettingsShown[] = u"../config/mekDHCPPluginu.ini";
constexpr char16_t kCheckOnlyEnd[] =
    u"to serve, set Engine (auto, dnsmasq or kea) and Interface in [ENGINE] of "
    u"../config/mekDHCPPluginu.ini.";
#endif

// A message shows paths as the platform writes them: on POSIX never with "\".
void ExpectPlatformPaths(const std::u16string& message) {
#ifndef _WIN32
  EXPECT_EQ(message.find(u'\\'), std::u16string::npos)
      << std::string(message.begin(), message.end());
#endif
  EXPECT_EQ(message.find(u'@'), std::u16string::npos);
}

// A deployment in a fresh temporary folder: bin/ holding copies of both libraries, made the working
// directory for the test and restored afterwards. No log/ folder: the plugin must create it.
class Deployment : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root_ / "bin");
    fs::copy_file(DHCP_REFERENCE_PLUGIN, root_ / "bin" / "mekDHCPPluginu.dll");
    fs::copy_file(DHCP_REFERENCE_COMPONENT, root_ / "bin" / "fylDHCPD.dll");
    previous_ = fs::current_path();
    fs::current_path(root_ / "bin");
  }

  void TearDown() override { fs::current_path(previous_); }

  std::string ReadLog() const { return ReadFile(root_ / "log" / dhcp_plugin::kLogFileName); }

  static std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static void WriteFile(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
  }

  test_support::TempFolder folder_{"dhcp-reference-"};
  const fs::path& root_ = folder_.path();
  fs::path previous_;
};

// Runs a DHCP server request with the four settings through the real loader.
struct DhcpRun {
  int code;
  std::u16string message;
};
DhcpRun RunDhcp(const std::u16string& mask, const std::u16string& gateway,
                const std::u16string& lease, const std::u16string& range) {
  CDhcpServerRequest request;
  request.SetPluginPath(kPluginPath);
  request.SetSubnetMask(mask);
  request.SetGateway(gateway);
  request.SetDuringTime(lease);
  request.SetRangeIp(range);
  const int code = request.RunDHCPServer();
  EXPECT_EQ(code, request.GetReturnCode());
  return {code, request.GetResponseMessage()};
}

std::size_t CountOf(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

TEST_F(Deployment, ComponentRegistersAndPluginAnswersAndLogs) {
  const platform::ScopedLibrary component(platform::LoadLibraryAt(u".\\fylDHCPD.dll"));
  ASSERT_TRUE(component);
  const auto registerServer = reinterpret_cast<std::int32_t (*)()>(
      platform::FindEntryPoint(component.get(), "DllRegisterServer"));
  ASSERT_NE(registerServer, nullptr);
  EXPECT_EQ(registerServer(), 0);

  const DhcpRun sound =
      RunDhcp(u"255.255.255.0", u"192.168.1.1", u"86400", u"192.168.1.100-192.168.1.200");
  EXPECT_EQ(sound.code, 0);
  EXPECT_EQ(sound.message,
            u"Settings accepted: subnet 192.168.1.0/24, gateway 192.168.1.1, range "
            u"192.168.1.100-192.168.1.200 (101 addresses), lease 86400 seconds. Engine=check: "
            u"nothing was started or stopped, and no DHCP server of this deployment runs; " +
                std::u16string(kCheckOnlyEnd));

  const DhcpRun reversed =
      RunDhcp(u"255.255.255.0", u"192.168.1.1", u"86400", u"192.168.1.200-192.168.1.100");
  EXPECT_EQ(reversed.code, 43);
  EXPECT_NE(reversed.message.find(u"RangeIp \"192.168.1.200-192.168.1.100\""),
            std::u16string::npos);

  // The launcher sends a missing setting as an empty value.
  EXPECT_EQ(RunDhcp(u"255.255.255.0", u"", u"86400", u"192.168.1.100-192.168.1.200").code, 20);

  // The log folder was created beside bin/, and each request left four lines: what Initialize,
  // RequestService and Release received and what RequestService answered.
  const std::string log = ReadLog();
  EXPECT_EQ(CountOf(log, "\n"), 12U);
  EXPECT_EQ(CountOf(log,
                    " Initialize received: RunDHCPServer@@@DHCP_ZOR_PLUGIN_SUBNETMASK_PARAMETER="
                    "255.255.255.0@@@DHCP_ZOR_PLUGIN_GATEWAY_PARAMETER=192.168.1.1@@@"
                    "DHCP_ZOR_PLUGIN_DURING_TIME_PARAMETER=86400@@@"
                    "DHCP_ZOR_PLUGIN_RANGE_IP_PARAMETER=192.168.1.100-192.168.1.200\n"),
            1U);
  EXPECT_EQ(CountOf(log, " RequestService received: RunDHCPServer@@@"), 3U);
  EXPECT_EQ(CountOf(log,
                    " RequestService answered 0: RunDHCPServer@@@"
                    "ZOR_PLUGIN_RESPONSE_RETURN_CODE=0@@@ZOR_PLUGIN_RESPONSE_MESSAGE=Settings "
                    "accepted: "),
            1U);
  EXPECT_EQ(CountOf(log, " RequestService answered 43: "), 1U);
  EXPECT_EQ(CountOf(log, " RequestService answered 20: "), 1U);
  EXPECT_EQ(CountOf(log, " Release received: RunDHCPServer@@@ZOR_PLUGIN_RESPONSE_RETURN_CODE="),
            3U);
  // Nothing but bin/ and log/ appeared in the deployment.
  std::vector<std::string> entries;
  for (const auto& entry : fs::directory_iterator(root_)) {
    entries.push_back(entry.path().filename().string());
  }
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"bin", "log"}));
}

#if defined(__linux__)
// Whether the running process has the file mapped, by /proc/self/maps.
bool IsMapped(const fs::path& file) {
  std::ifstream maps("/proc/self/maps");
  const std::string path = fs::canonical(file).string();
  for (std::string line; std::getline(maps, line);) {
    if (line.size() >= path.size() &&
        line.compare(line.size() - path.size(), path.size(), path) == 0) {
      return true;
    }
  }
  return false;
}
#endif

TEST_F(Deployment, PluginIsUnloadedAfterEachRequest) {
#if !defined(__linux__)
  GTEST_SKIP() << "reads the process's mappings from /proc/self/maps, which only Linux has";
#else
  const fs::path plugin = root_ / "bin" / "mekDHCPPluginu.dll";
  for (int run = 0; run < 3; ++run) {
    SCOPED_TRACE(run);
    EXPECT_EQ(
        RunDhcp(u"255.255.255.0", u"192.168.1.1", u"86400", u"192.168.1.100-192.168.1.200").code,
        0);
    EXPECT_FALSE(IsMapped(plugin));
  }
  // The mapping is seen while the library is loaded, so the checks above can fail.
  {
    const platform::ScopedLibrary loaded(platform::LoadLibraryAt(kPluginPath));
    ASSERT_TRUE(loaded);
    EXPECT_TRUE(IsMapped(plugin));
  }
  EXPECT_FALSE(IsMapped(plugin));
#endif
}

TEST_F(Deployment, HostileRequestsGetAnOrderlyReply) {
  const std::vector<std::u16string> requests = {
      u"",
      u"@@@@@@",
      u"HaltDHCPServer@@@K=v",
      u"RunDHCPServer",
      u"RunDHCPServerX@@@DHCP_ZOR_PLUGIN_SUBNETMASK_PARAMETER=255.255.255.0",
      u"RunDHCPServer@@@DHCP_ZOR_PLUGIN_SUBNETMASK_PARAMETER=\xD800\n@@@@@@=",
      u"RunDHCPServer@@@DHCP_ZOR_PLUGIN_SUBNETMASK_PARAMETER=255.255.255.0@x",
      u"RunDHCPServer@@@DHCP_ZOR_PLUGIN_SUBNETMASK_PARAMETER=" + std::u16string(100000, u'9'),
      u"RunDHCPServer@@@DHCP_ZOR_PLUGIN_SUBNETMASK_PARAMETER=" + std::u16string(100000, u'@'),
      u"Run\nDHCPServer@" + std::u16string(5000, u'='),
  };
  const std::vector<int> codes = {90, 90, 90, 10, 90, 11, 11, 11, 10, 90};
  for (std::size_t i = 0; i < requests.size(); ++i) {
    SCOPED_TRACE(i);
    // Through the real loader with a hand-made text: a request record carries it as its name.
    CPluginRequest request(requests[i]);
    request.SetPluginPath(kPluginPath);
    std::u16string reply = u"untouched";
    const int status = request.Execute(reply);
    int emptyName = 0;
    request.BuildRequestText(emptyName);
    if (emptyName == 1) {
      EXPECT_EQ(status, 1);  // the host does not call a plugin for an unnamed request
      EXPECT_EQ(reply, u"untouched");
    } else {
      EXPECT_EQ(status, codes[i]);
    }

    // The same text straight into the service, as RequestService gets it.
    const dhcp_plugin::Answer answer = dhcp_plugin::AnswerRequest(requests[i]);
    EXPECT_EQ(answer.code, codes[i]);
    CDhcpServerRequest parsed(answer.reply);
    std::u16string code;
    std::u16string message;
    EXPECT_EQ(parsed.GetParam(u"ZOR_PLUGIN_RESPONSE_RETURN_CODE", code), 0);
    const std::string expectedCode = std::to_string(codes[i]);
    EXPECT_EQ(code, std::u16string(expectedCode.begin(), expectedCode.end()));
    EXPECT_EQ(parsed.GetParam(u"ZOR_PLUGIN_RESPONSE_MESSAGE", message), 0);
    EXPECT_EQ(parsed.CountParams(), 2);
    EXPECT_EQ(message.find(u'@'), std::u16string::npos);
    EXPECT_LT(message.size(), 300U);
    EXPECT_EQ(answer.reply.rfind(u"RunDHCPServer@@@ZOR_PLUGIN_RESPONSE_RETURN_CODE=", 0), 0U);
    if (emptyName == 0) {
      EXPECT_EQ(reply, answer.reply);
    }
  }
  // Every logged event is one line, however the texts were made: eight requests reached the
  // plugin, four lines each. The two holding a line feed show it escaped where Initialize and
  // RequestService received them; the lone surrogate was logged as U+FFFD, twice as well.
  const std::string log = ReadLog();
  EXPECT_EQ(CountOf(log, "\n"), 32U);
  EXPECT_EQ(CountOf(log, "\\x0A"), 4U);
  EXPECT_EQ(CountOf(log, "\xEF\xBF\xBD"), 2U);
}

// The plugin's own settings file decides what runs after the settings pass. None of these cases
// can start a server: the programs named do not exist, or an interface check fails first. On
// Windows every request for an engine gets the "no engine on this platform" code.
TEST_F(Deployment, PluginSettingsChooseTheEngine) {
#ifdef _WIN32
  constexpr bool kWindows = true;
#else
  constexpr bool kWindows = false;
#endif
  const struct {
    const char* settings;  // ..\config\mekDHCPPluginu.ini, or nullptr for none
    const char* range;
    int posixCode;
    int windowsCode;
    std::u16string says;
  } cases[] = {
      {nullptr, "192.168.1.100-192.168.1.200", 0, 0, u"no DHCP server of this deployment runs"},
      {"[ENGINE]\nEngine=check\nInterface=eth0\n", "192.168.1.100-192.168.1.200", 0, 0,
       u"no DHCP server of this deployment runs"},
      {"[ENGINE]\nEngine=dhcpd\n", "192.168.1.100-192.168.1.200", 51, 51,
       u"Engine \"dhcpd\" in [ENGINE] of " + std::u16string(kSettingsShown) + u" is not known"},
      {"[ENGINE]\nEngine=kea\nLogPackets=maybe\n", "192.168.1.100-192.168.1.200", 51, 51,
       u"LogPackets \"maybe\" in [ENGINE] of " + std::u16string(kSettingsShown)},
      {"[ENGINE]\nEngine=kea\nKeaProgram=kea-dhcp4\n", "192.168.1.100-192.168.1.200", 51, 51,
       u"not an absolute path"},
      {"[ENGINE]\nEngine=kea\nInterface=eth0\nKeaProgram=/nonexistent/kea-dhcp4\n",
       "192.168.1.100-192.168.1.200", 50, 50, u"othing was started"},
      {"[ENGINE]\nEngine=auto\nInterface=eth0\nKeaProgram=/nonexistent/kea-dhcp4\n"
       "DnsmasqProgram=/nonexistent/dnsmasq\n",
       "192.168.1.100-192.168.1.200", 50, 50, u"No DHCP server engine is installed"},
      {"[ENGINE]\nEngine=dnsmasq\nDnsmasqProgram=/bin/sh\n", "192.168.1.100-192.168.1.200", 52, 50,
       u"Interface is not set in [ENGINE] of " + std::u16string(kSettingsShown)},
      {"[ENGINE]\nEngine=dnsmasq\nDnsmasqProgram=/bin/sh\nInterface=eth0;reboot\n",
       "192.168.1.100-192.168.1.200", 53, 50, u"othing was started"},
      {"[ENGINE]\nEngine=dnsmasq\nDnsmasqProgram=/bin/sh\nInterface=nosuchif9\n",
       "192.168.1.100-192.168.1.200", 54, 50, u"othing was started"},
      // Settings that fail the checks leave a running server alone, and say so.
      {"[ENGINE]\nEngine=dnsmasq\nInterface=eth0\n", "192.168.1.200-192.168.1.100", 43, 43,
       u"keeps its earlier settings"},
  };
  fs::create_directories(root_ / "config");
  for (const auto& c : cases) {
    fs::remove(root_ / "config" / "mekDHCPPluginu.ini");
    if (c.settings != nullptr) {
      std::ofstream(root_ / "config" / "mekDHCPPluginu.ini", std::ios::binary) << c.settings;
    }
    const std::string range = c.range;
    const DhcpRun run = RunDhcp(u"255.255.255.0", u"192.168.1.1", u"86400",
                                std::u16string(range.begin(), range.end()));
    const std::string shown = c.settings == nullptr ? "(no file)" : c.settings;
    EXPECT_EQ(run.code, kWindows ? c.windowsCode : c.posixCode) << shown;
    if (kWindows && c.windowsCode == 50) {
      EXPECT_NE(run.message.find(u"no DHCP server engine on this platform"), std::u16string::npos);
    } else {
      EXPECT_NE(run.message.find(c.says), std::u16string::npos) << shown;
    }
    ExpectPlatformPaths(run.message);
  }
  // Nothing was made in the state folder's place: no case got that far.
  EXPECT_FALSE(fs::exists(root_ / "run"));
}

// The operator's requests and Engine=off with no server of this deployment running, through the
// real loader. None may make the state folder; a StateFolder that is a file stays one. On Windows
// no engine runs, so none is found, and a dry run gets the start's "no engine" code.
TEST_F(Deployment, OperatorRequestsWithoutAServerChangeNothing) {
#ifdef _WIN32
  constexpr bool kWindows = true;
#else
  constexpr bool kWindows = false;
#endif
  const std::u16string sound =
      u"@@@DHCP_ZOR_PLUGIN_SUBNETMASK_PARAMETER=255.255.255.0@@@DHCP_ZOR_PLUGIN_GATEWAY_PARAMETER="
      u"192.168.1.1@@@DHCP_ZOR_PLUGIN_DURING_TIME_PARAMETER=86400@@@DHCP_ZOR_PLUGIN_RANGE_IP_"
      u"PARAMETER=192.168.1.100-192.168.1.200";
  const std::u16string broken = u"@@@DHCP_ZOR_PLUGIN_SUBNETMASK_PARAMETER=255.0.255.0";
  const struct {
    const char* settings;  // ..\config\mekDHCPPluginu.ini
    std::u16string request;
    int posixCode;
    int windowsCode;
    const char16_t* says;
  } cases[] = {
      {"[ENGINE]\nEngine=kea\n", u"QueryDHCPServer" + sound, 0, 0,
       u"No DHCP server of this deployment runs"},
      {"[ENGINE]\nEngine=check\nStateFolder=..\\state\n", u"QueryDHCPServer" + broken, 0, 0,
       u"No DHCP server of this deployment runs"},
      {"[ENGINE]\nEngine=kea\nKeaProgram=kea-dhcp4\n", u"QueryDHCPServer" + sound, 51, 51,
       u"cannot be told"},
      {"[ENGINE]\nEngine=kea\nStateFolder=..\\file\n", u"QueryDHCPServer" + sound, 56, 0,
       u"cannot be told"},
      {"[ENGINE]\nEngine=check\n", u"StopDHCPServer", 0, 0,
       u"No DHCP server of this deployment was running"},
      {"[ENGINE]\nEngine=dnsmasq\nDnsmasqProgram=dnsmasq\n", u"StopDHCPServer@@@K=v", 51, 51,
       u"Nothing was stopped."},
      {"[ENGINE]\nEngine=kea\nStateFolder=..\\file\n", u"StopDHCPServer", 56, 0,
       u"othing was stopped"},
      // Engine=off stops whatever the settings say, and without Interface.
      {"[ENGINE]\nEngine=OFF\n", u"RunDHCPServer" + broken, 0, 0,
       u"No DHCP server of this deployment was running"},
      {"[ENGINE]\nEngine=off\n", u"RunDHCPServer", 0, 0,
       u"No DHCP server of this deployment was running"},
      {"[ENGINE]\nEngine=off\nKeaProgram=kea\n", u"RunDHCPServer" + sound, 51, 51,
       u"Nothing was started or stopped."},
      {"[ENGINE]\nEngine=off\n", u"TestDHCPServer" + broken, 0, 0,
       u"would start and stop nothing (Engine=off)"},
      // The dry run answers what the start would.
      {"[ENGINE]\nEngine=check\n", u"TestDHCPServer" + sound, 0, 0,
       u"Engine=check: nothing was started or stopped, and no DHCP server"},
      {"[ENGINE]\nEngine=kea\n", u"TestDHCPServer" + broken, 12, 12, u"keeps its earlier settings"},
      {"[ENGINE]\nEngine=dnsmasq\nDnsmasqProgram=/bin/sh\nInterface=nosuchif9\n",
       u"TestDHCPServer" + sound, 54, 50, u"does not exist on this machine"},
      {"[ENGINE]\nEngine=dnsmasq\nDnsmasqProgram=/bin/sh\n", u"TestDHCPServer" + sound, 52, 50,
       u"Interface is not set"},
  };
  fs::create_directories(root_ / "config");
  WriteFile(root_ / "file", "not a folder");
  for (const auto& c : cases) {
    const std::string shown =
        c.settings +
        std::string(c.request.begin(),
                    c.request.begin() + std::min<std::ptrdiff_t>(15, std::ssize(c.request)));
    SCOPED_TRACE(shown);
    WriteFile(root_ / "config" / "mekDHCPPluginu.ini", c.settings);
    CPluginRequest request(c.request);
    request.SetPluginPath(kPluginPath);
    std::u16string reply;
    const int code = request.Execute(reply);
    const int expected = kWindows ? c.windowsCode : c.posixCode;
    EXPECT_EQ(code, expected);
    const CPluginRequest parsed(reply);
    std::u16string value;
    parsed.GetParam(u"ZOR_PLUGIN_RESPONSE_RETURN_CODE", value);
    EXPECT_EQ(value, dhcp_plugin::DecimalText(static_cast<std::uint64_t>(expected)));
    parsed.GetParam(u"ZOR_PLUGIN_RESPONSE_MESSAGE", value);
    if (kWindows && c.windowsCode == 50) {
      EXPECT_NE(value.find(u"no DHCP server engine on this platform"), std::u16string::npos);
    } else if (!(kWindows && c.windowsCode != c.posixCode)) {
      EXPECT_NE(value.find(c.says), std::u16string::npos)
          << std::string(value.begin(), value.end());
    }
    ExpectPlatformPaths(value);
    // The start request's reply keeps its two keys; the others name the request they answer.
    const std::u16string name = request.GetRequestName();
    EXPECT_EQ(parsed.GetRequestName(), name);
    parsed.GetParam(u"ZOR_PLUGIN_RESPONSE_ANSWERED", value);
    EXPECT_EQ(value, name == u"RunDHCPServer" ? u"" : name);
    // A status is told with the status query and the stop request that could look.
    const bool known = (name == u"QueryDHCPServer" || name == u"StopDHCPServer") && expected == 0;
    EXPECT_EQ(parsed.GetParam(u"ZOR_PLUGIN_RESPONSE_SERVER_RUNNING", value), known ? 0 : 1);
    if (known) {
      EXPECT_EQ(value, u"0");
    }
    EXPECT_EQ(parsed.GetParam(u"ZOR_PLUGIN_RESPONSE_SERVER_PID", value), 1);
  }
  EXPECT_FALSE(fs::exists(root_ / "run"));
  EXPECT_FALSE(fs::exists(root_ / "state"));
  EXPECT_EQ(ReadFile(root_ / "file"), "not a folder");
}

TEST(PluginLog, SpellsOutEveryControlAndLineBreakingCharacter) {
  struct Case {
    std::u16string text;
    std::string written;
  };
  const std::vector<Case> cases = {
      {u"plain text", "plain text"},
      {u"a\nb\rc\td", "a\\x0Ab\\x0Dc\\x09d"},
      {u"\u000B\u000C\u007F", "\\x0B\\x0C\\x7F"},
      {u"one\u0085two", "one\\u0085two"},  // NEXT LINE
      {u"\u0080\u009B\u009F", "\\u0080\\u009B\\u009F"},
      {u"line\u2028para\u2029end", "line\\u2028para\\u2029end"},
      // Neighbours of the escaped characters are written as they are, in UTF-8.
      {u"\u00A0\u00E9\u2027\u202A", "\xC2\xA0\xC3\xA9\xE2\x80\xA7\xE2\x80\xAA"},
      {u"\xD800x", "\xEF\xBF\xBDx"},
  };
  for (const auto& [text, written] : cases) {
    SCOPED_TRACE(written);
    EXPECT_EQ(dhcp_plugin::FormatLogLine("T", "E", text), "T E: " + written + "\n");
  }
}

TEST_F(Deployment, LogRotatesKeepingOneOldFile) {
  const fs::path log = root_ / "log" / dhcp_plugin::kLogFileName;
  const fs::path old = root_ / "log" / dhcp_plugin::kOldLogFileName;
  const std::size_t limit = dhcp_plugin::kLogRotateBytes;
  const auto append = [](const std::u16string& text) {
    dhcp_plugin::AppendToLog(dhcp_plugin::DefaultLogFolder(), "E", text);
  };
  fs::create_directory(root_ / "log");

  // Room left: the line is appended.
  WriteFile(log, std::string(limit - 100, 'a'));
  append(u"fits");
  const std::string appended = ReadLog();
  EXPECT_TRUE(appended.rfind(std::string(limit - 100, 'a'), 0) == 0);  // no long text on failure
  EXPECT_EQ(appended.substr(appended.size() - 9), " E: fits\n");
  EXPECT_FALSE(fs::exists(old));

  // The next line would pass the limit: the log becomes the old file and a fresh one starts.
  append(std::u16string(200, u'b'));
  EXPECT_TRUE(ReadFile(old) == appended);
  EXPECT_EQ(CountOf(ReadLog(), "\n"), 1U);
  EXPECT_NE(ReadLog().find(" E: " + std::string(200, 'b') + "\n"), std::string::npos);

  // Once more: the old file is replaced, so there is never a second one.
  WriteFile(log, std::string(limit, 'c'));
  append(u"third");
  EXPECT_TRUE(ReadFile(old) == std::string(limit, 'c'));
  EXPECT_EQ(CountOf(ReadLog(), "\n"), 1U);
  EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "log"), fs::directory_iterator()), 2);
}

#if !defined(_WIN32)
// Runs work on a thread and waits up to ten seconds for it. A call stuck opening the FIFO at fifo
// is freed by opening it for reading, and the wait fails the test.
void FinishesInTime(const std::function<void()>& work, const fs::path& fifo) {
  std::future<void> done = std::async(std::launch::async, work);
  if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "blocked on " << fifo;
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    done.wait();
    ::close(reader);
  }
}
#endif

// Symbolic links and FIFOs are staged on POSIX only (they need privileges or do not exist as
// files on Windows); the other cases run on both.
TEST_F(Deployment, LogLeavesLinksFifosAndOtherFilesAlone) {
#if !defined(_WIN32)
  std::signal(SIGPIPE, SIG_IGN);  // a freed writer may write into a FIFO whose reader has gone
#endif
  const fs::path folder = root_ / "log";
  const fs::path log = folder / dhcp_plugin::kLogFileName;
  const fs::path outside = root_ / "outside";
  const fs::path target = outside / dhcp_plugin::kLogFileName;
  const std::string kept = "not the plugin's\n";
  const auto makeFolder = [&] { fs::create_directory(folder); };
  struct Case {
    const char* what;
    std::function<void()> stage;
    std::function<bool()> holds;  // what must be true afterwards
  };
  const std::vector<Case> cases = {
    {"log file is a second name of a file",
     [&] { makeFolder(), fs::create_hard_link(target, log); },
     [&] { return ReadFile(log) == kept; }},
    {"log file is a folder", [&] { makeFolder(), fs::create_directory(log); },
     [&] { return fs::is_directory(log) && fs::is_empty(log); }},
#if !defined(_WIN32)
    {"log file links to a file", [&] { makeFolder(), fs::create_symlink(target, log); },
     [&] { return fs::is_symlink(log); }},
    {"log file links to a missing file",
     [&] { makeFolder(), fs::remove(target), fs::create_symlink(target, log); },
     [&] { return fs::is_symlink(log) && !fs::exists(target); }},
    {"log folder links to a folder", [&] { fs::create_directory_symlink(outside, folder); },
     [&] { return fs::is_symlink(folder); }},
    {"log file is a FIFO without a reader", [&] { makeFolder(), ::mkfifo(log.c_str(), 0600); },
     [&] { return fs::is_fifo(log); }},
    {"full log whose old file links to a file",
     [&] {
       makeFolder();
       WriteFile(log, std::string(dhcp_plugin::kLogRotateBytes, 'x'));
       fs::create_symlink(target, folder / dhcp_plugin::kOldLogFileName);
     },
     // The link itself was replaced by the full log.
     [&] { return fs::file_size(folder / dhcp_plugin::kOldLogFileName) > 1000; }},
#endif
  };
  for (const auto& [what, stage, holds] : cases) {
    SCOPED_TRACE(what);
    fs::remove_all(folder);
    fs::remove_all(outside);
    fs::create_directory(outside);
    WriteFile(target, kept);
    stage();
    const auto append = [] {
      dhcp_plugin::AppendToLog(dhcp_plugin::DefaultLogFolder(), "E", u"x");
    };
#if defined(_WIN32)
    append();
#else
    FinishesInTime(append, log);
#endif
    EXPECT_TRUE(holds());
    if (fs::exists(target)) {
      EXPECT_EQ(ReadFile(target), kept);
    }
    EXPECT_LE(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1);
  }

#if !defined(_WIN32)
  // The plugin as the launcher runs it answers in full with a FIFO in place of its log.
  fs::remove_all(folder);
  fs::create_directory(folder);
  ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
  DhcpRun run{};
  FinishesInTime(
      [&] {
        run = RunDhcp(u"255.255.255.0", u"192.168.1.1", u"86400", u"192.168.1.100-192.168.1.200");
      },
      log);
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.message.rfind(u"Settings accepted: ", 0), 0U);
  EXPECT_TRUE(fs::is_fifo(log));
#endif
}

}  // namespace
