// Tests of a pair of servers in the engine layer: Kea's paired configuration, its states, the TCP
// listeners, where the hook libraries are, and which TLS files a root server may trust.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>
#include <vector>

#include "engines.h"
#include "kea_ha.h"
#include "pair.h"
#include "temp_folder.h"

using namespace dhcp_plugin;
using Json = nlohmann::ordered_json;

namespace {

PairPlan Plan(PairMode mode, PairRole role) {
  PairPlan plan;
  plan.settings.mode = mode;
  plan.settings.role = role;
  plan.settings.primary = {0xCB007102, 8001};
  plan.settings.secondary = {0xCB007103, 8002};
  plan.settings.trustAnchor = "/etc/pair/ca.pem";
  plan.settings.certFile = "/etc/pair/this.pem";
  plan.settings.keyFile = "/etc/pair/this.key";
  plan.modules = "/usr/lib/x86_64-linux-gnu/kea/hooks";
  return plan;
}

ServeSettings Range(const char16_t* range) {
  return *ToServeSettings({u"255.255.255.0", u"203.0.113.1", u"600", range});
}

// A paired Kea: its peers with this server's own TLS files in both, the timers that fail over in
// under 3 s, the restriction of commands, and core multi-threading on whatever came before; in
// load-balancing the range in two halves, one per server.
TEST(KeaPair, ThePiecesMakeOneOfThePair) {
  const Json fixed = Json::parse(R"({"heartbeat-delay": 500, "max-response-delay": 1500,
      "max-unacked-clients": 0, "restrict-commands": true, "require-client-certs": true})");
  const Json tls = Json::parse(R"({"trust-anchor": "/etc/pair/ca.pem", "cert-file":
      "/etc/pair/this.pem", "key-file": "/etc/pair/this.key", "auto-failover": true})");
  const struct {
    PairMode mode;
    PairRole role;
    const char16_t* range;
    const char* names;  // this server's, its mode, the secondary's role in Kea's words
    Json pools;
  } cases[] = {
      {PairMode::kHotStandby, PairRole::kPrimary, u"203.0.113.100-203.0.113.150",
       "primary hot-standby standby",
       Json::parse(R"([{"pool": "203.0.113.100 - 203.0.113.150"}])")},
      {PairMode::kLoadBalancing, PairRole::kSecondary, u"203.0.113.100-203.0.113.150",
       "secondary load-balancing secondary",
       Json::parse(R"([{"pool": "203.0.113.100 - 203.0.113.125", "client-class": "HA_primary"},
           {"pool": "203.0.113.126 - 203.0.113.150", "client-class": "HA_secondary"}])")},
      {PairMode::kLoadBalancing, PairRole::kPrimary, u"203.0.113.100-203.0.113.101",
       "primary load-balancing secondary",
       Json::parse(R"([{"pool": "203.0.113.100 - 203.0.113.100", "client-class": "HA_primary"},
           {"pool": "203.0.113.101 - 203.0.113.101", "client-class": "HA_secondary"}])")},
  };
  for (const auto& c : cases) {
    const PairPlan plan = Plan(c.mode, c.role);
    const Json dhcp4 =
        Json::parse(KeaEngine().Configuration(Range(c.range), "vs1",
                                              PathsOf(KeaEngine(), "/srv/run"), false, &plan))
            .at("Dhcp4");
    EXPECT_EQ(dhcp4.at("subnet4").at(0).at("pools"), c.pools) << c.names;
    EXPECT_EQ(dhcp4.at("multi-threading").at("enable-multi-threading"), true);
    const Json& hooks = dhcp4.at("hooks-libraries");
    EXPECT_EQ(hooks.at(0).at("library"), plan.modules + "/libdhcp_lease_cmds.so");
    EXPECT_EQ(hooks.at(1).at("library"), plan.modules + "/libdhcp_ha.so");
    const Json& ha = hooks.at(1).at("parameters").at("high-availability").at(0);
    const Json& peers = ha.at("peers");
    EXPECT_EQ(ha.at("this-server-name").get<std::string>() + " " +
                  ha.at("mode").get<std::string>() + " " +
                  peers.at(1).at("role").get<std::string>(),
              c.names);
    EXPECT_EQ(ha.at("multi-threading").at("http-dedicated-listener"), true);
    EXPECT_EQ(peers.at(0).at("url"), "https://203.0.113.2:8001/");
    EXPECT_EQ(peers.at(1).at("url"), "https://203.0.113.3:8002/");
    for (const auto& [key, value] : fixed.items()) {
      EXPECT_EQ(ha.at(key), value) << key;
    }
    for (const auto& [key, value] : tls.items()) {
      EXPECT_EQ(peers.at(0).at(key), value) << key;
      EXPECT_EQ(peers.at(1).at(key), value) << key;
    }
  }
  // Whatever the configuration said of threads, a paired Kea runs them: without, its listener is
  // silently absent.
  Json single = {{"Dhcp4",
                  {{"multi-threading", {{"enable-multi-threading", false}}},
                   {"subnet4", {{{"pools", Json::array()}}}}}}};
  AddPairPieces(single, Plan(PairMode::kHotStandby, PairRole::kPrimary),
                Range(u"203.0.113.100-203.0.113.150"));
  EXPECT_EQ(single.at("Dhcp4").at("multi-threading").at("enable-multi-threading"), true);
}

