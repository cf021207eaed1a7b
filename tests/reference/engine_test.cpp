// Tests of the engine layer's own logic: names, identity checks, configuration text, reasons.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engines.h"
#include "interfaces.h"
#include "process.h"
#include "safe_file.h"
#include "state_folder.h"
#include "temp_folder.h"

using namespace dhcp_plugin;

namespace {

ServeSettings Sample(const char16_t* lease) {
  return *ToServeSettings(
      {u"255.255.255.0", u"198.51.100.1", lease, u"198.51.100.100-198.51.100.200"});
}

TEST(EngineNames, OnlyPlainInterfaceNamesPass) {
  const struct {
    std::u16string name;
    bool plain;
  } cases[] = {
      {u"eth0", true},
      {u"vs-1.10_a", true},
      {u"abcdefghijklmno", true},
      {u"abcdefghijklmnop", false},
      {u"", false},
      {u".", false},
      {u"..", false},
      {u"...", true},
      {u"eth0 ", false},
      {u"eth0\n", false},
      {u"a/b", false},
      {u"e\"th", false},
      {u"eth0,lo", false},
      {u"eth\u00e9", false},
      {u"eth0#", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsPlainInterfaceName(c.name), c.plain) << std::string(c.name.begin(), c.name.end());
  }
}

TEST(EngineNames, StatePathsThatCannotBreakAConfiguration) {
  EXPECT_TRUE(IsSafeStatePath("/srv/dhcp/run"));
  EXPECT_TRUE(IsSafeStatePath("/tmp/a+b/c-d_e.f"));
  for (const char* bad : {"", "run", "/a b", "/a\nport=53", "/a\"b", "/a\\b", "/a,b", "/a#b"}) {
    EXPECT_FALSE(IsSafeStatePath(bad)) << bad;
  }
}

TEST(EngineNames, OnlyFoldersOthersCannotChangeMayLieAboveTheStateFolder) {
  const struct {
    std::uint32_t owner;
    std::uint32_t mode;
    std::uint32_t user;
    bool safe;
  } cases[] = {
      {0, 040755, 0, true},     {0, 040700, 1000, true},  {1000, 040755, 1000, true},
      {0, 041777, 0, true},     {0, 041770, 1000, true},  {0, 040775, 0, false},
      {0, 040757, 0, false},    {0, 040777, 0, false},    {0, 042775, 0, false},
      {1000, 040755, 0, false}, {1000, 041777, 0, false}, {1001, 040700, 1000, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsSafeParentFolder(c.owner, c.mode, c.user), c.safe)
        << c.owner << " " << std::oct << c.mode << " " << std::dec << c.user;
  }
}

TEST(EngineIdentity, OnlyOurLiveServerIsEverSignalled) {
  const std::vector<std::string> programs{"/usr/sbin/dnsmasq", "/usr/sbin/kea-dhcp4"};
  const std::string dnsConfig = "/srv/run/dnsmasq.conf";
  const std::string keaConfig = "/srv/run/kea-dhcp4.json";
  const struct {
    const char* what;
    ProcessFacts facts;
    std::string config;
    bool ours;
  } cases[] = {
      {"our dnsmasq",
       {"/usr/sbin/dnsmasq", {"dnsmasq", "--conf-file=" + dnsConfig}, 'S'},
       dnsConfig,
       true},
      {"our kea", {"/usr/sbin/kea-dhcp4", {"kea-dhcp4", "-c", keaConfig}, 'R'}, keaConfig, true},
      {"zombie",
       {"/usr/sbin/dnsmasq", {"dnsmasq", "--conf-file=" + dnsConfig}, 'Z'},
       dnsConfig,
       false},
      {"dead",
       {"/usr/sbin/dnsmasq", {"dnsmasq", "--conf-file=" + dnsConfig}, 'X'},
       dnsConfig,
       false},
      {"gone", {"", {}, '?'}, dnsConfig, false},
      {"another program", {"/usr/bin/sleep", {"sleep", dnsConfig}, 'S'}, dnsConfig, false},
      {"dnsmasq of another config",
       {"/usr/sbin/dnsmasq", {"dnsmasq", "--conf-file=/etc/x"}, 'S'},
       dnsConfig,
       false},
      {"config only as a prefix",
       {"/usr/sbin/dnsmasq", {"dnsmasq", "--conf-file=" + dnsConfig + ".old"}, 'S'},
       dnsConfig,
       false},
      {"config only as program name", {"/usr/sbin/dnsmasq", {dnsConfig}, 'S'}, dnsConfig, false},
      {"our dnsmasq, its program replaced by an upgrade",
       {"/usr/sbin/dnsmasq (deleted)", {"dnsmasq", "--conf-file=" + dnsConfig}, 'S'},
       dnsConfig,
       true},
      {"our kea, its program replaced by an upgrade",
       {"/usr/sbin/kea-dhcp4 (deleted)", {"kea-dhcp4", "-c", keaConfig}, 'S'},
       keaConfig,
       true},
      {"replaced dnsmasq of another config",
       {"/usr/sbin/dnsmasq (deleted)", {"dnsmasq", "--conf-file=/etc/x"}, 'S'},
       dnsConfig,
       false},
      {"replaced program of another name",
       {"/usr/sbin/dnsmasq.new (deleted)", {"dnsmasq", dnsConfig}, 'S'},
       dnsConfig,
       false},
      {"only the marker", {" (deleted)", {"dnsmasq", dnsConfig}, 'S'}, dnsConfig, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsOurServer(c.facts, programs, c.config), c.ours) << c.what;
  }
}

TEST(EngineIdentity, ProcFilesAreRead) {
  using namespace std::string_view_literals;
  EXPECT_EQ(SplitCommandLine("dnsmasq\0--conf-file=/a b\0"sv),
            (std::vector<std::string>{"dnsmasq", "--conf-file=/a b"}));
  EXPECT_EQ(SplitCommandLine("kea\0-c\0/x.json"sv),
            (std::vector<std::string>{"kea", "-c", "/x.json"}));
  EXPECT_TRUE(SplitCommandLine("").empty());
  EXPECT_EQ(StateFromStat("42 (dnsmasq) S 1 2 3"), 'S');
  EXPECT_EQ(StateFromStat("42 (a) Z (b)) R 1 2"), 'R');  // a name may hold ") "
  EXPECT_EQ(StateFromStat("42 (dnsmasq) Z 1"), 'Z');
  EXPECT_EQ(StateFromStat("garbage"), '?');
  EXPECT_EQ(StateFromStat("42 (x)"), '?');
}

TEST(EngineFailure, TheReasonIsTheEnginesFirstComplaint) {
  const std::string keaError =
      "2026-12-08 08:00:00.123 ERROR [kea-dhcp4.dhcp4/42.7] DHCP4_CONFIG_LOAD_FAIL configuration "
      "error using file: /srv/run/kea-dhcp4.json, reason: bad subnet";
  const DhcpEngine& dnsmasq = DnsmasqEngine();
  const DhcpEngine& kea = KeaEngine();
  const struct {
    const DhcpEngine& engine;
    std::string appended;
    std::string reason;
  } cases[] = {
      {dnsmasq, "", "no reason given"},
      {kea, "\n\n", "no reason given"},
      {dnsmasq, "dnsmasq: failed to create listening socket: Address in use\n",
       "failed to create listening socket: Address in use"},
      {dnsmasq, "started\ndnsmasq: bad option at line 3\ndnsmasq: second\n",
       "bad option at line 3"},
      {kea, keaError + "\n", "bad subnet"},
      {kea,
       "2026-12-08 08:00:00.1 WARN [kea-dhcp4.dhcp4/42.7] DHCP4_MULTI_THREADING_INFO x\n" +
           keaError + "\n",
       "bad subnet"},
      {kea,
       "2026-12-08 08:00:00.1 FATAL [kea-dhcp4.dhcp4/42.7] DHCP4_INIT_FAIL failed to open socket",
       "failed to open socket"},
      {dnsmasq, "first\nlast words\n\n", "last words"},
      {kea, "first\nlast words\n\n", "last words"},
      // Each engine reads only its own kind of complaint.
      {dnsmasq, keaError + "\nlast\n", "last"},
      {kea, "dnsmasq: not Kea's\nlast\n", "last"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.engine.ReasonFromLog(c.appended), c.reason) << c.appended;
  }
}

TEST(EngineFailure, TheReasonIsReadFromWhereTheStartBeganInALongLog) {
  const std::string filler(100, 'x');
  std::string earlier = "dnsmasq: an earlier failure\n";
  while (earlier.size() < (std::size_t{1} << 20)) {  // the log is moved aside only beyond 1 MiB
    earlier += filler + "\n";
  }
  const struct {
    const char* what;
    std::size_t before;  // bytes of the earlier log
    std::string appended;
    std::uint64_t offset;
    std::string reason;
  } cases[] = {
      {"past 64 KiB", 100000, "dnsmasq: failed to bind\n", 100000, "failed to bind"},
      {"near 1 MiB", earlier.size(), "dnsmasq: failed to bind\n", earlier.size(), "failed to bind"},
      {"nothing appended", 100000, "", 100000, "no reason given"},
      {"log begun anew", 0, "dnsmasq: failed to bind\n", 100000, "failed to bind"},
      {"reason beyond the read limit", 0, earlier + "dnsmasq: failed to bind\n", 0,
       "an earlier failure"},
  };
  for (const auto& c : cases) {
    const test_support::TempFolder folder("dhcp-engine-log-");
    folder.Write("engine.log", earlier.substr(0, c.before) + c.appended);
    const safe_file::Descriptor fd = safe_file::OpenFolderNoFollow(folder.path(), false);
    ASSERT_TRUE(static_cast<bool>(fd));
    EXPECT_EQ(DnsmasqEngine().ReasonFromLog(EngineLogFrom(fd.Get(), c.offset)), c.reason) << c.what;
  }
}

TEST(EngineProcesses, AProgramAskedForItsVersionCannotHoldUpTheStart) {
  using std::chrono::milliseconds;
  const struct {
    const char* what;
    std::vector<std::string> arguments;
    std::string line;
  } cases[] = {
      {"prints and exits", {"/bin/sh", "-c", "printf '1.2\\nmore\\n'"}, "1.2"},
      {"prints and stays", {"/bin/sh", "-c", "echo 1.2; exec sleep 1000"}, "1.2"},
      {"prints nothing and stays", {"/bin/sh", "-c", "exec sleep 1000"}, ""},
      {"prints part of a line and stays", {"/bin/sh", "-c", "printf 1.2; exec sleep 1000"}, "1.2"},
      {"cannot be run", {"/nonexistent/program"}, ""},
  };
  for (const auto& c : cases) {
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(FirstLineOf(c.arguments, milliseconds{300}), c.line) << c.what;
    // Far above the limit, far below the program's own sleep: catches a wait without deadline.
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds{30}) << c.what;
  }
}

