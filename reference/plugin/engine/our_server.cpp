// Finding and stopping the server this deployment started, on Linux.
#include "our_server.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "engines.h"

namespace dhcp_plugin {

namespace {

constexpr char kRecordName[] = "server.pid";

// The pid files a server of this deployment may be named in: our record first.
std::vector<std::string> PidFileNames() {
  std::vector<std::string> names{kRecordName};
  for (const DhcpEngine* engine : Engines()) {
    for (std::string& name : engine->PidFiles()) {
      names.push_back(std::move(name));
    }
  }
  return names;
}

// The server a pid file names, when it is ours.
std::optional<OurServer> OurServerIn(const PluginConfig& config, const StateFolder& folder,
                                     const std::string& name) {
  std::vector<std::string> programs;
  std::vector<std::string> configs;
  for (const DhcpEngine* engine : Engines()) {
    programs.push_back(Canonical(config.ProgramOf(engine->Kind()).native()));
    configs.push_back(PathsOf(*engine, folder.path).config);
  }
  std::string text;
  const std::optional<pid_t> pid =
      ReadFileAt(folder.fd.Get(), name.c_str(), text) ? ParsePid(text) : std::nullopt;
  if (!pid) {
    return std::nullopt;
  }
  // The pidfd is opened before the identity is read: the check then holds for the process the
  // signals go to, even when the pid is reused meanwhile.
  OurServer server{*pid, OpenProcess(*pid)};
  if (!static_cast<bool>(server.process) && errno == ESRCH) {
    return std::nullopt;
  }
  const ProcessFacts facts = FactsOf(*pid);
  const bool ours = std::any_of(configs.begin(), configs.end(), [&](const std::string& path) {
    return IsOurServer(facts, programs, path);
  });
  return ours ? std::optional<OurServer>(std::move(server)) : std::nullopt;
}

}  // namespace

void RecordOurServer(const StateFolder& folder, pid_t server) {
  WriteFileAt(folder.fd.Get(), kRecordName, std::to_string(server) + "\n");
}

std::optional<OurServer> FindOurServer(const PluginConfig& config, const StateFolder& folder) {
  for (const std::string& name : PidFileNames()) {
    if (std::optional<OurServer> server = OurServerIn(config, folder, name)) {
      return server;
    }
  }
  return std::nullopt;
}

EngineResult StopOurServer(const PluginConfig& config, const StateFolder& folder, bool& stopped) {
  for (const std::string& name : PidFileNames()) {
    if (const std::optional<OurServer> server = OurServerIn(config, folder, name)) {
      stopped = true;
      if (!StopProcess(server->process, server->pid)) {
        return {kPreviousNotStopped, u"The DHCP server started before (pid " +
                                         DecimalText(static_cast<unsigned>(server->pid)) +
                                         u") did not stop; nothing new was started."};
      }
    }
    unlinkat(folder.fd.Get(), name.c_str(), 0);
  }
  return {};
}

}  // namespace dhcp_plugin