// The states as Kea 2.2 answers ha-heartbeat and status-get; anything else tells nothing.
TEST(KeaPair, StatesAreReadFromKeasAnswers) {
  const Json status = Json::parse(R"({"arguments": {"high-availability": [{"ha-mode":
      "hot-standby", "ha-servers": {"local": {"role": "primary", "state": "partner-down"},
      "remote": {"in-touch": true, "last-state": "unavailable", "role": "standby"}}}],
      "sockets": {"status": "ready"}}, "result": 0})");
  EXPECT_TRUE(TellsOfPair(status));
  EXPECT_EQ(PartnerStateOf(status), "unavailable");
  EXPECT_EQ(PairShapeOf(status), "hot-standby primary");
  Json standby = status;
  standby["arguments"]["high-availability"][0]["ha-servers"]["local"]["role"] = "standby";
  EXPECT_EQ(PairShapeOf(standby), "hot-standby secondary");
  const Json alone = Json::parse(R"({"arguments": {"pid": 1}, "result": 0})");
  EXPECT_FALSE(TellsOfPair(alone));
  EXPECT_EQ(PairShapeOf(alone), "alone");
  EXPECT_EQ(PairShapeOf(Json::parse(R"({"result": 1, "text": "busy"})")), std::nullopt);
  const struct {
    const char* heartbeat;
    std::optional<std::string> state;
  } cases[] = {
      {R"({"arguments": {"state": "hot-standby", "scopes": ["primary"]}, "result": 0})",
       "hot-standby"},
      {R"({"arguments": {"state": "load-balancing"}, "result": 0})", "load-balancing"},
      {R"({"result": 2, "text": "no such command"})", std::nullopt},
      {R"({"arguments": {"state": "hot-standby"}, "result": 1})", std::nullopt},
      {R"({"arguments": {"state": "Hot Standby\n"}, "result": 0})", std::nullopt},
      {R"({"arguments": {"state": 7}, "result": 0})", std::nullopt},
      {R"({"arguments": [], "result": 0})", std::nullopt},
      {R"([1, 2])", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PairStateOf(Json::parse(c.heartbeat)), c.state) << c.heartbeat;
  }
}

