// The launcher's one run: register the DHCP server component, then start the DHCP server.
#include "launcher.h"

#include <cstdint>
#include <memory>
#include <string>

#include "launcher/settings_request.h"
#include "platform/library.h"
#include "platform/text.h"
#include "request/dhcp_server_request.h"

namespace {

constexpr char kComponentLibrary[] = "fylDHCPD.dll";
constexpr char kRegisterEntry[] = "DllRegisterServer";

using RegisterServerFn = std::int32_t (*)();

// Reads the four settings and sends them to the plugin in a "RunDHCPServer" request.
void StartDhcpServer() {
  const auto request = std::make_unique<CDhcpServerRequest>();
  settings_request::FillRequest(settings_request::ReadSettings(settings_request::kSettingsFile),
                                *request);
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
