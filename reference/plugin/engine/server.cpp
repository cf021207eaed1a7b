// Starting the DHCP server on Linux: the engine chosen, the checks every engine shares, the server
// an earlier run started stopped, and the new one started through its engine.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "engine.h"
#include "engines.h"
#include "interfaces.h"
#include "our_server.h"
#include "process.h"
#include "server.h"
#include "state_folder.h"

namespace dhcp_plugin {

namespace {

EngineResult Fail(int code, std::u16string message) {
  return {code, std::move(message)};
}

}  // namespace

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

namespace {

std::u16string RunningMessage(const DhcpEngine& engine, const std::string& versionLine,
                              pid_t server, const std::string& interfaceName,
                              const ServeSettings& settings) {
  const std::uint64_t served = engine.ServedLeaseSeconds(settings.leaseSeconds);
  const std::uint64_t count = std::uint64_t{settings.last} - settings.first + 1;
  std::u16string message =
      u"DHCP server running: " + std::u16string(engine.Name()) + VersionText(engine, versionLine) +
      u", pid " + DecimalText(static_cast<unsigned>(server)) + u", interface " +
      WidenText(interfaceName) + u", range " + FormatDottedQuad(settings.first) + u"-" +
      FormatDottedQuad(settings.last) + u" (" + DecimalText(count) +
      (count == 1 ? u" address" : u" addresses") + u"), mask " + FormatDottedQuad(settings.mask) +
      u", router " + FormatDottedQuad(settings.gateway) + u", lease " + DecimalText(served) +
      u" seconds.";
  if (served != settings.leaseSeconds) {
    message += u" DuringTime " + DecimalText(settings.leaseSeconds) + u" was raised to " +
               std::u16string(engine.Name()) + u"'s shortest lease of " + DecimalText(served) +
               u" seconds.";
  }
  return message;
}

}  // namespace

EngineResult CheckStart(const PluginConfig& config, const ServeSettings& settings, FolderUse use,
                        StartPlan& plan) {
  EngineResult result;
  plan.engine = ChooseEngine(config, result);
  if (plan.engine == nullptr) {
    return result;
  }
  plan.program = config.ProgramOf(plan.engine->Kind()).native();
  if (result = CheckInterface(config.interfaceName, settings, plan.interfaceName);
      result.code != 0) {
    return result;
  }
  if (geteuid() != 0) {
    return Fail(kNotRoot,
                u"A DHCP server needs root to bind port 67, and the launcher does not "
                u"run as root; nothing was started.");
  }
  if (result = OpenStateFolder(config.stateFolder, config.stateFolderText, plan.folder, use);
      result.code != 0) {
    return result;
  }
  for (const DhcpEngine* any : Engines()) {
    if (!any->FitsFolder(plan.folder.path)) {
      return Fail(kStateFolderUnsafe,
                  u"StateFolder " + Quoted(config.stateFolder->native()) + u" resolves to " +
                      Quoted(plan.folder.path) +
                      u"; use a folder whose absolute path holds only letters, digits and /_.+- "
                      u"and stays short enough for a control socket.");
    }
  }
  return result;
}

EngineResult StartEngine(const PluginConfig& config, const ServeSettings& settings) {
  StartPlan plan;
  EngineResult result = CheckStart(config, settings, FolderUse::kCreate, plan);
  if (result.code != 0) {
    return result;
  }
  const DhcpEngine& engine = *plan.engine;
  const std::string& program = plan.program;
  const std::string& interfaceName = plan.interfaceName;
  const StateFolder& folder = plan.folder;
  Fd lock;
  if (result = TakeLock(folder, lock); result.code != 0) {
    return result;
  }
  // The new configuration is written and accepted by the engine's own test, and the log is ready,
  // before the old server is stopped, so a failure here leaves it running; the old server does not
  // read its configuration again.
  const EnginePaths paths = PathsOf(engine, folder.path);
  if (!WriteFileAt(folder.fd.Get(), std::string(engine.ConfigName()),
                   engine.Configuration(settings, interfaceName, paths))) {
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
  pid_t server = 0;
  const StartContext context{program, folder, paths, log.Get(), static_cast<std::uint64_t>(offset)};
  if (result = engine.Start(context, server); result.code != 0) {
    if (stopped) {
      result.message += u" The server started before was stopped.";
    }
    return result;
  }
  RecordOurServer(folder, server);
  const std::string versionOption(engine.VersionOption());
  const std::string versionLine = FirstLineOf({program, versionOption}, kStopWait);
  RecordServed(folder,
               {engine.Kind(), engine.VersionOf(versionLine), server, interfaceName, settings,
                engine.ServedLeaseSeconds(settings.leaseSeconds), UtcText(std::time(nullptr))});
  return {kSettingsSound, RunningMessage(engine, versionLine, server, interfaceName, settings)};
}

}  // namespace dhcp_plugin
