// Tests of the engine layer's own logic: names, identity checks, configuration text, reasons.
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engines.h"
#include "interfaces.h"
#include "our_server.h"
#include "platform/safe_folder.h"
#include "process.h"
#include "safe_file.h"
#include "state_folder.h"
#include "temp_folder.h"

using namespace dhcp_plugin;

namespace {

ProcessFacts Facts(std::string exe, std::vector<std::string> arguments, char state) {
  ProcessFacts facts;
  facts.exe = std::move(exe);
  facts.arguments = std::move(arguments);
  facts.state = state;
  return facts;
}

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
    EXPECT_EQ(platform::IsSafeFolder(c.owner, c.mode, c.user), c.safe)
        << c.owner << " " << std::oct << c.mode << " " << std::dec << c.user;
  }
}

// The state folder holds the leases, the log and Kea's control socket: only its owner may enter.
TEST(EngineNames, AStateFolderOthersMayEnterIsRefusedWithItsFix) {
  const test_support::TempFolder temp("dhcp-state-mode-");
  const std::string path = temp.path().string() + "/run";
  const struct {
    mode_t mode;
    bool accepted;
  } cases[] = {
      {0700, true},  {0500, true},  {0710, false}, {0701, false},  {0750, false},
      {0705, false}, {0740, false}, {0704, false}, {0720, false},  {0702, false},
      {0755, false}, {0777, false}, {01700, true}, {01701, false},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
    StateFolder folder;
    const EngineResult result = OpenStateFolder(std::filesystem::path(path), u"..\\run", folder);
    EXPECT_EQ(result.code, c.accepted ? 0 : kStateFolderUnsafe) << std::oct << c.mode;
    if (!c.accepted) {
      const std::u16string fix = u"chmod 700 " + WidenText(path);
      EXPECT_EQ(result.message.substr(result.message.size() - fix.size()), fix);
    }
    ASSERT_EQ(rmdir(path.c_str()), 0);
  }
  // A missing folder is made owner-only.
  StateFolder folder;
  EXPECT_EQ(OpenStateFolder(std::filesystem::path(path), u"..\\run", folder).code, 0);
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700U);
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
      {"our dnsmasq", Facts("/usr/sbin/dnsmasq", {"dnsmasq", "--conf-file=" + dnsConfig}, 'S'),
       dnsConfig, true},
      {"our kea", Facts("/usr/sbin/kea-dhcp4", {"kea-dhcp4", "-c", keaConfig}, 'R'), keaConfig,
       true},
      {"zombie", Facts("/usr/sbin/dnsmasq", {"dnsmasq", "--conf-file=" + dnsConfig}, 'Z'),
       dnsConfig, false},
      {"dead", Facts("/usr/sbin/dnsmasq", {"dnsmasq", "--conf-file=" + dnsConfig}, 'X'), dnsConfig,
       false},
      {"gone", Facts("", {}, '?'), dnsConfig, false},
      {"another program", Facts("/usr/bin/sleep", {"sleep", dnsConfig}, 'S'), dnsConfig, false},
      {"dnsmasq of another config",
       Facts("/usr/sbin/dnsmasq", {"dnsmasq", "--conf-file=/etc/x"}, 'S'), dnsConfig, false},
      {"config only as a prefix",
       Facts("/usr/sbin/dnsmasq", {"dnsmasq", "--conf-file=" + dnsConfig + ".old"}, 'S'), dnsConfig,
       false},
      {"config only as program name", Facts("/usr/sbin/dnsmasq", {dnsConfig}, 'S'), dnsConfig,
       false},
      {"our dnsmasq, its program replaced by an upgrade",
       Facts("/usr/sbin/dnsmasq (deleted)", {"dnsmasq", "--conf-file=" + dnsConfig}, 'S'),
       dnsConfig, true},
      {"our kea, its program replaced by an upgrade",
       Facts("/usr/sbin/kea-dhcp4 (deleted)", {"kea-dhcp4", "-c", keaConfig}, 'S'), keaConfig,
       true},
      {"replaced dnsmasq of another config",
       Facts("/usr/sbin/dnsmasq (deleted)", {"dnsmasq", "--conf-file=/etc/x"}, 'S'), dnsConfig,
       false},
      {"replaced program of another name",
       Facts("/usr/sbin/dnsmasq.new (deleted)", {"dnsmasq", dnsConfig}, 'S'), dnsConfig, false},
      {"only the marker", Facts(" (deleted)", {"dnsmasq", dnsConfig}, 'S'), dnsConfig, false},
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

