// The names the DHCP server requests and their replies use in the message text, shared by the
// host and DHCP plugins.
#pragma once

namespace dhcp_protocol {

// The start request's name, its first field: the one request the launcher sends.
inline constexpr char16_t kRunDhcpServer[] = u"RunDHCPServer";

// The requests of an operator's tools (the check program sends them on request only; the launcher
// never does). A plugin that reads no request name would take each for a start, which is why no
// tool sends them by default.
//   status query: the four parameters below, as the start request carries them; the reply says
//     whether the server this deployment started runs, and what it serves (the status keys).
//   stop request: no parameters; stops the server this deployment started. The reply carries the
//     status keys, for what runs afterwards.
//   dry run: the four parameters; the reply's code and message are what a start with them would
//     answer now, found without starting, stopping or creating anything.
inline constexpr char16_t kQueryDhcpServer[] = u"QueryDHCPServer";
inline constexpr char16_t kStopDhcpServer[] = u"StopDHCPServer";
inline constexpr char16_t kTestDhcpServer[] = u"TestDHCPServer";

// The request's parameters: the server's network settings, sent as opaque text.
inline constexpr char16_t kSubnetMaskKey[] = u"DHCP_ZOR_PLUGIN_SUBNETMASK_PARAMETER";
inline constexpr char16_t kGatewayKey[] = u"DHCP_ZOR_PLUGIN_GATEWAY_PARAMETER";
inline constexpr char16_t kDuringTimeKey[] = u"DHCP_ZOR_PLUGIN_DURING_TIME_PARAMETER";
inline constexpr char16_t kRangeIpKey[] = u"DHCP_ZOR_PLUGIN_RANGE_IP_PARAMETER";

// The reply's parameters: a decimal return code and a message for a person.
inline constexpr char16_t kReturnCodeKey[] = u"ZOR_PLUGIN_RESPONSE_RETURN_CODE";
inline constexpr char16_t kMessageKey[] = u"ZOR_PLUGIN_RESPONSE_MESSAGE";

// The reply to a status query, stop request or dry run names the request it answers, so that a
// caller tells a plugin that knows the request from one that answered something else (or handed
// the text back unchanged).
inline constexpr char16_t kAnsweredKey[] = u"ZOR_PLUGIN_RESPONSE_ANSWERED";

// The status keys, in the replies to a status query and a stop request. kServerRunningKey is "1"
// or "0"; it is missing when the plugin could not tell (the message says why), and every other
// key is then missing too. With a server running, each of the others is there when the plugin
// knows it, and missing otherwise:
//   engine "dnsmasq" or "kea"; version the engine's; pid decimal; interface its name; range
//   "first-last" and mask and router as dotted quads; lease seconds decimal (as served); started
//   ISO 8601 UTC ("2026-12-08T07:39:45Z"); leases active (not expired) and pool size (addresses of
//   the range) decimal; matches "1" when the four parameters, Engine and Interface describe what it
//   serves, "0" when not; differences, when they do not, one "; "-separated text saying which.
// With a pair of servers (the reference plugin's section HA, Mode not off), the pair keys come
// with the status, whether a server runs or not: mode "hot-standby" or "load-balancing", role
// "primary" or "secondary", and, when the server tells them, its state and its partner's in the
// engine's words ("hot-standby", "partner-down", ...). Without a pair none of them is there.
inline constexpr char16_t kServerRunningKey[] = u"ZOR_PLUGIN_RESPONSE_SERVER_RUNNING";
inline constexpr char16_t kServerEngineKey[] = u"ZOR_PLUGIN_RESPONSE_SERVER_ENGINE";
inline constexpr char16_t kServerVersionKey[] = u"ZOR_PLUGIN_RESPONSE_SERVER_VERSION";
inline constexpr char16_t kServerPidKey[] = u"ZOR_PLUGIN_RESPONSE_SERVER_PID";
inline constexpr char16_t kServerInterfaceKey[] = u"ZOR_PLUGIN_RESPONSE_SERVER_INTERFACE";
inline constexpr char16_t kServerRangeKey[] = u"ZOR_PLUGIN_RESPONSE_SERVER_RANGE";
inline constexpr char16_t kServerMaskKey[] = u"ZOR_PLUGIN_RESPONSE_SERVER_MASK";
inline constexpr char16_t kServerRouterKey[] = u"ZOR_PLUGIN_RESPONSE_SERVER_ROUTER";
inline constexpr char16_t kServerLeaseSecondsKey[] = u"ZOR_PLUGIN_RESPONSE_SERVER_LEASE_SECONDS";
inline constexpr char16_t kServerStartedKey[] = u"ZOR_PLUGIN_RESPONSE_SERVER_STARTED";
inline constexpr char16_t kServerLeasesActiveKey[] = u"ZOR_PLUGIN_RESPONSE_SERVER_LEASES_ACTIVE";
inline constexpr char16_t kServerPoolSizeKey[] = u"ZOR_PLUGIN_RESPONSE_SERVER_POOL_SIZE";
inline constexpr char16_t kServerMatchesKey[] = u"ZOR_PLUGIN_RESPONSE_SERVER_MATCHES_SETTINGS";
inline constexpr char16_t kServerDifferencesKey[] = u"ZOR_PLUGIN_RESPONSE_SERVER_DIFFERENCES";
inline constexpr char16_t kServerPairModeKey[] = u"ZOR_PLUGIN_RESPONSE_SERVER_HA_MODE";
inline constexpr char16_t kServerPairRoleKey[] = u"ZOR_PLUGIN_RESPONSE_SERVER_HA_ROLE";
inline constexpr char16_t kServerPairStateKey[] = u"ZOR_PLUGIN_RESPONSE_SERVER_HA_STATE";
inline constexpr char16_t kServerPartnerStateKey[] = u"ZOR_PLUGIN_RESPONSE_SERVER_HA_PARTNER_STATE";

}  // namespace dhcp_protocol
