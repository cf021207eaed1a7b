// dhcp-crowd: many simulated DHCP clients on one interface, each with a hardware address of its
// own, leasing as real clients do; or asking for a given address, renewing one, or flooding a
// server with requests a hostile peer would send. Prints one JSON object.
//
// Clients speak through one AF_PACKET socket: each frame carries its client's own source address,
// as on a real link, the interface needs no IPv4 address, every reply reaches the program whether
// the server broadcasts it or sends it to the client's hardware address, and nothing else in the
// namespace has to give up UDP port 68.
#include <arpa/inet.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <queue>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "dhcp_wire.h"

namespace {

using dhcp_wire::Bytes;
using dhcp_wire::Ipv4;
using dhcp_wire::Mac;
using dhcp_wire::Message;
using dhcp_wire::MessageType;
using Clock = std::chrono::steady_clock;

constexpr int kExitDone = 0;
constexpr int kExitUnfinished = 1;
constexpr int kExitUsage = 2;
constexpr int kExitSystem = 3;
// Starts and received frames handled before the loop looks at its timers again, so that a burst
// of starts does not leave replies waiting and a flood of replies does not delay retransmissions.
constexpr std::size_t kBatch = 256;
constexpr std::size_t kFrameBuffer = 2048;
constexpr int kSocketBuffer = 16 << 20;

enum class FloodKind { kDiscover, kWrongAddress, kOtherNetwork };

struct Settings {
  std::string interfaceName;
  std::size_t clients = 1;
  Mac macBase{0x02, 0xdc, 0, 0, 0, 0};
  std::size_t macPrefixLength = 2;
  std::uint64_t macOffset = 0;
  double rate = 0;
  std::size_t concurrency = 0;
  double deadlineSeconds = 30;
  std::string hostNameTemplate;
  std::optional<Bytes> hostNameBytes;
  bool broadcast = true;
  bool clientId = true;
  std::optional<Ipv4> requestAddress;
  std::optional<Ipv4> renewAddress;
  std::optional<Ipv4> server;
  std::vector<FloodKind> flood;
  Ipv4 wrongAddress = 0;
  Ipv4 relay = 0;
  double retransmitSeconds = 2;
  double retransmitMaxSeconds = 16;
  unsigned requestTries = 3;
  double nakDelaySeconds = 1;
  double drainSeconds = 1;
  std::uint64_t seed = 0;
  bool listLeases = false;
};

Mac MacFor(const Settings& settings, std::size_t client) {
  Mac mac = settings.macBase;
  std::uint64_t value = settings.macOffset + client;
  for (std::size_t at = mac.size(); at > settings.macPrefixLength; --at) {
    mac[at - 1] = static_cast<std::uint8_t>(value);
    value >>= 8;
  }
  return mac;
}

std::optional<Bytes> HostNameFor(const Settings& settings, std::size_t client) {
  if (settings.hostNameBytes) {
    return settings.hostNameBytes;
  }
  if (settings.hostNameTemplate.empty()) {
    return std::nullopt;
  }
  std::string name = settings.hostNameTemplate;
  const std::string number = std::to_string(settings.macOffset + client);
  for (std::size_t at = name.find("{n}"); at != std::string::npos;
       at = name.find("{n}", at + number.size())) {
    name.replace(at, 3, number);
  }
  return Bytes(name.begin(), name.end());
}

double Milliseconds(Clock::duration duration) {
  return std::round(std::chrono::duration<double, std::milli>(duration).count() * 10) / 10;
}

Clock::duration Seconds(double seconds) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// The packet socket on one interface, receiving only IPv4 UDP datagrams to port 68 that are not
// fragments (and, when asked, ARP), and none of the frames it sends itself.
class PacketSocket {
 public:
  PacketSocket() = default;
  PacketSocket(const PacketSocket&) = delete;
  PacketSocket& operator=(const PacketSocket&) = delete;
  ~PacketSocket() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }

