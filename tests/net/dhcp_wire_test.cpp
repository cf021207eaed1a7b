// Tests of the test clients' DHCP wire format: what they send reads back the same, and what a
// peer sends is parsed only as far as its lengths hold.
#include "dhcp_wire.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using dhcp_wire::Bytes;
using dhcp_wire::Message;
using dhcp_wire::MessageType;

constexpr dhcp_wire::Mac kClientMac = {0x02, 0xdc, 0x00, 0x00, 0x01, 0x2c};
constexpr dhcp_wire::Mac kServerMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr std::size_t kOptionsStart = 240;

dhcp_wire::Ipv4 Ip(const char* text) {
  return dhcp_wire::ParseIpv4(text).value();
}

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

Message Offer() {
  Message offer;
  offer.op = dhcp_wire::kBootReply;
  offer.xid = 0x12345678;
  offer.flags = dhcp_wire::kBroadcastFlag;
  offer.yiaddr = Ip("198.51.100.120");
  offer.siaddr = Ip("198.51.100.1");
  offer.chaddr = kClientMac;
  offer.type = MessageType::kOffer;
  offer.serverId = Ip("198.51.100.1");
  offer.leaseSeconds = 600;
  offer.subnetMask = Ip("255.255.255.0");
  offer.router = Ip("198.51.100.1");
  return offer;
}

dhcp_wire::UdpEndpoints ServerToClient() {
  return {kServerMac,
          dhcp_wire::kBroadcastMac,
          Ip("198.51.100.1"),
          dhcp_wire::kBroadcastIp,
          dhcp_wire::kServerPort,
          dhcp_wire::kClientPort};
}

// A reply's fixed part and cookie followed by the given option bytes.
Bytes WithOptions(const Bytes& options) {
  Bytes payload = dhcp_wire::EncodeMessage(Offer());
  payload.resize(kOptionsStart);
  payload.insert(payload.end(), options.begin(), options.end());
  return payload;
}

TEST(DhcpWire, MessagesAndFramesReadBackAsBuilt) {
  Message discover;
  discover.xid = 0xdeadbeef;
  discover.flags = dhcp_wire::kBroadcastFlag;
  discover.chaddr = kClientMac;
  discover.type = MessageType::kDiscover;
  discover.clientIdFromMac = true;
  discover.hostName = Bytes{'a', ',', '\n', 0, 0xff, 'b'};

  Message selecting = discover;
  selecting.type = MessageType::kRequest;
  selecting.secs = 3;
  selecting.requestedAddress = Ip("10.20.3.4");
  selecting.serverId = Ip("10.20.0.1");
  selecting.hostName = Text("host-7");

  Message renewing;
  renewing.xid = 1;
  renewing.chaddr = kClientMac;
  renewing.type = MessageType::kRequest;
  renewing.ciaddr = Ip("198.51.100.120");

  Message relayed = selecting;
  relayed.hops = 1;
  relayed.giaddr = Ip("203.0.113.1");

  Message nak = Offer();
  nak.type = MessageType::kNak;
  nak.yiaddr = 0;
  nak.leaseSeconds.reset();
  nak.text = "wrong network";

  Message longName = discover;
  longName.hostName = Bytes(300, 'x');
  Message longNameRead = longName;
  longNameRead.hostName = Bytes(255, 'x');

  Message emptyName = discover;
  emptyName.hostName = Bytes{};
  Message emptyNameRead = discover;
  emptyNameRead.hostName.reset();

  struct Case {
    const char* name;
    Message message;
    Message expected;
    dhcp_wire::UdpEndpoints endpoints;
  };
  const dhcp_wire::UdpEndpoints fromClient{kClientMac,
                                           dhcp_wire::kBroadcastMac,
                                           0,
                                           dhcp_wire::kBroadcastIp,
                                           dhcp_wire::kClientPort,
                                           dhcp_wire::kServerPort};
  dhcp_wire::UdpEndpoints unicast = fromClient;
  unicast.sourceIp = Ip("198.51.100.120");
  unicast.destinationIp = Ip("198.51.100.1");
  const std::vector<Case> cases = {
      {"discover with a hostile host name", discover, discover, fromClient},
      {"request after an offer", selecting, selecting, fromClient},
      {"renewing", renewing, renewing, unicast},
      {"relayed", relayed, relayed, fromClient},
      {"offer", Offer(), Offer(), ServerToClient()},
      {"nak with its reason", nak, nak, ServerToClient()},
      {"host name cut to one option", longName, longNameRead, fromClient},
      {"empty host name left out", emptyName, emptyNameRead, fromClient},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes payload = dhcp_wire::EncodeMessage(c.message);
    EXPECT_GE(payload.size(), 300U);
    EXPECT_EQ(dhcp_wire::ParseMessage(payload), c.expected);

    const Bytes frame = dhcp_wire::BuildUdpFrame(c.endpoints, payload);
    const auto datagram = dhcp_wire::ParseUdpFrame(frame);
    ASSERT_TRUE(datagram.has_value());
    EXPECT_EQ(datagram->endpoints.sourceMac, c.endpoints.sourceMac);
    EXPECT_EQ(datagram->endpoints.destinationMac, c.endpoints.destinationMac);
    EXPECT_EQ(datagram->endpoints.sourceIp, c.endpoints.sourceIp);
    EXPECT_EQ(datagram->endpoints.destinationIp, c.endpoints.destinationIp);
    EXPECT_EQ(datagram->endpoints.sourcePort, c.endpoints.sourcePort);
    EXPECT_EQ(datagram->endpoints.destinationPort, c.endpoints.destinationPort);
    EXPECT_EQ(Bytes(datagram->payload.begin(), datagram->payload.end()), payload);
    // Both checksums verify: the IP header sums to zero, and so does the UDP datagram with its
    // pseudo-header (addresses, protocol 17, UDP length).
    const std::span<const std::uint8_t> all(frame);
    EXPECT_EQ(dhcp_wire::InternetChecksum(all.subspan(14, 20)), 0);
    const std::uint32_t pseudo = (c.endpoints.sourceIp >> 16) + (c.endpoints.sourceIp & 0xffff) +
                                 (c.endpoints.destinationIp >> 16) +
                                 (c.endpoints.destinationIp & 0xffff) + 17 +
                                 static_cast<std::uint32_t>(frame.size() - 34);
    EXPECT_EQ(dhcp_wire::InternetChecksum(all.subspan(34), pseudo), 0);
  }
}

