// dhcp-launcher-check: says what the launcher in a deployment would do, and why.
#include <CLI/CLI.hpp>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

#include "check/report.h"

namespace {

constexpr char kDescription[] =
    "Checks a deployment of the DHCP server launcher and reports what the launcher would do: the "
    "permissions of its files, the component it registers, the settings it reads and why each is "
    "sent as it is, the request text, and the plugin. Run it from the deployment's bin/ folder, as "
    "the launcher runs, or give --deployment. It changes nothing unless asked to.\n\nExit status: "
    "0 the launcher would register the component and send all four settings; 1 a library that "
    "others could write or swap (it, or a link or folder on its way) was not loaded; 2 bad "
    "command line; 3 the component is not found, does not load, "
    "lacks DllRegisterServer or (--register) fails; 4 the settings file is missing, unreadable or "
    "lacks [PARAMS]; 5 a setting would be sent empty; 6 the plugin is not found, does not load or "
    "lacks an entry point; 7 (--run-plugin) the plugin did not answer 0; 8 the check could not "
    "finish (an error of the system, such as a file that cannot be looked at, or no memory), "
    "said on standard error; 9 (--server) no DHCP server of this deployment runs; 10 (--server) "
    "it runs, but not with the settings as they are now; 11 (--stop-server) it still runs; 12 "
    "(--server, --stop-server) the plugin reports no server status. The first problem in the "
    "report decides; warnings alone do not.\n\n--server and --stop-server are never sent "
    "unless asked for: they are requests other than the launcher's, and a plugin that reads no "
    "request name would take them for a start.";

// This program's file, absolute, for the hints: the system's link to it where there is one, else
// the path it was started by when that names a folder (one found on PATH does not).
std::optional<std::filesystem::path> ProgramFile(const char* started) {
  std::error_code error;
  std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    program = started == nullptr ? std::filesystem::path() : std::filesystem::path(started);
    if (!program.has_parent_path()) {
      return std::nullopt;
    }
  }
  program = std::filesystem::absolute(program, error);
  return error ? std::nullopt : std::optional<std::filesystem::path>(program);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app(kDescription, "dhcp-launcher-check");
  check::Options options;
  bool json = false;
  std::string deployment;
  app.add_option("--deployment", deployment,
                 "work from DIR/bin, reporting what the launcher there would load")
      ->type_name("DIR");
  app.add_flag("--json", json, "print the report as one JSON object");
  app.add_flag("--load-anyway", options.loadAnyway,
               "load libraries that others could write or swap too");
  app.add_flag("--register", options.registerComponent,
               "call the component's DllRegisterServer, as the launcher does (registers it)");
  CLI::Option* run = app.add_flag("--run-plugin", options.runPlugin,
                                  "send the request to the plugin exactly as the launcher does: a "
                                  "plugin set to serve starts or replaces its DHCP server");
  CLI::Option* server =
      app.add_flag("--server", options.server,
                   "ask the plugin about the DHCP server of this deployment and what a launcher "
                   "run would do now (its status query and dry run, which change nothing)");
  app.add_flag("--stop-server", options.stopServer,
               "ask the plugin to stop the DHCP server of this deployment")
      ->excludes(run)
      ->excludes(server);
  server->excludes(run);
  app.set_version_flag("--version", std::string("dhcp-launcher-check ") + DHCP_VERSION);
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& done) {
    return app.exit(done);
  } catch (const CLI::ParseError& error) {
    app.exit(error);
    return check::kExitUsage;
  }
  options.program = ProgramFile(argc > 0 ? argv[0] : nullptr);
  if (!deployment.empty()) {
    std::error_code error;
    std::filesystem::current_path(std::filesystem::path(deployment) / "bin", error);
    if (error) {
      std::cerr << "dhcp-launcher-check: cannot work from " << deployment
                << "/bin: " << error.message() << "\n";
      // A bin/ or config/ folder given for the deployment itself.
      std::filesystem::path given = std::filesystem::absolute(deployment, error).lexically_normal();
      if (!given.has_filename()) {
        given = given.parent_path();
      }
      if (!error && check::LooksLikeDeployment(given.parent_path())) {
        std::cerr << "hint: " << given.parent_path().string() << " is a deployment: --deployment "
                  << given.parent_path().string() << "\n";
      }
      return check::kExitUsage;
    }
  }
  // The report is built with the system's file calls; an error none of them expected ends the
  // check with a message rather than an abort without one.
  try {
    const check::Report report = check::BuildReport(options);
    std::cout << (json ? check::FormatJson(report) : check::FormatText(report)) << std::flush;
    return report.exitStatus;
  } catch (const std::exception& error) {
    std::cerr << "dhcp-launcher-check: the check could not finish: " << error.what() << "\n";
  } catch (...) {
    std::cerr << "dhcp-launcher-check: the check could not finish: unknown error\n";
  }
  return check::kExitError;
}
