// DHCP messages and the Ethernet, IPv4 and UDP frames that carry them, for the test clients:
// building a client's requests, and parsing what comes back from the link with every length
// checked, since any machine on it may send anything.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dhcp_wire {

using Mac = std::array<std::uint8_t, 6>;
// IPv4 addresses in host byte order.
using Ipv4 = std::uint32_t;
using Bytes = std::vector<std::uint8_t>;

inline constexpr Mac kBroadcastMac = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
inline constexpr Ipv4 kBroadcastIp = 0xffffffffU;
inline constexpr std::uint16_t kServerPort = 67;
inline constexpr std::uint16_t kClientPort = 68;
inline constexpr std::uint16_t kBroadcastFlag = 0x8000;
inline constexpr std::uint8_t kBootRequest = 1;
inline constexpr std::uint8_t kBootReply = 2;

enum class MessageType : std::uint8_t {
  kNone = 0,  // no option 53: a plain BOOTP message
  kDiscover = 1,
  kOffer = 2,
  kRequest = 3,
  kDecline = 4,
  kAck = 5,
  kNak = 6,
  kRelease = 7,
  kInform = 8,
};

// One DHCP message: the fixed fields and the options a client sends or reads. Options not listed
// here are skipped when parsing and never written.
struct Message {
  std::uint8_t op = kBootRequest;
  std::uint8_t hops = 0;
  std::uint32_t xid = 0;
  std::uint16_t secs = 0;
  std::uint16_t flags = 0;
  Ipv4 ciaddr = 0;
  Ipv4 yiaddr = 0;
  Ipv4 siaddr = 0;
  Ipv4 giaddr = 0;
  Mac chaddr{};
  MessageType type = MessageType::kNone;      // option 53
  std::optional<Ipv4> subnetMask;             // option 1
  std::optional<Ipv4> router;                 // option 3, the first address
  std::optional<Bytes> hostName;              // option 12, any bytes
  std::optional<Ipv4> requestedAddress;       // option 50
  std::optional<std::uint32_t> leaseSeconds;  // option 51
  std::optional<Ipv4> serverId;               // option 54
  std::optional<std::string> text;            // option 56, the server's reason for a NAK
  bool clientIdFromMac = false;               // option 61 as type 1 and chaddr
  bool operator==(const Message&) const = default;
};

// The DHCP payload of message: the fixed part, the magic cookie, the options in a fixed order
// (53, 61, 50, 54, 12, 51, 1, 3, 56, then a parameter request list when op is a request) and the
// end option, padded with zeros to at least 300 bytes as BOOTP relays expect. A host name longer
// than 255 bytes is cut to 255 (one option holds no more); an empty one is left out.
Bytes EncodeMessage(const Message& message);

// The message in payload, or nullopt when it is not a sound DHCP message for Ethernet: shorter
// than the fixed part and the cookie, a wrong cookie, a hardware type other than Ethernet with
// 6-byte addresses, an option that runs past the end, or an option this parser reads (1, 3, 50,
// 51, 53, 54) with a length it cannot have. The first copy of a repeated option counts. Option
// overload (52) is not followed: what it puts in the sname and file fields is not read.
std::optional<Message> ParseMessage(std::span<const std::uint8_t> payload);

// An Ethernet frame with an IPv4 header (no options, TTL 64, never fragmented) and a UDP header,
// both checksums set, around payload.
struct UdpEndpoints {
  Mac sourceMac{};
  Mac destinationMac{};
  Ipv4 sourceIp = 0;
  Ipv4 destinationIp = 0;
  std::uint16_t sourcePort = 0;
  std::uint16_t destinationPort = 0;
};
Bytes BuildUdpFrame(const UdpEndpoints& endpoints, std::span<const std::uint8_t> payload);

// The endpoints and payload of a UDP datagram in an Ethernet frame (no VLAN tag), or nullopt when
// the frame is not one: not IPv4, a header length or total length that does not fit the frame, a
// fragment, not UDP, or a UDP length that does not fit the IP packet. Checksums are not checked:
// a frame from a virtual link may carry a checksum the sender's kernel never filled in. payload
// points into frame.
struct UdpDatagram {
  UdpEndpoints endpoints;
  std::span<const std::uint8_t> payload;
};
std::optional<UdpDatagram> ParseUdpFrame(std::span<const std::uint8_t> frame);

// An ARP request for an IPv4 address on Ethernet, and the reply that says ownMac holds it.
struct ArpRequest {
  Mac senderMac{};
  Ipv4 senderIp = 0;
  Ipv4 targetIp = 0;
};
// The request in frame, or nullopt when it is anything else (an ARP reply included).
std::optional<ArpRequest> ParseArpRequest(std::span<const std::uint8_t> frame);
Bytes BuildArpReply(const Mac& ownMac, const ArpRequest& request);

// The ones' complement sum of data folded to 16 bits and complemented, as IPv4 and UDP use it;
// start is a partial sum carried in (the UDP pseudo-header).
std::uint16_t InternetChecksum(std::span<const std::uint8_t> data, std::uint32_t start = 0);

// "a.b.c.d" to an address, or nullopt when text is not exactly four decimal bytes.
std::optional<Ipv4> ParseIpv4(std::string_view text);
std::string FormatIpv4(Ipv4 address);
// "02:00:5e:00:00:01", lower case.
std::string FormatMac(const Mac& mac);

}  // namespace dhcp_wire
