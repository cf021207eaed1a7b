// What the launcher in a deployment would do, and why: the facts the check program reports.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace check {

// The exit statuses of the check program; the first problem in the report's order decides.
enum ExitStatus : int {
  kExitOk = 0,              // the launcher would register and send all four settings
  kExitUnsafeLibrary = 1,   // a library others could write or swap was not loaded
  kExitUsage = 2,           // the command line could not be read
  kExitComponent = 3,       // the component is not found, does not load or lacks its entry
  kExitSettingsFile = 4,    // the settings file is missing or unreadable, or lacks [PARAMS]
  kExitSetting = 5,         // a setting would be sent empty
  kExitPlugin = 6,          // the plugin is not found, does not load or lacks an entry point
  kExitPluginRefused = 7,   // with --run-plugin: Execute or the plugin's return code was not 0
  kExitError = 8,           // the check could not finish: an error of the system, on stderr
  kExitNoServer = 9,        // with --server: no DHCP server of this deployment runs
  kExitServerDiffers = 10,  // with --server: it runs, but not with the settings as they are now
  kExitStillRunning = 11,   // with --stop-server: a server of this deployment still runs
  kExitNoStatus = 12,       // with --server or --stop-server: the plugin reports no server status
};

struct Options {
  std::optional<std::filesystem::path> deployment;  // work from DIR/bin instead of "."
  std::optional<std::filesystem::path> program;     // this program's file, absolute, when known
  bool loadAnyway = false;                          // load libraries others could swap
  bool registerComponent = false;
  bool runPlugin = false;
  bool server = false;      // send the status query and the dry run
  bool stopServer = false;  // send the stop request
};

struct ValueReport {
  std::string key;
  std::optional<std::string> inFile;  // UTF-8; a byte that is not text shows as \xNN
  std::string sent;
  std::string reason;       // ok, missing-file, unreadable, missing-section, missing-key, marker,
                            // holds-at, too-long, not-text
  std::string explanation;  // for a person: why, and what to do
};

struct LibraryReport {
  std::string path;  // the file found (full path), empty when none was found
  bool found = false;
  bool refused = false;  // not loaded: others could write or swap it or a folder on its way
  bool loads = false;
};

// How the plugin answered one of the operator's requests (status query, stop request, dry run).
struct PluginAnswer {
  int status = 0;         // Execute's
  bool answered = false;  // the reply names the request: the plugin knows it
  int returnCode = 0;
  std::string message;
};

// The server of this deployment as the plugin reports it: the status keys of the reply to a status
// query or stop request. A value the plugin left out, or that does not read as its kind, is none.
struct ServerReport {
  PluginAnswer answer;
  bool reported = false;  // the reply carries the status keys
  bool running = false;
  std::optional<std::string> engine;
  std::optional<std::string> version;
  std::optional<std::int64_t> pid;
  std::optional<std::string> interfaceName;
  std::optional<std::string> range;
  std::optional<std::string> mask;
  std::optional<std::string> router;
  std::optional<std::int64_t> leaseSeconds;
  std::optional<std::string> started;
  std::optional<std::int64_t> leasesActive;
  std::optional<std::int64_t> poolSize;
  std::optional<bool> matches;
  std::vector<std::string> differences;
  // With a pair of servers: its mode and this server's role, and the states the server tells.
  struct Pair {
    std::string mode;
    std::string role;
    std::optional<std::string> state;
    std::optional<std::string> partnerState;
  };
  std::optional<Pair> pair;
};

// A fix the report knows for what it found.
struct Hint {
  std::string about;    // working-folder, settings-file, section or permissions
  std::string text;     // for a person: what is wrong and what to do
  std::string command;  // the command that does it (to run as the launcher's user), or ""
};

// Every text of a report is UTF-8: a path's bytes that are not show as \xNN.
struct Report {
  std::string binFolder;
  bool permissionsChecked = false;
  std::string permissionsRule;
  std::vector<std::string> permissionWarnings;

  LibraryReport component;
  bool entryPoint = false;        // exports DllRegisterServer
  std::optional<int> registered;  // DllRegisterServer's result, with --register

  std::string settingsPath;
  bool settingsExists = false;
  bool settingsReadable = false;
  // The file's byte-order mark as the launcher's reader takes it: "utf-8" (none; read as UTF-8 on
  // POSIX), "ansi" (none; read in the ANSI code page on Windows), "utf-8-bom", "utf-16le-bom" or
  // "utf-16be-bom"; any other start of the file is none. "" when the file was not read.
  std::string encoding;
  std::string encodingText;  // for a person: the byte-order mark and how the file is read
  bool sectionFound = false;
  std::vector<std::string> sections;  // when [PARAMS] is missing
  std::vector<ValueReport> values;
  std::vector<std::string> settingWarnings;

  std::string request;  // the request text, UTF-8

  LibraryReport plugin;
  std::vector<std::string> entryPoints;  // those of the three that it exports
  std::optional<int> status;             // Execute's status, with --run-plugin
  std::string statusMeaning;
  std::string reply;
  std::optional<int> returnCode;
  std::string message;

  std::optional<ServerReport> server;  // --server: the status query; --stop-server: after the stop
  std::optional<PluginAnswer> dryRun;  // --server
  std::optional<PluginAnswer> stop;    // --stop-server

  std::vector<Hint> hints;  // in the report's order

  int exitStatus = kExitOk;
  std::string summary;  // the last line: what the launcher would do
};

// Looks at the deployment whose bin/ is the current directory, as the launcher would run there.
// Changes nothing, except that --register calls DllRegisterServer, --run-plugin sends the
// request to the plugin and --stop-server the stop request. --server sends the status query and
// the dry run, which change nothing with a plugin that knows them.
Report BuildReport(const Options& options);

// Whether root looks like a deployment: bin/ holding the component or the plugin, or
// config/fylDHCPServer.ini beside it.
bool LooksLikeDeployment(const std::filesystem::path& root);

// The report for a person, one fact per line, ending with the summary line.
std::string FormatText(const Report& report);

// The report as one JSON object (UTF-8, indented).
std::string FormatJson(const Report& report);

}  // namespace check
