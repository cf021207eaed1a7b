// The leases a start hands to the engine it starts: those of the engine that served last, read
// from its lease files, still running and inside the new range, written whole into the new
// engine's lease file.
#pragma once

#include <cstdint>

#include "dhcp_engine.h"
#include "leases.h"

namespace dhcp_plugin {

// The marker in the state folder naming the lease file that holds the current leases (the file
// name of the last engine to serve, e.g. "dnsmasq.leases"). It is written at each start, after
// that engine's lease file was made, before the engine starts: a later run, also after a reboot
// with no server running, knows by it whose leases to read. Without it (a folder from before
// markers were written) the engine whose lease file changed last served last.
inline constexpr char kCurrentLeasesName[] = "current-leases";

// The leases engine's files in the open state folder hold (all of them, read as it reads them at
// a start) that run at now, and how many lines of them are no record; changes nothing.
LeaseRead ReadEngineLeases(int folder, const DhcpEngine& engine, std::int64_t now);

// Run at each start, after the server started before was stopped (so its lease files are final)
// and before engine starts. The leases of the engine that served last (the marker) that still
// run at now are written, each inside settings' range, into engine's lease file: whole (a
// temporary file, flushed to disk, renamed over the old one), its side files removed. When that
// engine is the one starting, its own files are written anew only when they hold a line it cannot
// read or a lease outside the range, running or expired (dnsmasq counts each record against its
// lease limit, the range's size, and does not start when they are more; it reads nothing after a
// line it cannot read). A lease file holding a line that is no record (cut short
// by a crash, edited by hand) is kept under the new name "NAME.unreadable-YYYYMMDD-HHMMSS" (UTC),
// its readable leases carried.
// Returns code 0 with what it did as sentences to add to the answer ("" when there is nothing to
// say), or kStateFolderUnsafe when a file could not be kept aside or written: the engine must
// then not start, for it would give addresses that clients hold.
EngineResult CarryLeases(const StateFolder& folder, const DhcpEngine& engine,
                         const ServeSettings& settings, std::int64_t now);

}  // namespace dhcp_plugin
