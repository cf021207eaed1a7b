// The launcher's one run: register the DHCP server component, then start the DHCP server.
#include "launcher.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "launcher/ini_reader.h"
#include "platform/library.h"
#include "platform/text.h"
#include "request/dhcp_server_request.h"

namespace {

constexpr char kComponentLibrary[] = "fylDHCPD.dll";
constexpr char kRegisterEntry[] = "DllRegisterServer";
constexpr char kSettingsFile[] = "..\\config\\fylDHCPServer.ini";
constexpr char kSettingsSection[] = "PARAMS";
constexpr char kPluginLibrary[] = ".\\mekDHCPPluginu.dll";
constexpr std::size_t kSettingCapacity = 200;  // bytes, terminator included

enum SettingIndex : std::size_t { kSubnetMask, kGateway, kDuringTime, kRangeIp, kSettingCount };
constexpr std::array<const char*, kSettingCount> kSettingKeys = {"SubNetMask", "Gateway",
                                                                 "DuringTime", "RangeIp"};

using RegisterServerFn = std::int32_t (*)();

std::u16string Widen(std::string_view narrow) {
  std::u16string wide;
  platform::Utf8ToUtf16(narrow, wide);
  return wide;
}

// The setting's value, or the empty text when the key is missing. The message text escapes
// nothing, so a value holding "@" could smuggle fields into the request or rename the next key;
// no sound DHCP setting holds one, and such a value is sent empty like a missing key.
std::u16string ReadSetting(const CIniReader& reader, const char* key) {
  std::array<char, kSettingCapacity> buffer{};
  if (reader.ReadString(kSettingsFile, kSettingsSection, key, buffer.data(), buffer.size()) == 1) {
    return {};
  }
  std::u16string value = Widen(buffer.data());
  if (value.find(u'@') != std::u16string::npos) {
    return {};
  }
  return value;
}

// Reads the four settings and sends them to the plugin in a "RunDHCPServer" request.
void StartDhcpServer() {
  std::array<std::u16string, kSettingCount> settings;
  const CIniReader reader;
  for (std::size_t i = 0; i < kSettingCount; ++i) {
    settings[i] = ReadSetting(reader, kSettingKeys[i]);
  }

  const auto request = std::make_unique<CDhcpServerRequest>();
  request->SetPluginPath(Widen(kPluginLibrary));
  request->SetSubnetMask(settings[kSubnetMask]);
  request->SetGateway(settings[kGateway]);
  request->SetDuringTime(settings[kDuringTime]);
  request->SetRangeIp(settings[kRangeIp]);
  request->RunDHCPServer();
}

}  // namespace

int RegisterComponent(const char* libraryName) {
  std::u16string name;
  if (libraryName == nullptr || !platform::Utf8ToUtf16(libraryName, name)) {
    return kComponentNotLoaded;
  }
  const platform::LibraryHandle library = platform::LoadLibraryAt(name);
  if (library == nullptr) {
    return kComponentNotLoaded;
  }
  const auto registerServer =
      reinterpret_cast<RegisterServerFn>(platform::FindEntryPoint(library, kRegisterEntry));
  if (registerServer == nullptr) {
    return kComponentWithoutEntryPoint;
  }
  return registerServer() < 0 ? kRegistrationRefused : kRegistered;
}

int RunLauncher() {
  const int registered = RegisterComponent(kComponentLibrary);
  if (registered != kRegistered) {
    return registered;
  }
  // Only the registration decides the exit code. Running out of memory while reading the settings
  // or handling the request (a reply can be large) ends the run like any other failure after it,
  // instead of terminating the process.
  try {
    StartDhcpServer();
  } catch (...) {
  }
  return kRegistered;
}