  // Opens the socket on interfaceName; an error text, or empty when it is open.
  std::string Open(const std::string& interfaceName, bool arp) {
    const unsigned index = if_nametoindex(interfaceName.c_str());
    if (index == 0) {
      return "no interface " + interfaceName + ": " + std::strerror(errno);
    }
    // Protocol 0 receives nothing until the bind below, so no frame passes before the filter.
    fd_ = socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
      return std::string("cannot open a packet socket (needs root): ") + std::strerror(errno);
    }
    std::array<sock_filter, 12> code = {{
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 12),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IP, 0, 7),
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 23),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, IPPROTO_UDP, 0, 6),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 20),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, 0x1fff, 4, 0),
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 14),
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 16),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, dhcp_wire::kClientPort, 2, 1),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_ARP, static_cast<__u8>(arp ? 1 : 0), 0),
        BPF_STMT(BPF_RET | BPF_K, 0),
        BPF_STMT(BPF_RET | BPF_K, 0xffff),
    }};
    const sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
    if (setsockopt(fd_, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof(program)) != 0) {
      return std::string("cannot filter the packet socket: ") + std::strerror(errno);
    }
    const int one = 1;
    // Older kernels lack it; Receive drops outgoing frames as well.
    setsockopt(fd_, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof(one));
    if (setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &kSocketBuffer, sizeof(kSocketBuffer)) != 0) {
      setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &kSocketBuffer, sizeof(kSocketBuffer));
    }
    if (setsockopt(fd_, SOL_SOCKET, SO_SNDBUFFORCE, &kSocketBuffer, sizeof(kSocketBuffer)) != 0) {
      setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &kSocketBuffer, sizeof(kSocketBuffer));
    }
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = static_cast<int>(index);
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
      return "cannot bind to " + interfaceName + ": " + std::strerror(errno);
    }
    return {};
  }

  // Sends one frame; false when the kernel did not take it (its buffers full, the link down).
  bool Send(std::span<const std::uint8_t> frame) {
    return send(fd_, frame.data(), frame.size(), 0) == static_cast<ssize_t>(frame.size());
  }

  // One received frame into buffer: its size, 0 when none is waiting.
  std::size_t Receive(std::span<std::uint8_t> buffer) {
    for (;;) {
      sockaddr_ll from{};
      socklen_t length = sizeof(from);
      const ssize_t got = recvfrom(fd_, buffer.data(), buffer.size(), 0,
                                   reinterpret_cast<sockaddr*>(&from), &length);
      if (got <= 0) {
        return 0;
      }
      if (from.sll_pkttype != PACKET_OUTGOING) {
        return static_cast<std::size_t>(got);
      }
    }
  }

  // Waits until a frame is waiting or until is reached.
  void Wait(Clock::time_point until) {
    const auto left = std::max(Clock::duration::zero(), until - Clock::now());
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    const timespec timeout{static_cast<time_t>(nanoseconds / 1'000'000'000),
                           static_cast<long>(nanoseconds % 1'000'000'000)};
    pollfd entry{fd_, POLLIN, 0};
    ppoll(&entry, 1, &timeout, nullptr);
  }

 private:
  int fd_ = -1;
};

// What every mode counts of the replies it sees.
struct ReplyCounts {
  std::size_t offers = 0;
  std::size_t acks = 0;
  std::size_t naks = 0;
  std::size_t ignored = 0;  // replies for no client of ours, or in no state that expects them
  std::size_t malformed = 0;
};

// Clients that lease (DISCOVER, OFFER, REQUEST, ACK), or ask for one address (INIT-REBOOT) or
// renew one, each on its own timers, until all are done or the deadline passes.
class Crowd {
 public:
  enum class Mode { kLease, kRequest, kRenew };

  Crowd(const Settings& settings, PacketSocket& socket, Mode mode)
      : settings_(settings), socket_(socket), mode_(mode), random_(settings.seed) {
    clients_.resize(settings.clients);
    for (std::size_t index = 0; index < clients_.size(); ++index) {
      clients_[index].mac = MacFor(settings, index);
      clients_[index].hostName = HostNameFor(settings, index);
    }
    if (mode_ == Mode::kRenew) {
      for (std::size_t index = 0; index < clients_.size(); ++index) {
        clients_[index].address = *settings.renewAddress;
      }
    }
  }

  void Run() {
    begin_ = Clock::now();
    const Clock::time_point deadline = begin_ + Seconds(settings_.deadlineSeconds);
    nextStart_ = begin_;
    std::array<std::uint8_t, kFrameBuffer> buffer{};
    for (;;) {
      const Clock::time_point now = Clock::now();
      FireTimers(now);
      StartDue(now);
      if (finished_ == clients_.size() || now >= deadline) {
        break;
      }
      Clock::time_point wake = deadline;
      if (!timers_.empty()) {
        wake = std::min(wake, timers_.top().when);
      }
      if (CanStart()) {
        wake = std::min(wake, nextStart_);
      }
      socket_.Wait(wake);
      for (std::size_t count = 0; count < kBatch; ++count) {
        const std::size_t size = socket_.Receive(buffer);
        if (size == 0) {
          break;
        }
        OnFrame(std::span(buffer.data(), size), Clock::now());
      }
    }
    end_ = Clock::now();
  }

  nlohmann::json Report() const {
    std::vector<double> times;
    std::size_t bound = 0;
    std::size_t refused = 0;
    Clock::time_point lastLease = begin_;
    std::map<Ipv4, std::size_t> holders;
    nlohmann::json leases = nlohmann::json::object();
    nlohmann::json refusedBy = nlohmann::json::object();
    for (const Client& client : clients_) {
      if (client.state == State::kBound) {
        ++bound;
        times.push_back(Milliseconds(client.finished - client.started));
        lastLease = std::max(lastLease, client.finished);
        ++holders[client.address];
        leases[dhcp_wire::FormatMac(client.mac)] = dhcp_wire::FormatIpv4(client.address);
      } else if (client.state == State::kRefused) {
        ++refused;
        refusedBy[dhcp_wire::FormatMac(client.mac)] = client.refusal;
      }
    }
    std::size_t duplicates = 0;
    for (const auto& [address, count] : holders) {
      duplicates += count > 1 ? 1 : 0;
    }
    std::sort(times.begin(), times.end());
    nlohmann::json report;
    static constexpr std::array<const char*, 3> kModeNames = {"lease", "request", "renew"};
    report["mode"] = kModeNames.at(static_cast<std::size_t>(mode_));
    report["interface"] = settings_.interfaceName;
    report["clients"] = clients_.size();
    report["started"] = started_;
    report["leased"] = bound;
    report["naks"] = counts_.naks;
    report["refused"] = refused;
    report["timeouts"] = clients_.size() - bound - refused;
    report["offers"] = counts_.offers;
    report["acks"] = counts_.acks;
    report["ignored_replies"] = counts_.ignored;
    report["malformed_replies"] = counts_.malformed;
    report["sent"] = {{"discover", sentDiscovers_}, {"request", sentRequests_}};
    report["retransmits"] = retransmits_;
    report["restarts"] = restarts_;
    report["send_failures"] = sendFailures_;
    report["duplicate_addresses"] = duplicates;
    if (times.empty()) {
      report["time_to_lease_ms"] = nullptr;
    } else {
      // Nearest rank: the smallest time that at least that share of the leases took.
      const auto rank = [&](double share) {
        const auto at =
            static_cast<std::size_t>(std::ceil(share * static_cast<double>(times.size())));
        return times[std::clamp<std::size_t>(at, 1, times.size()) - 1];
      };
      report["time_to_lease_ms"] = {
          {"median", rank(0.5)}, {"p99", rank(0.99)}, {"max", times.back()}};
    }
    report["all_leased_ms"] = bound == clients_.size()
                                  ? nlohmann::json(Milliseconds(lastLease - begin_))
                                  : nlohmann::json(nullptr);
    report["elapsed_ms"] = Milliseconds(end_ - begin_);
    std::set<std::string> servers;
    for (const Ipv4 server : servers_) {
      servers.insert(dhcp_wire::FormatIpv4(server));
    }
    report["servers"] = servers;
    report["nak_messages"] = nakMessages_;
    if (settings_.listLeases) {
      report["leases"] = leases;
      report["refused_by"] = refusedBy;
    }
    return report;
  }

  // Every client leased (lease mode) or had an answer (the others), and no address went to two.
  bool Succeeded() const {
    return finished_ == clients_.size() && Report()["duplicate_addresses"] == 0;
  }

 private:
  enum class State {
    kNotStarted,
    kSelecting,
    kRequesting,
    kWaitingToRestart,
    kAsking,
    kBound,
    kRefused
  };

  struct Client {
    Mac mac{};
    std::optional<Bytes> hostName;
    State state = State::kNotStarted;
    std::uint32_t xid = 0;
    bool hasXid = false;
    unsigned tries = 0;
    unsigned generation = 0;
    Ipv4 offered = 0;
    Ipv4 server = 0;
    Ipv4 address = 0;
    std::string refusal;
    Clock::time_point started;
    Clock::time_point finished;
  };

  struct Timer {
    Clock::time_point when;
    std::size_t client = 0;
    unsigned generation = 0;
    bool operator>(const Timer& other) const { return when > other.when; }
  };

  bool CanStart() const {
    return started_ < clients_.size() &&
           (settings_.concurrency == 0 || started_ - finished_ < settings_.concurrency);
  }

  void StartDue(Clock::time_point now) {
    for (std::size_t count = 0; count < kBatch && CanStart() && nextStart_ <= now; ++count) {
      const std::size_t index = started_++;
      Client& client = clients_[index];
      client.started = now;
      if (mode_ == Mode::kLease) {
        Discover(index, now);
      } else {
        client.state = State::kAsking;
        NewXid(index);
        client.tries = 0;
        Transmit(index, now);
      }
      if (settings_.rate > 0) {
        nextStart_ += Seconds(1 / settings_.rate);
      } else {
        nextStart_ = now;
      }
    }
  }

  void FireTimers(Clock::time_point now) {
    while (!timers_.empty() && timers_.top().when <= now) {
      const Timer timer = timers_.top();
      timers_.pop();
      Client& client = clients_[timer.client];
      if (timer.generation != client.generation) {
        continue;
      }
      switch (client.state) {
        case State::kSelecting:
        case State::kAsking:
          ++retransmits_;
          Transmit(timer.client, now);
          break;
        case State::kRequesting:
          if (client.tries >= settings_.requestTries) {
            ++restarts_;
            Discover(timer.client, now);
          } else {
            ++retransmits_;
            Transmit(timer.client, now);
          }
          break;
        case State::kWaitingToRestart:
          ++restarts_;
          Discover(timer.client, now);
          break;
        default:
          break;
      }
    }
  }

  void NewXid(std::size_t index) {
    Client& client = clients_[index];
    if (client.hasXid) {
      byXid_.erase(client.xid);
    }
    std::uint32_t xid = 0;
    do {
      xid = static_cast<std::uint32_t>(random_());
    } while (byXid_.contains(xid));
    client.xid = xid;
    client.hasXid = true;
    byXid_[xid] = index;
  }

  void Discover(std::size_t index, Clock::time_point now) {
    Client& client = clients_[index];
    client.state = State::kSelecting;
    client.tries = 0;
    NewXid(index);
    Transmit(index, now);
  }

  // Sends the message of the client's state and sets its retransmission timer.
  void Transmit(std::size_t index, Clock::time_point now) {
    Client& client = clients_[index];
    Message message;
    message.xid = client.xid;
    message.chaddr = client.mac;
    message.clientIdFromMac = settings_.clientId;
    message.hostName = client.hostName;
    message.flags = settings_.broadcast ? dhcp_wire::kBroadcastFlag : 0;
    message.secs = static_cast<std::uint16_t>(std::min<std::int64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(now - client.started).count(), 0xffff));
    dhcp_wire::UdpEndpoints endpoints{client.mac,
                                      dhcp_wire::kBroadcastMac,
                                      0,
                                      dhcp_wire::kBroadcastIp,
                                      dhcp_wire::kClientPort,
                                      dhcp_wire::kServerPort};
    if (client.state == State::kSelecting) {
      message.type = MessageType::kDiscover;
      ++sentDiscovers_;
    } else {
      message.type = MessageType::kRequest;
      ++sentRequests_;
      if (client.state == State::kRequesting) {
        message.requestedAddress = client.offered;
        message.serverId = client.server;
      } else if (mode_ == Mode::kRequest) {
        message.requestedAddress = settings_.requestAddress;
      } else {
        // Renewing (unicast to the server) or rebinding (broadcast): the client holds the
        // address and says so only in ciaddr; the answer comes to that address.
        message.ciaddr = client.address;
        message.flags = 0;
        endpoints.sourceIp = client.address;
        if (settings_.server) {
          endpoints.destinationIp = *settings_.server;
        }
      }
    }
    const Bytes payload = dhcp_wire::EncodeMessage(message);
    if (!socket_.Send(dhcp_wire::BuildUdpFrame(endpoints, payload))) {
      ++sendFailures_;
    }
    Schedule(index, now + Backoff(client.tries));
    ++client.tries;
  }

  // The wait before retransmission number tries + 1: doubling from the first wait up to the
  // longest, each drawn from 75% to 125% so that a crowd started together spreads out.
  Clock::duration Backoff(unsigned tries) {
    const double base = std::min(settings_.retransmitSeconds * std::pow(2.0, std::min(tries, 20U)),
                                 settings_.retransmitMaxSeconds);
    return Seconds(base * std::uniform_real_distribution<double>(0.75, 1.25)(random_));
  }

  void Schedule(std::size_t index, Clock::time_point when) {
    Client& client = clients_[index];
    ++client.generation;
    timers_.push(Timer{when, index, client.generation});
  }

  void Finish(std::size_t index, State state, Clock::time_point now) {
    Client& client = clients_[index];
    client.state = state;
    client.finished = now;
    ++client.generation;  // no timer of it fires any more
    byXid_.erase(client.xid);
    client.hasXid = false;
    ++finished_;
  }

  void OnFrame(std::span<const std::uint8_t> frame, Clock::time_point now) {
    if (mode_ == Mode::kRenew) {
      if (const auto arp = dhcp_wire::ParseArpRequest(frame)) {
        AnswerArp(*arp);
        return;
      }
    }
    const auto datagram = dhcp_wire::ParseUdpFrame(frame);
    if (!datagram || datagram->endpoints.destinationPort != dhcp_wire::kClientPort) {
      return;
    }
    const auto message = dhcp_wire::ParseMessage(datagram->payload);
    if (!message || message->op != dhcp_wire::kBootReply) {
      ++counts_.malformed;
      return;
    }
    switch (message->type) {
      case MessageType::kOffer:
        ++counts_.offers;
        break;
      case MessageType::kAck:
        ++counts_.acks;
        break;
      case MessageType::kNak:
        ++counts_.naks;
        ++nakMessages_[message->text.value_or("")];
        break;
      default:
        break;
    }
    const auto found = byXid_.find(message->xid);
    if (found == byXid_.end() || clients_[found->second].mac != message->chaddr) {
      ++counts_.ignored;
      return;
    }
    if (message->serverId) {
      servers_.insert(*message->serverId);
    }
    const std::size_t index = found->second;
    Client& client = clients_[index];
    const bool fromChosenServer = !message->serverId || *message->serverId == client.server;
    if (client.state == State::kSelecting && message->type == MessageType::kOffer &&
        message->yiaddr != 0 && message->serverId) {
      client.state = State::kRequesting;
      client.offered = message->yiaddr;
      client.server = *message->serverId;
      client.tries = 0;
      Transmit(index, now);
    } else if (client.state == State::kRequesting && message->type == MessageType::kAck &&
               fromChosenServer && message->yiaddr != 0) {
      client.address = message->yiaddr;
      Finish(index, State::kBound, now);
    } else if (client.state == State::kRequesting && message->type == MessageType::kNak &&
               fromChosenServer) {
      client.state = State::kWaitingToRestart;
      Schedule(index, now + Seconds(settings_.nakDelaySeconds *
                                    std::uniform_real_distribution<double>(0.75, 1.25)(random_)));
    } else if (client.state == State::kAsking && message->type == MessageType::kAck &&
               message->yiaddr != 0) {
      client.address = message->yiaddr;
      Finish(index, State::kBound, now);
    } else if (client.state == State::kAsking && message->type == MessageType::kNak) {
      client.refusal = message->text.value_or("");
      Finish(index, State::kRefused, now);
    } else {
      ++counts_.ignored;
    }
  }

  // A renewing client holds its address: it answers the ARP request that finds it, as the server
  // may send its reply to that address.
  void AnswerArp(const dhcp_wire::ArpRequest& request) {
    for (const Client& client : clients_) {
      if (client.state == State::kAsking && client.address == request.targetIp) {
        if (!socket_.Send(dhcp_wire::BuildArpReply(client.mac, request))) {
          ++sendFailures_;
        }
        return;
      }
    }
  }

  const Settings& settings_;
  PacketSocket& socket_;
  Mode mode_;
  std::mt19937_64 random_;
  std::vector<Client> clients_;
  std::unordered_map<std::uint32_t, std::size_t> byXid_;
  std::priority_queue<Timer, std::vector<Timer>, std::greater<>> timers_;
  Clock::time_point begin_;
  Clock::time_point end_;
  Clock::time_point nextStart_;
  std::size_t started_ = 0;
  std::size_t finished_ = 0;
  std::size_t sentDiscovers_ = 0;
  std::size_t sentRequests_ = 0;
  std::size_t retransmits_ = 0;
  std::size_t restarts_ = 0;
  std::size_t sendFailures_ = 0;
  ReplyCounts counts_;
  std::set<Ipv4> servers_;
  std::map<std::string, std::size_t> nakMessages_;
};

// One request from each of a run of new hardware addresses, of the kinds given in turn, paced by
// the rate; the answers are counted for a while after the last.
nlohmann::json Flood(const Settings& settings, PacketSocket& socket) {
  std::mt19937_64 random(settings.seed);
  std::unordered_set<std::uint32_t> xids;
  std::map<std::string, std::size_t> sent;
  ReplyCounts counts;
  std::size_t sendFailures = 0;
  std::array<std::uint8_t, kFrameBuffer> buffer{};
  const Clock::time_point begin = Clock::now();
  const Clock::time_point deadline = begin + Seconds(settings.deadlineSeconds);
  Clock::time_point next = begin;

  const auto receive = [&] {
    for (std::size_t count = 0; count < kBatch; ++count) {
      const std::size_t size = socket.Receive(buffer);
      if (size == 0) {
        return;
      }
      const auto datagram = dhcp_wire::ParseUdpFrame(std::span(buffer.data(), size));
      if (!datagram) {
        continue;
      }
      const auto message = dhcp_wire::ParseMessage(datagram->payload);
      if (!message || message->op != dhcp_wire::kBootReply) {
        ++counts.malformed;
      } else if (!xids.contains(message->xid)) {
        ++counts.ignored;
      } else if (message->type == MessageType::kOffer) {
        ++counts.offers;
      } else if (message->type == MessageType::kAck) {
        ++counts.acks;
      } else if (message->type == MessageType::kNak) {
        ++counts.naks;
      } else {
        ++counts.ignored;
      }
    }
  };

  std::size_t index = 0;
  while (index < settings.clients && Clock::now() < deadline) {
    for (std::size_t count = 0; count < kBatch && index < settings.clients && next <= Clock::now();
         ++count, ++index) {
      Message message;
      message.chaddr = MacFor(settings, index);
      message.xid = static_cast<std::uint32_t>(random());
      xids.insert(message.xid);
      message.clientIdFromMac = settings.clientId;
      message.hostName = HostNameFor(settings, index);
      dhcp_wire::UdpEndpoints endpoints{
          message.chaddr,          dhcp_wire::kBroadcastMac, 0,
          dhcp_wire::kBroadcastIp, dhcp_wire::kClientPort,   dhcp_wire::kServerPort};
      switch (settings.flood[index % settings.flood.size()]) {
        case FloodKind::kDiscover:
          message.type = MessageType::kDiscover;
          message.flags = dhcp_wire::kBroadcastFlag;
          ++sent["discover"];
          break;
        case FloodKind::kWrongAddress:
          message.type = MessageType::kRequest;
          message.flags = dhcp_wire::kBroadcastFlag;
          message.requestedAddress = settings.wrongAddress;
          ++sent["wrong-address"];
          break;
        case FloodKind::kOtherNetwork:
          // As a relay agent on another network would pass it on.
          message.type = MessageType::kRequest;
          message.hops = 1;
          message.giaddr = settings.relay;
          message.requestedAddress = settings.relay + 1;
          endpoints.sourceIp = settings.relay;
          endpoints.sourcePort = dhcp_wire::kServerPort;
          ++sent["other-network"];
          break;
      }
      if (!socket.Send(dhcp_wire::BuildUdpFrame(endpoints, dhcp_wire::EncodeMessage(message)))) {
        ++sendFailures;
      }
      next = settings.rate > 0 ? next + Seconds(1 / settings.rate) : Clock::now();
    }
    receive();
    socket.Wait(std::min(next, deadline));
  }
  const Clock::time_point drained =
      std::min(deadline, Clock::now() + Seconds(settings.drainSeconds));
  while (Clock::now() < drained) {
    socket.Wait(drained);
    receive();
  }
  nlohmann::json report;
  report["mode"] = "flood";
  report["interface"] = settings.interfaceName;
  report["sent"] = sent;
  report["send_failures"] = sendFailures;
  report["answers"] = {{"offer", counts.offers}, {"ack", counts.acks}, {"nak", counts.naks}};
  report["ignored_replies"] = counts.ignored;
  report["malformed_replies"] = counts.malformed;
  report["elapsed_ms"] = Milliseconds(Clock::now() - begin);
  return report;
}

std::optional<Bytes> ParseHex(const std::string& text, char separator) {
  Bytes bytes;
  std::size_t at = 0;
  while (at < text.size()) {
    if (!bytes.empty() && separator != 0) {
      if (text[at] != separator) {
        return std::nullopt;
      }
      ++at;
    }
    unsigned value = 0;
    if (at + 2 > text.size() ||
        std::from_chars(text.data() + at, text.data() + at + 2, value, 16).ptr !=
            text.data() + at + 2) {
      return std::nullopt;
    }
    bytes.push_back(static_cast<std::uint8_t>(value));
    at += 2;
  }
  return bytes;
}

// A CLI11 check and conversion for an IPv4 address option.
void AddAddressOption(CLI::App& app, const std::string& name, std::optional<Ipv4>& target,
                      const std::string& help) {
  app.add_option_function<std::string>(
         name,
         [&target](const std::string& text) {
           target = dhcp_wire::ParseIpv4(text);
           if (!target) {
             throw CLI::ValidationError(text + " is not an IPv4 address a.b.c.d");
           }
         },
         help)
      ->type_name("A.B.C.D");
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app(
      "Simulates DHCP clients on one interface, each with its own hardware address (a prefix and "
      "a running number), and prints one JSON object of what happened. By default every client "
      "leases: DISCOVER, OFFER, REQUEST, ACK, retransmitting with growing waits when no answer "
      "comes and starting over after a NAK. Run it inside a network namespace of its own: it "
      "sends on the interface as root.\n\nExit status: 0 every client leased (with --request or "
      "--renew: had an answer; with --flood: all was sent) and no address went to two clients; 1 "
      "not so by the deadline; 2 bad command line; 3 the interface could not be used.",
      "dhcp-crowd");
  Settings settings;
  std::string macPrefix = "02:dc";
  std::string hostNameHex;
  std::string floodKinds;
  std::optional<Ipv4> wrongAddress = dhcp_wire::ParseIpv4("203.0.113.250");
  std::optional<Ipv4> relay = dhcp_wire::ParseIpv4("203.0.113.1");
  app.add_option("-i,--interface", settings.interfaceName, "the interface to send on")->required();
  app.add_option("-n,--clients", settings.clients, "clients (with --flood: requests)")
      ->check(CLI::Range(std::size_t{1}, std::size_t{1} << 24));
  app.add_option("--mac-prefix", macPrefix,
                 "first 1 to 5 bytes of every hardware address; the running number fills the rest")
      ->capture_default_str();
  app.add_option("--mac-offset", settings.macOffset, "running number of the first client");
  app.add_option("--rate", settings.rate, "clients started per second; 0 starts all at once")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--concurrency", settings.concurrency,
                 "at most this many clients between start and lease; 0 for no limit");
  app.add_option("--deadline", settings.deadlineSeconds, "seconds until the run ends")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  auto* hostName = app.add_option("--hostname", settings.hostNameTemplate,
                                  "host name (option 12) each client sends; {n} is its number");
  app.add_option("--hostname-hex", hostNameHex,
                 "host name as bytes in hex (any bytes, 1 to 255), the same for every client")
      ->excludes(hostName);
  app.add_flag("!--no-broadcast", settings.broadcast,
               "ask for replies to the hardware address rather than broadcast");
  app.add_flag("!--no-client-id", settings.clientId,
               "send no client identifier (option 61): the server knows a client by its hardware "
               "address alone");
  std::optional<Ipv4> requestAddress;
  std::optional<Ipv4> renewAddress;
  std::optional<Ipv4> server;
  AddAddressOption(app, "--request", requestAddress,
                   "each client asks for this address (INIT-REBOOT: REQUEST with option 50, no "
                   "server id) and takes the ACK or NAK as its answer");
  AddAddressOption(app, "--renew", renewAddress,
                   "each client renews its lease on this address (REQUEST with ciaddr); answers "
                   "ARP for it meanwhile");
  AddAddressOption(app, "--server", server,
                   "with --renew: unicast to this server (renewing); without, broadcast "
                   "(rebinding)");
  app.add_option("--flood", floodKinds,
                 "send one request from each client, of these kinds in turn, and count the "
                 "answers: discover, wrong-address (INIT-REBOOT for --wrong-address), "
                 "other-network (relayed from --relay's network)")
      ->type_name("KIND,...");
  AddAddressOption(app, "--wrong-address", wrongAddress,
                   "the address wrong-address asks for (default 203.0.113.250)");
  AddAddressOption(app, "--relay", relay,
                   "the relay address of other-network (default 203.0.113.1)");
  app.add_option("--retransmit", settings.retransmitSeconds, "first wait for an answer, seconds")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_option("--retransmit-max", settings.retransmitMaxSeconds, "longest wait, seconds")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_option("--request-tries", settings.requestTries,
                 "REQUESTs without answer before starting over with a DISCOVER")
      ->check(CLI::Range(1U, 100U))
      ->capture_default_str();
  app.add_option("--nak-delay", settings.nakDelaySeconds, "wait after a NAK, seconds")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  app.add_option("--drain", settings.drainSeconds,
                 "with --flood: seconds to count answers after the last request")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  std::optional<std::uint64_t> seed;
  app.add_option("--seed", seed, "seed of transaction ids and timer spread (default: random)");
  app.add_flag("--leases", settings.listLeases,
               "list each client's address (and each refusal's reason) in the output");
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& done) {
    return app.exit(done);
  } catch (const CLI::ParseError& error) {
    app.exit(error);
    return kExitUsage;
  }

  const auto usage = [](const std::string& text) {
    std::cerr << "dhcp-crowd: " << text << "\n";
    return kExitUsage;
  };
  const auto prefix = ParseHex(macPrefix, ':');
  if (!prefix || prefix->empty() || prefix->size() > 5) {
    return usage("--mac-prefix must be 1 to 5 hex bytes joined by ':'");
  }
  std::copy(prefix->begin(), prefix->end(), settings.macBase.begin());
  settings.macPrefixLength = prefix->size();
  const unsigned freeBits = static_cast<unsigned>(8 * (6 - prefix->size()));
  if (freeBits < 64 && (settings.macOffset + settings.clients - 1) >> freeBits != 0) {
    return usage("--mac-offset and --clients run past the addresses the prefix leaves");
  }
  if (!hostNameHex.empty()) {
    settings.hostNameBytes = ParseHex(hostNameHex, 0);
    if (!settings.hostNameBytes || settings.hostNameBytes->size() > 255) {
      return usage("--hostname-hex must be 1 to 255 bytes as pairs of hex digits");
    }
  }
  if (settings.hostNameTemplate.size() > 255) {
    return usage("--hostname must be at most 255 bytes");
  }
  settings.requestAddress = requestAddress;
  settings.renewAddress = renewAddress;
  settings.server = server;
  settings.wrongAddress = *wrongAddress;
  settings.relay = *relay;
  if (!floodKinds.empty()) {
    std::stringstream list(floodKinds);
    for (std::string kind; std::getline(list, kind, ',');) {
      if (kind == "discover") {
        settings.flood.push_back(FloodKind::kDiscover);
      } else if (kind == "wrong-address") {
        settings.flood.push_back(FloodKind::kWrongAddress);
      } else if (kind == "other-network") {
        settings.flood.push_back(FloodKind::kOtherNetwork);
      } else {
        return usage("unknown --flood kind '" + kind + "'");
      }
    }
  }
  if (static_cast<int>(requestAddress.has_value()) + static_cast<int>(renewAddress.has_value()) +
          static_cast<int>(!settings.flood.empty()) >
      1) {
    return usage("--request, --renew and --flood exclude each other");
  }
  if (server && !renewAddress) {
    return usage("--server goes with --renew");
  }
  settings.seed = seed ? *seed : std::random_device{}();

  PacketSocket socket;
  if (const std::string error = socket.Open(settings.interfaceName, renewAddress.has_value());
      !error.empty()) {
    std::cerr << "dhcp-crowd: " << error << "\n";
    return kExitSystem;
  }
  if (!settings.flood.empty()) {
    const nlohmann::json report = Flood(settings, socket);
    std::cout << report.dump() << std::endl;
    std::size_t sent = 0;
    for (const auto& [kind, count] : report["sent"].items()) {
      sent += count.get<std::size_t>();
    }
    return sent == settings.clients ? kExitDone : kExitUnfinished;
  }
  const Crowd::Mode mode = requestAddress ? Crowd::Mode::kRequest
                           : renewAddress ? Crowd::Mode::kRenew
                                          : Crowd::Mode::kLease;
  Crowd crowd(settings, socket, mode);
  crowd.Run();
  std::cout << crowd.Report().dump() << std::endl;
  return crowd.Succeeded() ? kExitDone : kExitUnfinished;
}
