// Tests of the engine layer's own logic: names, identity checks, configuration text, reasons.
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
#include "our_server.h"
#include "platform/safe_folder.h"
#include "process.h"
#include "safe_file.h"
#include "server.h"
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
       "2026-12-08 08:00:00.1 WARN [kea-dhcp4.dhcp4/42.7] DHCP4_MULTI_THREADING_INFO x\n"
       "2026-12-08 08:00:00.1 WARN [kea-dhcp4.dhcp4/42.7] DHCP4_RESERVATIONS_LOOKUP_FIRST_ENABLED "
       "Multi-threading is enabled and host reservations lookup is always performed first.\n" +
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

// One interface, a socket it cannot open a failure; a lease asked for again within a quarter of
// its lifetime handed out as it is instead of written again; one thread for a single server.
TEST(EngineConfig, KeaServesOneInterfaceOnOneThread) {
  const DhcpEngine& kea = KeaEngine();
  const EnginePaths paths = PathsOf(kea, "/srv/run");
  EXPECT_EQ(paths.config, "/srv/run/kea-dhcp4.json");
  ServeSettings settings = Sample(u"4294967294");
  settings.mask = 0xFFFFFF80;
  settings.prefix = 25;
  const auto dhcp4 =
      nlohmann::json::parse(kea.Configuration(settings, "vs1", paths, false)).at("Dhcp4");
  const struct {
    const char* pointer;
    const char* value;  // JSON
  } expected[] = {
      {"/interfaces-config", R"({"interfaces": ["vs1"], "service-sockets-require-all": true})"},
      {"/control-socket/socket-name", R"("/srv/run/kea4.sock")"},
      {"/lease-database/name", R"("/srv/run/kea-leases4.csv")"},
      {"/lease-database/persist", "true"},
      {"/valid-lifetime", "4294967294"},
      {"/authoritative", "true"},
      {"/subnet4/0/subnet", R"("198.51.100.0/25")"},
      {"/subnet4/0/pools", R"([{"pool": "198.51.100.100 - 198.51.100.200"}])"},
      {"/subnet4/0/option-data", R"([{"name": "routers", "data": "198.51.100.1"}])"},
      // Its count of assigned addresses keeps an expired lease until it is reclaimed.
      {"/expired-leases-processing/reclaim-timer-wait-time", "1"},
      {"/cache-threshold", "0.25"},
      {"/multi-threading", R"({"enable-multi-threading": false})"},
  };
  for (const auto& e : expected) {
    EXPECT_EQ(dhcp4.at(nlohmann::json::json_pointer(e.pointer)), nlohmann::json::parse(e.value))
        << e.pointer;
  }
  EXPECT_EQ(dhcp4.at("subnet4").size(), 1U);
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

// Engine=auto takes Kea when both engines are installed, else the one that is.
TEST(EngineChoice, AutoTakesKeaFirst) {
  const struct {
    bool dnsmasq;
    bool kea;
    const DhcpEngine* chosen;
  } cases[] = {
      {true, true, &KeaEngine()},
      {true, false, &DnsmasqEngine()},
      {false, true, &KeaEngine()},
      {false, false, nullptr},
  };
  for (const auto& c : cases) {
    PluginConfig config;
    config.engine = EngineKind::kAuto;
    config.programs[EngineKind::kDnsmasq] = c.dnsmasq ? "/bin/sh" : "/nonexistent/dnsmasq";
    config.programs[EngineKind::kKea] = c.kea ? "/bin/sh" : "/nonexistent/kea-dhcp4";
    EngineResult result;
    EXPECT_EQ(ChooseEngine(config, result), c.chosen) << c.dnsmasq << c.kea;
    EXPECT_EQ(result.code, c.chosen != nullptr ? 0 : int{kNoEngine}) << c.dnsmasq << c.kea;
  }
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
      // A last line without its end was cut short: no lease is read from it.
      {"no line end", later + " 02:00:00:00:00:01 198.51.100.101 * *", all, 0},
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
       all, 1},  // the last, with two blanks, is a lease as dnsmasq reads it
      {"a line longer than any lease",
       later + " 02:00:00:00:00:01 198.51.100.101 " + std::string(5000, 'h') + "\n" + later +
           " 02:00:00:00:00:02 198.51.100.102 * *\n",
       all, 1},
      // One lease an address: its last record counts.
      {"many", many, all, 100},
      {"many, in a range", many, range, 11},
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
    EXPECT_FALSE(status.pairState || status.partnerState) << c.what;
  }
  // One of a pair tells its own state (ha-heartbeat) and its partner's (status-get).
  const test_support::TempFolder root("dhcp-kea-");
  const StateFolder folder{safe_file::OpenFolderNoFollow(root.path(), false), root.path().string()};
  const KeaSocket kea(
      folder.path + "/kea4.sock",
      {{"status-get",
        R"({"arguments": {"high-availability": [{"ha-servers": {"remote": {"last-state":
            "waiting"}}}], "sockets": {"status": "ready"}}, "result": 0})"},
       {"ha-heartbeat", R"({"arguments": {"state": "syncing"}, "result": 0})"},
       {"statistic-get-all", statistics}});
  const EngineStatus status =
      KeaEngine().Status({folder, PathsOf(KeaEngine(), folder.path), 0, {}});
  EXPECT_EQ(status.pairState, "syncing");
  EXPECT_EQ(status.partnerState, "waiting");
  EXPECT_EQ(status.leasesActive, 3U);
}

}  // namespace