TEST(DhcpWire, ChecksumMatchesAKnownHeader) {
  // A published IPv4 header whose checksum field holds 0xb861.
  Bytes header = {0x45, 0x00, 0x00, 0x73, 0x00, 0x00, 0x40, 0x00, 0x40, 0x11,
                  0xb8, 0x61, 0xc0, 0xa8, 0x00, 0x01, 0xc0, 0xa8, 0x00, 0xc7};
  EXPECT_EQ(dhcp_wire::InternetChecksum(header), 0);
  header[10] = 0;
  header[11] = 0;
  EXPECT_EQ(dhcp_wire::InternetChecksum(header), 0xb861);
  const Bytes odd = {0x01, 0x02, 0x03};  // the last byte counts as 0x0300
  EXPECT_EQ(dhcp_wire::InternetChecksum(odd), static_cast<std::uint16_t>(~(0x0102 + 0x0300)));
}

TEST(DhcpWire, FramesAreReadOnlyWithinTheirLengths) {
  const Bytes payload = dhcp_wire::EncodeMessage(Offer());
  const Bytes sound = dhcp_wire::BuildUdpFrame(ServerToClient(), payload);
  struct Case {
    const char* name;
    std::function<void(Bytes&)> change;
    bool accepted;
  };
  const auto set16 = [](Bytes& frame, std::size_t at, std::uint16_t value) {
    frame[at] = static_cast<std::uint8_t>(value >> 8);
    frame[at + 1] = static_cast<std::uint8_t>(value);
  };
  const std::vector<Case> cases = {
      {"sound", [](Bytes&) {}, true},
      {"Ethernet padding after the packet", [](Bytes& f) { f.resize(f.size() + 20, 0); }, true},
      {"shorter than the headers", [](Bytes& f) { f.resize(41); }, false},
      {"not IPv4", [&](Bytes& f) { set16(f, 12, 0x86dd); }, false},
      {"IP version 6", [](Bytes& f) { f[14] = 0x65; }, false},
      {"IP header shorter than 20", [](Bytes& f) { f[14] = 0x44; }, false},
      {"IP header leaving no room for UDP",
       [&](Bytes& f) {
         f[14] = 0x4f;
         set16(f, 16, 64);
       },
       false},
      {"total length past the frame",
       [&](Bytes& f) { set16(f, 16, static_cast<std::uint16_t>(f.size() - 13)); }, false},
      {"total length below the UDP header", [&](Bytes& f) { set16(f, 16, 27); }, false},
      {"first fragment", [&](Bytes& f) { set16(f, 20, 0x2000); }, false},
      {"later fragment", [&](Bytes& f) { set16(f, 20, 0x0010); }, false},
      {"don't-fragment alone", [&](Bytes& f) { set16(f, 20, 0x4000); }, true},
      {"TCP", [](Bytes& f) { f[23] = 6; }, false},
      {"UDP length below its header", [&](Bytes& f) { set16(f, 38, 7); }, false},
      {"UDP length past the IP packet",
       [&](Bytes& f) { set16(f, 38, static_cast<std::uint16_t>(f.size() - 33)); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes frame = sound;
    c.change(frame);
    const auto datagram = dhcp_wire::ParseUdpFrame(frame);
    ASSERT_EQ(datagram.has_value(), c.accepted);
    if (c.accepted) {
      EXPECT_EQ(datagram->payload.size(), payload.size());
    }
  }
  // Every cut of a sound frame: accepted only while the whole IP packet is there.
  for (std::size_t size = 0; size <= sound.size(); ++size) {
    const Bytes cut(sound.begin(), sound.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_EQ(dhcp_wire::ParseUdpFrame(cut).has_value(), size == sound.size()) << size;
  }
}

TEST(DhcpWire, MessagesAreReadOnlyWithinTheirOptions) {
  struct Case {
    const char* name;
    Bytes payload;
    bool accepted;
    MessageType type;
    std::optional<dhcp_wire::Ipv4> serverId;
  };
  const auto readAs = [](const char* name, Bytes payload, MessageType type,
                         std::optional<dhcp_wire::Ipv4> serverId = std::nullopt) {
    return Case{name, std::move(payload), true, type, serverId};
  };
  const auto refused = [](const char* name, Bytes payload) {
    return Case{name, std::move(payload), false, MessageType::kNone, std::nullopt};
  };
  Bytes wrongCookie = WithOptions({53, 1, 2, 255});
  wrongCookie[236] = 0;
  Bytes longHardware = WithOptions({53, 1, 2, 255});
  longHardware[2] = 16;
  Bytes tokenRing = WithOptions({53, 1, 2, 255});
  tokenRing[1] = 6;
  Bytes cutCookie = WithOptions({});
  cutCookie.pop_back();
  const std::vector<Case> cases = {
      readAs("offer", WithOptions({53, 1, 2, 54, 4, 1, 2, 3, 4, 255}), MessageType::kOffer,
             0x01020304),
      readAs("pads and no end option", WithOptions({0, 0, 53, 1, 5}), MessageType::kAck),
      readAs("what follows the end is not read", WithOptions({53, 1, 6, 255, 54, 200}),
             MessageType::kNak),
      readAs("the first copy of an option counts", WithOptions({53, 1, 2, 53, 1, 6, 255}),
             MessageType::kOffer),
      readAs("unknown options are skipped", WithOptions({200, 3, 1, 2, 3, 53, 1, 2, 255}),
             MessageType::kOffer),
      readAs("no message type: BOOTP", WithOptions({255}), MessageType::kNone),
      readAs("only the fixed part", WithOptions({}), MessageType::kNone),
      refused("cut inside the cookie", cutCookie),
      refused("wrong cookie", wrongCookie),
      refused("hardware address of 16 bytes", longHardware),
      refused("not Ethernet", tokenRing),
      refused("option past the end", WithOptions({53, 1, 2, 12, 10, 'a', 'b'})),
      refused("option code without its length", WithOptions({53, 1, 2, 12})),
      refused("message type of two bytes", WithOptions({53, 2, 2, 2, 255})),
      refused("message type 0", WithOptions({53, 1, 0, 255})),
      refused("message type 9", WithOptions({53, 1, 9, 255})),
      refused("server id of three bytes", WithOptions({53, 1, 2, 54, 3, 1, 2, 3, 255})),
      refused("lease time of five bytes", WithOptions({53, 1, 2, 51, 5, 0, 0, 0, 0, 1, 255})),
      refused("router of six bytes", WithOptions({53, 1, 2, 3, 6, 1, 2, 3, 4, 5, 6, 255})),
      refused("router of no bytes", WithOptions({53, 1, 2, 3, 0, 255})),
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // A copy of exactly the payload's size, so that a read past it is a read past an allocation.
    const auto message = dhcp_wire::ParseMessage(Bytes(c.payload));
    ASSERT_EQ(message.has_value(), c.accepted);
    if (c.accepted) {
      EXPECT_EQ(message->type, c.type);
      EXPECT_EQ(message->serverId, c.serverId);
      EXPECT_EQ(message->xid, 0x12345678U);
      EXPECT_EQ(message->chaddr, kClientMac);
    }
  }
  // Every cut of a sound offer is refused or read as far as it goes, never past the cut: a cut
  // inside an option refuses the message, one between options keeps what came before.
  const Bytes sound = dhcp_wire::EncodeMessage(Offer());
  for (std::size_t size = 0; size <= sound.size(); ++size) {
    const Bytes cut(sound.begin(), sound.begin() + static_cast<std::ptrdiff_t>(size));
    const auto message = dhcp_wire::ParseMessage(cut);
    if (size < kOptionsStart || size == kOptionsStart + 1 || size == kOptionsStart + 2) {
      EXPECT_FALSE(message.has_value()) << size;
    } else {
      ASSERT_TRUE(!message || message->xid == 0x12345678U) << size;
      if (message) {
        EXPECT_EQ(message->type, size == kOptionsStart ? MessageType::kNone : MessageType::kOffer)
            << size;
      }
    }
  }
  EXPECT_EQ(dhcp_wire::ParseMessage(sound), Offer());
}

TEST(DhcpWire, ArpRequestsAreAnsweredForTheirAddress) {
  const dhcp_wire::ArpRequest asked{kServerMac, Ip("198.51.100.1"), Ip("198.51.100.120")};
  // A request as the server's kernel sends it: the reply built for it, turned back into a
  // request (operation 1, the asker's fields first), reads as that request.
  const Bytes reply = dhcp_wire::BuildArpReply(kClientMac, asked);
  ASSERT_EQ(reply.size(), 60U);
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 6), Bytes(kServerMac.begin(), kServerMac.end()));
  EXPECT_EQ(reply[21], 2);  // a reply
  EXPECT_FALSE(dhcp_wire::ParseArpRequest(reply).has_value());
  EXPECT_EQ(Bytes(reply.begin() + 22, reply.begin() + 28),
            Bytes(kClientMac.begin(), kClientMac.end()));
  EXPECT_EQ(Bytes(reply.begin() + 28, reply.begin() + 32),
            (Bytes{198, 51, 100, 120}));  // the address the client holds

  Bytes request =
      dhcp_wire::BuildArpReply(kServerMac, {kClientMac, asked.targetIp, asked.senderIp});
  request[21] = 1;
  const auto parsed = dhcp_wire::ParseArpRequest(request);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->senderMac, kServerMac);
  EXPECT_EQ(parsed->senderIp, asked.senderIp);
  EXPECT_EQ(parsed->targetIp, asked.targetIp);
  EXPECT_FALSE(dhcp_wire::ParseArpRequest(Bytes(request.begin(), request.begin() + 41)));
  request[19] = 16;  // an address length other than IPv4's
  EXPECT_FALSE(dhcp_wire::ParseArpRequest(request));
}

TEST(DhcpWire, AddressesParseOnlyAsFourDecimalBytes) {
  const std::vector<std::pair<std::string, std::optional<dhcp_wire::Ipv4>>> cases = {
      {"10.20.0.1", 0x0a140001},
      {"255.255.255.255", 0xffffffff},
      {"0.0.0.0", 0},
      {"256.0.0.1", std::nullopt},
      {"1.2.3", std::nullopt},
      {"1.2.3.4.5", std::nullopt},
      {"1..2.3", std::nullopt},
      {"", std::nullopt},
      {" 1.2.3.4", std::nullopt},
      {"1.2.3.4 ", std::nullopt},
      {"1.2.3.-4", std::nullopt},
      {"1.2.3.0004", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(dhcp_wire::ParseIpv4(text), expected) << text;
  }
  EXPECT_EQ(dhcp_wire::FormatIpv4(0xc6336478), "198.51.100.120");
  EXPECT_EQ(dhcp_wire::FormatMac(kClientMac), "02:dc:00:00:01:2c");
}

}  // namespace
