// Starting the DHCP server on Linux: the engine chosen, the checks every engine shares, the server
// an earlier run started stopped, and the new one started through its engine.
#include <fcntl.h>
#include <sys/stat.h>
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
#include "pair.h"
#include "platform/shown_path.h"
#include "process.h"
#include "server.h"
#include "state_folder.h"

namespace dhcp_plugin {

namespace {

// How long a paired Kea is given, once it serves, to open its listener for the pair.
constexpr milliseconds kListenerWait{3000};

EngineResult Fail(int code, std::u16string message) {
  return {code, std::move(message)};
}

// An engine's reason as the end of its chain of "what failed: why", short enough to be quoted
// whole in a message.
std::string InnermostReason(std::string reason) {
  constexpr std::size_t kShort = 64;
  for (std::size_t colon = reason.find(": "); reason.size() > kShort && colon != std::string::npos;
       colon = reason.find(": ")) {
    reason.erase(0, colon + 2);
  }
  return reason;
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

// "2.3": milliseconds as seconds with one decimal, rounded down.
std::u16string SecondsText(milliseconds elapsed) {
  const auto tenths = static_cast<std::uint64_t>(elapsed.count() / 100);
  return DecimalText(tenths / 10) + u"." + DecimalText(tenths % 10);
}

std::u16string RunningMessage(const DhcpEngine& engine, const std::string& versionLine,
                              pid_t server, const std::string& interfaceName,
                              const ServeSettings& settings, milliseconds took) {
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
  return message + u" It started in " + SecondsText(took) + u" seconds.";
}

// The size of the engine's lease file, which it loads before it serves.
std::uint64_t LeaseBytes(const StateFolder& folder, const DhcpEngine& engine) {
  struct stat info {};
  return fstatat(folder.fd.Get(), std::string(engine.LeaseName()).c_str(), &info,
                 AT_SYMLINK_NOFOLLOW) == 0 &&
                 S_ISREG(info.st_mode)
             ? static_cast<std::uint64_t>(info.st_size)
             : 0;
}

}  // namespace

EngineResult CheckStart(const PluginConfig& config, const ServeSettings& settings, FolderUse use,
                        StartPlan& plan) {
  EngineResult result;
  if (config.pair.mode != PairMode::kOff && config.engine != EngineKind::kKea) {
    return Fail(kPairEngineCannotPair,
                u"Mode=" + std::u16string(PairModeName(config.pair.mode)) + u" in [" +
                    kPairSection + u"] of " + platform::ShownPath(kPluginConfigPath) +
                    u" asks for a pair of servers, which only Kea can be one of; set Engine=kea "
                    u"in [" +
                    kEngineSection +
                    u"] (not auto, which may choose dnsmasq). Nothing "
                    u"was started or stopped.");
  }
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
  if (config.pair.mode != PairMode::kOff) {
    PairPlan pair;
    if (result = CheckPair(config, settings, plan.folder, plan.program, pair); result.code != 0) {
      return result;
    }
    plan.pair = std::move(pair);
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
  FreeEngineLogSpace(folder.fd.Get());
  // The new configuration is written and accepted by the engine's own test, and the log is ready,
  // before the old server is stopped, so a failure here leaves it running; the old server does not
  // read its configuration again.
  const EnginePaths paths = PathsOf(engine, folder.path);
  if (!WriteFileAt(folder.fd.Get(), std::string(engine.ConfigName()),
                   engine.Configuration(settings, interfaceName, paths, config.logPackets,
                                        plan.pair ? &*plan.pair : nullptr))) {
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
  // A server that is not ours on the port would serve beside the new one: nothing is stopped.
  const std::optional<OurServer> before = FindOurServer(config, folder);
  if (result = CheckPortHolders(interfaceName, before ? before->pid : 0, PortScope::kInterface,
                                u"; nothing was started or stopped.");
      result.code != 0) {
    return result;
  }
  bool stopped = false;
  if (result = StopOurServer(config, folder, stopped); result.code != 0) {
    return result;
  }
  const std::u16string stoppedText = stopped ? u" The server started before was stopped." : u"";
  const EngineResult carried = CarryLeases(folder, engine, settings, std::time(nullptr));
  if (carried.code != 0) {
    return {carried.code, carried.message + stoppedText};
  }
  // Only what the new engine writes from here on can be its reason: the old server wrote its
  // farewell before.
  offset = lseek(log.Get(), 0, SEEK_END);
  pid_t server = 0;
  const StartContext context{program,
                             folder,
                             paths,
                             log.Get(),
                             static_cast<std::uint64_t>(std::max<off_t>(offset, 0)),
                             StartLimit(LeaseBytes(folder, engine))};
  const auto began = Clock::now();
  result = engine.Start(context, server);
  KeepToOwner(folder);
  if (result.code != 0) {
    // The port taken since the check above, or by a server of another interface whose socket
    // keeps this engine from binding.
    if (result.code == kEngineCannotBind) {
      if (EngineResult taken = CheckPortHolders(interfaceName, 0, PortScope::kAnyInterface,
                                                u"; nothing was started.");
          taken.code != 0) {
        result = std::move(taken);
      }
    }
    result.message += stoppedText + carried.message;
    return result;
  }
  const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - began);
  // dnsmasq lets a second one bind beside it: one that came up meanwhile means two serve.
  if (result = CheckPortHolders(interfaceName, server, PortScope::kInterface,
                                u"; the server just started was stopped.");
      result.code != 0) {
    StopProcess(OpenProcess(server), server);
    result.message += stoppedText + carried.message;
    return result;
  }
  // The pair's listener fails quietly (an address or port taken since the checks), and both
  // servers would then serve the same clients.
  if (plan.pair && !WaitForListener(server, plan.pair->settings.Own(), kListenerWait)) {
    const bool gone = StopProcess(OpenProcess(server), server);
    return {
        kPairListenerDown,
        std::u16string(engine.Name()) + u" started, but its listener for the pair was not on " +
            PeerUrlText(plan.pair->settings.Own()) + u" within " +
            DecimalText(static_cast<std::uint64_t>(kListenerWait.count() / 1000)) + u" seconds (" +
            Quoted(InnermostReason(
                engine.ReasonFromLog(EngineLogFrom(folder.fd.Get(), context.logOffset)))) +
            u"), so both servers could serve the same clients; " +
            (gone ? u"it was stopped."
                  : u"it did not stop (pid " + DecimalText(static_cast<unsigned>(server)) + u").") +
            stoppedText + carried.message};
  }
  const std::string versionOption(engine.VersionOption());
  const std::string versionLine = FirstLineOf({program, versionOption}, kStopWait);
  std::u16string message =
      RunningMessage(engine, versionLine, server, interfaceName, settings, took) + carried.message;
  if (plan.pair) {
    message += PairFormingText(plan.pair->settings);
  }
  if (!RecordOurServer(folder, engine.Kind(), server)) {
    message +=
        u" Its record could not be written in the state folder, so a later run may not "
        u"recognise it.";
  }
  RecordServed(folder,
               {engine.Kind(), engine.VersionOf(versionLine), server, interfaceName, settings,
                engine.ServedLeaseSeconds(settings.leaseSeconds), UtcText(std::time(nullptr))});
  return {kSettingsSound, std::move(message)};
}

}  // namespace dhcp_plugin
