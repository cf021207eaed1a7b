// The check program's report as text for a person and as JSON for scripts.
#include <nlohmann/json.hpp>
#include <string>

#include "check/report.h"
#include "launcher/settings_request.h"
#include "platform/printable.h"
#include "platform/shown_path.h"
#include "platform/text.h"

namespace check {
namespace {

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

std::string YesNo(bool yes) {
  return yes ? "yes" : "no";
}

// text (UTF-8) with its control characters spelled out, so that a value or a path can neither end
// a line of the report nor move a terminal's cursor over what was shown.
std::string Spelled(const std::string& text) {
  std::u16string wide;
  if (!platform::Utf8ToUtf16(text, wide)) {
    // Every text of a report is UTF-8; should one not be, none of its bytes reaches the terminal.
    for (const char byte : text) {
      wide += static_cast<unsigned char>(byte) < 0x80 ? static_cast<char16_t>(byte) : u'\uFFFD';
    }
  }
  std::string out;
  platform::Utf16ToUtf8(platform::SpellOutControls(wide), out);
  return out;
}

// One line of the report, with nothing in it that a terminal would act on.
void Heading(std::string& out, const std::string& text) {
  out += Spelled(text) + "\n";
}

void Line(std::string& out, const std::string& text) {
  Heading(out, "  " + text);
}

// The hints about a part of the report, each "hint: TEXT", and its command on a line of its own.
void Hints(std::string& out, const Report& report, const std::string& about) {
  for (const Hint& hint : report.hints) {
    if (hint.about == about) {
      Line(out, "hint: " + hint.text);
      if (!hint.command.empty()) {
        Line(out, "  fix: " + hint.command);
      }
    }
  }
}

void Library(std::string& out, const LibraryReport& library, const std::string& what) {
  Line(out, "found: " + (library.path.empty() ? "no, " + what : library.path));
  if (library.refused) {
    Line(out,
         "loads: not tried: others could write or swap it (see the permissions; --load-anyway "
         "loads it all the same)");
  } else if (library.found && !library.loads) {
    Line(out, "loads: no: it is not a library for this system, or a library it needs is missing");
  } else {
    Line(out, "loads: " + YesNo(library.loads));
  }
}

std::string Answered(const PluginAnswer& answer) {
  return std::to_string(answer.returnCode) + (answer.message.empty() ? "" : ": " + answer.message);
}

// The server's part of the text report: what runs, what it serves, its leases, whether it serves
// the settings as they are now.
void Server(std::string& out, const ServerReport& server, bool withMessage) {
  if (!server.answer.answered) {
    Line(out, "this plugin reports no server status (its reply does not answer the request)");
    return;
  }
  if (!server.reported) {
    Line(out, "no server status: the plugin answered " + Answered(server.answer));
    return;
  }
  if (!server.running) {
    Line(out, "running: no");
  } else {
    std::string running = "running: yes";
    if (server.engine) {
      running += ", " + *server.engine + (server.version ? " " + *server.version : "");
    }
    if (server.pid) {
      running += ", pid " + std::to_string(*server.pid);
    }
    if (server.started) {
      running += ", since " + *server.started;
    }
    Line(out, running);
    if (server.range) {
      Line(out, "serves: interface " + server.interfaceName.value_or("?") + ", range " +
                    *server.range + ", mask " + server.mask.value_or("?") + ", router " +
                    server.router.value_or("?") + ", lease " +
                    (server.leaseSeconds ? std::to_string(*server.leaseSeconds) : "?") +
                    " seconds");
    } else {
      Line(out, "serves: not known");
    }
    if (server.leasesActive) {
      Line(out, "leases active: " + std::to_string(*server.leasesActive) +
                    (server.poolSize ? " of " + std::to_string(*server.poolSize) : ""));
    }
    if (server.matches == true) {
      Line(out, "settings: it serves them as they are now");
    } else if (server.matches == false) {
      Line(out, "settings: changed since it started; a launcher run would replace it:");
      for (const std::string& difference : server.differences) {
        Line(out, "  " + difference);
      }
    }
  }
  if (server.pair) {
    const auto state = [](const std::optional<std::string>& given) {
      return given.value_or("not known (the server does not answer)");
    };
    Line(out, "pair: " + server.pair->mode + ", this server the " + server.pair->role +
                  "; its state: " + state(server.pair->state) +
                  "; its partner's: " + state(server.pair->partnerState));
  }
  if (withMessage) {
    Line(out, "plugin answered " + Answered(server.answer));
  }
}

// The status as its JSON field; null when the plugin reports none.
nlohmann::json ServerJson(const ServerReport& server) {
  using nlohmann::json;
  if (!server.reported) {
    return nullptr;
  }
  const auto value = [](const auto& given) { return given ? json(*given) : json(nullptr); };
  return {{"running", server.running},
          {"engine", value(server.engine)},
          {"version", value(server.version)},
          {"pid", value(server.pid)},
          {"interface", value(server.interfaceName)},
          {"range", value(server.range)},
          {"mask", value(server.mask)},
          {"router", value(server.router)},
          {"lease_seconds", value(server.leaseSeconds)},
          {"started", value(server.started)},
          {"leases_active", value(server.leasesActive)},
          {"pool_size", value(server.poolSize)},
          {"matches_settings", value(server.matches)},
          {"ha", server.pair ? json{{"mode", server.pair->mode},
                                    {"role", server.pair->role},
                                    {"state", value(server.pair->state)},
                                    {"partner_state", value(server.pair->partnerState)}}
                             : json(nullptr)}};
}

}  // namespace

std::string FormatText(const Report& report) {
  std::string out;
  Heading(out, "What the launcher in " + report.binFolder + " would do");
  Hints(out, report, "working-folder");

  Heading(out, "Permissions (" + report.permissionsRule + "):");
  if (!report.permissionsChecked) {
    Line(out, "nothing checked");
  } else if (report.permissionWarnings.empty()) {
    Line(out,
         "ok: nobody else can write the deployment's folders, libraries or settings, or swap "
         "a folder above it");
  }
  for (const std::string& warning : report.permissionWarnings) {
    Line(out, "warning: " + warning);
    for (const Hint& hint : report.hints) {
      if (hint.about == "permissions" && hint.text == warning) {
        Line(out, "  fix: " + hint.command);
      }
    }
  }

#ifdef _WIN32
  Heading(out, "Component fylDHCPD.dll (in the launcher's folder, else in the system folder):");
#else
  Heading(out, "Component fylDHCPD.dll (beside the launcher, else the system's library search):");
#endif
  Library(out, report.component, "neither beside the launcher nor by the system's search");
  if (report.component.loads) {
    Line(out, std::string("DllRegisterServer: ") +
                  (report.entryPoint ? "exported" : "missing: the launcher would exit with -3"));
  }
  if (report.registered.has_value()) {
    Line(out, "registration: DllRegisterServer returned " + std::to_string(*report.registered));
  } else if (report.entryPoint) {
    Line(out, "registration: not called (--register calls it)");
  }

  Heading(out, "Settings file " + platform::ShownPath(settings_request::kSettingsFile) + ":");
  Line(out, "path: " + report.settingsPath);
  Line(out, "exists: " + YesNo(report.settingsExists) +
                (report.settingsExists ? ", readable: " + YesNo(report.settingsReadable) : ""));
  Hints(out, report, "settings-file");
  if (report.settingsReadable) {
    Line(out, "encoding: " + report.encodingText);
    std::string section =
        "section [PARAMS]: " + std::string(report.sectionFound ? "found" : "missing");
    if (!report.sectionFound) {
      std::string names;
      for (const std::string& name : report.sections) {
        names += (names.empty() ? "" : ", ") + ("[" + name + "]");
      }
      section += names.empty() ? "; the file has no sections" : "; the file has " + names;
    }
    Line(out, section);
    Hints(out, report, "section");
  }
  for (const ValueReport& value : report.values) {
    const std::string inFile = value.inFile ? Quoted(*value.inFile) + " in the file, " : "";
    if (value.reason == "ok") {
      Line(out, value.key + ": " + inFile + "sent as it is");
    } else {
      Line(out,
           value.key + ": " + inFile + "sent empty (" + value.reason + "): " + value.explanation);
    }
  }
  for (const std::string& warning : report.settingWarnings) {
    Line(out, "warning: " + warning);
  }

  Heading(out, "Request:");
  Line(out, report.request);

  Heading(out, "Plugin " + platform::ShownPath(settings_request::kPluginLibrary) +
                   " (from the working directory):");
  Library(out, report.plugin,
          "not in the working directory: the launcher loads it from there, so run it from the "
          "deployment's bin/ folder");
  if (report.plugin.loads) {
    std::string entries;
    for (const std::string& entry : report.entryPoints) {
      entries += (entries.empty() ? "" : ", ") + entry;
    }
    Line(out, "entry points: " + (entries.empty() ? "none" : entries) +
                  (report.entryPoints.size() == 3 ? ""
                                                  : " (it needs Initialize, RequestService "
                                                    "and Release)"));
  }
  if (report.status.has_value()) {
    Line(out, "Execute: " + std::to_string(*report.status) + ", " + report.statusMeaning);
    Line(out, "reply: " + report.reply);
    Line(out, "return code: " + std::to_string(report.returnCode.value_or(0)));
    Line(out, "message: " + report.message);
  } else {
    Line(out, "not run (--run-plugin sends it the request)");
  }
  if (report.stop) {
    Heading(out, "Stop request:");
    Line(out, report.stop->answered
                  ? "answered " + Answered(*report.stop)
                  : "this plugin does not know the stop request (its reply does not answer it)");
    Heading(out, "Server of this deployment, after the stop:");
    Server(out, *report.server, false);
  } else if (report.server) {
    Heading(out, "Server of this deployment (status query):");
    Server(out, *report.server, true);
  }
  if (report.dryRun) {
    Heading(out, "Dry run (what a launcher run would do now; nothing is changed):");
    Line(out, report.dryRun->answered
                  ? "would answer " + Answered(*report.dryRun)
                  : "this plugin does no dry run (its reply does not answer the request)");
  }
  Heading(out, report.summary);
  return out;
}

std::string FormatJson(const Report& report) {
  using nlohmann::json;
  json values = json::array();
  for (const ValueReport& value : report.values) {
    values.push_back({{"key", value.key},
                      {"in_file", value.inFile ? json(*value.inFile) : json(nullptr)},
                      {"sent", value.sent},
                      {"reason", value.reason},
                      {"explanation", value.explanation}});
  }
  json plugin = {{"path", report.plugin.path},
                 {"found", report.plugin.found},
                 {"refused", report.plugin.refused},
                 {"loads", report.plugin.loads},
                 {"entry_points", report.entryPoints}};
  if (report.status.has_value()) {
    plugin["status"] = *report.status;
    plugin["status_meaning"] = report.statusMeaning;
    plugin["reply"] = report.reply;
    plugin["return_code"] = report.returnCode.value_or(0);
    plugin["message"] = report.message;
  }
  json component = {{"path", report.component.path},
                    {"found", report.component.found},
                    {"refused", report.component.refused},
                    {"loads", report.component.loads},
                    {"entry_point", report.entryPoint}};
  if (report.registered.has_value()) {
    component["registered"] = *report.registered;
  }
  json hints = json::array();
  for (const Hint& hint : report.hints) {
    hints.push_back({{"about", hint.about},
                     {"text", hint.text},
                     {"command", hint.command.empty() ? json(nullptr) : json(hint.command)}});
  }
  json warnings = report.permissionWarnings;
  for (const std::string& warning : report.settingWarnings) {
    warnings.push_back(warning);
  }
  json document = {{"bin", report.binFolder},
                   {"permissions_checked", report.permissionsChecked},
                   {"component", component},
                   {"settings",
                    {{"path", report.settingsPath},
                     {"exists", report.settingsExists},
                     {"readable", report.settingsReadable},
                     {"encoding", report.encoding.empty() ? json(nullptr) : json(report.encoding)},
                     {"section_found", report.sectionFound},
                     {"sections", report.sections},
                     {"values", values}}},
                   {"request", report.request},
                   {"plugin", plugin},
                   {"warnings", warnings},
                   {"hints", hints},
                   {"ok", report.exitStatus == kExitOk},
                   {"exit_status", report.exitStatus},
                   {"summary", report.summary}};
  const auto answer = [](const std::optional<PluginAnswer>& given) {
    return given && given->answered ? json{{"code", given->returnCode}, {"message", given->message}}
                                    : json(nullptr);
  };
  if (report.server) {
    document["server"] = ServerJson(*report.server);
  }
  if (report.dryRun) {
    document["dry_run"] = answer(report.dryRun);
  }
  if (report.stop) {
    document["stop"] = answer(report.stop);
  }
  return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace check