// The launcher may be started with descriptors 0-2 closed; the engine's output must still reach
// the pipe or log it is given.
TEST(EngineProcesses, OutputArrivesWhenTheLauncherStartedWithStdioClosed) {
  const std::vector<std::vector<int>> closedSets{{0, 1, 2}, {0, 1}, {1, 2}, {2}};
  for (const std::vector<int>& closed : closedSets) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (const int fd : closed) {
        close(fd);
      }
      const std::string line =
          FirstLineOf({"/bin/sh", "-c", "echo hello"}, std::chrono::milliseconds{5000});
      _exit(line == "hello" ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "closed: " << closed.size();
  }
}

TEST(EngineConfig, DnsmasqServesOneInterfaceAndNoDns) {
  const DhcpEngine& dnsmasq = DnsmasqEngine();
  const EnginePaths paths = PathsOf(dnsmasq, "/srv/run");
  EXPECT_EQ(paths.config, "/srv/run/dnsmasq.conf");
  const std::string text = dnsmasq.Configuration(Sample(u"3600"), "vs1", paths, false);
  for (const char* line :
       {"\nport=0\n", "\ninterface=vs1\n", "\nbind-interfaces\n",
        "\ndhcp-range=198.51.100.100,198.51.100.200,255.255.255.0,3600\n",
        "\ndhcp-option=option:router,198.51.100.1\n", "\ndhcp-leasefile=/srv/run/dnsmasq.leases\n",
        "\npid-file=/srv/run/dnsmasq.pid\n", "\nlog-facility=/srv/run/engine.log\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  // A lease below dnsmasq's shortest is written as the one it serves.
  EXPECT_NE(dnsmasq.Configuration(Sample(u"60"), "vs1", paths, false).find(",255.255.255.0,120\n"),
            std::string::npos);
  EXPECT_EQ(dnsmasq.ServedLeaseSeconds(60), 120U);
  EXPECT_EQ(KeaEngine().ServedLeaseSeconds(60), 60U);
  EXPECT_EQ(dnsmasq.ServedLeaseSeconds(4294967294U), 4294967294U);
}

// dnsmasq's own lease limit (1000) would refuse clients of a larger range; without LogPackets it
// logs no line for a request it answers.
TEST(EngineConfig, DnsmasqLeasesTheWholeRangeAndLogsPacketsOnlyWhenAsked) {
  const DhcpEngine& dnsmasq = DnsmasqEngine();
  const EnginePaths paths = PathsOf(dnsmasq, "/srv/run");
  const struct {
    const char* what;
    ServeSettings settings;
    bool logPackets;
    const char* present;
    const char* absent;
  } cases[] = {
      {"101 addresses", Sample(u"600"), false, "\ndhcp-lease-max=101\n", "log-dhcp"},
      {"a /21",
       *ToServeSettings({u"255.255.248.0", u"10.20.0.1", u"600", u"10.20.0.10-10.20.7.250"}), false,
       "\ndhcp-lease-max=2033\n", "log-dhcp"},
      {"one address",
       *ToServeSettings({u"255.255.255.0", u"198.51.100.1", u"600", u"198.51.100.9-198.51.100.9"}),
       false, "\ndhcp-lease-max=1\n", "\nlog-dhcp"},
      {"quiet by default", Sample(u"600"), false, "\nquiet-dhcp\n", "\nlog-dhcp"},
      {"packets logged", Sample(u"600"), true, "\nlog-dhcp\n", "quiet-dhcp"},
  };
  for (const auto& c : cases) {
    const std::string text = dnsmasq.Configuration(c.settings, "vs1", paths, c.logPackets);
    EXPECT_NE(text.find(c.present), std::string::npos) << c.what << "\n" << text;
    EXPECT_EQ(text.find(c.absent), std::string::npos) << c.what << "\n" << text;
  }
}

TEST(EngineConfig, KeaServesOneInterfaceAndFailsOnAClosedSocket) {
  const DhcpEngine& kea = KeaEngine();
  const EnginePaths paths = PathsOf(kea, "/srv/run");
  EXPECT_EQ(paths.config, "/srv/run/kea-dhcp4.json");
  ServeSettings settings = Sample(u"4294967294");
  settings.mask = 0xFFFFFF80;
  settings.prefix = 25;
  const auto config = nlohmann::json::parse(kea.Configuration(settings, "vs1", paths, false));
  const auto& dhcp4 = config.at("Dhcp4");
  EXPECT_EQ(
      dhcp4.at("interfaces-config"),
      nlohmann::json::parse(R"({"interfaces": ["vs1"], "service-sockets-require-all": true})"));
  EXPECT_EQ(dhcp4.at("control-socket").at("socket-name"), "/srv/run/kea4.sock");
  EXPECT_EQ(dhcp4.at("lease-database").at("name"), "/srv/run/kea-leases4.csv");
  EXPECT_EQ(dhcp4.at("lease-database").at("persist"), true);
  EXPECT_EQ(dhcp4.at("valid-lifetime"), 4294967294U);
  EXPECT_EQ(dhcp4.at("authoritative"), true);
  ASSERT_EQ(dhcp4.at("subnet4").size(), 1U);
  const auto& subnet = dhcp4.at("subnet4").at(0);
  EXPECT_EQ(subnet.at("subnet"), "198.51.100.0/25");
  EXPECT_EQ(subnet.at("pools"),
            nlohmann::json::parse(R"([{"pool": "198.51.100.100 - 198.51.100.200"}])"));
  EXPECT_EQ(subnet.at("option-data"),
            nlohmann::json::parse(R"([{"name": "routers", "data": "198.51.100.1"}])"));
}

// Kea rotates its own log; without LogPackets the loggers that write a line for each request keep
// quiet, and with it every logger says what it does.
TEST(EngineConfig, KeaLogsPacketsOnlyWhenAsked) {
  const DhcpEngine& kea = KeaEngine();
  const EnginePaths paths = PathsOf(kea, "/srv/run");
  const auto log = nlohmann::json::parse(R"([{"name": "kea-dhcp4", "severity": "INFO",
      "output_options": [{"output": "/srv/run/engine.log", "maxsize": 1048576, "maxver": 1}]}])");
  auto quiet = log;
  quiet.push_back({{"name", "kea-dhcp4.leases"}, {"severity", "WARN"}});
  quiet.push_back({{"name", "kea-dhcp4.bad-packets"}, {"severity", "FATAL"}});
  EXPECT_EQ(nlohmann::json::parse(kea.Configuration(Sample(u"600"), "vs1", paths, false))
                .at("Dhcp4")
                .at("loggers"),
            quiet);
  EXPECT_EQ(nlohmann::json::parse(kea.Configuration(Sample(u"600"), "vs1", paths, true))
                .at("Dhcp4")
                .at("loggers"),
            log);
}

