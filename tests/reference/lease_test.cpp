// Tests of the engines' lease files: reading and writing each format, and carrying leases from the
// engine that served last into the lease file of the engine starting.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engines.h"
#include "lease_carry.h"
#include "leases.h"
#include "safe_file.h"
#include "state_folder.h"
#include "temp_folder.h"

using namespace dhcp_plugin;
using namespace std::string_literals;

namespace {

constexpr std::int64_t kNow = 1796737400;
constexpr char kKeaHeader[] =
    "address,hwaddr,client_id,valid_lifetime,expire,subnet_id,fqdn_fwd,fqdn_rev,hostname,state,"
    "user_context\n";

const DhcpEngine& Dnsmasq() {
  return DnsmasqEngine();
}
const DhcpEngine& Kea() {
  return KeaEngine();
}

// A lease of client n (a MAC and client id of its own) on 198.51.100.n.
Lease LeaseOf(int n, std::int64_t expiry, std::string name = "", std::string clientId = "") {
  char mac[32];
  std::snprintf(mac, sizeof mac, "02:dc:00:00:00:%02x", n);
  if (clientId.empty()) {
    clientId = std::string("01:") + mac;
  }
  return {0xC6336400U + static_cast<Ipv4>(n), mac, clientId, expiry, std::move(name)};
}

std::string Show(const std::vector<Lease>& leases) {
  std::ostringstream out;
  for (const Lease& l : leases) {
    out << (l.address & 0xFFU) << " " << l.hardware << " [" << l.clientId << "] " << l.expiry
        << " [" << l.hostName << "]\n";
  }
  return out.str();
}

void ExpectSame(const std::vector<Lease>& got, const std::vector<Lease>& want, const char* what) {
  EXPECT_EQ(Show(got), Show(want)) << what;
}

TEST(LeaseFormats, SharedFieldsAreReadStrictly) {
  for (const std::string& name : {std::string("a"), std::string("host-1"), std::string("a.b.c"),
                                  std::string("A0-z9"), std::string(63, 'x')}) {
    EXPECT_TRUE(IsPlainHostName(name)) << name;
  }
  for (const char* name :
       {"", "a,b", "a b", "a\nb", "a\tb", "a*", "a_b", "caf\xc3\xa9", "a&#x2cb", "a\"b", "a;b"}) {
    EXPECT_FALSE(IsPlainHostName(name)) << name;
  }
  EXPECT_FALSE(IsPlainHostName(std::string(64, 'x')));
  EXPECT_EQ(ParseHexBytes("02:DC:0a", 16), "02:dc:0a");
  EXPECT_EQ(ParseHexBytes("ff", 1), "ff");
  for (const char* bad : {"", "0", "2:dc", "02:dc:", "02-dc", "02:dc:0g", "02::dc", "02:dc00"}) {
    EXPECT_FALSE(ParseHexBytes(bad, 16)) << bad;
  }
  EXPECT_FALSE(ParseHexBytes("01:02:03", 2));
  EXPECT_EQ(HexByteCount("01:02:03"), 3U);
  EXPECT_EQ(ParseAddress("198.51.100.7"), 0xC6336407U);
  for (const char* bad : {"198.51.100.256", "198.51.100", "198.51.100.07", " 198.51.100.7", ""}) {
    EXPECT_FALSE(ParseAddress(bad)) << bad;
  }
  EXPECT_EQ(ParseDecimal("1796737400"), 1796737400);
  for (const char* bad : {"", "-1", "+1", "1x", "1234567890123456789"}) {
    EXPECT_FALSE(ParseDecimal(bad)) << bad;
  }
}

// What each engine writes it reads back, and what it reads is what the other engine writes.
TEST(LeaseFormats, LeasesCrossBetweenEnginesWhole) {
  const std::vector<Lease> leases{
      LeaseOf(1, kNow + 600, "crowd-1"),
      LeaseOf(2, kNow + 1, "a.b-c"),
      LeaseOf(3, kNow + 86400, "", "ff:00:01:02:03:04:05:06:07:08:09:0a:0b:0c:0d:0e"),
      {0xC6336404U, "00:11:22:33:44:55:66:77:88:99:aa:bb:cc:dd:ee:ff", "", kNow + 4294967294LL,
       "x"},
  };
  for (const DhcpEngine* from : Engines()) {
    const LeaseRead own = ReadLeases(*from, from->WriteLeases(leases, kNow), kNow);
    EXPECT_EQ(own.unreadable, 0U);
    ExpectSame(own.leases, leases, "own format");
    for (const DhcpEngine* to : Engines()) {
      const LeaseRead crossed = ReadLeases(*to, to->WriteLeases(own.leases, kNow), kNow);
      EXPECT_EQ(crossed.unreadable, 0U);
      ExpectSame(crossed.leases, leases, "crossed");
    }
  }
}

TEST(LeaseFormats, WhatKeaWouldRefuseIsLeftOutOfItsFile) {
  // Kea refuses a record whose client identifier is one byte long, and with it the lease: the
  // lease crosses without it, known by its hardware address.
  const std::vector<Lease> shortId{LeaseOf(5, kNow + 60, "", "01")};
  const std::string text = Kea().WriteLeases(shortId, kNow);
  EXPECT_NE(text.find("\n198.51.100.5,02:dc:00:00:00:05,,60,"), std::string::npos) << text;
  EXPECT_EQ(Dnsmasq().WriteLeases(shortId, kNow).find(" 01\n") != std::string::npos, true);
  // A lease that never ends in dnsmasq gets Kea's longest finite lifetime.
  const std::string never = Kea().WriteLeases({LeaseOf(6, kNeverExpires)}, kNow);
  EXPECT_NE(never.find(",4294967294," + std::to_string(kNow + 4294967294LL) + ",1,0,0,,0,\n"),
            std::string::npos)
      << never;
  EXPECT_NE(Dnsmasq().WriteLeases({LeaseOf(6, kNeverExpires)}, kNow).find("0 02:dc:00:00:00:06 "),
            std::string::npos);
}

// Each engine's file as it writes it: the later record of an address wins, a lease that ended
// (released, declined, reclaimed, expired) is left out, a host name crosses only when plain, and a
// line that is no record is counted, never taken for one.
TEST(LeaseFormats, EachEnginesFileIsReadAsItMeantIt) {
  const std::string soon = std::to_string(kNow + 500);
  const std::string past = std::to_string(kNow - 1);
  const std::string keaRow = ",600," + soon + ",1,0,0,";
  const struct {
    const char* what;
    const DhcpEngine& engine;
    std::string text;
    std::vector<Lease> leases;
    std::size_t unreadable;
  } cases[] = {
      {"dnsmasq as written",
       Dnsmasq(),
       soon + " 02:dc:00:00:00:01 198.51.100.1 crowd-1 01:02:dc:00:00:00:01\n" + soon +
           " 02:dc:00:00:00:02 198.51.100.2 * *\n",
       {LeaseOf(1, kNow + 500, "crowd-1"), LeaseOf(2, kNow + 500, "", "*")},
       0},
      {"dnsmasq: expired left out, never-ending kept",
       Dnsmasq(),
       past + " 02:dc:00:00:00:01 198.51.100.1 a *\n0 02:dc:00:00:00:02 198.51.100.2 b *\n",
       {LeaseOf(2, kNeverExpires, "b", "*")},
       0},
      {"dnsmasq: hardware type and no hardware address",
       Dnsmasq(),
       soon + " 06-02:dc:00:00:00:03 198.51.100.3 * *\n" + soon + " 00- 198.51.100.4 * 01:02\n",
       {LeaseOf(3, kNow + 500, "", "*")},
       0},
      {"dnsmasq: hostile names stay behind",
       Dnsmasq(),
       soon + " 02:dc:00:00:00:01 198.51.100.1 a,b *\n" + soon +
           " 02:dc:00:00:00:02 198.51.100.2 " + std::string(64, 'n') + " *\n" + soon +
           " 02:dc:00:00:00:03 198.51.100.3 x&#x2c *\n",
       {LeaseOf(1, kNow + 500, "", "*"), LeaseOf(2, kNow + 500, "", "*"),
        LeaseOf(3, kNow + 500, "", "*")},
       0},
      {"dnsmasq: a line of garbage amid records",
       Dnsmasq(),
       soon + " 02:dc:00:00:00:01 198.51.100.1 * *\ngarbage line here\n" + soon +
           " 02:dc:00:00:00:03 198.51.100.3 * *\n",
       {LeaseOf(1, kNow + 500, "", "*"), LeaseOf(3, kNow + 500, "", "*")},
       1},
      {"dnsmasq: cut short mid-record",
       Dnsmasq(),
       soon + " 02:dc:00:00:00:01 198.51.100.1 * *\n" + soon + " 02:dc:00:00:00:02 198.51.100.2",
       {LeaseOf(1, kNow + 500, "", "*")},
       1},
      {"dnsmasq: fields that are no lease",
       Dnsmasq(),
       soon + " 02:dc:00:00:00:01 198.51.100.256 * *\n" + soon + " 2:dc 198.51.100.2 * *\n" +
           "soon 02:dc:00:00:00:03 198.51.100.3 * *\n" + soon +
           " 02:dc:00:00:00:04 198.51.100.4 * * extra\n" + soon +
           " 02:dc:00:00:00:05 198.51.100.5 * 01:0\nduid 00:01\n",
       {},
       6},
      {"kea as written",
       Kea(),
       std::string(kKeaHeader) + "198.51.100.1,02:dc:00:00:00:01,01:02:dc:00:00:00:01" + keaRow +
           "crowd-1,0,\n198.51.100.2,02:dc:00:00:00:02," + keaRow + ",0,\n",
       {LeaseOf(1, kNow + 500, "crowd-1"), LeaseOf(2, kNow + 500, "", "*")},
       0},
      {"kea: the latest record wins, a release removes",
       Kea(),
       std::string(kKeaHeader) + "198.51.100.1,02:dc:00:00:00:09," + keaRow + "old,0,\n" +
           "198.51.100.2,02:dc:00:00:00:02," + keaRow + ",0,\n" +
           "198.51.100.1,02:dc:00:00:00:01,01:02:dc:00:00:00:01" + keaRow + "new,0,\n" +
           "198.51.100.2,02:dc:00:00:00:02,,0," + past + ",1,0,0,,0,\n",
       {LeaseOf(1, kNow + 500, "new")},
       0},
      {"kea: declined, reclaimed and expired left out",
       Kea(),
       std::string(kKeaHeader) + "198.51.100.1,,,86400," + soon + ",1,0,0,,1,\n" +
           "198.51.100.2,02:dc:00:00:00:02," + keaRow + ",2,\n" +
           "198.51.100.3,02:dc:00:00:00:03,,600," + past + ",1,0,0,,0,\n",
       {},
       0},
      {"kea: escaped commas and an older header",
       Kea(),
       "address,hwaddr,client_id,valid_lifetime,expire,subnet_id,fqdn_fwd,fqdn_rev,hostname\n"
       "198.51.100.1,02:dc:00:00:00:01,01:02:dc:00:00:00:01" +
           keaRow + "a&#x2cb\n",
       {LeaseOf(1, kNow + 500)},
       0},
      {"kea: cut short, and a row missing a column",
       Kea(),
       std::string(kKeaHeader) + "198.51.100.1,02:dc:00:00:00:01," + keaRow + ",0\n" +
           "198.51.100.2,02:dc:00:00:00:02," + keaRow + ",0,\n198.51.100.3,02:dc:00:00:00:03,",
       {LeaseOf(2, kNow + 500, "", "*")},
       2},
      {"kea: no header",
       Kea(),
       "198.51.100.2,02:dc:00:00:00:02," + keaRow + ",0,\n198.51.100.3,02:dc:00:00:00:03," +
           keaRow + ",0,\n",
       {},
       2},
      {"kea: a name holding an unescaped comma is no record",
       Kea(),
       std::string(kKeaHeader) + "198.51.100.1,02:dc:00:00:00:01," + keaRow +
           "x,0,\n198.51.100.9,02:dc:00:00:00:09," + keaRow + "a,b,0,\n",
       {LeaseOf(1, kNow + 500, "x", "*")},
       1},
      {"empty file", Kea(), "", {}, 0},
      {"blank lines", Dnsmasq(), "\n\n", {}, 0},
  };
  for (const auto& c : cases) {
    std::vector<Lease> expected = c.leases;
    for (Lease& lease : expected) {
      if (lease.clientId == "*") {
        lease.clientId.clear();
      }
    }
    const LeaseRead read = ReadLeases(c.engine, c.text, kNow);
    ExpectSame(read.leases, expected, c.what);
    EXPECT_EQ(read.unreadable, c.unreadable) << c.what;
  }
}

// A host name that breaks the contract never reaches a file: each lease stays one record.
TEST(LeaseFormats, AHostileNameCannotForgeARecord) {
  std::vector<Lease> leases;
  for (const char* name : {"a,b", "a\nb", "a b", "x\n198.51.100.9,02:dc:00:00:00:09,,600"}) {
    leases.push_back(LeaseOf(static_cast<int>(leases.size()) + 1, kNow + 60, name));
  }
  for (const DhcpEngine* engine : Engines()) {
    const std::string text = engine->WriteLeases(leases, kNow);
    const LeaseRead read = ReadLeases(*engine, text, kNow);
    EXPECT_EQ(read.unreadable, 0U) << text;
    ASSERT_EQ(read.leases.size(), leases.size()) << text;
    for (const Lease& lease : read.leases) {
      EXPECT_EQ(lease.hostName, "") << text;
    }
  }
}

// A state folder of its own, with the files as an earlier run left them.
class CarryFolder {
 public:
  CarryFolder()
      : folder_{safe_file::OpenFolderNoFollow(temp_.path(), false), temp_.path().string()} {}
  void Write(const std::string& name, const std::string& text) const { temp_.Write(name, text); }
  std::string Read(const std::string& name) const {
    std::ifstream in(temp_.path() / name, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "(none)";
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(temp_.path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  const StateFolder& folder() const { return folder_; }

 private:
  test_support::TempFolder temp_{"dhcp-lease-carry-"};
  StateFolder folder_;
};

std::string DnsmasqLine(int n, std::int64_t expiry) {
  return Dnsmasq().WriteLeases({LeaseOf(n, expiry, "h" + std::to_string(n))}, kNow);
}

// Leases 1 to 150 on 198.51.100.n served, the new range 198.51.100.100-198.51.100.150.
TEST(LeaseCarry, TheLastEnginesRunningLeasesInsideTheRangeReachTheNextEngine) {
  const ServeSettings settings = *ToServeSettings(
      {u"255.255.255.0", u"198.51.100.1", u"600", u"198.51.100.100-198.51.100.150"});
  const std::string dnsmasqFile =
      DnsmasqLine(100, kNow + 60) + DnsmasqLine(120, kNow - 1) + DnsmasqLine(150, kNow + 7200);
  const std::string keaFile = Kea().WriteLeases({LeaseOf(101, kNow + 300)}, kNow);
  const std::string keaSide = Kea().WriteLeases({LeaseOf(102, kNow + 300)}, kNow);
  const std::string outside = DnsmasqLine(20, kNow + 60) + DnsmasqLine(151, kNow + 60);
  const struct {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;  // as the earlier run left them
    const DhcpEngine& engine;
    std::vector<Lease> leases;  // in the engine's lease file afterwards
    std::string said;           // part of the answer
    std::vector<std::string> names;
  } cases[] = {
      {"dnsmasq to kea",
       {{"current-leases", "dnsmasq.leases\n"},
        {"dnsmasq.leases", dnsmasqFile},
        {"kea-leases4.csv", keaFile},
        {"kea-leases4.csv.1", keaSide}},
       Kea(),
       {LeaseOf(100, kNow + 60, "h100"), LeaseOf(150, kNow + 7200, "h150")},
       " 2 running leases were carried over from dnsmasq to Kea.",
       {"current-leases", "dnsmasq.leases", "kea-leases4.csv"}},
      {"kea to dnsmasq, from all of Kea's files",
       {{"current-leases", "kea-leases4.csv\n"},
        {"dnsmasq.leases", dnsmasqFile},
        {"kea-leases4.csv", keaFile},
        {"kea-leases4.csv.2", keaSide}},
       Dnsmasq(),
       {LeaseOf(101, kNow + 300), LeaseOf(102, kNow + 300)},
       " 2 running leases were carried over from Kea to dnsmasq.",
       {"current-leases", "dnsmasq.leases", "kea-leases4.csv", "kea-leases4.csv.2"}},
      {"no marker: the file changed last",
       {{"kea-leases4.csv", keaFile}},
       Dnsmasq(),
       {LeaseOf(101, kNow + 300)},
       " 1 running lease was carried over from Kea to dnsmasq.",
       {"current-leases", "dnsmasq.leases", "kea-leases4.csv"}},
      {"the same engine, all inside: untouched",
       {{"current-leases", "dnsmasq.leases\n"}, {"dnsmasq.leases", dnsmasqFile}},
       Dnsmasq(),
       {LeaseOf(100, kNow + 60, "h100"), LeaseOf(150, kNow + 7200, "h150")},
       "",
       {"current-leases", "dnsmasq.leases"}},
      {"the same engine, a changed range",
       {{"current-leases", "dnsmasq.leases\n"}, {"dnsmasq.leases", outside + dnsmasqFile}},
       Dnsmasq(),
       {LeaseOf(100, kNow + 60, "h100"), LeaseOf(150, kNow + 7200, "h150")},
       " The lease file was written anew with its 2 running leases. 2 leases outside the new "
       "range were left out.",
       {"current-leases", "dnsmasq.leases"}},
      {"the same engine, expired leases outside a narrowed range",
       {{"current-leases", "dnsmasq.leases\n"},
        {"dnsmasq.leases", DnsmasqLine(20, kNow - 1) + DnsmasqLine(151, kNow - 9) + dnsmasqFile}},
       Dnsmasq(),
       {LeaseOf(100, kNow + 60, "h100"), LeaseOf(150, kNow + 7200, "h150")},
       " The lease file was written anew with its 2 running leases.",
       {"current-leases", "dnsmasq.leases"}},
      {"the first start", {}, Kea(), {}, "", {"current-leases"}},
  };
  for (const auto& c : cases) {
    const CarryFolder state;
    for (const auto& [name, text] : c.files) {
      state.Write(name, text);
    }
    const EngineResult result = CarryLeases(state.folder(), c.engine, settings, kNow);
    EXPECT_EQ(result.code, 0) << c.what;
    EXPECT_EQ(result.message, std::u16string(c.said.begin(), c.said.end())) << c.what;
    const std::string lease(c.engine.LeaseName());
    const LeaseRead read = ReadLeases(c.engine, state.Read(lease), kNow);
    ExpectSame(read.leases, c.leases, c.what);
    EXPECT_EQ(state.Names(), c.names) << c.what;
    EXPECT_EQ(state.Read("current-leases"), lease + "\n") << c.what;
    if (std::string(c.what).find("untouched") != std::string::npos) {
      EXPECT_EQ(state.Read(lease), dnsmasqFile);
    }
  }
}

// What a status reads: all of Kea's files as Kea reads them at a start (FILE.completed, else
// FILE.2 then FILE.1; FILE last, its records winning), nothing changed.
TEST(LeaseCarry, AnEnginesLeasesAreReadFromAllItsFiles) {
  const auto file = [](int n, std::int64_t expiry) {
    return kKeaHeader + "198.51.100.1,02:dc:00:00:00:0"s + std::to_string(n) + ",," +
           std::to_string(expiry - kNow) + "," + std::to_string(expiry) + ",1,0,0,,0,\n";
  };
  const struct {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;
    int holder;  // the client 198.51.100.1 is leased to, 0 for none
    std::size_t unreadable;
  } cases[] = {
      {"cleaned up before", {{".2", file(2, kNow + 60)}, {".1", file(1, kNow + 60)}}, 1, 0},
      {"the lease file last", {{".1", file(1, kNow + 60)}, {"", file(3, kNow + 60)}}, 3, 0},
      {"a cleanup finished",
       {{".completed", file(4, kNow + 60)}, {".1", file(1, kNow + 60)}},
       4,
       0},
      {"expired at last", {{".1", file(1, kNow + 60)}, {"", file(3, kNow)}}, 0, 0},
      {"a line that is no record", {{".1", file(1, kNow + 60) + "x,y\n"}}, 1, 1},
  };
  for (const auto& c : cases) {
    const CarryFolder state;
    for (const auto& [suffix, text] : c.files) {
      state.Write("kea-leases4.csv" + suffix, text);
    }
    const std::vector<std::string> names = state.Names();
    const LeaseRead read = ReadEngineLeases(state.folder().fd.Get(), Kea(), kNow);
    std::vector<Lease> expected;
    if (c.holder != 0) {
      expected.push_back(LeaseOf(c.holder, kNow + 60));
      expected.back().address = 0xC6336401U;
      expected.back().clientId.clear();
    }
    ExpectSame(read.leases, expected, c.what);
    EXPECT_EQ(read.unreadable, c.unreadable) << c.what;
    EXPECT_EQ(state.Names(), names) << c.what;
    EXPECT_TRUE(ReadEngineLeases(state.folder().fd.Get(), Dnsmasq(), kNow).leases.empty());
  }
}

// A lease file holding a line that is no record is kept under a new name, byte for byte; what
// could be read of it is carried; a second such file in the same second gets a name of its own.
TEST(LeaseCarry, AFileThatCannotBeReadIsKeptAsideNeverLost) {
  const ServeSettings settings = *ToServeSettings(
      {u"255.255.255.0", u"198.51.100.1", u"600", u"198.51.100.100-198.51.100.200"});
  const std::string torn = DnsmasqLine(100, kNow + 60) + DnsmasqLine(101, kNow + 60).substr(0, 30);
  const std::string stamp = ".unreadable-20261208-134320";  // kNow in UTC
  for (const DhcpEngine* engine : Engines()) {
    const CarryFolder state;
    state.Write("current-leases", "dnsmasq.leases\n");
    state.Write("dnsmasq.leases", torn);
    state.Write("dnsmasq.leases" + stamp, "an earlier one");
    const EngineResult result = CarryLeases(state.folder(), *engine, settings, kNow);
    EXPECT_EQ(result.code, 0);
    const std::string message(result.message.begin(), result.message.end());
    EXPECT_NE(message.find("1 line of the lease file \"dnsmasq.leases\" could not be read (cut "
                           "short or edited by hand); the file was kept as \"dnsmasq.leases" +
                           stamp + "-2\"."),
              std::string::npos)
        << message;
    EXPECT_EQ(state.Read("dnsmasq.leases" + stamp + "-2"), torn);
    EXPECT_EQ(state.Read("dnsmasq.leases" + stamp), "an earlier one");
    const LeaseRead read = ReadLeases(*engine, state.Read(std::string(engine->LeaseName())), kNow);
    EXPECT_EQ(read.unreadable, 0U);
    ExpectSame(read.leases, {LeaseOf(100, kNow + 60, "h100")}, "the readable lease");
  }
}

// When the leases cannot be written the engine must not start: it would hand out held addresses.
TEST(LeaseCarry, ALeaseFileThatCannotBeWrittenStopsTheStart) {
  const ServeSettings settings = *ToServeSettings(
      {u"255.255.255.0", u"198.51.100.1", u"600", u"198.51.100.100-198.51.100.200"});
  const CarryFolder state;
  state.Write("current-leases", "dnsmasq.leases\n");
  state.Write("dnsmasq.leases", DnsmasqLine(1, kNow + 60));
  std::filesystem::create_directory(state.folder().path + "/kea-leases4.csv");
  std::filesystem::create_directory(state.folder().path + "/kea-leases4.csv/x");
  const EngineResult result = CarryLeases(state.folder(), Kea(), settings, kNow);
  EXPECT_EQ(result.code, kStateFolderUnsafe);
  const std::string message(result.message.begin(), result.message.end());
  EXPECT_NE(message.find("The leases could not be written to \"kea-leases4.csv\""),
            std::string::npos)
      << message;
  EXPECT_EQ(state.Read("current-leases"), "dnsmasq.leases\n");
}

TEST(EngineLog, AStartFreesTheSpaceOfEarlierLogs) {
  const std::string line(99, 'x');
  std::string big;
  for (int n = 0; big.size() < (3U << 20); ++n) {
    big += std::to_string(n % 10) + line + "\n";
  }
  const struct {
    const char* what;
    std::string log;
    std::string old;
    const char* logAfter;
    bool oldKept;
  } cases[] = {
      {"small log, an old one", "started\n", std::string(1 << 20, 'o'), "started\n", false},
      {"a log past 1 MiB", big, "old\n", "", true},
      {"nothing yet", "", "", "", false},
  };
  for (const auto& c : cases) {
    const CarryFolder state;
    if (!c.log.empty()) {
      state.Write(kEngineLogName, c.log);
    }
    if (!c.old.empty()) {
      state.Write(kEngineLogOldName, c.old);
    }
    // The server started before, still running, appends to the log it holds open.
    const safe_file::Descriptor server(
        c.log.empty() ? -1
                      : open((state.folder().path + "/" + kEngineLogName).c_str(),
                             O_WRONLY | O_APPEND | O_CLOEXEC));
    FreeEngineLogSpace(state.folder().fd.Get());
    if (static_cast<bool>(server)) {
      ASSERT_TRUE(safe_file::WriteAll(server.Get(), "later\n"));
    }
    EXPECT_EQ(state.Read(kEngineLogName), c.log.empty() ? "(none)" : c.logAfter + "later\n"s)
        << c.what;
    const std::string old = state.Read(kEngineLogOldName);
    if (!c.oldKept) {
      EXPECT_EQ(old, "(none)") << c.what;
    } else {
      // The last 1 MiB of the log, from the start of a line.
      EXPECT_LE(old.size(), 1U << 20) << c.what;
      EXPECT_GT(old.size(), (1U << 20) - 101) << c.what;
      EXPECT_EQ(old, c.log.substr(c.log.size() - old.size())) << c.what;
      EXPECT_EQ(c.log[c.log.size() - old.size() - 1], '\n') << c.what;
    }
  }
}

}  // namespace
