// Starting the DHCP server on Linux: the engine chosen, the checks every engine shares, the server
// an earlier run started stopped, and the new one started through its engine.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "engine.h"
#include "engines.h"
#include "interfaces.h"
#include "lease_carry.h"
#include "our_server.h"
#include "process.h"
#include "state_folder.h"

namespace dhcp_plugin {

namespace {

EngineResult Fail(int code, std::u16string message) {
  return {code, std::move(message)};
}

// The engine Engine names, or for auto the first of the table that is installed; nullptr with
// result set when there is none.
const DhcpEngine* ChooseEngine(const PluginConfig& config, EngineResult& result) {
  if (config.engine != EngineKind::kAuto) {
    const DhcpEngine* engine = FindEngine(config.engine);
    const std::string program = config.ProgramOf(config.engine).native();
    if (engine != nullptr && !IsExecutable(program)) {
      result = Fail(kNoEngine, std::u16string(engine->Name()) + u" is not installed at " +
                                   Quoted(program) + u"; nothing was started.");
      return nullptr;
    }
    return engine;
  }
  std::u16string programs;
  std::u16string packages;
  for (const DhcpEngine* engine : Engines()) {
    const std::string program = config.ProgramOf(engine->Kind()).native();
    if (IsExecutable(program)) {
      return engine;
    }
    programs += (programs.empty() ? u"neither " : u" nor ") + Quoted(program);
    packages += (packages.empty() ? u"" : u" or ") + std::u16string(engine->Package());
  }
  result = Fail(kNoEngine, u"No DHCP server engine is installed: " + programs +
                               u" can be run. Install " + packages + u".");
  return nullptr;
}

std::u16string RunningMessage(const DhcpEngine& engine, const std::string& program, pid_t server,
                              const std::string& interfaceName, const ServeSettings& settings) {
  const std::uint64_t served = engine.ServedLeaseSeconds(settings.leaseSeconds);
  const std::uint64_t count = std::uint64_t{settings.last} - settings.first + 1;
  const std::string versionOption(engine.VersionOption());
  std::u16string message =
      u"DHCP server running: " + std::u16string(engine.Name()) +
      VersionText(engine, FirstLineOf({program, versionOption}, kStopWait)) + u", pid " +
      DecimalText(static_cast<unsigned>(server)) + u", interface " + WidenText(interfaceName) +
      u", range " + FormatDottedQuad(settings.first) + u"-" + FormatDottedQuad(settings.last) +
      u" (" + DecimalText(count) + (count == 1 ? u" address" : u" addresses") + u"), mask " +
      FormatDottedQuad(settings.mask) + u", router " + FormatDottedQuad(settings.gateway) +
      u", lease " + DecimalText(served) + u" seconds.";
  if (served != settings.leaseSeconds) {
    message += u" DuringTime " + DecimalText(settings.leaseSeconds) + u" was raised to " +
               std::u16string(engine.Name()) + u"'s shortest lease of " + DecimalText(served) +
               u" seconds.";
  }
  return message;
}

}  // namespace

EngineResult StartEngine(const PluginConfig& config, const ServeSettings& settings) {
  EngineResult result;
  const DhcpEngine* chosen = ChooseEngine(config, result);
  if (chosen == nullptr) {
    return result;
  }
  const DhcpEngine& engine = *chosen;
  const std::string program = config.ProgramOf(engine.Kind()).native();
  std::string interfaceName;
  if (result = CheckInterface(config.interfaceName, settings, interfaceName); result.code != 0) {
    return result;
  }
  if (geteuid() != 0) {
    return Fail(kNotRoot,
                u"A DHCP server needs root to bind port 67, and the launcher does not "
                u"run as root; nothing was started.");
  }
  StateFolder folder;
  if (result = OpenStateFolder(config.stateFolder, config.stateFolderText, folder);
      result.code != 0) {
    return result;
  }
  for (const DhcpEngine* any : Engines()) {
    if (!any->FitsFolder(folder.path)) {
      return Fail(kStateFolderUnsafe,
                  u"StateFolder " + Quoted(config.stateFolder->native()) + u" resolves to " +
                      Quoted(folder.path) +
                      u"; use a folder whose absolute path holds only letters, digits and /_.+- "
                      u"and stays short enough for a control socket.");
    }
  }
  Fd lock;
  if (result = TakeLock(folder, lock); result.code != 0) {
    return result;
  }
  FreeEngineLogSpace(folder.fd.Get());
  // The new configuration is written and accepted by the engine's own test, and the log is ready,
  // before the old server is stopped, so a failure here leaves it running; the old server does not
  // read its configuration again.
  const EnginePaths paths = PathsOf(engine, folder.path);
  if (!WriteFileAt(folder.fd.Get(), std::string(engine.ConfigName()),
                   engine.Configuration(settings, interfaceName, paths, config.logPackets))) {
    return Fail(kStateFolderUnsafe, u"The configuration cannot be written in " +
                                        Quoted(folder.path) + u" (" +
                                        WidenText(std::strerror(errno)) + u").");
  }
  if (result = TestConfiguration(engine, program, paths.config); result.code != 0) {
    result.message += u" Nothing was started or stopped.";
    return result;
  }
  off_t offset = 0;
  const Fd log = OpenEngineLog(folder.fd.Get(), offset);
  if (!static_cast<bool>(log)) {
    return Fail(kStateFolderUnsafe,
                u"The engine log cannot be opened in " + Quoted(folder.path) + u".");
  }
  bool stopped = false;
  if (result = StopOurServer(config, folder, stopped); result.code != 0) {
    return result;
  }
  const std::u16string wasStopped = stopped ? u" The server started before was stopped." : u"";
  const EngineResult carried = CarryLeases(folder, engine, settings, std::time(nullptr));
  if (carried.code != 0) {
    return {carried.code, carried.message + wasStopped};
  }
  pid_t server = 0;
  const StartContext context{program, folder, paths, log.Get(), static_cast<std::uint64_t>(offset)};
  if (result = engine.Start(context, server); result.code != 0) {
    result.message += wasStopped + carried.message;
    return result;
  }
  RecordOurServer(folder, server);
  return {kSettingsSound,
          RunningMessage(engine, program, server, interfaceName, settings) + carried.message};
}

}  // namespace dhcp_plugin