// /proc/PID/stat after the name: state ppid pgrp session tty tpgid flags minflt cminflt majflt
// cmajflt utime(14) stime(15) cutime cstime priority nice threads itrealvalue starttime(22) ...
TEST(EngineIdentity, StatGivesStateCpuTimeAndStartTime) {
  const std::string tail = " 0 0 0 0 -1 4194560 1 0 0 0 7 5 0 0 20 0 1 0 123456 9 9\n";
  const struct {
    const char* what;
    std::string stat;
    std::optional<ProcessStat> parsed;
  } cases[] = {
      {"plain", "42 (dnsmasq) S" + tail, ProcessStat{'S', 12, 123456}},
      {"a name with \") \" and blanks", "42 (a) Z (b c)) R" + tail, ProcessStat{'R', 12, 123456}},
      {"a name with a line break", "42 (a\n) S" + tail, ProcessStat{'S', 12, 123456}},
      {"largest start", "42 (x) S 0 0 0 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 18446744073709551615",
       ProcessStat{'S', 0, 18446744073709551615ULL}},
      {"start beyond 64 bits",
       "42 (x) S 0 0 0 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 18446744073709551616", std::nullopt},
      {"cut before the start time", "42 (x) S 0 0 0 0 -1 0 0 0 0 0 7 5 0 0 20 0 1 0", std::nullopt},
      {"a start time that is not a number", "42 (x) S 0 0 0 0 -1 0 0 0 0 0 7 5 0 0 20 0 1 0 12a",
       std::nullopt},
      {"a negative cpu time", "42 (x) S 0 0 0 0 -1 0 0 0 0 0 -7 5 0 0 20 0 1 0 1", std::nullopt},
      {"two blanks", "42 (x) S  0 0 0 -1 0 0 0 0 0 7 5 0 0 20 0 1 0 123456", std::nullopt},
      {"a state of two letters", "42 (x) SS 0 0 0 -1 0 0 0 0 0 7 5 0 0 20 0 1 0 1", std::nullopt},
      {"no name", "42 S" + tail, std::nullopt},
      {"nothing", "", std::nullopt},
  };
  for (const auto& c : cases) {
    const std::optional<ProcessStat> parsed = ParseStat(c.stat);
    ASSERT_EQ(parsed.has_value(), c.parsed.has_value()) << c.what;
    if (parsed) {
      EXPECT_EQ(parsed->state, c.parsed->state) << c.what;
      EXPECT_EQ(parsed->cpuTicks, c.parsed->cpuTicks) << c.what;
      EXPECT_EQ(parsed->startTicks, c.parsed->startTicks) << c.what;
    }
  }
  // This process, as the record would take it.
  const ProcessFacts self = FactsOf(getpid());
  EXPECT_EQ(self.state, 'R');
  EXPECT_GT(self.startTicks, 0U);
  struct stat exe {};
  ASSERT_EQ(stat("/proc/self/exe", &exe), 0);
  ASSERT_TRUE(self.executable.has_value());
  EXPECT_EQ(*self.executable, (FileIdentity{exe.st_dev, exe.st_ino}));
}

TEST(EngineIdentity, TheRecordIsReadStrictly) {
  const ServerRecord kea{EngineKind::kKea, 4242, 987654321, {2049, 131234}};
  EXPECT_EQ(FormatServerRecord(kea), "engine=kea\npid=4242\nstart=987654321\nexe=2049:131234\n");
  const struct {
    const char* what;
    std::string text;
    bool valid;
  } cases[] = {
      {"as written", FormatServerRecord(kea), true},
      {"dnsmasq, largest numbers",
       "engine=dnsmasq\npid=2147483647\nstart=18446744073709551615\nexe=0:18446744073709551615\n",
       true},
      {"no last line break", "engine=kea\npid=4242\nstart=1\nexe=1:2", false},
      {"a line more", FormatServerRecord(kea) + "pid=4243\n", false},
      {"anything after", FormatServerRecord(kea) + "x", false},
      {"lines in another order", "pid=4242\nengine=kea\nstart=1\nexe=1:2\n", false},
      {"a line missing", "engine=kea\npid=4242\nexe=1:2\n", false},
      {"an unknown engine", "engine=auto\npid=4242\nstart=1\nexe=1:2\n", false},
      {"an engine in capitals", "engine=Kea\npid=4242\nstart=1\nexe=1:2\n", false},
      {"pid 1", "engine=kea\npid=1\nstart=1\nexe=1:2\n", false},
      {"pid 0", "engine=kea\npid=0\nstart=1\nexe=1:2\n", false},
      {"pid beyond pid_t", "engine=kea\npid=2147483648\nstart=1\nexe=1:2\n", false},
      {"a negative pid", "engine=kea\npid=-5\nstart=1\nexe=1:2\n", false},
      {"a leading zero", "engine=kea\npid=04242\nstart=1\nexe=1:2\n", false},
      {"a sign", "engine=kea\npid=+4242\nstart=1\nexe=1:2\n", false},
      {"a blank", "engine=kea\npid= 4242\nstart=1\nexe=1:2\n", false},
      {"a carriage return", "engine=kea\r\npid=4242\nstart=1\nexe=1:2\n", false},
      {"start beyond 64 bits", "engine=kea\npid=4242\nstart=18446744073709551616\nexe=1:2\n",
       false},
      {"an empty start", "engine=kea\npid=4242\nstart=\nexe=1:2\n", false},
      {"exe without an inode", "engine=kea\npid=4242\nstart=1\nexe=1\n", false},
      {"exe with two colons", "engine=kea\npid=4242\nstart=1\nexe=1:2:3\n", false},
      {"a NUL", std::string("engine=kea\npid=42\0\nstart=1\nexe=1:2\n", 35), false},
      {"the bare pid of earlier runs", "4242\n", false},
      {"empty", "", false},
  };
  for (const auto& c : cases) {
    const std::optional<ServerRecord> record = ParseServerRecord(c.text);
    EXPECT_EQ(record.has_value(), c.valid) << c.what;
    if (record) {
      EXPECT_EQ(FormatServerRecord(*record), c.text) << c.what;
    }
  }
}