TEST(EngineConfig, InterfacesInTheGatewaysSubnet) {
  const ServeSettings settings = Sample(u"600");
  const std::vector<InterfaceAddress> addresses{{"lo", 0x7F000001}, {"eth0", 0xC0000202},
                                                {"vs", 0xC6336401}, {"vs", 0xC6336402},
                                                {"vt", 0xC63364FE}, {"wide", 0xC6336501}};
  EXPECT_EQ(InterfacesInSubnet(addresses, settings), (std::vector<std::string>{"vs", "vt"}));
  EXPECT_TRUE(InterfacesInSubnet({}, settings).empty());
}

TEST(EngineMessages, OutsideTextIsQuoted) {
  const struct {
    const char* what;
    std::u16string shown;
    std::u16string expected;
  } cases[] = {
      {"no interface", FittingInterfacesText({}), u"none here holds one"},
      {"two interfaces", FittingInterfacesText({"vs1", "eth0.10"}),
       u"interfaces that would fit: vs1, eth0.10"},
      {"names from the system", FittingInterfacesText({"a@b", "c\nd", "e\xff"}),
       u"interfaces that would fit: a?b, c?d, e?"},
      {"dnsmasq", VersionText(DnsmasqEngine(), "Dnsmasq version 2.90  Copyright (c) 2000"),
       u" 2.90"},
      {"dnsmasq without a version", VersionText(DnsmasqEngine(), "usage: dnsmasq"), u""},
      {"kea", VersionText(KeaEngine(), "2.6.1"), u" 2.6.1"},
      {"kea, second line", VersionText(KeaEngine(), "2.6.1\nmore"), u" 2.6.1"},
      {"any program", VersionText(KeaEngine(), "x@y\tz\x01"), u" x?y?z?"},
      {"dnsmasq, odd version", VersionText(DnsmasqEngine(), "version 2@9\r"), u" 2?9?"},
      {"nothing", VersionText(KeaEngine(), ""), u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.shown, c.expected) << c.what;
  }
}

}  // namespace
