// DHCP messages and their Ethernet, IPv4 and UDP frames: building and bounds-checked parsing.
#include "dhcp_wire.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace dhcp_wire {
namespace {

constexpr std::size_t kFixedSize = 236;
constexpr std::size_t kCookieSize = 4;
constexpr std::size_t kOptionsStart = kFixedSize + kCookieSize;
constexpr std::size_t kMinimumBootpSize = 300;
constexpr std::array<std::uint8_t, kCookieSize> kCookie = {99, 130, 83, 99};
constexpr std::uint8_t kHardwareEthernet = 1;
constexpr std::size_t kChaddrOffset = 28;
constexpr std::size_t kEthernetHeader = 14;
constexpr std::size_t kIpHeader = 20;
constexpr std::size_t kUdpHeader = 8;
constexpr std::size_t kArpBody = 28;
constexpr std::size_t kMinimumFrame = 60;
constexpr std::uint16_t kEtherTypeIpv4 = 0x0800;
constexpr std::uint16_t kEtherTypeArp = 0x0806;
constexpr std::uint8_t kProtocolUdp = 17;
constexpr std::size_t kMaxOptionLength = 255;

enum Option : std::uint8_t {
  kPad = 0,
  kSubnetMask = 1,
  kRouter = 3,
  kHostName = 12,
  kRequestedAddress = 50,
  kLeaseTime = 51,
  kMessageType = 53,
  kServerId = 54,
  kParameterRequestList = 55,
  kMessageText = 56,
  kClientId = 61,
  kEnd = 255,
};

void Put16(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

void Put32(Bytes& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    out.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

void PutMac(Bytes& out, const Mac& mac) {
  out.insert(out.end(), mac.begin(), mac.end());
}

std::uint16_t Get16(std::span<const std::uint8_t> data, std::size_t at) {
  return static_cast<std::uint16_t>((data[at] << 8) | data[at + 1]);
}

std::uint32_t Get32(std::span<const std::uint8_t> data, std::size_t at) {
  return (static_cast<std::uint32_t>(data[at]) << 24) |
         (static_cast<std::uint32_t>(data[at + 1]) << 16) |
         (static_cast<std::uint32_t>(data[at + 2]) << 8) | data[at + 3];
}

Mac GetMac(std::span<const std::uint8_t> data, std::size_t at) {
  Mac mac{};
  std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(at), mac.size(), mac.begin());
  return mac;
}

void PutOption(Bytes& out, std::uint8_t code, std::span<const std::uint8_t> data) {
  out.push_back(code);
  out.push_back(static_cast<std::uint8_t>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
}

void PutAddressOption(Bytes& out, std::uint8_t code, const std::optional<Ipv4>& value) {
  if (value) {
    out.push_back(code);
    out.push_back(4);
    Put32(out, *value);
  }
}

void PutEthernetHeader(Bytes& out, const Mac& destination, const Mac& source,
                       std::uint16_t etherType) {
  PutMac(out, destination);
  PutMac(out, source);
  Put16(out, etherType);
}

// Reads the options of a message into message; false when they are malformed.
bool ParseOptions(std::span<const std::uint8_t> options, Message& message) {
  std::array<bool, 256> seen{};
  std::size_t at = 0;
  while (at < options.size()) {
    const std::uint8_t code = options[at];
    if (code == kPad) {
      ++at;
      continue;
    }
    if (code == kEnd) {
      return true;
    }
    if (at + 2 > options.size()) {
      return false;
    }
    const std::size_t length = options[at + 1];
    if (at + 2 + length > options.size()) {
      return false;
    }
    const auto data = options.subspan(at + 2, length);
    at += 2 + length;
    if (seen[code]) {
      continue;
    }
    seen[code] = true;
    switch (code) {
      case kMessageType:
        if (length != 1 || data[0] < static_cast<std::uint8_t>(MessageType::kDiscover) ||
            data[0] > static_cast<std::uint8_t>(MessageType::kInform)) {
          return false;
        }
        message.type = static_cast<MessageType>(data[0]);
        break;
      case kSubnetMask:
      case kRequestedAddress:
      case kLeaseTime:
      case kServerId: {
        if (length != 4) {
          return false;
        }
        const std::uint32_t value = Get32(data, 0);
        if (code == kSubnetMask) {
          message.subnetMask = value;
        } else if (code == kRequestedAddress) {
          message.requestedAddress = value;
        } else if (code == kLeaseTime) {
          message.leaseSeconds = value;
        } else {
          message.serverId = value;
        }
        break;
      }
      case kRouter:
        if (length == 0 || length % 4 != 0) {
          return false;
        }
        message.router = Get32(data, 0);
        break;
      case kHostName:
        message.hostName = Bytes(data.begin(), data.end());
        break;
      case kMessageText:
        message.text = std::string(data.begin(), data.end());
        break;
      case kClientId:
        message.clientIdFromMac =
            length == 1 + message.chaddr.size() && data[0] == kHardwareEthernet &&
            std::equal(message.chaddr.begin(), message.chaddr.end(), data.begin() + 1);
        break;
      default:
        break;
    }
  }
  // No end option: what was read stands, as long as every option fitted.
  return true;
}

}  // namespace

Bytes EncodeMessage(const Message& message) {
  Bytes out;
  out.reserve(kMinimumBootpSize + 64);
  out.push_back(message.op);
  out.push_back(kHardwareEthernet);
  out.push_back(static_cast<std::uint8_t>(message.chaddr.size()));
  out.push_back(message.hops);
  Put32(out, message.xid);
  Put16(out, message.secs);
  Put16(out, message.flags);
  for (const Ipv4 address : {message.ciaddr, message.yiaddr, message.siaddr, message.giaddr}) {
    Put32(out, address);
  }
  PutMac(out, message.chaddr);
  out.resize(kFixedSize, 0);  // the rest of chaddr, sname and file
  out.insert(out.end(), kCookie.begin(), kCookie.end());

  if (message.type != MessageType::kNone) {
    const std::array<std::uint8_t, 1> type = {static_cast<std::uint8_t>(message.type)};
    PutOption(out, kMessageType, type);
  }
  if (message.clientIdFromMac) {
    std::array<std::uint8_t, 7> id{kHardwareEthernet};
    std::copy(message.chaddr.begin(), message.chaddr.end(), id.begin() + 1);
    PutOption(out, kClientId, id);
  }
  PutAddressOption(out, kRequestedAddress, message.requestedAddress);
  PutAddressOption(out, kServerId, message.serverId);
  if (message.hostName && !message.hostName->empty()) {
    const auto& name = *message.hostName;
    PutOption(out, kHostName, std::span(name.data(), std::min(name.size(), kMaxOptionLength)));
  }
  PutAddressOption(out, kLeaseTime, message.leaseSeconds);
  PutAddressOption(out, kSubnetMask, message.subnetMask);
  PutAddressOption(out, kRouter, message.router);
  if (message.text) {
    const std::string& text = *message.text;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    PutOption(out, kMessageText, std::span(bytes, std::min(text.size(), kMaxOptionLength)));
  }
  if (message.op == kBootRequest) {
    constexpr std::array<std::uint8_t, 4> wanted = {kSubnetMask, kRouter, kLeaseTime, kServerId};
    PutOption(out, kParameterRequestList, wanted);
  }
  out.push_back(kEnd);
  if (out.size() < kMinimumBootpSize) {
    out.resize(kMinimumBootpSize, 0);
  }
  return out;
}

std::optional<Message> ParseMessage(std::span<const std::uint8_t> payload) {
  if (payload.size() < kOptionsStart || payload[1] != kHardwareEthernet ||
      payload[2] != Mac{}.size() ||
      !std::equal(kCookie.begin(), kCookie.end(), payload.begin() + kFixedSize)) {
    return std::nullopt;
  }
  Message message;
  message.op = payload[0];
  message.hops = payload[3];
  message.xid = Get32(payload, 4);
  message.secs = Get16(payload, 8);
  message.flags = Get16(payload, 10);
  message.ciaddr = Get32(payload, 12);
  message.yiaddr = Get32(payload, 16);
  message.siaddr = Get32(payload, 20);
  message.giaddr = Get32(payload, 24);
  message.chaddr = GetMac(payload, kChaddrOffset);
  if (!ParseOptions(payload.subspan(kOptionsStart), message)) {
    return std::nullopt;
  }
  return message;
}

std::uint16_t InternetChecksum(std::span<const std::uint8_t> data, std::uint32_t start) {
  std::uint64_t sum = start;
  std::size_t at = 0;
  for (; at + 1 < data.size(); at += 2) {
    sum += Get16(data, at);
  }
  if (at < data.size()) {
    sum += static_cast<std::uint32_t>(data[at]) << 8;
  }
  while ((sum >> 16) != 0) {
    sum = (sum & 0xffffU) + (sum >> 16);
  }
  return static_cast<std::uint16_t>(~sum);
}

Bytes BuildUdpFrame(const UdpEndpoints& endpoints, std::span<const std::uint8_t> payload) {
  const std::size_t udpLength = kUdpHeader + payload.size();
  const std::size_t ipLength = kIpHeader + udpLength;
  Bytes out;
  out.reserve(kEthernetHeader + ipLength);
  PutEthernetHeader(out, endpoints.destinationMac, endpoints.sourceMac, kEtherTypeIpv4);
  const std::size_t ip = out.size();
  out.push_back(0x45);  // version 4, five 32-bit words of header
  out.push_back(0);
  Put16(out, static_cast<std::uint16_t>(ipLength));
  Put32(out, 0);  // identification, flags, fragment offset
  out.push_back(64);
  out.push_back(kProtocolUdp);
  Put16(out, 0);
  Put32(out, endpoints.sourceIp);
  Put32(out, endpoints.destinationIp);
  const std::uint16_t ipChecksum = InternetChecksum(std::span(out).subspan(ip, kIpHeader));
  out[ip + 10] = static_cast<std::uint8_t>(ipChecksum >> 8);
  out[ip + 11] = static_cast<std::uint8_t>(ipChecksum);

  const std::size_t udp = out.size();
  Put16(out, endpoints.sourcePort);
  Put16(out, endpoints.destinationPort);
  Put16(out, static_cast<std::uint16_t>(udpLength));
  Put16(out, 0);
  out.insert(out.end(), payload.begin(), payload.end());
  const std::uint32_t pseudoHeader = (endpoints.sourceIp >> 16) + (endpoints.sourceIp & 0xffffU) +
                                     (endpoints.destinationIp >> 16) +
                                     (endpoints.destinationIp & 0xffffU) + kProtocolUdp +
                                     static_cast<std::uint32_t>(udpLength);
  std::uint16_t udpChecksum = InternetChecksum(std::span(out).subspan(udp), pseudoHeader);
  if (udpChecksum == 0) {
    udpChecksum = 0xffff;  // zero would mean "no checksum"
  }
  out[udp + 6] = static_cast<std::uint8_t>(udpChecksum >> 8);
  out[udp + 7] = static_cast<std::uint8_t>(udpChecksum);
  return out;
}

std::optional<UdpDatagram> ParseUdpFrame(std::span<const std::uint8_t> frame) {
  if (frame.size() < kEthernetHeader + kIpHeader + kUdpHeader ||
      Get16(frame, 12) != kEtherTypeIpv4) {
    return std::nullopt;
  }
  const auto ip = frame.subspan(kEthernetHeader);
  const std::size_t headerLength = static_cast<std::size_t>(ip[0] & 0x0fU) * 4;
  const std::size_t totalLength = Get16(ip, 2);
  constexpr std::uint16_t kMoreFragmentsAndOffset = 0x3fff;
  if ((ip[0] >> 4) != 4 || headerLength < kIpHeader || totalLength < headerLength + kUdpHeader ||
      totalLength > ip.size() || (Get16(ip, 6) & kMoreFragmentsAndOffset) != 0 ||
      ip[9] != kProtocolUdp) {
    return std::nullopt;
  }
  const auto udp = ip.subspan(headerLength, totalLength - headerLength);
  const std::size_t udpLength = Get16(udp, 4);
  if (udpLength < kUdpHeader || udpLength > udp.size()) {
    return std::nullopt;
  }
  UdpDatagram datagram;
  datagram.endpoints.destinationMac = GetMac(frame, 0);
  datagram.endpoints.sourceMac = GetMac(frame, 6);
  datagram.endpoints.sourceIp = Get32(ip, 12);
  datagram.endpoints.destinationIp = Get32(ip, 16);
  datagram.endpoints.sourcePort = Get16(udp, 0);
  datagram.endpoints.destinationPort = Get16(udp, 2);
  datagram.payload = udp.subspan(kUdpHeader, udpLength - kUdpHeader);
  return datagram;
}

std::optional<ArpRequest> ParseArpRequest(std::span<const std::uint8_t> frame) {
  if (frame.size() < kEthernetHeader + kArpBody || Get16(frame, 12) != kEtherTypeArp) {
    return std::nullopt;
  }
  const auto arp = frame.subspan(kEthernetHeader);
  constexpr std::uint16_t kOpRequest = 1;
  if (Get16(arp, 0) != kHardwareEthernet || Get16(arp, 2) != kEtherTypeIpv4 || arp[4] != 6 ||
      arp[5] != 4 || Get16(arp, 6) != kOpRequest) {
    return std::nullopt;
  }
  return ArpRequest{GetMac(arp, 8), Get32(arp, 14), Get32(arp, 24)};
}

Bytes BuildArpReply(const Mac& ownMac, const ArpRequest& request) {
  Bytes out;
  out.reserve(kMinimumFrame);
  PutEthernetHeader(out, request.senderMac, ownMac, kEtherTypeArp);
  Put16(out, kHardwareEthernet);
  Put16(out, kEtherTypeIpv4);
  out.push_back(6);
  out.push_back(4);
  Put16(out, 2);  // reply
  PutMac(out, ownMac);
  Put32(out, request.targetIp);
  PutMac(out, request.senderMac);
  Put32(out, request.senderIp);
  out.resize(kMinimumFrame, 0);
  return out;
}

std::optional<Ipv4> ParseIpv4(std::string_view text) {
  Ipv4 address = 0;
  const char* at = text.data();
  const char* const end = text.data() + text.size();
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (at == end || *at != '.') {
        return std::nullopt;
      }
      ++at;
    }
    unsigned value = 0;
    const auto [next, error] = std::from_chars(at, end, value);
    if (error != std::errc() || next == at || next - at > 3 || value > 255) {
      return std::nullopt;
    }
    address = (address << 8) | value;
    at = next;
  }
  if (at != end) {
    return std::nullopt;
  }
  return address;
}

std::string FormatIpv4(Ipv4 address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xffU) + "." +
         std::to_string((address >> 8) & 0xffU) + "." + std::to_string(address & 0xffU);
}

std::string FormatMac(const Mac& mac) {
  std::array<char, 18> text{};
  std::snprintf(text.data(), text.size(), "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                mac[3], mac[4], mac[5]);
  return text.data();
}

}  // namespace dhcp_wire
