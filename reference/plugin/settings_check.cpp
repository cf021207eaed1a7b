// Checks of the four DHCP server settings the reference plugin receives.
#include "settings_check.h"

#include <cstddef>
#include <utility>

#include "platform/text.h"

namespace dhcp_plugin {

namespace {

constexpr std::size_t kMaxQuotedUnits = 64;
constexpr int kMinPrefix = 1;
constexpr int kMaxPrefix = 30;

bool IsDigit(char16_t c) {
  return c >= u'0' && c <= u'9';
}
using platform::IsHighSurrogate;
using platform::IsLowSurrogate;
// C0 and C1 controls, DEL and the line and paragraph separators: anything that could break a line.
bool IsControlOrLineBreak(char16_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

// The subnet an address lies in under a mask, with the two addresses no host may take.
struct Subnet {
  Ipv4 network = 0;
  Ipv4 broadcast = 0;
  int prefix = 0;

  Subnet(Ipv4 address, Ipv4 mask, int prefixLength)
      : network(address & mask), broadcast(address | ~mask), prefix(prefixLength) {}

  bool Holds(Ipv4 address) const { return address >= network && address <= broadcast; }
  std::u16string Name() const { return FormatDottedQuad(network) + u"/" + DecimalText(prefix); }
  std::u16string HostSpan() const {
    return FormatDottedQuad(network + 1) + u" to " + FormatDottedQuad(broadcast - 1);
  }
};

std::u16string Quoted(std::u16string_view value) {
  return u"\"" + QuoteForMessage(value) + u"\"";
}

CheckResult Fault(int code, std::u16string message) {
  return {code, std::move(message)};
}

Ipv4 LastOf(const SpecialPurposeBlock& block) {
  return block.network | (0xFFFFFFFFU >> static_cast<unsigned>(block.prefix));
}

constexpr SpecialPurposeBlock kSpecialPurposeBlocks[] = {
    {0x00000000, 8, u"\"this network\""}, {0x7F000000, 8, u"loopback"},
    {0xA9FE0000, 16, u"link-local"},      {0xE0000000, 4, u"multicast"},
    {0xF0000000, 4, u"reserved"},  // holds the limited broadcast address 255.255.255.255
};

}  // namespace

std::u16string DecimalText(std::uint64_t number) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + number % 10));
    number /= 10;
  } while (number != 0);
  return digits;
}

std::optional<Ipv4> ParseDottedQuad(std::u16string_view text) {
  Ipv4 address = 0;
  std::size_t i = 0;
  for (int octet = 0; octet < 4; ++octet) {
    if (octet > 0) {
      if (i >= text.size() || text[i] != u'.') {
        return std::nullopt;
      }
      ++i;
    }
    const std::size_t start = i;
    unsigned value = 0;
    while (i < text.size() && IsDigit(text[i]) && i - start < 3) {
      value = value * 10 + static_cast<unsigned>(text[i] - u'0');
      ++i;
    }
    const std::size_t length = i - start;
    if (length == 0 || value > 255 || (length > 1 && text[start] == u'0')) {
      return std::nullopt;
    }
    address = (address << 8U) | value;
  }
  if (i != text.size()) {
    return std::nullopt;
  }
  return address;
}

std::u16string FormatDottedQuad(Ipv4 address) {
  std::u16string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    if (!text.empty()) {
      text += u'.';
    }
    text += DecimalText((address >> static_cast<unsigned>(shift)) & 0xFFU);
  }
  return text;
}

std::optional<int> MaskPrefixLength(Ipv4 mask) {
  // A contiguous mask inverted is 2^k - 1; adding one then leaves a single bit (or none).
  const Ipv4 hostBits = ~mask;
  if ((hostBits & (hostBits + 1)) != 0) {
    return std::nullopt;
  }
  int prefix = 0;
  for (Ipv4 bits = mask; bits != 0; bits <<= 1U) {
    ++prefix;
  }
  return prefix;
}

std::optional<Ipv4Range> ParseRange(std::u16string_view text) {
  const std::size_t dash = text.find(u'-');
  if (dash == std::u16string_view::npos) {
    return std::nullopt;
  }
  const auto first = ParseDottedQuad(text.substr(0, dash));
  const auto last = ParseDottedQuad(text.substr(dash + 1));
  if (!first || !last) {
    return std::nullopt;
  }
  return Ipv4Range{*first, *last};
}

std::optional<std::uint64_t> ParseLeaseSeconds(std::u16string_view text) {
  if (text.empty()) {
    return std::nullopt;
  }
  std::uint64_t seconds = 0;
  for (const char16_t c : text) {
    if (!IsDigit(c)) {
      return std::nullopt;
    }
    seconds = seconds * 10 + static_cast<std::uint64_t>(c - u'0');
    if (seconds > kMaxLeaseSeconds) {
      seconds = kMaxLeaseSeconds + 1;
    }
  }
  return seconds;
}

