// The served interface on Linux: its name checked, its addresses from getifaddrs.
#include "interfaces.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "platform/shown_path.h"
#include "plugin_config.h"
#include "state_folder.h"

namespace dhcp_plugin {

namespace {

constexpr std::size_t kMaxInterfaceName = 15;  // IFNAMSIZ less its terminator

bool IsNameCharacter(char32_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.' || c == '-';
}

EngineResult Fail(int code, std::u16string message) {
  return {code, std::move(message)};
}

}  // namespace

std::vector<InterfaceAddress> Ipv4Addresses() {
  std::vector<InterfaceAddress> addresses;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    return addresses;
  }
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET) {
      sockaddr_in in{};
      std::memcpy(&in, entry->ifa_addr, sizeof in);
      addresses.push_back({entry->ifa_name, ntohl(in.sin_addr.s_addr)});
    }
  }
  freeifaddrs(list);
  return addresses;
}

std::vector<Ipv4> AddressesOf(const std::string& name) {
  std::vector<Ipv4> held;
  for (const InterfaceAddress& entry : Ipv4Addresses()) {
    if (entry.name == name) {
      held.push_back(entry.address);
    }
  }
  return held;
}

bool IsPlainInterfaceName(std::u16string_view name) {
  if (name.empty() || name.size() > kMaxInterfaceName || name == u"." || name == u"..") {
    return false;
  }
  return std::all_of(name.begin(), name.end(), IsNameCharacter);
}

std::vector<std::string> InterfacesInSubnet(const std::vector<InterfaceAddress>& addresses,
                                            const ServeSettings& settings) {
  std::vector<std::string> names;
  for (const InterfaceAddress& entry : addresses) {
    if ((entry.address & settings.mask) == settings.Network() &&
        std::find(names.begin(), names.end(), entry.name) == names.end()) {
      names.push_back(entry.name);
    }
  }
  return names;
}

std::u16string FittingInterfacesText(const std::vector<std::string>& names) {
  if (names.empty()) {
    return u"none here holds one";
  }
  std::u16string list = u"interfaces that would fit: ";
  for (std::size_t i = 0; i < names.size(); ++i) {
    list += (i == 0 ? u"" : u", ") + QuoteForMessage(WidenText(names[i]));
  }
  return list;
}

EngineResult CheckInterface(const std::u16string& name, const ServeSettings& settings,
                            std::string& native) {
  const std::u16string subnet = FormatDottedQuad(settings.Network()) + u"/" +
                                DecimalText(static_cast<std::uint64_t>(settings.prefix));
  const std::vector<std::string> fitting = InterfacesInSubnet(Ipv4Addresses(), settings);
  if (name.empty()) {
    return Fail(kInterfaceMissing,
                u"Interface is not set in [ENGINE] of " + platform::ShownPath(kPluginConfigPath) +
                    u"; name the one interface to serve, which must hold an address in " + subnet +
                    u" (" + FittingInterfacesText(fitting) + u"). Nothing was started.");
  }
  if (!IsPlainInterfaceName(name)) {
    return Fail(kInterfaceMalformed, u"Interface \"" + QuoteForMessage(name) +
                                         u"\" is not a plain interface name (1 to 15 of "
                                         u"A-Z a-z 0-9 _ . -). Nothing was started.");
  }
  std::string narrow(name.begin(), name.end());
  if (if_nametoindex(narrow.c_str()) == 0) {
    return Fail(kInterfaceNotFound, u"Interface " + Quoted(narrow) +
                                        u" does not exist on this machine; " +
                                        FittingInterfacesText(fitting) + u". Nothing was started.");
  }
  if (std::find(fitting.begin(), fitting.end(), narrow) == fitting.end()) {
    return Fail(kInterfaceNotInSubnet,
                u"Interface " + Quoted(narrow) + u" holds no IPv4 address in " + subnet + u"; " +
                    FittingInterfacesText(fitting) + u". Nothing was started.");
  }
  native = std::move(narrow);
  return {};
}

}  // namespace dhcp_plugin
