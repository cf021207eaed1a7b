// The names the DHCP server start request and its reply use in the message text, shared by the
// host and DHCP plugins.
#pragma once

namespace dhcp_protocol {

// The request's name, its first field.
inline constexpr char16_t kRunDhcpServer[] = u"RunDHCPServer";

// The request's parameters: the server's network settings, sent as opaque text.
inline constexpr char16_t kSubnetMaskKey[] = u"DHCP_ZOR_PLUGIN_SUBNETMASK_PARAMETER";
inline constexpr char16_t kGatewayKey[] = u"DHCP_ZOR_PLUGIN_GATEWAY_PARAMETER";
inline constexpr char16_t kDuringTimeKey[] = u"DHCP_ZOR_PLUGIN_DURING_TIME_PARAMETER";
inline constexpr char16_t kRangeIpKey[] = u"DHCP_ZOR_PLUGIN_RANGE_IP_PARAMETER";

// The reply's parameters: a decimal return code and a message for a person.
inline constexpr char16_t kReturnCodeKey[] = u"ZOR_PLUGIN_RESPONSE_RETURN_CODE";
inline constexpr char16_t kMessageKey[] = u"ZOR_PLUGIN_RESPONSE_MESSAGE";

}  // namespace dhcp_protocol
