// The engines the reference plugin can run, in the order Engine=auto tries them.
#pragma once

#include <span>

#include "dhcp_engine.h"

namespace dhcp_plugin {

// Each engine's one instance, defined in its own file.
const DhcpEngine& DnsmasqEngine();
const DhcpEngine& KeaEngine();

// Every engine, the first installed of them serving for Engine=auto.
std::span<const DhcpEngine* const> Engines();

// The engine of kind, or nullptr for kCheck and kAuto.
const DhcpEngine* FindEngine(EngineKind kind);

}  // namespace dhcp_plugin