TEST(EngineIdentity, TheRecordNamesOneProcessWhereverItsFilesAre) {
  const ServerRecord record{EngineKind::kDnsmasq, 4242, 5000, {2049, 77}};
  const auto facts = [](char state, std::uint64_t start, std::optional<FileIdentity> exe,
                        std::string path) {
    ProcessFacts made = Facts(std::move(path), {"dnsmasq"}, state);
    made.startTicks = start;
    made.executable = exe;
    return made;
  };
  const struct {
    const char* what = "";
    ProcessFacts facts;
    bool matches = false;
  } cases[] = {
      {"the recorded server", facts('S', 5000, FileIdentity{2049, 77}, "/usr/sbin/dnsmasq"), true},
      {"its program moved, renamed or upgraded since",
       facts('S', 5000, FileIdentity{2049, 77}, "/opt/x/engine (deleted)"), true},
      {"a zombie", facts('Z', 5000, FileIdentity{2049, 77}, "/usr/sbin/dnsmasq"), false},
      {"gone", facts('?', 0, std::nullopt, ""), false},
      {"its pid reused by a later process", facts('S', 5001, FileIdentity{2049, 77}, "/bin/sh"),
       false},
      {"the same start, another program", facts('S', 5000, FileIdentity{2049, 78}, "/bin/sh"),
       false},
      {"the same inode on another device", facts('S', 5000, FileIdentity{2050, 77}, "/bin/sh"),
       false},
      {"its program unreadable", facts('S', 5000, std::nullopt, ""), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RecordMatches(record, c.facts), c.matches) << c.what;
  }
}

TEST(EnginePort, ProcNetUdpLinesAreReadStrictly) {
  const std::string header =
      "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
      "timeout inode ref pointer drops";
  const std::string rest =
      " 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 ";
  const struct {
    const char* what;
    std::string line;
    std::optional<UdpSocket> socket;
  } cases[] = {
      {"the wildcard, port 67", " 8922: 00000000:0043" + rest + "138179 2 0000000086 0",
       UdpSocket{0, 67, std::nullopt, 138179}},
      {"an address", "   12: 016433C6:0043" + rest + "7 2 0000000086 0",
       UdpSocket{0xC6336401, 67, std::nullopt, 7}},
      {"loopback, port 68", "    0: 0100007F:0044" + rest + "1 2 0 0",
       UdpSocket{0x7F000001, 68, std::nullopt, 1}},
      {"the header", header, std::nullopt},
      {"lower-case hex", " 8922: 016433c6:0043" + rest + "1 2 0 0", std::nullopt},
      {"a short address", " 8922: 6433C6:0043" + rest + "1 2 0 0", std::nullopt},
      {"no port", " 8922: 016433C6" + rest + "1 2 0 0", std::nullopt},
      {"an inode that is not a number", " 8922: 00000000:0043" + rest + "x1 2 0 0", std::nullopt},
      {"cut before the inode", " 8922: 00000000:0043 00000000:0000 07", std::nullopt},
      {"an empty line", "", std::nullopt},
  };
  for (const auto& c : cases) {
    const std::optional<UdpSocket> socket = ParseProcNetUdpLine(c.line);
    ASSERT_EQ(socket.has_value(), c.socket.has_value()) << c.what;
    if (socket) {
      EXPECT_EQ(socket->address, c.socket->address) << c.what;
      EXPECT_EQ(socket->port, c.socket->port) << c.what;
      EXPECT_FALSE(socket->device.has_value()) << c.what;
      EXPECT_EQ(socket->inode, c.socket->inode) << c.what;
    }
  }
  const struct {
    const char* link = "";
    std::optional<std::uint64_t> inode;
  } links[] = {
      {"socket:[138179]", 138179},       {"socket:[]", std::nullopt},
      {"socket:[12", std::nullopt},      {"pipe:[138179]", std::nullopt},
      {"/tmp/socket:[1]", std::nullopt}, {"socket:[1a]", std::nullopt},
  };
  for (const auto& c : links) {
    EXPECT_EQ(SocketInodeOf(c.link), c.inode) << c.link;
  }
}