std::optional<SpecialPurposeBlock> SpecialPurposeBlockOf(Ipv4 first, Ipv4 last) {
  for (const SpecialPurposeBlock& block : kSpecialPurposeBlocks) {
    if (first <= LastOf(block) && block.network <= last) {
      return block;
    }
  }
  return std::nullopt;
}

std::u16string QuoteForMessage(std::u16string_view value) {
  std::u16string quoted;
  std::size_t i = 0;
  for (; i < value.size() && quoted.size() < kMaxQuotedUnits; ++i) {
    const char16_t c = value[i];
    if (IsHighSurrogate(c) && i + 1 < value.size() && IsLowSurrogate(value[i + 1])) {
      if (quoted.size() + 2 > kMaxQuotedUnits) {
        break;
      }
      quoted += c;
      quoted += value[++i];
    } else if (c == u'@' || IsControlOrLineBreak(c) || IsHighSurrogate(c) || IsLowSurrogate(c)) {
      quoted += u'?';
    } else {
      quoted += c;
    }
  }
  if (i < value.size()) {
    quoted += u"...";
  }
  return quoted;
}

CheckResult CheckSettings(const DhcpSettings& settings) {
  const std::u16string& maskText = settings.subnetMask;
  if (maskText.empty()) {
    return Fault(kSubnetMaskMissing,
                 u"SubNetMask is missing or empty; set it to a netmask such as 255.255.255.0.");
  }
  const auto mask = ParseDottedQuad(maskText);
  if (!mask) {
    return Fault(kSubnetMaskMalformed,
                 u"SubNetMask " + Quoted(maskText) +
                     u" is not a dotted quad; write four numbers 0-255 joined by dots, such as "
                     u"255.255.255.0.");
  }
  const auto prefix = MaskPrefixLength(*mask);
  if (!prefix) {
    return Fault(kSubnetMaskNotContiguous,
                 u"SubNetMask " + Quoted(maskText) +
                     u" is not a contiguous netmask; its one bits must all come first, as in "
                     u"255.255.255.0.");
  }
  if (*prefix < kMinPrefix || *prefix > kMaxPrefix) {
    return Fault(kSubnetMaskUnusable,
                 u"SubNetMask " + Quoted(maskText) +
                     u" leaves no room for a gateway and an address range; use a netmask from "
                     u"128.0.0.0 to 255.255.255.252.");
  }

  const std::u16string& gatewayText = settings.gateway;
  if (gatewayText.empty()) {
    return Fault(kGatewayMissing,
                 u"Gateway is missing or empty; set it to the router's address in the subnet, "
                 u"such as 192.168.1.1.");
  }
  const auto gateway = ParseDottedQuad(gatewayText);
  if (!gateway) {
    return Fault(kGatewayMalformed,
                 u"Gateway " + Quoted(gatewayText) +
                     u" is not a dotted quad; write four numbers 0-255 joined by dots, such as "
                     u"192.168.1.1.");
  }
  const Subnet subnet(*gateway, *mask, *prefix);
  if (*gateway == subnet.network || *gateway == subnet.broadcast) {
    return Fault(kGatewayNotHost, u"Gateway " + Quoted(gatewayText) + u" is the " +
                                      (*gateway == subnet.network ? u"network" : u"broadcast") +
                                      u" address of subnet " + subnet.Name() +
                                      u"; use a host address from " + subnet.HostSpan() + u".");
  }

  // The range lies within the subnet (checked below), so a subnet clear of every special-purpose
  // block leaves the range clear too.
  // The gateway's own block comes first, for it makes the plainer message.
  const auto gatewayBlock = SpecialPurposeBlockOf(*gateway, *gateway);
  const bool gatewayInside = gatewayBlock.has_value();
  if (const auto block =
          gatewayInside ? gatewayBlock : SpecialPurposeBlockOf(subnet.network, subnet.broadcast)) {
    const std::u16string blockName = std::u16string(block->name) + u" block " +
                                     FormatDottedQuad(block->network) + u"/" +
                                     DecimalText(static_cast<std::uint64_t>(block->prefix));
    return Fault(kGatewaySpecialPurpose,
                 u"Gateway " + Quoted(gatewayText) +
                     (gatewayInside ? u" lies in the " + blockName
                                    : u" with SubNetMask " + Quoted(maskText) + u" makes subnet " +
                                          subnet.Name() + u", which overlaps the " + blockName) +
                     u", whose addresses no DHCP server can lease; use a subnet outside it, such "
                     u"as a private one like 192.168.1.0/24.");
  }

  const std::u16string& leaseText = settings.duringTime;
  if (leaseText.empty()) {
    return Fault(kDuringTimeMissing,
                 u"DuringTime is missing or empty; set it to the lease time in seconds, such as "
                 u"86400.");
  }
  const auto lease = ParseLeaseSeconds(leaseText);
  if (!lease) {
    return Fault(kDuringTimeMalformed,
                 u"DuringTime " + Quoted(leaseText) +
                     u" is not a whole number of seconds; write digits only, such as 86400.");
  }
  if (*lease == 0 || *lease > kMaxLeaseSeconds) {
    return Fault(kDuringTimeOutOfRange, u"DuringTime " + Quoted(leaseText) +
                                            u" is out of range; the lease time must be 1 to " +
                                            DecimalText(kMaxLeaseSeconds) + u" seconds.");
  }

  const std::u16string& rangeText = settings.rangeIp;
  if (rangeText.empty()) {
    return Fault(kRangeIpMissing,
                 u"RangeIp is missing or empty; set it to the addresses to lease as first-last, "
                 u"such as 192.168.1.100-192.168.1.200.");
  }
  const auto range = ParseRange(rangeText);
  if (!range) {
    return Fault(kRangeIpMalformed,
                 u"RangeIp " + Quoted(rangeText) +
                     u" is not written first-last; join two dotted quads with one \"-\", such as "
                     u"192.168.1.100-192.168.1.200.");
  }
  for (const bool atFirst : {true, false}) {
    const Ipv4 end = atFirst ? range->first : range->last;
    if (!subnet.Holds(end)) {
      return Fault(kRangeIpOutsideSubnet,
                   u"RangeIp " + Quoted(rangeText) + (atFirst ? u" starts" : u" ends") + u" at " +
                       FormatDottedQuad(end) + u", outside subnet " + subnet.Name() +
                       u" of Gateway " + FormatDottedQuad(*gateway) +
                       u"; both ends must lie from " + subnet.HostSpan() + u".");
    }
  }
  if (range->first > range->last) {
    return Fault(kRangeIpReversed, u"RangeIp " + Quoted(rangeText) +
                                       u" is reversed: its first address comes after its last; "
                                       u"write the lower address first.");
  }
  if (*gateway >= range->first && *gateway <= range->last) {
    return Fault(kRangeIpHoldsGateway, u"RangeIp " + Quoted(rangeText) + u" holds Gateway " +
                                           FormatDottedQuad(*gateway) +
                                           u"; choose a range that leaves the gateway out.");
  }
  if (range->first == subnet.network || range->last == subnet.broadcast) {
    return Fault(kRangeIpHoldsNetworkOrBroadcast,
                 u"RangeIp " + Quoted(rangeText) + u" includes the " +
                     (range->first == subnet.network
                          ? u"network address " + FormatDottedQuad(subnet.network)
                          : u"broadcast address " + FormatDottedQuad(subnet.broadcast)) +
                     u" of subnet " + subnet.Name() + u"; keep the range within " +
                     subnet.HostSpan() + u".");
  }

  const std::uint64_t count = static_cast<std::uint64_t>(range->last) - range->first + 1;
  return {kSettingsSound, u"Settings accepted: subnet " + subnet.Name() + u", gateway " +
                              FormatDottedQuad(*gateway) + u", range " +
                              FormatDottedQuad(range->first) + u"-" +
                              FormatDottedQuad(range->last) + u" (" + DecimalText(count) +
                              (count == 1 ? u" address" : u" addresses") + u"), lease " +
                              DecimalText(*lease) + u" seconds."};
}

std::u16string WidenText(std::string_view text) {
  std::u16string wide;
  if (platform::Utf8ToUtf16(text, wide)) {
    return wide;
  }
  wide.clear();
  for (const char c : text) {
    wide += static_cast<unsigned char>(c) < 0x80 ? static_cast<char16_t>(c) : u'?';
  }
  return wide;
}

std::optional<ServeSettings> ToServeSettings(const DhcpSettings& settings) {
  if (CheckSettings(settings).code != kSettingsSound) {
    return std::nullopt;
  }
  ServeSettings serve;
  serve.mask = *ParseDottedQuad(settings.subnetMask);
  serve.prefix = *MaskPrefixLength(serve.mask);
  serve.gateway = *ParseDottedQuad(settings.gateway);
  const Ipv4Range range = *ParseRange(settings.rangeIp);
  serve.first = range.first;
  serve.last = range.last;
  serve.leaseSeconds = *ParseLeaseSeconds(settings.duringTime);
  return serve;
}

}  // namespace dhcp_plugin
