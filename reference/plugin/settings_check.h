// Checks of the four DHCP server settings the reference plugin receives, as pure functions on text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dhcp_plugin {

// An IPv4 address or netmask as a number, first octet in the most significant byte.
using Ipv4 = std::uint32_t;

// Parses a strict dotted quad: exactly four decimal octets 0..255 joined by ".", each one to three
// ASCII digits without a leading zero ("0" itself is fine; "010" is refused because other tools
// read it as octal). Nothing else is allowed, not even blanks. Returns nothing otherwise.
std::optional<Ipv4> ParseDottedQuad(std::u16string_view text);

// Writes a number in decimal digits.
std::u16string DecimalText(std::uint64_t number);

// Writes an address as a dotted quad, e.g. "192.168.1.1".
std::u16string FormatDottedQuad(Ipv4 address);

// The prefix length 0..32 of a contiguous netmask (all one bits before all zero bits), or nothing
// when the one bits are not contiguous.
std::optional<int> MaskPrefixLength(Ipv4 mask);

// An inclusive address range as written in the settings.
struct Ipv4Range {
  Ipv4 first = 0;
  Ipv4 last = 0;
};

// Parses "first-last": two strict dotted quads joined by exactly one "-", nothing around them.
// The order of the two ends is not checked. Returns nothing when the text has another shape.
std::optional<Ipv4Range> ParseRange(std::u16string_view text);

// The longest lease accepted, in seconds: the largest finite lease a DHCP lease-time option can
// carry (its 32-bit value 0xFFFFFFFF means "infinite" and is not accepted).
inline constexpr std::uint64_t kMaxLeaseSeconds = 0xFFFFFFFEU;

// Parses a lease time: one or more ASCII digits and nothing else (leading zeros are allowed).
// A number above kMaxLeaseSeconds, however long, reads as kMaxLeaseSeconds + 1. Returns nothing
// when the text is empty or holds anything but digits.
std::optional<std::uint64_t> ParseLeaseSeconds(std::u16string_view text);

// A value quoted inside a reply message: every "@" (so no "@@@" can ever appear and no field can
// run into a separator), control character (C0, DEL and C1, U+0080 to U+009F), line or paragraph
// separator (U+2028, U+2029) and unpaired surrogate becomes "?", and a value longer than 64 code
// units is cut to its first 64 (never inside a surrogate pair) followed by "...".
std::u16string QuoteForMessage(std::u16string_view value);

// UTF-8 text from an engine or the system as UTF-16; text that is not UTF-8 keeps its ASCII bytes
// and has '?' for every other byte.
std::u16string WidenText(std::string_view text);

// An address block that no DHCP server can lease from: "this network" 0.0.0.0/8, loopback
// 127.0.0.0/8, link-local 169.254.0.0/16, multicast 224.0.0.0/4 and reserved 240.0.0.0/4, which
// holds the limited broadcast address 255.255.255.255. Private ranges, the shared address space
// 100.64.0.0/10 and the documentation ranges are not among them.
struct SpecialPurposeBlock {
  Ipv4 network = 0;
  int prefix = 0;
  const char16_t* name = u"";  // e.g. u"loopback"
};

// The first of the blocks above (in address order) that overlaps first..last, or nothing.
std::optional<SpecialPurposeBlock> SpecialPurposeBlockOf(Ipv4 first, Ipv4 last);

// Return codes of the check, also the reply's ZOR_PLUGIN_RESPONSE_RETURN_CODE. None lies in 1..4,
// which the host uses for its own failures before a plugin is called.
enum ReturnCode : int {
  kSettingsSound = 0,
  kSubnetMaskMissing = 10,        // absent or empty
  kSubnetMaskMalformed = 11,      // not a strict dotted quad
  kSubnetMaskNotContiguous = 12,  // one bits not all before the zero bits
  kSubnetMaskUnusable = 13,       // 0.0.0.0, or /31 and /32, which leave no host for a range
  kGatewayMissing = 20,
  kGatewayMalformed = 21,
  kGatewayNotHost = 22,         // the network or broadcast address of its subnet
  kGatewaySpecialPurpose = 23,  // the gateway or its subnet lies in or overlaps a block that
                                // cannot be leased (SpecialPurposeBlockOf)
  kDuringTimeMissing = 30,
  kDuringTimeMalformed = 31,   // not a whole number of seconds written in digits
  kDuringTimeOutOfRange = 32,  // 0, or above kMaxLeaseSeconds
  kRangeIpMissing = 40,
  kRangeIpMalformed = 41,                // not first-last with two strict dotted quads
  kRangeIpOutsideSubnet = 42,            // an end lies outside the gateway's subnet
  kRangeIpReversed = 43,                 // first after last
  kRangeIpHoldsGateway = 44,             // the gateway lies inside the range
  kRangeIpHoldsNetworkOrBroadcast = 45,  // the range starts at the network or ends at the broadcast
  kUnknownRequest = 90,                  // the request name is not "RunDHCPServer"
  kInternalFailure = 99,                 // the plugin ran out of memory while answering
};

// The four settings as the request carries them; an absent key reads as empty.
struct DhcpSettings {
  std::u16string subnetMask;  // DHCP_ZOR_PLUGIN_SUBNETMASK_PARAMETER
  std::u16string gateway;     // DHCP_ZOR_PLUGIN_GATEWAY_PARAMETER
  std::u16string duringTime;  // DHCP_ZOR_PLUGIN_DURING_TIME_PARAMETER
  std::u16string rangeIp;     // DHCP_ZOR_PLUGIN_RANGE_IP_PARAMETER
};

struct CheckResult {
  int code = kSettingsSound;
  // One sentence naming the setting and its value. It never holds "@", so never "@@@".
  std::u16string message;
};

// Checks the settings in the order SubNetMask, Gateway, DuringTime, RangeIp and reports the first
// fault found, or kSettingsSound with a summary of the accepted settings.
CheckResult CheckSettings(const DhcpSettings& settings);

// The settings a server is started with: the values CheckSettings accepted, as numbers.
struct ServeSettings {
  Ipv4 mask = 0;
  int prefix = 0;
  Ipv4 gateway = 0;
  Ipv4 first = 0;
  Ipv4 last = 0;
  std::uint64_t leaseSeconds = 0;

  Ipv4 Network() const { return gateway & mask; }
};

// The four settings as numbers, or nothing when CheckSettings would not accept them.
std::optional<ServeSettings> ToServeSettings(const DhcpSettings& settings);

}  // namespace dhcp_plugin
