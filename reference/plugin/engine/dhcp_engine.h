// One DHCP server engine behind the engine layer: the interface each engine's file implements.
// The shared layer (server.cpp) calls engines only through it; process.h and state_folder.h lie
// below every engine and know none of them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine.h"
#include "state_folder.h"

namespace dhcp_plugin {

// Where an engine keeps its files: absolute paths in the state folder.
struct EnginePaths {
  std::string folder;  // the state folder, absolute, without a trailing "/"
  std::string config;  // the generated configuration
  std::string leases;  // the lease file
  std::string log;     // the engines' shared log
};

// What a paired engine's configuration needs: section HA, and the folder its pairing modules (Kea's
// hook libraries) were found in.
struct PairPlan {
  PairConfig settings;
  std::string modules;
};

// What an engine's start works with.
struct StartContext {
  std::string program;        // the engine's program, absolute
  const StateFolder& folder;  // open and locked
  const EnginePaths& paths;   // its configuration there is written
  int log;                    // the engine log, open for appending: its stdout and stderr
  std::uint64_t logOffset;    // the log's size once the server started before was gone
  milliseconds limit;         // how long the start may take (StartLimit)
};

// What an engine's look at the server it runs works with.
struct StatusContext {
  const StateFolder& folder;  // open
  const EnginePaths& paths;   // of the running server's folder
  std::int64_t now = 0;       // seconds since the epoch
  // The range it serves, when known: leases outside it are not counted.
  std::optional<Ipv4Range> range;
};

// What an engine tells of the server it runs; a part is missing when it cannot tell.
struct EngineStatus {
  std::optional<std::uint64_t> leasesActive;  // leases that have not expired
  std::optional<std::uint64_t> poolSize;      // the addresses it leases from, by its own count
  std::u16string note;  // a sentence when the engine reports trouble, quoted; else ""
  // With a pair: this server's state and its partner's, as plain state names.
  std::optional<std::string> pairState;
  std::optional<std::string> partnerState;
  // "alone", or its pair's mode and its role as section HA names them ("hot-standby primary");
  // nothing when it does not tell.
  std::optional<std::string> pairShape;
};

// One lease, as much of it as every engine's lease file can carry.
struct Lease {
  Ipv4 address = 0;
  std::string hardware;     // the hardware address: 1 to 16 bytes as lowercase hex joined by ":"
  std::string clientId;     // the client identifier in the same form (up to 255 bytes), "" for none
  std::int64_t expiry = 0;  // when it ends, in seconds since the epoch; kNeverExpires for never
  std::string hostName;     // "" or a plain name (IsPlainHostName): a client chooses it
};
inline constexpr std::int64_t kNeverExpires = INT64_MAX;

// Lease records as read so far from an engine's lease files, in the order the engine reads them.
struct LeaseTable {
  std::map<Ipv4, Lease> leases;      // each address's latest record that holds a lease
  std::size_t unreadable = 0;        // lines that are no record the engine writes
  std::vector<std::string> columns;  // the column names of the file being read, where it has them
};

class DhcpEngine {
 public:
  DhcpEngine() = default;
  DhcpEngine(const DhcpEngine&) = delete;
  DhcpEngine& operator=(const DhcpEngine&) = delete;
  virtual ~DhcpEngine() = default;

  virtual EngineKind Kind() const = 0;
  // The engine in messages: "dnsmasq", "Kea".
  virtual std::u16string_view Name() const = 0;
  // The Debian package that installs it, for the message when none is installed.
  virtual std::u16string_view Package() const = 0;
  // Its configuration and lease file names in the state folder.
  virtual std::string_view ConfigName() const = 0;
  virtual std::string_view LeaseName() const = 0;
  // The pid files it writes in the state folder, by which a server an earlier run started is
  // found.
  virtual std::vector<std::string> PidFiles() const = 0;
  // Whether its files fit in the state folder at path (a control socket's path has a limit).
  virtual bool FitsFolder(const std::string& /*path*/) const { return true; }

  // The lease time it serves for the requested one.
  virtual std::uint64_t ServedLeaseSeconds(std::uint64_t requested) const { return requested; }
  // Its configuration file, made only from checked values: interfaceName passed
  // IsPlainInterfaceName and the paths IsSafeStatePath. Without logPackets it logs no line for an
  // ordinary request, so that no machine on the network can grow its log by asking. With pair it
  // serves as one of a pair of servers; only Kea takes one (others ignore it, and are never asked).
  virtual std::string Configuration(const ServeSettings& settings, const std::string& interfaceName,
                                    const EnginePaths& paths, bool logPackets,
                                    const PairPlan* pair = nullptr) const = 0;

  // The files it loads its leases from at a start, of those exists says are there, in the order
  // it reads them: a later record of an address replaces an earlier one. Its lease file is last.
  virtual std::vector<std::string> LeaseFiles(
      const std::function<bool(const std::string&)>& exists) const {
    (void)exists;
    return {std::string(LeaseName())};
  }
  // The files beside its lease file it may read leases from; removed when the lease file is
  // written anew, so that no older record comes back.
  virtual std::vector<std::string> LeaseSideFiles() const { return {}; }
  // Reads one line of one of its lease files (without its "\n"; first says it is the file's
  // first line) into table: a record of a lease sets its address's lease, a record of one that
  // was released, declined or reclaimed removes it. Returns false, changing nothing, when the line
  // is no record it writes.
  virtual bool ReadLeaseLine(std::string_view line, bool first, LeaseTable& table) const = 0;
  // Its lease file holding leases, as it would have written them at now; every lease is one
  // ReadLeaseLine reads back.
  virtual std::string WriteLeases(const std::vector<Lease>& leases, std::int64_t now) const = 0;

  // The command line that makes its program test the configuration file at config and exit:
  // 0 when it would accept it.
  virtual std::vector<std::string> TestArguments(const std::string& program,
                                                 const std::string& config) const = 0;

  // The argument that makes its program print its version, and the version that output's first
  // line tells ("" when it tells none).
  virtual std::string_view VersionOption() const = 0;
  virtual std::string VersionOf(std::string_view firstLine) const = 0;

  // Starts the server from the written configuration and waits until it serves, within
  // context.limit; on success server is the serving process. A failure leaves nothing of this
  // start running, and its reason is what this start's own processes wrote, never what was in
  // the log before.
  virtual EngineResult Start(const StartContext& context, pid_t& server) const = 0;
  // Why a start failed, from the text it appended to the engine log: the engine's own
  // complaint, else the last line; "no reason given" when there is none. Quote it for a message.
  virtual std::string ReasonFromLog(std::string_view appended) const = 0;

  // Looks at the running server's leases, through its files or by asking it; changes nothing.
  virtual EngineStatus Status(const StatusContext& context) const = 0;
};

// Has engine's program test the configuration file at config, changing nothing: kSettingsSound,
// or kEngineConfigRefused with the engine's reason (kEngineStartFailed when the test could not
// be run or did not end in time).
EngineResult TestConfiguration(const DhcpEngine& engine, const std::string& program,
                               const std::string& config);

// The paths of engine's files in the state folder at path.
EnginePaths PathsOf(const DhcpEngine& engine, const std::string& folder);

// The version that engine's program printed first, as " VERSION" quoted with QuoteForMessage, or
// "" when it tells none.
std::u16string VersionText(const DhcpEngine& engine, std::string_view firstLine);

// The last line of text that is not empty, or "no reason given".
std::string LastLineOf(std::string_view text);

}  // namespace dhcp_plugin