TEST(EnginePort, OnlySocketsThatReceiveTheInterfacesRequestsHoldIt) {
  const std::vector<std::uint32_t> addresses{0xC6336401, 0xCB007101};  // 198.51.100.1, 203.0.113.1
  constexpr unsigned kOurs = 7;
  const struct {
    const char* what = "";
    UdpSocket socket;
    bool holds = false;
  } cases[] = {
      {"wildcard, bound to no interface", {0, 67, 0U, 1}, true},
      {"wildcard, bound to ours (dnsmasq)", {0, 67, kOurs, 1}, true},
      {"wildcard, binding unknown", {0, 67, std::nullopt, 1}, true},
      {"wildcard, bound to another interface", {0, 67, 8U, 1}, false},
      {"our address (Kea)", {0xC6336401, 67, 0U, 1}, true},
      {"our second address", {0xCB007101, 67, 0U, 1}, true},
      {"another interface's address", {0x0A000001, 67, 0U, 1}, false},
      {"our address, bound to another interface", {0xC6336401, 67, 8U, 1}, false},
      {"the client port", {0, 68, 0U, 1}, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HoldsPortOn(c.socket, 67, kOurs, addresses), c.holds) << c.what;
  }
}

// The system's own listing, as the port check reads it: a socket of this process bound to an
// interface is found with that binding, and this process as its holder.
TEST(EnginePort, ASocketIsFoundWithItsBindingAndItsHolder) {
  const safe_file::Descriptor socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  ASSERT_TRUE(static_cast<bool>(socket));
  const char device[] = "lo";
  if (setsockopt(socket.Get(), SOL_SOCKET, SO_BINDTODEVICE, device, sizeof device) != 0) {
    GTEST_SKIP() << "cannot bind a socket to an interface here";
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  ASSERT_EQ(bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  ASSERT_EQ(getsockname(socket.Get(), reinterpret_cast<sockaddr*>(&address), &length), 0);
  struct stat info {};
  ASSERT_EQ(fstat(socket.Get(), &info), 0);
  const std::vector<UdpSocket> sockets = UdpSockets();
  const auto found = std::find_if(sockets.begin(), sockets.end(),
                                  [&](const UdpSocket& s) { return s.inode == info.st_ino; });
  ASSERT_NE(found, sockets.end());
  EXPECT_EQ(found->port, ntohs(address.sin_port));
  EXPECT_EQ(found->address, 0U);
  EXPECT_EQ(found->device.value_or(if_nametoindex("lo")), if_nametoindex("lo"));
  EXPECT_TRUE(HoldsPortOn(*found, found->port, if_nametoindex("lo"), {}));
  EXPECT_EQ(ProcessesHolding(info.st_ino), std::vector<pid_t>{getpid()});
  EXPECT_TRUE(ProcessesHolding(0).empty());
}

TEST(EngineStart, TheWaitGrowsWithTheLeaseFile) {
  using std::chrono::seconds;
  const std::uint64_t mib = std::uint64_t{1} << 20;
  const struct {
    std::uint64_t bytes;
    milliseconds limit;
  } cases[] = {
      {0, seconds{10}},
      {2 * mib - 1, seconds{10}},
      {2 * mib, seconds{11}},
      {24 * mib, seconds{22}},
      {220 * mib - 1, seconds{119}},
      {220 * mib, seconds{120}},
      {100000 * mib, seconds{120}},
      {~std::uint64_t{0}, seconds{120}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StartLimit(c.bytes), c.limit) << c.bytes;
  }
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

// Whatever umask the launcher has, nothing an engine creates is open to group or others.
TEST(EngineProcesses, EnginesRunWithAStrictUmask) {
  for (const mode_t launcher : {mode_t{0}, mode_t{022}, mode_t{077}}) {
    const mode_t before = umask(launcher);
    std::string output;
    EXPECT_EQ(RunCapturing({"/bin/sh", "-c", "umask"}, std::chrono::milliseconds{5000}, output), 0);
    umask(before);
    EXPECT_EQ(output, "0077\n") << std::oct << launcher;
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
