// The engine layer on Windows: neither DHCP server engine runs there.
#include "engine.h"

namespace dhcp_plugin {

EngineResult StartEngine(const PluginConfig& /*config*/, const ServeSettings& /*settings*/) {
  return {kNoEngine,
          u"The settings are sound, but there is no DHCP server engine on this "
          u"platform (dnsmasq and Kea run on Linux only); nothing was started."};
}

}  // namespace dhcp_plugin
