// The one network interface a server serves: its name, and whether it holds an address in the
// gateway's subnet.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine.h"

namespace dhcp_plugin {

// Whether name is a plain network interface name: 1 to 15 characters from [A-Za-z0-9_.-], and
// not "." or "..". Only such a name is ever written into an engine's configuration.
bool IsPlainInterfaceName(std::u16string_view name);

// One IPv4 address held by an interface.
struct InterfaceAddress {
  std::string name;
  Ipv4 address = 0;
};

// The IPv4 addresses every interface holds now, in the system's order.
std::vector<InterfaceAddress> Ipv4Addresses();

// The IPv4 addresses the interface of that name holds now.
std::vector<Ipv4> AddressesOf(const std::string& name);

// The names of the interfaces holding an address in the gateway's subnet, in the order first
// seen, each once.
std::vector<std::string> InterfacesInSubnet(const std::vector<InterfaceAddress>& addresses,
                                            const ServeSettings& settings);

// The interfaces that would fit, for a message: "interfaces that would fit: a, b", or "none here
// holds one". The names come from the system and are quoted with QuoteForMessage.
std::u16string FittingInterfacesText(const std::vector<std::string>& names);

// Checks Interface as PluginConfig holds it: set (kInterfaceMissing), plain (kInterfaceMalformed),
// present here (kInterfaceNotFound) and holding an address in the gateway's subnet
// (kInterfaceNotInSubnet); each message names the interfaces that would fit. On success native
// holds the name.
EngineResult CheckInterface(const std::u16string& name, const ServeSettings& settings,
                            std::string& native);

}  // namespace dhcp_plugin
