// The least a program can do for the launcher's job, as a yardstick for timing the launcher's run.
//
// Registers "fylDHCPD.dll", reads the four settings with the same profile reader, writes the
// request text directly and hands it to the plugin's three entry points, with no request record,
// no checks of the settings and no reading of the reply. Runs in bin/ of a deployment like the
// launcher; ends with the launcher's exit codes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/library.h"
#include "platform/profile.h"
#include "request/plugin_contract.h"

namespace {

constexpr std::size_t kValueUnits = 1024;
constexpr char16_t kMissingMarker[] = u"@1@";

using RegisterServerFn = std::int32_t (*)();

struct Setting {
  const char16_t* iniKey;
  const char16_t* requestKey;
};
constexpr Setting kSettings[] = {
    {u"SubNetMask", u"DHCP_ZOR_PLUGIN_SUBNETMASK_PARAMETER"},
    {u"Gateway", u"DHCP_ZOR_PLUGIN_GATEWAY_PARAMETER"},
    {u"DuringTime", u"DHCP_ZOR_PLUGIN_DURING_TIME_PARAMETER"},
    {u"RangeIp", u"DHCP_ZOR_PLUGIN_RANGE_IP_PARAMETER"},
};

}  // namespace

int main() {
  const platform::LibraryHandle component = platform::LoadLibraryAt(u"fylDHCPD.dll");
  if (component == nullptr) {
    return -2;
  }
  const auto registerServer =
      reinterpret_cast<RegisterServerFn>(platform::FindEntryPoint(component, "DllRegisterServer"));
  if (registerServer == nullptr) {
    return -3;
  }
  if (registerServer() < 0) {
    return -4;
  }

  std::u16string text = u"RunDHCPServer";
  for (const Setting& setting : kSettings) {
    char16_t value[kValueUnits];
    const std::size_t units =
        platform::ReadProfileString(u"PARAMS", setting.iniKey, kMissingMarker, value, kValueUnits,
                                    u"..\\config\\fylDHCPServer.ini");
    text.append(u"@@@").append(setting.requestKey).append(u"=");
    if (std::u16string_view(value, units) != kMissingMarker) {
      text.append(value, units);
    }
  }

  const platform::ScopedLibrary plugin(platform::LoadLibraryAt(u".\\mekDHCPPluginu.dll"));
  if (!plugin) {
    return 0;
  }
  const auto initialize = reinterpret_cast<PluginInitializeFn>(
      platform::FindEntryPoint(plugin.get(), kInitializeEntry));
  const auto requestService = reinterpret_cast<PluginRequestServiceFn>(
      platform::FindEntryPoint(plugin.get(), kRequestServiceEntry));
  const auto release =
      reinterpret_cast<PluginReleaseFn>(platform::FindEntryPoint(plugin.get(), kReleaseEntry));
  if (initialize == nullptr || requestService == nullptr || release == nullptr) {
    return 0;
  }
  initialize(text);
  requestService(text);
  release(text);
  // The reply may be the plugin's memory: free it while the plugin is still loaded.
  std::u16string().swap(text);
  return 0;
}
