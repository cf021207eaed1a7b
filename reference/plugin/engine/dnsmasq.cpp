// dnsmasq as the DHCP server engine: its configuration, start, failure reasons and lease file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "engines.h"
#include "lease_carry.h"
#include "leases.h"
#include "process.h"

namespace dhcp_plugin {

namespace {

constexpr char kPidName[] = "dnsmasq.pid";
// The shortest lease dnsmasq hands out; a shorter DuringTime is raised to it.
constexpr std::uint64_t kMinLeaseSeconds = 120;

bool Holds(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

class Dnsmasq final : public DhcpEngine {
 public:
  EngineKind Kind() const override { return EngineKind::kDnsmasq; }
  std::u16string_view Name() const override { return u"dnsmasq"; }
  std::u16string_view Package() const override { return u"dnsmasq-base"; }
  std::string_view ConfigName() const override { return "dnsmasq.conf"; }
  std::string_view LeaseName() const override { return "dnsmasq.leases"; }
  std::vector<std::string> PidFiles() const override { return {kPidName}; }

  std::uint64_t ServedLeaseSeconds(std::uint64_t requested) const override {
    return std::max(requested, kMinLeaseSeconds);
  }

  // DHCP only (port=0), on that one interface. It leases at most dhcp-lease-max addresses (1000
  // unless told), whatever the range: the limit is the range's size, so every address of it can
  // be leased. quiet-dhcp leaves out the lines of requests it answers; it still logs one line for
  // each request it refuses.
  std::string Configuration(const ServeSettings& settings, const std::string& interfaceName,
                            const EnginePaths& paths, bool logPackets,
                            const PairPlan* /*pair*/) const override {
    const std::uint64_t lease = ServedLeaseSeconds(settings.leaseSeconds);
    const std::uint64_t rangeSize = std::uint64_t{settings.last} - settings.first + 1;
    return "# Written by the DHCP plugin at each start; changes are lost.\n"
           "port=0\n"
           "interface=" +
           interfaceName +
           "\n"
           "bind-interfaces\n"
           "no-hosts\n"
           "no-resolv\n"
           "dhcp-range=" +
           Quad(settings.first) + "," + Quad(settings.last) + "," + Quad(settings.mask) + "," +
           std::to_string(lease) +
           "\n"
           "dhcp-lease-max=" +
           std::to_string(std::min<std::uint64_t>(rangeSize, INT_MAX)) +
           "\n"
           "dhcp-option=option:router," +
           Quad(settings.gateway) +
           "\n"
           "dhcp-authoritative\n"
           "dhcp-leasefile=" +
           paths.leases +
           "\n"
           "pid-file=" +
           paths.folder + "/" + kPidName +
           "\n"
           "log-facility=" +
           paths.log + "\n" + (logPackets ? "log-dhcp\n" : "quiet-dhcp\n");
  }

  // "EXPIRY HARDWARE ADDRESS HOSTNAME CLIENTID", "*" for no name or identifier, EXPIRY 0 for a
  // lease that never ends. A hardware address of another type than Ethernet starts "TT-". dnsmasq
  // reads blanks between fields as one, as here, but takes nothing after a line it cannot read.
  bool ReadLeaseLine(std::string_view line, bool /*first*/, LeaseTable& table) const override {
    std::vector<std::string_view> fields;
    for (const std::string_view field : SplitFields(line, ' ')) {
      if (!field.empty()) {
        fields.push_back(field);
      }
    }
    if (fields.size() != 5) {
      return false;
    }
    std::string_view hardwareText = fields[1];
    if (hardwareText.size() >= 3 && hardwareText[2] == '-' &&
        ParseHexBytes(hardwareText.substr(0, 2), 1)) {
      hardwareText.remove_prefix(3);
    }
    const std::optional<std::int64_t> expiry = ParseDecimal(fields[0]);
    const std::optional<std::string> hardware =
        hardwareText.empty() ? std::string() : ParseHexBytes(hardwareText, kMaxHardwareBytes);
    const std::optional<Ipv4> address = ParseAddress(fields[2]);
    const std::optional<std::string> clientId =
        fields[4] == "*" ? std::string() : ParseHexBytes(fields[4], kMaxClientIdBytes);
    if (!expiry || !hardware || !address || !clientId) {
      return false;
    }
    if (hardware->empty()) {
      table.leases.erase(*address);
      return true;
    }
    table.leases[*address] = {*address, *hardware, *clientId,
                              *expiry == 0 ? kNeverExpires : *expiry,
                              IsPlainHostName(fields[3]) ? std::string(fields[3]) : ""};
    return true;
  }

  std::string WriteLeases(const std::vector<Lease>& leases, std::int64_t /*now*/) const override {
    std::string text;
    for (const Lease& lease : leases) {
      text += std::to_string(lease.expiry == kNeverExpires ? 0 : lease.expiry) + " " +
              lease.hardware + " " + Quad(lease.address) + " " +
              (IsPlainHostName(lease.hostName) ? lease.hostName : "*") + " " +
              (lease.clientId.empty() ? "*" : lease.clientId) + "\n";
    }
    return text;
  }

  std::vector<std::string> TestArguments(const std::string& program,
                                         const std::string& config) const override {
    return {program, "--test", "--conf-file=" + config};
  }

  std::string_view VersionOption() const override { return "--version"; }

  // "Dnsmasq version 2.90  Copyright ..."
  std::string VersionOf(std::string_view firstLine) const override {
    const std::size_t at = firstLine.find("version ");
    if (at == std::string_view::npos) {
      return "";
    }
    const std::string_view version = firstLine.substr(at + 8);
    return std::string(version.substr(0, version.find(' ')));
  }

  // Its starting process exits once the daemon has bound its sockets, with 0, or 1
  // (configuration), 2 (a socket; "Permission denied" when not root), 3 (a file). Its complaint
  // is read from its own output, through a pipe only it holds: the daemon, once it runs as user
  // nobody, keeps the engine log open, so the log may hold lines no start of ours wrote.
  EngineResult Start(const StartContext& context, pid_t& server) const override {
    std::string output;
    const int status = RunCapturing({context.program, "--conf-file=" + context.paths.config},
                                    context.limit, output);
    // The log keeps it too, for the operator.
    safe_file::WriteAll(context.log, output);
    const std::string reason = status == 0 ? "" : ReasonFromLog(output);
    const std::u16string why = u"dnsmasq did not start: " + Quoted(reason) + u".";
    switch (status) {
      case 0:
        break;
      case 1:
        return {kEngineConfigRefused, why};
      case 2:
        return {Holds(reason, "ermission denied") ? kNotRoot : kEngineCannotBind, why};
      case 3:
        return {kEngineFileFailure, why};
      case -1:
        return {kEngineStartFailed,
                u"dnsmasq did not finish starting within " +
                    DecimalText(static_cast<std::uint64_t>(context.limit.count() / 1000)) +
                    u" seconds" + StopHalfStarted(context) + u"."};
      default:
        return {kEngineStartFailed, why};
    }
    std::string pidText;
    const std::optional<pid_t> pid =
        ReadFileAt(context.folder.fd.Get(), kPidName, pidText) ? ParsePid(pidText) : std::nullopt;
    if (!pid) {
      return {kEngineStartFailed, u"dnsmasq started but wrote no pid file."};
    }
    server = *pid;
    return {};
  }

  // dnsmasq keeps expired leases in its lease file until it next rewrites it: each lease of the
  // file that has not expired is counted, inside the range it serves.
  EngineStatus Status(const StatusContext& context) const override {
    EngineStatus status;
    struct stat info {};
    if (fstatat(context.folder.fd.Get(), std::string(LeaseName()).c_str(), &info,
                AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISREG(info.st_mode)) {
      return status;  // not a lease file (a link, a FIFO): nothing it says is counted
    }
    std::uint64_t count = 0;
    for (const Lease& lease :
         ReadEngineLeases(context.folder.fd.Get(), *this, context.now).leases) {
      count += !context.range || (lease.address >= context.range->first &&
                                  lease.address <= context.range->last)
                   ? 1
                   : 0;
    }
    status.leasesActive = count;
    return status;
  }

  // The first "dnsmasq: " line is its complaint.
  std::string ReasonFromLog(std::string_view appended) const override {
    constexpr std::string_view kPrefix = "dnsmasq: ";
    for (std::size_t at = 0; at < appended.size();) {
      const std::size_t end = std::min(appended.find('\n', at), appended.size());
      if (appended.substr(at, kPrefix.size()) == kPrefix) {
        return std::string(appended.substr(at + kPrefix.size(), end - at - kPrefix.size()));
      }
      at = end + 1;
    }
    return LastLineOf(appended);
  }

 private:
  // After a start that timed out: the daemon it may already have forked, found through its pid
  // file and identity, is stopped. Returns what became of it, for the message.
  static std::u16string StopHalfStarted(const StartContext& context) {
    std::string pidText;
    const std::optional<pid_t> pid =
        ReadFileAt(context.folder.fd.Get(), kPidName, pidText) ? ParsePid(pidText) : std::nullopt;
    const Fd process = pid ? OpenProcess(*pid) : Fd();
    if (!pid || (!static_cast<bool>(process) && errno == ESRCH) ||
        !IsOurServer(FactsOf(*pid), {Canonical(context.program)}, context.paths.config)) {
      return u"";
    }
    return StopProcess(process, *pid)
               ? u"; its daemon was stopped"
               : u"; its daemon (pid " + DecimalText(static_cast<unsigned>(*pid)) +
                     u") did not stop";
  }
};

}  // namespace

const DhcpEngine& DnsmasqEngine() {
  static const Dnsmasq engine;
  return engine;
}

}  // namespace dhcp_plugin
