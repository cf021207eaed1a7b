// dnsmasq as the DHCP server engine: its configuration, start, failure reasons and leases.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>

#include "engines.h"
#include "process.h"

namespace dhcp_plugin {

namespace {

constexpr char kPidName[] = "dnsmasq.pid";
// The shortest lease dnsmasq hands out; a shorter DuringTime is raised to it.
constexpr std::uint64_t kMinLeaseSeconds = 120;

std::string Quad(Ipv4 address) {
  return std::to_string(address >> 24U) + "." + std::to_string((address >> 16U) & 0xFFU) + "." +
         std::to_string((address >> 8U) & 0xFFU) + "." + std::to_string(address & 0xFFU);
}

bool Holds(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

// Whether a line of the lease file, "EXPIRY MAC ADDRESS HOSTNAME CLIENT-ID" with EXPIRY in seconds
// since the epoch (0: never), is a lease that has not expired at now, for an address in range
// when one is given. Other lines (dnsmasq's "duid" line, anything damaged) are not leases.
bool IsActiveLease(std::string_view line, std::int64_t now, const std::optional<Ipv4Range>& range) {
  constexpr std::size_t kMaxDigits = 18;  // far beyond any time, and no overflow
  const std::size_t digits = line.find_first_not_of("0123456789");
  if (digits == 0 || digits == std::string_view::npos || digits > kMaxDigits ||
      line[digits] != ' ') {
    return false;
  }
  std::int64_t expiry = 0;
  for (const char c : line.substr(0, digits)) {
    expiry = expiry * 10 + (c - '0');
  }
  const std::size_t mac = line.find(' ', digits + 1);
  if (mac == std::string_view::npos) {
    return false;
  }
  const std::string_view rest = line.substr(mac + 1);
  const std::string_view text = rest.substr(0, rest.find(' '));
  const std::optional<Ipv4> address = ParseDottedQuad(std::u16string(text.begin(), text.end()));
  if (!address || (range && (*address < range->first || *address > range->last))) {
    return false;
  }
  return expiry == 0 || expiry > now;
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

  // DHCP only (port=0), on that one interface.
  std::string Configuration(const ServeSettings& settings, const std::string& interfaceName,
                            const EnginePaths& paths) const override {
    const std::uint64_t lease = ServedLeaseSeconds(settings.leaseSeconds);
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
           paths.log +
           "\n"
           "log-dhcp\n";
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

  // dnsmasq keeps its leases in its lease file (a rewrite drops expired ones, but only when it
  // next writes it), so each lease is counted by its expiry. The file is read as a stream.
  EngineStatus Status(const StatusContext& context) const override {
    constexpr std::size_t kLongestLine = 1024;  // a longer line is cut: its first fields stay
    EngineStatus status;
    const std::string name(LeaseName());
    const Fd fd(openat(context.folder.fd.Get(), name.c_str(),
                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!static_cast<bool>(fd)) {
      if (errno == ENOENT) {
        status.leasesActive = 0;
      }
      return status;
    }
    if (fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
      return status;
    }
    std::uint64_t count = 0;
    std::string line;
    std::array<char, 4096> chunk{};
    for (;;) {
      const ssize_t got = read(fd.Get(), chunk.data(), chunk.size());
      if (got < 0 && errno == EINTR) {
        continue;
      }
      if (got < 0) {
        return status;
      }
      if (got == 0) {
        break;
      }
      for (const char c : std::string_view(chunk.data(), static_cast<std::size_t>(got))) {
        if (c == '\n') {
          count += IsActiveLease(line, context.now, context.range) ? 1 : 0;
          line.clear();
        } else if (line.size() < kLongestLine) {
          line.push_back(c);
        }
      }
    }
    count += IsActiveLease(line, context.now, context.range) ? 1 : 0;
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
