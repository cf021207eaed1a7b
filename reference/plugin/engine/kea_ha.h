// Kea as one of a pair of servers: the pieces of its configuration that make it so, the hook
// libraries they load, and its pair's state as Kea reports it.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "dhcp_engine.h"

namespace dhcp_plugin {

// The hook libraries a paired Kea loads, from one folder: lease commands (the partner's lease
// updates and sync arrive as such commands) and the high-availability hook itself.
inline constexpr const char* kKeaPairLibraries[] = {"libdhcp_lease_cmds.so", "libdhcp_ha.so"};

// The timers of the pair, in milliseconds: a heartbeat every kHeartbeatDelay; the partner is taken
// for dead when it has not answered for kMaxResponseDelay, and this server serves all of its
// clients then. Failover comes within their sum; a stall of up to kMaxResponseDelay is tolerated.
inline constexpr int kHeartbeatDelay = 500;
inline constexpr int kMaxResponseDelay = 1500;

// Makes config, Kea's configuration ({"Dhcp4": {...}} with one subnet), one of the pair that pair
// describes: the hook libraries from pair.modules with the pair's peers, mode, timers and TLS
// files; the subnet's range split in two halves for load-balancing (settings.first to the middle
// for the primary, the rest for the secondary; the range holds two addresses or more); and core
// multi-threading on, whatever config said, for without it Kea opens no listener and both servers
// serve the same clients.
void AddPairPieces(nlohmann::ordered_json& config, const PairPlan& pair,
                   const ServeSettings& settings);

// Whether Kea's answer to status-get tells of a pair (its "high-availability" part).
bool TellsOfPair(const nlohmann::ordered_json& status);
// This server's state in Kea's answer to ha-heartbeat ({"result": 0, "arguments": {"state": ...}})
// and the partner's last state in its answer to status-get (high-availability[0].ha-servers.remote
// .last-state); nothing when the answer does not hold it as a plain state name (1 to 32 of a-z and
// "-").
std::optional<std::string> PairStateOf(const nlohmann::ordered_json& heartbeat);
std::optional<std::string> PartnerStateOf(const nlohmann::ordered_json& status);
// How Kea runs by its answer to status-get: "alone", or the mode and this server's role in the
// words of section HA ("hot-standby secondary" for Kea's standby); nothing when the answer does
// not tell.
std::optional<std::string> PairShapeOf(const nlohmann::ordered_json& status);

}  // namespace dhcp_plugin