TEST(PairListener, ProcNetTcpLinesOfListenersAreRead) {
  // The columns after st (tx:rx tr:when retransmits uid timeout) and after the inode.
  const std::string middle = " 00000000:00000000 00:00000000 00000000 0 0 ";
  const std::string v6any = "00000000000000000000000000000000";
  const struct {
    std::string line;
    std::optional<TcpListener> listener;
  } cases[] = {
      {"   0: 027100CB:1F41 00000000:0000 0A" + middle + "51234 1 0 100",
       {{0xCB007102, 8001, 51234}}},
      {"   1: 00000000:1F42 00000000:0000 0A" + middle + "77 1", TcpListener{0, 8002, 77}},
      // tcp6: any, and an IPv4-mapped address; another IPv6 address holds no IPv4 port.
      {"0: " + v6any + ":1F41 " + v6any + ":0000 0A" + middle + "88", TcpListener{0, 8001, 88}},
      {"0: 0000000000000000FFFF0000027100CB:1F41 " + v6any + ":0000 0A" + middle + "89",
       TcpListener{0xCB007102, 8001, 89}},
      {"0: B80D0120000000000000000001000000:1F41 " + v6any + ":0000 0A" + middle + "90",
       std::nullopt},
      // An established connection is no listener; the header and malformed lines are none.
      {"   2: 027100CB:1F41 037100CB:C350 01" + middle + "99", std::nullopt},
      {"  sl  local_address rem_address   st tx_queue rx_queue tr tm->when", std::nullopt},
      {"   0: 027100CG:1F41 00000000:0000 0A" + middle + "51", std::nullopt},
      {"   0: 027100CB:1F41 00000000:0000 0A", std::nullopt},
  };
  for (const auto& c : cases) {
    const std::optional<TcpListener> got = ParseTcpListenerLine(c.line);
    ASSERT_EQ(got.has_value(), c.listener.has_value()) << c.line;
    if (got) {
      EXPECT_EQ(std::tie(got->address, got->port, got->inode),
                std::tie(c.listener->address, c.listener->port, c.listener->inode))
          << c.line;
    }
  }
}

// Files a root server reads its TLS keys or libraries from: only what nobody else can change (or,
// for a key, read), reached without links, below folders nobody else can change.
TEST(PairFiles, OnlyFilesNobodyElseCanChangeAreTrusted) {
  const test_support::TempFolder root("dhcp-pair-");
  const std::filesystem::path base = root.path();
  chmod(base.c_str(), 0755);
  std::filesystem::create_directory(base / "open");
  chmod((base / "open").c_str(), 0777);
  const auto file = [&](const std::string& name, mode_t mode) {
    const std::filesystem::path path = root.Write(name, "x");
    chmod(path.c_str(), mode);
    return path.string();
  };
  const std::string certificate = file("this.pem", 0644);
  const std::string key = file("this.key", 0600);
  std::filesystem::create_symlink(key, base / "link.key");
  const struct {
    std::string path;
    bool secret;
    const char16_t* problem;  // "" when trusted
  } cases[] = {
      {certificate, false, u""},
      {key, true, u""},
      {file("group.key", 0640), true, u"may be read by its group or others (mode 0640): chmod 600"},
      {certificate, true, u"may be read"},
      {file("written.pem", 0664), false, u"may be written by its group or others (mode 0664)"},
      {file("open/x.pem", 0644), false, u"open\", which belongs to another user or may be written"},
      {(base / "link.key").string(), true, u"is a symbolic link or lies below one"},
      {(base / "none.key").string(), true, u"cannot be found"},
      {base.string(), false, u"is not a regular file"},
  };
  for (const auto& c : cases) {
    const std::u16string problem = SafeFileProblem(c.path, c.secret);
    EXPECT_EQ(problem.empty(), *c.problem == u'\0') << c.path;
    EXPECT_NE(problem.find(c.problem), std::u16string::npos) << c.path;
  }

  // The hook libraries: the first folder holding both where nobody else can change them.
  for (const char* folder : {"lib/a", "lib/b", "lib/c"}) {
    std::filesystem::create_directories(base / folder);
  }
  file("lib/a/libdhcp_ha.so", 0644);  // alone, without the lease commands
  file("lib/b/libdhcp_ha.so", 0666);
  file("lib/b/libdhcp_lease_cmds.so", 0644);
  file("lib/c/libdhcp_ha.so", 0755);
  file("lib/c/libdhcp_lease_cmds.so", 0644);
  const std::vector<std::string> folders{(base / "lib/a").string(), (base / "lib/b").string(),
                                         (base / "lib/c").string()};
  EXPECT_EQ(FindKeaHooks(folders), folders[2]);
  EXPECT_EQ(FindKeaHooks({folders[0], folders[1]}), std::nullopt);
}

}  // namespace
