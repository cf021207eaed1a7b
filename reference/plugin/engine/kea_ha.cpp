// The configuration pieces and the state of a paired Kea (its high-availability hook).
#include "kea_ha.h"

#include <algorithm>
#include <string>

#include "leases.h"

namespace dhcp_plugin {

namespace {

using Json = nlohmann::ordered_json;

// Acks may lag this long behind before a client counts as unanswered; with max-unacked-clients 0
// one unanswered client suffices, for at Kea's default of 10 a quiet site never fails over.
constexpr int kMaxAckDelay = 1000;
constexpr int kMaxUnackedClients = 0;
// Threads of the DHCP service and of the pair's listener and client: two each, for more cost more
// than they give on a machine of few cores.
constexpr int kServiceThreads = 2;
constexpr int kPacketQueue = 64;
constexpr int kPairThreads = 2;
constexpr std::size_t kLongestState = 32;

std::string Narrow(std::u16string_view text) {
  return {text.begin(), text.end()};
}

// Kea's name of each peer: the Role names, which also make the client classes "HA_primary" and
// "HA_secondary" of load-balancing.
std::string PeerName(PairRole role) {
  return Narrow(PairRoleName(role));
}

// Kea's role of a peer: in hot-standby the secondary is the standby.
std::string KeaRole(PairMode mode, PairRole role) {
  return role == PairRole::kPrimary ? "primary"
                                    : (mode == PairMode::kHotStandby ? "standby" : "secondary");
}

std::optional<std::string> PlainState(const Json& value) {
  if (!value.is_string()) {
    return std::nullopt;
  }
  const auto& text = value.get_ref<const std::string&>();
  const bool plain = !text.empty() && text.size() <= kLongestState &&
                     std::all_of(text.begin(), text.end(),
                                 [](char c) { return (c >= 'a' && c <= 'z') || c == '-'; });
  return plain ? std::optional<std::string>(text) : std::nullopt;
}

// The value at path of keys and indexes in json, or null when there is none.
Json At(const Json& json, std::initializer_list<Json> path) {
  const Json* at = &json;
  for (const Json& step : path) {
    if (step.is_string() && at->is_object() && at->contains(step.get<std::string>())) {
      at = &(*at)[step.get<std::string>()];
    } else if (step.is_number() && at->is_array() && at->size() > step.get<std::size_t>()) {
      at = &(*at)[step.get<std::size_t>()];
    } else {
      return nullptr;
    }
  }
  return *at;
}

}  // namespace

void AddPairPieces(Json& config, const PairPlan& pair, const ServeSettings& settings) {
  const PairConfig& ha = pair.settings;
  Json peers = Json::array();
  for (const PairRole role : {PairRole::kPrimary, PairRole::kSecondary}) {
    const PeerUrl& url = role == PairRole::kPrimary ? ha.primary : ha.secondary;
    // This server's own certificate and key in both entries: its listener's certificate, and the
    // client certificate it shows the partner.
    peers.push_back({{"name", PeerName(role)},
                     {"url", Narrow(PeerUrlText(url))},
                     {"role", KeaRole(ha.mode, role)},
                     {"auto-failover", true},
                     {"trust-anchor", ha.trustAnchor.native()},
                     {"cert-file", ha.certFile.native()},
                     {"key-file", ha.keyFile.native()}});
  }
  const Json parameters = {
      {"high-availability",
       {{{"this-server-name", PeerName(ha.role)},
         {"mode", Narrow(PairModeName(ha.mode))},
         {"heartbeat-delay", kHeartbeatDelay},
         {"max-response-delay", kMaxResponseDelay},
         {"max-ack-delay", kMaxAckDelay},
         {"max-unacked-clients", kMaxUnackedClients},
         // Refuses config-set, config-write and shutdown to whoever reaches the listener; TLS
         // with the partner's certificate required keeps everyone else out.
         {"restrict-commands", true},
         {"require-client-certs", true},
         {"multi-threading",
          {{"enable-multi-threading", true},
           {"http-dedicated-listener", true},
           {"http-listener-threads", kPairThreads},
           {"http-client-threads", kPairThreads}}},
         {"peers", peers}}}}};
  Json& dhcp4 = config["Dhcp4"];
  dhcp4["hooks-libraries"] = {
      {{"library", pair.modules + "/" + kKeaPairLibraries[0]}},
      {{"library", pair.modules + "/" + kKeaPairLibraries[1]}, {"parameters", parameters}}};
  dhcp4["multi-threading"] = {{"enable-multi-threading", true},
                              {"thread-pool-size", kServiceThreads},
                              {"packet-queue-size", kPacketQueue}};
  if (ha.mode == PairMode::kLoadBalancing) {
    const Ipv4 lastOfPrimary = settings.first + (settings.last - settings.first) / 2;
    dhcp4["subnet4"][0]["pools"] = {
        {{"pool", Quad(settings.first) + " - " + Quad(lastOfPrimary)},
         {"client-class", "HA_" + PeerName(PairRole::kPrimary)}},
        {{"pool", Quad(lastOfPrimary + 1) + " - " + Quad(settings.last)},
         {"client-class", "HA_" + PeerName(PairRole::kSecondary)}}};
  }
}

bool TellsOfPair(const Json& status) {
  return At(status, {"arguments", "high-availability"}).is_array();
}

std::optional<std::string> PairStateOf(const Json& heartbeat) {
  return At(heartbeat, {"result"}) == 0 ? PlainState(At(heartbeat, {"arguments", "state"}))
                                        : std::nullopt;
}

std::optional<std::string> PairShapeOf(const Json& status) {
  if (At(status, {"result"}) != 0 || !At(status, {"arguments"}).is_object()) {
    return std::nullopt;
  }
  if (!TellsOfPair(status)) {
    return "alone";
  }
  const std::optional<std::string> mode =
      PlainState(At(status, {"arguments", "high-availability", 0, "ha-mode"}));
  const std::optional<std::string> role =
      PlainState(At(status, {"arguments", "high-availability", 0, "ha-servers", "local", "role"}));
  if (!mode || !role) {
    return std::nullopt;
  }
  return *mode + " " + (*role == "standby" ? PeerName(PairRole::kSecondary) : *role);
}

std::optional<std::string> PartnerStateOf(const Json& status) {
  return PlainState(
      At(status, {"arguments", "high-availability", 0, "ha-servers", "remote", "last-state"}));
}

}  // namespace dhcp_plugin
