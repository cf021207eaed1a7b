// What the operations on the server share with its start: the checks a start runs before it
// changes anything, and the record a start leaves of what it serves.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dhcp_engine.h"
#include "state_folder.h"

namespace dhcp_plugin {

// The engine Engine names, or for auto the first of the table that is installed; nullptr with
// result set (kNoEngine) when it is not installed, and nullptr with result untouched for check and
// off.
const DhcpEngine* ChooseEngine(const PluginConfig& config, EngineResult& result);

// What the checks of a start found: the engine and its program, the interface's name, the state
// folder (open; or with kInspect and a missing folder, "none" with the path it would get), and with
// section HA the pair.
struct StartPlan {
  const DhcpEngine* engine = nullptr;
  std::string program;
  std::string interfaceName;
  StateFolder folder;
  std::optional<PairPlan> pair;
};

// Every check a start runs before it takes the lock, in its order: an engine that can pair when
// section HA asks for a pair (kPairEngineCannotPair), the engine, the interface, root, the state
// folder (made when missing with kCreate only), whether every engine's files fit in it, and the
// pair's checks on this machine (CheckPair). The first failure is the start's own answer.
// config.engine is not check or off; config.pair.faultCode is 0.
EngineResult CheckStart(const PluginConfig& config, const ServeSettings& settings, FolderUse use,
                        StartPlan& plan);

// The record a successful start leaves of what it serves, in the state folder as kServedName.
// It is read back as untrusted input: ParseServed takes only a record of exactly this shape.
inline constexpr char kServedName[] = "server.json";
struct ServedRecord {
  EngineKind engine = EngineKind::kCheck;  // kDnsmasq or kKea
  std::string version;                     // "" when the engine told none
  pid_t pid = 0;
  std::string interfaceName;
  ServeSettings settings;                // as requested: leaseSeconds is DuringTime
  std::uint64_t servedLeaseSeconds = 0;  // the lease the engine hands out
  std::string started;                   // UTC, "2026-12-08T07:39:45Z"
};

// The record as the JSON text that is written; a version longer than ParseServed takes is cut.
std::string ServedText(const ServedRecord& record);
// The record text parses to, or nothing when it is not valid JSON of that shape: every field
// present with its type, a plain interface name, strict dotted quads, a contiguous mask that holds
// the router and the range, a lease within 1..kMaxLeaseSeconds, a pid above 1, an engine's name.
std::optional<ServedRecord> ParseServed(std::string_view text);
// Writes it whole, after a successful start. Returns whether it was written.
bool RecordServed(const StateFolder& folder, const ServedRecord& record);

// time as ISO 8601 UTC with seconds, as ServedRecord::started holds it.
std::string UtcText(std::time_t time);

// What differs between what a server serves (record) and what a start would serve now: the four
// settings (wanted; nothing when they fail the checks, and fault then says why), Engine (chosen:
// the engine it names, or that auto chooses now; nullptr for check, off, or auto finding none)
// and Interface. Each entry is a phrase naming the setting; none when everything matches.
std::vector<std::u16string> DifferencesFrom(const ServedRecord& record,
                                            const std::optional<ServeSettings>& wanted,
                                            const std::u16string& fault, const PluginConfig& config,
                                            const DhcpEngine* chosen);

}  // namespace dhcp_plugin
