// Tests of the engine layer's own logic: names, identity checks, configuration text, reasons.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "engines.h"
#include "interfaces.h"
#include "process.h"
#include "safe_file.h"
#include "server.h"
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
  const std::string text = dnsmasq.Configuration(Sample(u"3600"), "vs1", paths);
  for (const char* line :
       {"\nport=0\n", "\ninterface=vs1\n", "\nbind-interfaces\n",
        "\ndhcp-range=198.51.100.100,198.51.100.200,255.255.255.0,3600\n",
        "\ndhcp-option=option:router,198.51.100.1\n", "\ndhcp-leasefile=/srv/run/dnsmasq.leases\n",
        "\npid-file=/srv/run/dnsmasq.pid\n", "\nlog-facility=/srv/run/engine.log\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  // A lease below dnsmasq's shortest is written as the one it serves.
  EXPECT_NE(dnsmasq.Configuration(Sample(u"60"), "vs1", paths).find(",255.255.255.0,120\n"),
            std::string::npos);
  EXPECT_EQ(dnsmasq.ServedLeaseSeconds(60), 120U);
  EXPECT_EQ(KeaEngine().ServedLeaseSeconds(60), 60U);
  EXPECT_EQ(dnsmasq.ServedLeaseSeconds(4294967294U), 4294967294U);
}

TEST(EngineConfig, KeaServesOneInterfaceAndFailsOnAClosedSocket) {
  const DhcpEngine& kea = KeaEngine();
  const EnginePaths paths = PathsOf(kea, "/srv/run");
  EXPECT_EQ(paths.config, "/srv/run/kea-dhcp4.json");
  ServeSettings settings = Sample(u"4294967294");
  settings.mask = 0xFFFFFF80;
  settings.prefix = 25;
  const auto config = nlohmann::json::parse(kea.Configuration(settings, "vs1", paths));
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
  EXPECT_EQ(dhcp4.at("loggers").at(0).at("output_options").at(0).at("output"),
            "/srv/run/engine.log");
  // Its count of assigned addresses keeps an expired lease until it is reclaimed.
  EXPECT_EQ(dhcp4.at("expired-leases-processing").at("reclaim-timer-wait-time"), 1);
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

// The record a start leaves, as written and read back; anything else reads as no record.
TEST(ServerRecord, OnlyARecordOfItsExactShapeIsRead) {
  const ServedRecord record{EngineKind::kDnsmasq,  "2.90", 4242, "eth1", Sample(u"60"), 120,
                            "2026-12-08T07:39:45Z"};
  const std::string text = ServedText(record);
  const std::optional<ServedRecord> read = ParseServed(text);
  ASSERT_TRUE(read.has_value()) << text;
  EXPECT_EQ(read->engine, EngineKind::kDnsmasq);
  EXPECT_EQ(read->version, "2.90");
  EXPECT_EQ(read->pid, 4242);
  EXPECT_EQ(read->interfaceName, "eth1");
  EXPECT_EQ(read->settings.first, record.settings.first);
  EXPECT_EQ(read->settings.last, record.settings.last);
  EXPECT_EQ(read->settings.mask, record.settings.mask);
  EXPECT_EQ(read->settings.gateway, record.settings.gateway);
  EXPECT_EQ(read->settings.leaseSeconds, 60U);
  EXPECT_EQ(read->servedLeaseSeconds, 120U);
  EXPECT_EQ(read->started, "2026-12-08T07:39:45Z");

  const nlohmann::json sound = nlohmann::json::parse(text);
  const struct {
    const char* what;
    const char* key;  // nullptr: the whole text below
    nlohmann::json value;
  } cases[] = {
      {"an unknown engine", "engine", "dhcpd"},
      {"a version too long", "version", std::string(65, '1')},
      {"pid 1", "pid", 1},
      {"a negative pid", "pid", -4242},
      {"a pid as text", "pid", "4242"},
      {"a pid beyond any", "pid", 4194305},
      {"an interface that is no plain name", "interface", "eth1\nport=53"},
      {"a mask with a gap", "mask", "255.0.255.0"},
      {"a router outside", "router", "203.0.113.1"},
      {"a range outside the subnet", "range", "198.51.100.100-198.51.101.1"},
      {"a reversed range", "range", "198.51.100.200-198.51.100.100"},
      {"DuringTime 0", "during_time", 0},
      {"a lease beyond the longest", "lease_seconds", 4294967295U},
      {"a lease of 0", "lease_seconds", 0},
      {"a fractional lease", "lease_seconds", 1.5},
      {"a time in another form", "started", "2026-12-08 07:39:45"},
      {"a missing field", "started", nullptr},
      {"a field more", "extra", 1},
  };
  for (const auto& c : cases) {
    nlohmann::json changed = sound;
    if (c.value.is_null()) {
      changed.erase(c.key);
    } else {
      changed[c.key] = c.value;
    }
    EXPECT_FALSE(ParseServed(changed.dump()).has_value()) << c.what;
  }
  for (const char* text : {"", "[]", "null", "{", "{\"engine\": \"kea\"}", "\xff\xfe"}) {
    EXPECT_FALSE(ParseServed(text).has_value()) << text;
  }
  // An engine that tells a long version still leaves a record that is read.
  ServedRecord talkative = record;
  talkative.version = std::string(100, 'v');
  ASSERT_TRUE(ParseServed(ServedText(talkative)).has_value());
  EXPECT_EQ(ParseServed(ServedText(talkative))->version, std::string(64, 'v'));
  EXPECT_EQ(UtcText(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(UtcText(1796737623), "2026-12-08T13:47:03Z");
}

TEST(ServerRecord, EachChangedSettingIsNamed) {
  const ServedRecord record{EngineKind::kDnsmasq,  "2.90", 4242, "eth1", Sample(u"600"), 600,
                            "2026-12-08T07:39:45Z"};
  PluginConfig same;
  same.engine = EngineKind::kDnsmasq;
  same.interfaceName = u"eth1";
  const auto with = [&](EngineKind engine, const char16_t* interfaceName) {
    PluginConfig config = same;
    config.engine = engine;
    config.interfaceName = interfaceName;
    return config;
  };
  ServeSettings narrower = Sample(u"600");
  narrower.last -= 50;
  const ServeSettings longer = Sample(u"7200");
  ServeSettings masked = *ToServeSettings(
      {u"255.255.255.128", u"198.51.100.1", u"600", u"198.51.100.100-198.51.100.120"});
  const struct {
    const char* what;
    std::optional<ServeSettings> wanted;
    PluginConfig config;
    const DhcpEngine* chosen;
    std::vector<std::u16string> differences;
  } cases[] = {
      {"nothing", Sample(u"600"), same, &DnsmasqEngine(), {}},
      {"the range",
       narrower,
       same,
       &DnsmasqEngine(),
       {u"RangeIp is 198.51.100.100-198.51.100.150, the server was started with "
        u"198.51.100.100-198.51.100.200"}},
      {"the lease",
       longer,
       same,
       &DnsmasqEngine(),
       {u"DuringTime is 7200, the server was started with 600"}},
      {"mask and range",
       masked,
       same,
       &DnsmasqEngine(),
       {u"SubNetMask is 255.255.255.128, the server was started with 255.255.255.0",
        u"RangeIp is 198.51.100.100-198.51.100.120, the server was started with "
        u"198.51.100.100-198.51.100.200"}},
      {"settings that fail the checks",
       std::nullopt,
       same,
       &DnsmasqEngine(),
       {u"the launcher's settings fail the checks (why)"}},
      {"another engine",
       Sample(u"600"),
       with(EngineKind::kKea, u"eth1"),
       &KeaEngine(),
       {u"Engine is Kea, the server is dnsmasq"}},
      {"auto choosing another",
       Sample(u"600"),
       with(EngineKind::kAuto, u"eth1"),
       &KeaEngine(),
       {u"Engine auto chooses Kea, the server is dnsmasq"}},
      {"auto choosing the same",
       Sample(u"600"),
       with(EngineKind::kAuto, u"eth1"),
       &DnsmasqEngine(),
       {}},
      {"auto finding none",
       Sample(u"600"),
       with(EngineKind::kAuto, u"eth1"),
       nullptr,
       {u"Engine is auto and finds no engine installed; the server is dnsmasq"}},
      {"check",
       Sample(u"600"),
       with(EngineKind::kCheck, u"eth1"),
       nullptr,
       {u"Engine is check, which leaves the dnsmasq server running as it is"}},
      {"off",
       Sample(u"600"),
       with(EngineKind::kOff, u""),
       nullptr,
       {u"Engine is off, which stops the dnsmasq server",
        u"Interface is not set, the server serves eth1"}},
      {"the interface",
       Sample(u"600"),
       with(EngineKind::kDnsmasq, u"eth2@x"),
       &DnsmasqEngine(),
       {u"Interface is \"eth2?x\", the server serves eth1"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DifferencesFrom(record, c.wanted, u"why", c.config, c.chosen), c.differences)
        << c.what;
  }
}

// A folder looked at without being made: where it would be, checked as the start checks it.
TEST(StateFolderUse, AMissingFolderIsCheckedWithoutBeingMade) {
  const test_support::TempFolder root("dhcp-state-");
  const std::string base = std::filesystem::canonical(root.path()).string();
  std::filesystem::create_directory(root.path() / "open");
  std::filesystem::permissions(root.path() / "open", std::filesystem::perms::all);
  mkdir((base + "/made").c_str(), 0700);
  std::filesystem::create_directory_symlink(base + "/made", root.path() / "link");
  const struct {
    const char* what;
    std::string setting;
    FolderUse use;
    int code;
    std::string path;  // where it is, or would be
    bool open;
  } cases[] = {
      {"missing", base + "/run", FolderUse::kInspect, 0, base + "/run", false},
      {"missing, written with a trailing slash", base + "/run/", FolderUse::kInspect, 0,
       base + "/run", false},
      {"missing, through a link above", base + "/link/run", FolderUse::kInspect, 0,
       base + "/made/run", false},
      {"missing parent", base + "/none/run", FolderUse::kInspect, kStateFolderUnsafe, "", false},
      {"missing, below a folder others may write", base + "/open/run", FolderUse::kInspect,
       kStateFolderUnsafe, base + "/open/run", false},
      {"there", base + "/made", FolderUse::kInspect, 0, base + "/made", true},
      {"a link", base + "/link", FolderUse::kInspect, kStateFolderUnsafe, "", false},
      {"a file", root.Write("file", "x").string(), FolderUse::kInspect, kStateFolderUnsafe, "",
       false},
      {"made when asked", base + "/new", FolderUse::kCreate, 0, base + "/new", true},
  };
  for (const auto& c : cases) {
    StateFolder folder;
    const EngineResult result =
        OpenStateFolder(std::filesystem::path(c.setting), u"", folder, c.use);
    EXPECT_EQ(result.code, c.code)
        << c.what << ": " << std::string(result.message.begin(), result.message.end());
    if (c.code == 0) {
      EXPECT_EQ(folder.path, c.path) << c.what;
      EXPECT_EQ(static_cast<bool>(folder.fd), c.open) << c.what;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(root.path() / "run"));
  EXPECT_FALSE(std::filesystem::exists(root.path() / "made" / "run"));
  EXPECT_FALSE(std::filesystem::exists(root.path() / "open" / "run"));
  EXPECT_TRUE(std::filesystem::is_directory(root.path() / "new"));
}

// dnsmasq's leases are read from its lease file, counted by their expiry.
TEST(EngineStatusOf, DnsmasqCountsTheLeasesThatHaveNotExpired) {
  const std::int64_t now = 1800000000;
  const std::string later = std::to_string(now + 60);
  const std::string earlier = std::to_string(now - 60);
  std::string many;
  for (int i = 0; i < 3000; ++i) {  // far beyond one read
    many += later + " 02:00:00:00:0b:b8 198.51.100." + std::to_string(100 + i % 100) +
            " host-with-a-long-name-" + std::to_string(i) + " 01:02:00:00:00:0b:b8\n";
  }
  const std::optional<Ipv4Range> all;
  const Ipv4Range range{0xC6336464, 0xC633646E};  // 198.51.100.100-110
  const struct {
    const char* what;
    std::optional<std::string> file;  // none: no lease file
    std::optional<Ipv4Range> range;
    std::optional<std::uint64_t> active;
  } cases[] = {
      {"no file", std::nullopt, all, 0},
      {"empty", "", all, 0},
      {"one later, one earlier, one for ever",
       later + " 02:00:00:00:00:01 198.51.100.101 a *\n" + earlier +
           " 02:00:00:00:00:02 198.51.100.102 b *\n0 02:00:00:00:00:03 198.51.100.103 * *\n",
       all, 2},
      {"expiring now", std::to_string(now) + " 02:00:00:00:00:01 198.51.100.101 * *\n", all, 0},
      {"no line end", later + " 02:00:00:00:00:01 198.51.100.101 * *", all, 1},
      {"outside the range",
       later + " 02:00:00:00:00:01 198.51.100.111 * *\n" + later +
           " 02:00:00:00:00:02 198.51.100.110 * *\n",
       range, 1},
      {"not leases",
       "duid 00:01:00:01\n\n" + later + "\n" + later + " 02:00:00:00:00:01\n" + later +
           " 02:00:00:00:00:01 198.51.100\n-1 02:00:00:00:00:01 198.51.100.101 * *\n" +
           std::string(30, '9') + " 02:00:00:00:00:01 198.51.100.101 * *\n" + later +
           "x 02:00:00:00:00:01 198.51.100.101 * *\n" + later +
           "  02:00:00:00:00:01 198.51.100.101 * *\n",
       all, 0},
      {"a line longer than any lease",
       later + " 02:00:00:00:00:01 198.51.100.101 " + std::string(5000, 'h') + "\n" + later +
           " 02:00:00:00:00:02 198.51.100.102 * *\n",
       all, 2},
      {"many", many, all, 3000},
      {"many, in a range", many, range, 330},
  };
  for (const auto& c : cases) {
    const test_support::TempFolder root("dhcp-leases-");
    if (c.file) {
      root.Write("dnsmasq.leases", *c.file);
    }
    const StateFolder folder{safe_file::OpenFolderNoFollow(root.path(), false),
                             root.path().string()};
    const EnginePaths paths = PathsOf(DnsmasqEngine(), folder.path);
    EXPECT_EQ(DnsmasqEngine().Status({folder, paths, now, c.range}).leasesActive, c.active)
        << c.what;
  }
  // A lease file that is a link or a FIFO is not read.
  const test_support::TempFolder root("dhcp-leases-");
  const StateFolder folder{safe_file::OpenFolderNoFollow(root.path(), false), root.path().string()};
  const EnginePaths paths = PathsOf(DnsmasqEngine(), folder.path);
  root.Write("elsewhere", later + " 02:00:00:00:00:01 198.51.100.101 * *\n");
  std::filesystem::create_symlink(root.path() / "elsewhere", root.path() / "dnsmasq.leases");
  EXPECT_FALSE(DnsmasqEngine().Status({folder, paths, now, {}}).leasesActive.has_value());
  std::filesystem::remove(root.path() / "dnsmasq.leases");
  ASSERT_EQ(mkfifo((root.path() / "dnsmasq.leases").c_str(), 0600), 0);
  EXPECT_FALSE(DnsmasqEngine().Status({folder, paths, now, {}}).leasesActive.has_value());
}

// A stand-in for Kea's control socket: each connection gets the answer for the command it sends.
class KeaSocket {
 public:
  KeaSocket(const std::string& path, std::map<std::string, std::string> answers)
      : fd_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)), answers_(std::move(answers)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    EXPECT_EQ(bind(fd_.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(listen(fd_.Get(), 4), 0);
    thread_ = std::thread([this] { Serve(); });
  }
  KeaSocket(const KeaSocket&) = delete;
  KeaSocket& operator=(const KeaSocket&) = delete;
  ~KeaSocket() {
    shutdown(fd_.Get(), SHUT_RDWR);
    thread_.join();
  }

 private:
  void Serve() {
    for (;;) {
      const safe_file::Descriptor client(accept(fd_.Get(), nullptr, nullptr));
      if (!static_cast<bool>(client)) {
        return;
      }
      std::string request(4096, '\0');
      const ssize_t got = read(client.Get(), request.data(), request.size());
      request.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
      for (const auto& [command, answer] : answers_) {
        if (request.find('"' + command + '"') != std::string::npos) {
          safe_file::WriteAll(client.Get(), answer);
        }
      }
    }
  }

  safe_file::Descriptor fd_;
  std::map<std::string, std::string> answers_;
  std::thread thread_;
};

TEST(EngineStatusOf, KeaIsAskedOnItsControlSocket) {
  const std::string ready =
      R"({"arguments": {"pid": 42, "sockets": {"status": "ready"}}, "result": 0})";
  const std::string statistics =
      R"({"arguments": {"subnet[1].assigned-addresses": [[3, "t2"], [2, "t1"]],
          "subnet[1].total-addresses": [[51, "t0"]], "subnet[2].assigned-addresses": [[9, "t"]]},
          "result": 0})";
  const struct {
    const char* what;
    std::map<std::string, std::string> answers;
    std::optional<std::uint64_t> active;
    std::optional<std::uint64_t> pool;
    std::u16string note;
  } cases[] = {
      {"ready", {{"status-get", ready}, {"statistic-get-all", statistics}}, 3, 51, u""},
      {"its sockets failed",
       {{"status-get", R"({"arguments": {"sockets": {"status": "failed"}}, "result": 0})"},
        {"statistic-get-all", statistics}},
       3,
       51,
       u"Kea reports its sockets as \"failed\"."},
      {"no answer", {}, std::nullopt, std::nullopt, u"Kea does not answer on its control socket."},
      {"no statistics",
       {{"status-get", ready}, {"statistic-get-all", R"({"result": 1, "text": "no"})"}},
       std::nullopt,
       std::nullopt,
       u""},
      {"statistics of another shape",
       {{"status-get", ready},
        {"statistic-get-all",
         R"({"arguments": {"subnet[1].assigned-addresses": [["3", "t"]],
             "subnet[1].total-addresses": [[-51, "t"]]}, "result": 0})"}},
       std::nullopt,
       std::nullopt,
       u""},
      {"not JSON",
       {{"status-get", "{\"arg"}, {"statistic-get-all", "[[[["}},
       std::nullopt,
       std::nullopt,
       u"Kea does not answer on its control socket."},
  };
  for (const auto& c : cases) {
    const test_support::TempFolder root("dhcp-kea-");
    const StateFolder folder{safe_file::OpenFolderNoFollow(root.path(), false),
                             root.path().string()};
    const EnginePaths paths = PathsOf(KeaEngine(), folder.path);
    const KeaSocket kea(folder.path + "/kea4.sock", c.answers);
    const EngineStatus status = KeaEngine().Status({folder, paths, 0, {}});
    EXPECT_EQ(status.leasesActive, c.active) << c.what;
    EXPECT_EQ(status.poolSize, c.pool) << c.what;
    EXPECT_EQ(status.note, c.note) << c.what;
  }
}

}  // namespace
