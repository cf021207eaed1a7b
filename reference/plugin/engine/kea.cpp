// Kea (kea-dhcp4) as the DHCP server engine: its configuration, start, failure reasons and lease
// files.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

#include "engines.h"
#include "kea_ha.h"
#include "leases.h"
#include "process.h"

namespace dhcp_plugin {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::size_t kMaxSocketPath = sizeof(sockaddr_un::sun_path) - 1;
constexpr char kSocketName[] = "kea4.sock";
constexpr char kPidName[] = "kea-dhcp4.kea-dhcp4.pid";  // KEA_PIDFILE_DIR/<config>.kea-dhcp4.pid
constexpr std::uint64_t kLogRotateBytes = 1 << 20;
// The one subnet's id, in the configuration, in every lease record written for it and in the
// names of its statistics.
constexpr int kSubnetId = 1;
// How often Kea reclaims expired leases, in seconds (its default is 10): its count of assigned
// addresses, which the status reports, keeps an expired lease until it is reclaimed.
constexpr int kReclaimSeconds = 1;
// A client asking again for a lease younger than this share of its lifetime gets it as it is
// (with the lifetime it has left) instead of a renewed one: no record is appended to the lease
// file, which in a boot storm of known clients is most of Kea's work per exchange.
constexpr double kLeaseReuseShare = 0.25;
// The header Kea 2.2 writes at the top of its lease file, and the columns a record is read from.
constexpr char kLeaseHeader[] =
    "address,hwaddr,client_id,valid_lifetime,expire,subnet_id,fqdn_fwd,fqdn_rev,hostname,state,"
    "user_context";
// Kea refuses a record whose client identifier is shorter, and so loses its lease.
constexpr std::size_t kMinClientIdBytes = 2;
constexpr std::int64_t kMaxLifetime = 0xFFFFFFFE;  // 0xFFFFFFFF means "infinite"
constexpr std::int64_t kInfiniteLifetime = 0xFFFFFFFF;

bool Holds(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

// The field of the named column in a record of the file whose header gave columns, or nothing.
std::optional<std::string_view> Column(const std::vector<std::string>& columns,
                                       const std::vector<std::string_view>& fields,
                                       std::string_view name) {
  const auto found = std::find(columns.begin(), columns.end(), name);
  return found == columns.end() ? std::nullopt
                                : std::optional<std::string_view>(
                                      fields[static_cast<std::size_t>(found - columns.begin())]);
}

// "" or hex bytes in Lease's form, of at most maxBytes; nothing for any other text.
std::optional<std::string> OptionalHex(std::string_view text, std::size_t maxBytes) {
  return text.empty() ? std::string() : ParseHexBytes(text, maxBytes);
}

std::string SocketPath(const std::string& folder) {
  return folder + "/" + kSocketName;
}

// Sends one command to Kea's control socket and returns its answer, "" when it cannot.
std::string AskKea(const std::string& socketPath, const char* command) {
  const Fd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (!static_cast<bool>(fd) || socketPath.size() > kMaxSocketPath) {
    return "";
  }
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  if (connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return "";
  }
  const std::string request = std::string(R"({"command": ")") + command + R"("})";
  if (send(fd.Get(), request.data(), request.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(request.size())) {
    return "";
  }
  timeval timeout{1, 0};
  setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  std::string answer;
  safe_file::ReadAll(fd.Get(), answer, kReadLimit);
  return answer;
}

// The latest value of the statistic name in Kea's answer to statistic-get-all
// ({"result": 0, "arguments": {name: [[value, time], ...]}}), when it is a count.
std::optional<std::uint64_t> StatisticOf(const Json& answer, const std::string& name) {
  const auto result = answer.find("result");
  const auto arguments = answer.find("arguments");
  if (result == answer.end() || *result != 0 || arguments == answer.end() ||
      !arguments->is_object()) {
    return std::nullopt;
  }
  const auto samples = arguments->find(name);
  if (samples == arguments->end() || !samples->is_array() || samples->empty() ||
      !samples->front().is_array() || samples->front().empty() ||
      !samples->front().front().is_number_unsigned()) {
    return std::nullopt;
  }
  return samples->front().front().get<std::uint64_t>();
}

// Kea's log line "<date> <time> LEVEL [logger/pid.thread] MESSAGE_ID text" as "text", and of
// that only the innermost "reason: ..." when it nests reasons.
std::string KeaReason(std::string line) {
  const std::size_t bracket = line.find("] ");
  const std::size_t id = bracket == std::string::npos ? bracket : line.find(' ', bracket + 2);
  if (id != std::string::npos) {
    line.erase(0, id + 1);
  }
  const std::size_t reason = line.rfind("reason: ");
  return reason == std::string::npos ? line : line.substr(reason + 8);
}

class Kea final : public DhcpEngine {
 public:
  EngineKind Kind() const override { return EngineKind::kKea; }
  std::u16string_view Name() const override { return u"Kea"; }
  std::u16string_view Package() const override { return u"kea-dhcp4-server"; }
  std::string_view ConfigName() const override { return "kea-dhcp4.json"; }
  std::string_view LeaseName() const override { return "kea-leases4.csv"; }
  std::vector<std::string> PidFiles() const override { return {kPidName}; }

  bool FitsFolder(const std::string& path) const override {
    return SocketPath(path).size() <= kMaxSocketPath;
  }

  // The one interface; Kea fails to start when a socket cannot be opened. Without logPackets the
  // loggers of single requests say nothing: "leases" logs each offer and INIT-REBOOT at INFO, and
  // "bad-packets" each request from an unserved network at ERROR. A single server runs on one
  // thread, whatever the version's default: on two cores its thread pool served fewer exchanges.
  // A pair's pieces come last, so that what a pair needs holds whatever the rest says.
  std::string Configuration(const ServeSettings& settings, const std::string& interfaceName,
                            const EnginePaths& paths, bool logPackets,
                            const PairPlan* pair) const override {
    const std::string network = Quad(settings.Network()) + "/" + std::to_string(settings.prefix);
    Json loggers = {{{"name", "kea-dhcp4"},
                     {"severity", "INFO"},
                     {"output_options",
                      {{{"output", paths.log}, {"maxsize", kLogRotateBytes}, {"maxver", 1}}}}}};
    if (!logPackets) {
      loggers.push_back({{"name", "kea-dhcp4.leases"}, {"severity", "WARN"}});
      loggers.push_back({{"name", "kea-dhcp4.bad-packets"}, {"severity", "FATAL"}});
    }
    Json config = {
        {"Dhcp4",
         {{"interfaces-config",
           {{"interfaces", {interfaceName}}, {"service-sockets-require-all", true}}},
          {"control-socket", {{"socket-type", "unix"}, {"socket-name", SocketPath(paths.folder)}}},
          {"lease-database", {{"type", "memfile"}, {"persist", true}, {"name", paths.leases}}},
          {"authoritative", true},
          {"valid-lifetime", settings.leaseSeconds},
          {"cache-threshold", kLeaseReuseShare},
          {"expired-leases-processing", {{"reclaim-timer-wait-time", kReclaimSeconds}}},
          {"multi-threading", {{"enable-multi-threading", false}}},
          {"subnet4",
           {{{"id", kSubnetId},
             {"subnet", network},
             {"pools", {{{"pool", Quad(settings.first) + " - " + Quad(settings.last)}}}},
             {"option-data", {{{"name", "routers"}, {"data", Quad(settings.gateway)}}}}}}},
          {"loggers", loggers}}}};
    if (pair != nullptr) {
      AddPairPieces(config, *pair, settings);
    }
    return config.dump(2) + "\n";
  }

  // Kea appends a record at each change, and its cleanup every hour (kea-lfc) moves the records
  // to FILE.2, merges FILE.2 and FILE.1 into FILE.output, renames that FILE.completed and then
  // FILE.1. At a start it reads FILE.completed or else FILE.2 and FILE.1, then FILE.
  std::vector<std::string> LeaseFiles(
      const std::function<bool(const std::string&)>& exists) const override {
    const std::string main(LeaseName());
    if (exists(main + ".completed")) {
      return {main + ".completed", main};
    }
    std::vector<std::string> files;
    for (const char* suffix : {".2", ".1"}) {
      if (exists(main + suffix)) {
        files.push_back(main + suffix);
      }
    }
    files.push_back(main);
    return files;
  }

  std::vector<std::string> LeaseSideFiles() const override {
    const std::string main(LeaseName());
    return {main + ".completed", main + ".2", main + ".1", main + ".output"};
  }

  // A header, then one record a line; Kea escapes a "," inside a field. A record with lifetime 0
  // says the lease was released; state 1 is declined (no client holds it), 2 reclaimed.
  bool ReadLeaseLine(std::string_view line, bool first, LeaseTable& table) const override {
    const std::vector<std::string_view> fields = SplitFields(line, ',');
    if (first) {
      table.columns.assign(fields.begin(), fields.end());
      for (const char* needed :
           {"address", "hwaddr", "client_id", "valid_lifetime", "expire", "hostname"}) {
        if (std::find(table.columns.begin(), table.columns.end(), needed) == table.columns.end()) {
          table.columns.clear();
          return false;
        }
      }
      return true;
    }
    if (table.columns.empty() || fields.size() != table.columns.size()) {
      return false;
    }
    const auto field = [&](std::string_view name) {
      return Column(table.columns, fields, name).value_or("0");
    };
    const std::optional<Ipv4> address = ParseAddress(field("address"));
    const std::optional<std::string> hardware = OptionalHex(field("hwaddr"), kMaxHardwareBytes);
    const std::optional<std::string> clientId = OptionalHex(field("client_id"), kMaxClientIdBytes);
    const std::optional<std::int64_t> lifetime = ParseDecimal(field("valid_lifetime"));
    const std::optional<std::int64_t> expire = ParseDecimal(field("expire"));
    const std::optional<std::int64_t> state = ParseDecimal(field("state"));
    if (!address || !hardware || !clientId || !lifetime || !expire || !state ||
        *lifetime > kInfiniteLifetime) {
      return false;
    }
    if (*lifetime == 0 || *state != 0 || hardware->empty()) {
      table.leases.erase(*address);
      return true;
    }
    const std::string_view name = field("hostname");
    table.leases[*address] = {*address, *hardware, *clientId,
                              *lifetime == kInfiniteLifetime ? kNeverExpires : *expire,
                              IsPlainHostName(name) ? std::string(name) : ""};
    return true;
  }

  // Each lease as renewed at now: its lifetime is what is left of it.
  std::string WriteLeases(const std::vector<Lease>& leases, std::int64_t now) const override {
    std::string text = std::string(kLeaseHeader) + "\n";
    for (const Lease& lease : leases) {
      const std::int64_t lifetime = lease.expiry - now > kMaxLifetime
                                        ? kMaxLifetime
                                        : std::max<std::int64_t>(lease.expiry - now, 1);
      text += Quad(lease.address) + "," + lease.hardware + "," +
              (HexByteCount(lease.clientId) >= kMinClientIdBytes ? lease.clientId : "") + "," +
              std::to_string(lifetime) + "," + std::to_string(now + lifetime) + "," +
              std::to_string(kSubnetId) + ",0,0," +
              (IsPlainHostName(lease.hostName) ? lease.hostName : "") + ",0,\n";
    }
    return text;
  }

  std::vector<std::string> TestArguments(const std::string& program,
                                         const std::string& config) const override {
    return {program, "-t", config};
  }

  std::string_view VersionOption() const override { return "-v"; }
  // Its first line is the version alone.
  std::string VersionOf(std::string_view firstLine) const override {
    return std::string(firstLine);
  }

  // Kea stays in the foreground: it is started detached, and its control socket is asked until
  // its sockets are ready; it exits when one cannot be opened (service-sockets-require-all).
  EngineResult Start(const StartContext& context, pid_t& server) const override {
    const std::string socketPath = SocketPath(context.folder.path);
    unlinkat(context.folder.fd.Get(), kSocketName, 0);
    const Command command{
        {context.program, "-c", context.paths.config},
        {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "KEA_PIDFILE_DIR=" + context.folder.path,
         "KEA_LOCKFILE_DIR=" + context.folder.path}};
    std::array<int, 2> ends{};
    if (pipe2(ends.data(), O_CLOEXEC) != 0) {
      return {kEngineStartFailed, u"Kea could not be run (no pipe)."};
    }
    const pid_t child = Spawn(command, context.log, true, ends[1]);
    close(ends[1]);
    int started = -1;
    if (child > 0) {
      if (read(ends[0], &started, sizeof started) != static_cast<ssize_t>(sizeof started)) {
        started = -1;
      }
      WaitExit(child, kStopWait);
    }
    close(ends[0]);
    if (started <= 0) {
      return {kEngineStartFailed, u"Kea could not be run."};
    }
    const Fd process = OpenProcess(started);
    StartWatch watch(started, context.limit);
    for (;;) {
      if (IsGone(started)) {
        const std::string reason =
            ReasonFromLog(EngineLogFrom(context.folder.fd.Get(), context.logOffset));
        const std::u16string why = u"Kea did not start: " + Quoted(reason) + u".";
        if (Holds(reason, "ermission denied")) {
          return {kNotRoot, why};
        }
        if (Holds(reason, "socket") || Holds(reason, "in use") || Holds(reason, "SOCKET")) {
          return {kEngineCannotBind, why};
        }
        if (Holds(reason, "CONFIG") || Holds(reason, "config") || Holds(reason, "parse")) {
          return {kEngineConfigRefused, why};
        }
        return {kEngineStartFailed, why};
      }
      if (Holds(AskKea(socketPath, "status-get"), "\"ready\"")) {
        break;
      }
      if (watch.Expired()) {
        const std::u16string seconds =
            DecimalText(static_cast<std::uint64_t>(watch.Elapsed().count() / 1000));
        const std::u16string when = watch.ReachedLimit()
                                        ? u"Kea was not serving within " + seconds +
                                              u" seconds, the most its lease file's size allows"
                                        : u"Kea was not serving after " + seconds +
                                              u" seconds and showed no sign of starting (no CPU "
                                              u"time, no disk wait) for 3 seconds";
        return {kEngineStartFailed, StopProcess(process, started)
                                        ? when + u"; it was stopped."
                                        : when + u" and did not stop (pid " +
                                              DecimalText(static_cast<unsigned>(started)) + u")."};
      }
      std::this_thread::sleep_for(kPoll);
    }
    server = started;
    return {};
  }

  // Kea is asked on its control socket: its statistics count the assigned addresses (an expired
  // lease until it is reclaimed, within kReclaimSeconds) and the pool's size.
  EngineStatus Status(const StatusContext& context) const override {
    EngineStatus status;
    const std::string socketPath = SocketPath(context.folder.path);
    const Json health = Json::parse(AskKea(socketPath, "status-get"), nullptr, false);
    const Json statistics = Json::parse(AskKea(socketPath, "statistic-get-all"), nullptr, false);
    const std::string subnet = "subnet[" + std::to_string(kSubnetId) + "].";
    status.leasesActive = StatisticOf(statistics, subnet + "assigned-addresses");
    status.poolSize = StatisticOf(statistics, subnet + "total-addresses");
    status.pairShape = PairShapeOf(health);
    if (TellsOfPair(health)) {
      status.pairState =
          PairStateOf(Json::parse(AskKea(socketPath, "ha-heartbeat"), nullptr, false));
      status.partnerState = PartnerStateOf(health);
    }
    const auto arguments = health.find("arguments");
    if (health.is_discarded() || arguments == health.end() || !arguments->is_object()) {
      status.note = u"Kea does not answer on its control socket.";
      return status;
    }
    const auto sockets = arguments->find("sockets");
    const Json state = sockets != arguments->end() && sockets->is_object()
                           ? sockets->value("status", Json("unknown"))
                           : Json("unknown");
    if (state != "ready") {
      status.note = u"Kea reports its sockets as " +
                    Quoted(state.is_string() ? state.get<std::string>() : state.dump()) + u".";
    }
    return status;
  }

  // Its first error or warning is the cause; later ones follow from it. Its warnings of how it
  // runs threads (multi-threading off; with it on, reservations looked up first) are no complaint.
  std::string ReasonFromLog(std::string_view appended) const override {
    for (std::size_t at = 0; at < appended.size();) {
      const std::size_t end = std::min(appended.find('\n', at), appended.size());
      const std::string line(appended.substr(at, end - at));
      for (const char* level : {" FATAL ", " ERROR ", " WARN "}) {
        if (Holds(line, level) && !Holds(line, "MULTI_THREADING") &&
            !Holds(line, "RESERVATIONS_LOOKUP_FIRST")) {
          return KeaReason(line);
        }
      }
      at = end + 1;
    }
    return LastLineOf(appended);
  }
};

}  // namespace

const DhcpEngine& KeaEngine() {
  static const Kea engine;
  return engine;
}

}  // namespace dhcp_plugin
