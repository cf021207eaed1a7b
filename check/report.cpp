// Gathers what the launcher in a deployment would do, with the launcher's own code.
#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "check/permissions.h"
#include "check/report.h"
#include "launcher/settings_request.h"
#include "platform/library.h"
#include "platform/library_info.h"
#include "platform/printable.h"
#include "platform/profile.h"
#include "platform/profile_parser.h"
#include "platform/shown_path.h"
#include "platform/text.h"
#include "request/dhcp_protocol.h"
#include "request/dhcp_server_request.h"
#include "request/plugin_request.h"

namespace fs = std::filesystem;

namespace check {
namespace {

using settings_request::Reason;

constexpr char kComponentFile[] = "fylDHCPD.dll";
constexpr char kPluginFile[] = "mekDHCPPluginu.dll";
constexpr char kSettingsFileName[] = "fylDHCPServer.ini";
// The pristine copy of the settings file an install puts beside it, in config/.
constexpr char kSettingsSampleName[] = "fylDHCPServer.ini.sample";
constexpr char16_t kPluginSettingsFile[] = u"..\\config\\mekDHCPPluginu.ini";
constexpr char16_t kStateFolderDefault[] = u"..\\run";
constexpr std::array<const char*, 3> kPluginEntries = {"Initialize", "RequestService", "Release"};

using RegisterServerFn = std::int32_t (*)();

std::u16string Widen(std::string_view narrow) {
  std::u16string wide;
  platform::Utf8ToUtf16(narrow, wide);
  return wide;
}

// text as UTF-8 for a report: each lone surrogate the profile reader made of a byte that is not
// text shows as \xNN, any other lone surrogate as \uXXXX.
std::string Printable(std::u16string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    const bool high = unit >= 0xD800 && unit <= 0xDBFF;
    const bool pair = high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    std::string piece;
    if (pair) {
      platform::Utf16ToUtf8(text.substr(i, 2), piece);
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      const char* digits = "0123456789ABCDEF";
      if (unit >= 0xDC80 && unit <= 0xDCFF) {
        const unsigned byte = unit - 0xDC00;
        piece = std::string("\\x") + digits[byte >> 4] + digits[byte & 15];
      } else {
        piece = "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) {
          piece += digits[(unit >> shift) & 15];
        }
      }
    } else {
      platform::Utf16ToUtf8(text.substr(i, 1), piece);
    }
    out += piece;
  }
  return out;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return out;
}

// Edit distance between a and b, without regard to ASCII case.
std::size_t Distance(std::string_view a, std::string_view b) {
  const std::string x = Lower(a);
  const std::string y = Lower(b);
  std::vector<std::size_t> row(y.size() + 1);
  for (std::size_t j = 0; j <= y.size(); ++j) {
    row[j] = j;
  }
  for (std::size_t i = 1; i <= x.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= y.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (x[i - 1] == y[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[y.size()];
}

// A name among names that is probably a misspelt wanted (but not wanted itself), or "".
std::string NearMiss(const std::vector<std::string>& names, std::string_view wanted) {
  for (const std::string& name : names) {
    if (Lower(name) != Lower(wanted) && Distance(name, wanted) <= 2) {
      return name;
    }
  }
  return {};
}

std::vector<std::string> Printable(const std::vector<std::u16string>& texts) {
  std::vector<std::string> out;
  for (const std::u16string& text : texts) {
    out.push_back(Printable(text));
  }
  return out;
}

// A path as UTF-8 for a report, full and normal: on POSIX a path is bytes, and each byte that is
// not UTF-8 shows as \xNN, as in a value.
std::string Shown(const fs::path& path) {
  std::error_code error;
  const fs::path full = fs::absolute(path, error).lexically_normal().make_preferred();
#ifdef _WIN32
  return Printable(full.u16string());
#else
  const std::string& bytes = full.native();
  std::u16string text;
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = platform::Utf8SequenceLength(static_cast<unsigned char>(bytes[i]));
    char32_t c = 0;
    if (length != 0 && platform::DecodeUtf8Sequence(std::string_view(bytes).substr(i, length), c)) {
      platform::AppendUtf16(c, text);
      i += length;
    } else {
      // The lone surrogate the profile reader makes of such a byte, which Printable spells.
      text += static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(bytes[i]));
      ++i;
    }
  }
  return Printable(text);
#endif
}

// path, full and normal, as one word of a command line for this platform's shell, or "" when the
// report cannot show it exactly (bytes that are not UTF-8) or safely (a control or line-breaking
// character, which the text report spells out and which would break a pasted line).
std::string CommandWord(const fs::path& path) {
  std::error_code error;
  const fs::path full = fs::absolute(path, error).lexically_normal().make_preferred();
  std::u16string wide;
#ifdef _WIN32
  wide = full.u16string();
#else
  if (!platform::Utf8ToUtf16(full.native(), wide)) {
    return {};
  }
#endif
  std::string word;
  if (platform::SpellOutControls(wide) != wide || !platform::Utf16ToUtf8(wide, word)) {
    return {};
  }
  const bool plain = std::all_of(word.begin(), word.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == static_cast<char>(fs::path::preferred_separator) ||
           std::string_view("/_.+-:,=@").find(c) != std::string_view::npos;
  });
  if (plain) {
    return word;
  }
#ifdef _WIN32
  return "\"" + word + "\"";  // a Windows file name holds no quotation mark
#else
  std::string quoted = "'";
  for (const char c : word) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
#endif
}

// The commands that apply each of fixes to path, joined so that each runs when the one before
// succeeded; "" when there are none or the path cannot be given.
std::string CommandFor(const std::vector<std::string>& fixes, const fs::path& path) {
  const std::string word = CommandWord(path);
  std::string command;
  for (const std::string& fix : fixes) {
    if (word.empty()) {
      return {};
    }
    command += (command.empty() ? "" : " && ") + fix + " " + word;
  }
  return command;
}

// The command that copies the file from to the path to; "" when either path cannot be given.
std::string CopyCommand(const fs::path& from, const fs::path& to) {
  const std::string source = CommandWord(from);
  const std::string target = CommandWord(to);
  if (source.empty() || target.empty()) {
    return {};
  }
#ifdef _WIN32
  return "copy " + source + " " + target;
#else
  return "cp " + source + " " + target;
#endif
}

// The file's encoding as its first bytes tell it: the name of the JSON report (Report::encoding)
// into name, and what it means for a person into text.
void EncodingOf(std::string_view head, std::string& name, std::string& text) {
  switch (platform::ProfileEncodingOf(head)) {
    case platform::ProfileEncoding::kUtf16Le:
      name = "utf-16le-bom";
      text = "UTF-16LE (byte-order mark FF FE)";
      return;
    case platform::ProfileEncoding::kUtf16Be:
      name = "utf-16be-bom";
      text = "UTF-16BE (byte-order mark FE FF)";
      return;
    case platform::ProfileEncoding::kUtf8WithMark:
      name = "utf-8-bom";
#ifdef _WIN32
      // Windows' own reader takes the mark for text of the first line.
      text =
          "UTF-8 (byte-order mark EF BB BF, which Windows reads as part of the first line: "
          "save the file without it, or as UTF-16LE)";
#else
      text = "UTF-8 (byte-order mark EF BB BF)";
#endif
      return;
    case platform::ProfileEncoding::kUtf8:
      break;
  }
#ifdef _WIN32
  name = "ansi";
  text = "none (read in the ANSI code page)";
#else
  name = "utf-8";
  text = "none (read as UTF-8)";
#endif
}

const char* ReasonName(Reason reason, const Report& report) {
  switch (reason) {
    case Reason::kSent:
      return "ok";
    case Reason::kMarker:
      return "marker";
    case Reason::kHoldsAt:
      return "holds-at";
    case Reason::kTooLong:
      return "too-long";
    case Reason::kNotText:
      return "not-text";
    case Reason::kMissing:
      break;
  }
  if (!report.settingsExists) {
    return "missing-file";
  }
  if (!report.settingsReadable) {
    return "unreadable";
  }
  return report.sectionFound ? "missing-key" : "missing-section";
}

std::string Explain(const ValueReport& value, const settings_request::Setting& setting,
                    const std::vector<std::string>& keys, const Report& report) {
  const std::string& r = value.reason;
  if (r == "ok") {
    return "sent as it is";
  }
  std::string why;
  if (r == "missing-file") {
    why = "the settings file does not exist";
  } else if (r == "unreadable") {
    why = "the settings file cannot be read";
  } else if (r == "missing-section") {
    why = "the file has no [PARAMS] section";
  } else if (r == "missing-key") {
    why = "[PARAMS] has no key " + value.key;
    const std::string near = NearMiss(keys, value.key);
    if (!near.empty()) {
      why += "; it has \"" + near + "\": did you mean " + value.key + "?";
    } else {
      why += "; add the line " + value.key + "=...";
    }
  } else if (r == "marker") {
    why = "the value reads as \"@1@\", which the launcher takes for a missing key";
  } else if (r == "holds-at") {
    why = "the value holds \"@\", which would break the request's fields";
  } else if (r == "too-long") {
    std::string narrow;
    why = "the value is longer than the " + std::to_string(settings_request::kSettingCapacity - 1) +
          " bytes of UTF-8 the launcher takes";
    if (platform::Utf16ToUtf8(setting.value, narrow)) {
      why += " (" + std::to_string(narrow.size()) + " bytes)";
    }
    why += "; it is not cut";
  } else if (r == "not-text") {
    why = "the value is not valid text in the file's encoding, " + report.encodingText +
          "; save the file as UTF-8 or as UTF-16LE with a byte-order mark";
  }
  return why;
}

// Counts the key lines of the first [PARAMS] section by name in lower case, and the [PARAMS]
// headers: the listings name each once, but a key or section given twice deserves a warning, for
// only the first one is read.
class KeyCounter : public platform::ProfileVisitor {
 public:
  Next OnSection(std::u16string_view name, bool cut) override {
    if (cut || Lower(Printable(name)) != Lower(settings_request::kSettingsSection)) {
      return Next::kSkipKeys;
    }
    ++sections;
    return sections == 1 ? Next::kReadKeys : Next::kSkipKeys;
  }
  bool OnKey(std::u16string_view name, bool /*cut*/) override {
    ++counts[Lower(Printable(name))];
    return false;
  }
  bool OnValue(std::u16string_view /*value*/, bool /*cut*/) override { return true; }

  std::map<std::string, int> counts;
  int sections = 0;
};

// Reads the opened settings file once, from its start: its first bytes for the encoding, and its
// keys for the counts.
void ScanSettings(platform::OpenedProfileFile& file, std::string& head, KeyCounter& counter) {
  constexpr std::size_t kChunkBytes = std::size_t{64} * 1024;
  platform::ProfileScanner scanner(counter, platform::kProfileNameLimit, 1);
  platform::ProfileDecoder decoder;
  std::string chunk(kChunkBytes, '\0');
  std::u16string text;
  for (std::int64_t got = 0; (got = file.Read(chunk.data(), chunk.size())) > 0;) {
    const std::string_view bytes(chunk.data(), static_cast<std::size_t>(got));
    head += bytes.substr(0, 3 - std::min<std::size_t>(head.size(), 3));
    decoder.Feed(bytes, text);
    scanner.Feed(text);
    text.clear();
  }
  decoder.Finish(text);
  scanner.Feed(text);
  scanner.Finish();
}

// A permission warning for problem, once, and its fix as a hint when one is known.
void AddWarning(Report& report, const PathProblem& problem) {
  std::string warning = Shown(problem.path) + ": " + problem.who;
  std::vector<std::string>& warnings = report.permissionWarnings;
  if (std::find(warnings.begin(), warnings.end(), warning) != warnings.end()) {
    return;
  }
  std::string command = CommandFor(problem.fixes, problem.path);
  if (!command.empty()) {
    report.hints.push_back({"permissions", warning, std::move(command)});
  }
  warnings.push_back(std::move(warning));
}

void AddWarnings(Report& report, const std::vector<PathProblem>& problems) {
  for (const PathProblem& problem : problems) {
    AddWarning(report, problem);
  }
}

// A warning for each folder above the deployment that lets others swap what lies below it, and
// for each file or folder of the deployment that others can write.
void CheckPermissions(const fs::path& bin, const fs::path& stateFolder, Report& report) {
  report.permissionsChecked = PermissionsChecked();
  report.permissionsRule = PermissionsRule();
  const fs::path root = bin.parent_path();
  std::vector<PathProblem> above;
  CheckFoldersAbove(root, above);
  AddWarnings(report, above);
  std::vector<fs::path> paths = {bin};
  std::vector<fs::path> libraries;
  std::error_code error;
  for (fs::directory_iterator entry(bin, error), end; !error && entry != end;
       entry.increment(error)) {
    libraries.push_back(entry->path());
  }
  std::sort(libraries.begin(), libraries.end());
  paths.insert(paths.end(), libraries.begin(), libraries.end());
  paths.insert(paths.end(), {root, root / "config", root / "config" / "fylDHCPServer.ini",
                             root / "config" / "mekDHCPPluginu.ini", stateFolder});
  for (const fs::path& path : paths) {
    PathProblem problem{path, {}, {}};
    if (OthersCanWrite(path, problem.who, problem.fixes)) {
      if (path == stateFolder) {
        // The plugin lets nobody but the folder's owner in at all, and says so with this command.
        std::erase_if(problem.fixes,
                      [](const std::string& fix) { return fix.starts_with("chmod "); });
        problem.fixes.emplace_back("chmod 700");
      }
      AddWarning(report, problem);
    }
  }
}

// Whether loading file by its path is not safe: others could write it or swap it, or something on
// its way, before it is loaded. Each such thing becomes a warning.
bool Unsafe(const fs::path& file, Report& report) {
  std::vector<PathProblem> problems;
  const bool safe = SafeToOpen(file, problems);
  AddWarnings(report, problems);
  return !safe;
}

void CheckComponent(const fs::path& bin, const Options& options, Report& report) {
  LibraryReport& component = report.component;
  // The launcher's search looks beside the launcher first (its program folder on Windows, its
  // $ORIGIN run path on POSIX), then in the system's places.
  const fs::path beside = bin / kComponentFile;
  std::u16string name = Widen(kComponentFile);
  // A file that cannot be looked at (a link loop, a folder without search permission) is not
  // found there, as the launcher's search would not load it from there either.
  std::error_code error;
  if (fs::exists(beside, error)) {
    component.found = true;
    component.path = Shown(beside);
    // The file beside, by its path from bin/, the current directory: a path holding the names
    // of the folders above could hold bytes that are not text.
    name = u".\\" + name;
    if (Unsafe(beside, report) && !options.loadAnyway) {
      component.refused = true;
      return;
    }
  }
  // Kept loaded to the end, as the launcher keeps it.
  const platform::LibraryHandle library = platform::LoadLibraryAt(name);
  component.loads = library != nullptr;
  std::u16string path;
  if (platform::GetLibraryPath(library, path)) {
    component.found = true;
    component.path = Shown(fs::path(path));
  }
  const auto registerServer =
      reinterpret_cast<RegisterServerFn>(platform::FindEntryPoint(library, "DllRegisterServer"));
  report.entryPoint = registerServer != nullptr;
  if (registerServer != nullptr && options.registerComponent) {
    report.registered = registerServer();
  }
}

void CheckSettings(
    Report& report,
    std::array<settings_request::Setting, settings_request::kSettingCount>& settings) {
  report.settingsPath = Shown(fs::path("..") / "config" / kSettingsFileName);
  // Opened once by name; everything below reads that open file, so that a file swapped in
  // meanwhile (a FIFO, say, which would block a reader for good) is never read.
  platform::OpenedProfileFile opened(Widen(settings_request::kSettingsFile));
  report.settingsExists = opened.GetState() != platform::OpenedProfileFile::State::kMissing;
  report.settingsReadable = opened.GetState() == platform::OpenedProfileFile::State::kOpen;
  const std::u16string& file = opened.ReaderPath();
  KeyCounter counted;
  if (report.settingsReadable) {
    std::string head;
    ScanSettings(opened, head, counted);
    EncodingOf(head, report.encoding, report.encodingText);
  }
  std::vector<std::u16string> sections;
  std::vector<std::u16string> keys;
  if (report.settingsReadable && platform::ListProfileSections(file, sections)) {
    report.sections = Printable(sections);
    for (const std::string& section : report.sections) {
      report.sectionFound = report.sectionFound || Lower(section) == "params";
    }
    if (report.sectionFound) {
      platform::ListProfileKeys(Widen(settings_request::kSettingsSection), file, keys);
    } else if (const std::string near =
                   NearMiss(report.sections, settings_request::kSettingsSection);
               !near.empty()) {
      report.hints.push_back({"section", "did you mean [PARAMS] for [" + near + "]?", ""});
    }
  }
  const std::vector<std::string> keyNames = Printable(keys);
  if (counted.sections > 1) {
    report.settingWarnings.push_back("[PARAMS] appears " + std::to_string(counted.sections) +
                                     " times; the launcher reads the first one only");
  }
  if (report.settingsReadable) {
    std::string fileName;
    platform::Utf16ToUtf8(file, fileName);
    settings = settings_request::ReadSettings(fileName.c_str(), true);
  } else {
    // What the launcher's reader makes of a file it cannot read: every key missing.
    for (std::size_t i = 0; i < settings.size(); ++i) {
      settings[i] = {};
      settings[i].key = settings_request::kSettingKeys[i];
    }
  }
  for (const settings_request::Setting& setting : settings) {
    ValueReport value;
    value.key = setting.key;
    if (setting.inFile) {
      value.inFile = Printable(setting.value);
    }
    value.sent = Printable(setting.sent);
    value.reason = ReasonName(setting.reason, report);
    value.explanation = Explain(value, setting, keyNames, report);
    report.values.push_back(value);
    const int copies = report.sectionFound ? counted.counts[Lower(setting.key)] : 0;
    if (copies > 1) {
      report.settingWarnings.push_back(std::string(setting.key) + " appears " +
                                       std::to_string(copies) +
                                       " times in [PARAMS]; the launcher takes the first one");
    }
  }
}

std::string StatusMeaning(int status) {
  switch (status) {
    case 1:
      return "the request has no name; the plugin was not called";
    case 2:
      return "the plugin library could not be loaded; it was not called";
    case 3:
      return "the request has no plugin path; the plugin was not called";
    case 4:
      return "the plugin lacks Initialize, RequestService or Release; it was not called";
    default:
      return "the plugin was called; RequestService returned " + std::to_string(status);
  }
}

void CheckPlugin(const fs::path& bin, const Options& options, CDhcpServerRequest& request,
                 Report& report) {
  LibraryReport& plugin = report.plugin;
  const fs::path file = bin / kPluginFile;
  std::error_code error;
  plugin.found = fs::exists(file, error);
  if (!plugin.found) {
    // The launcher would find nothing either; loading the path now could take a library planted
    // there since.
    return;
  }
  plugin.path = Shown(file);
  if (Unsafe(file, report) && !options.loadAnyway) {
    plugin.refused = true;
    return;
  }
  {
    const platform::ScopedLibrary library(
        platform::LoadLibraryAt(Widen(settings_request::kPluginLibrary)));
    plugin.loads = library != nullptr;
    for (const char* entry : kPluginEntries) {
      if (platform::FindEntryPoint(library.get(), entry) != nullptr) {
        report.entryPoints.emplace_back(entry);
      }
    }
  }
  if (!options.runPlugin) {
    return;
  }
  // As the launcher's request does it: Execute on the request text, then the reply's two keys.
  int emptyName = 0;
  std::u16string reply = request.BuildRequestText(emptyName);
  report.status = request.Execute(reply);
  report.statusMeaning = StatusMeaning(*report.status);
  report.reply = Printable(reply);
  const CDhcpServerRequest replyRecord(reply);
  std::u16string code;
  std::u16string message;
  replyRecord.GetParam(dhcp_protocol::kReturnCodeKey, code);
  replyRecord.GetParam(dhcp_protocol::kMessageKey, message);
  report.returnCode = CDhcpServerRequest::ReadReturnCode(code);
  report.message = Printable(message);
}

// A reply value that is all decimal digits (at most 18, so it fits), or none.
std::optional<std::int64_t> NumberOf(const std::u16string& text) {
  constexpr std::size_t kMaxDigits = 18;
  if (text.empty() || text.size() > kMaxDigits) {
    return std::nullopt;
  }
  std::int64_t value = 0;
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9') {
      return std::nullopt;
    }
    value = value * 10 + (c - u'0');
  }
  return value;
}

std::optional<std::string> TextOf(const CPluginRequest& reply, const char16_t* key) {
  std::u16string value;
  reply.GetParam(key, value);
  return value.empty() ? std::nullopt : std::optional<std::string>(Printable(value));
}

std::optional<bool> FlagOf(const CPluginRequest& reply, const char16_t* key) {
  std::u16string value;
  reply.GetParam(key, value);
  if (value == u"1" || value == u"0") {
    return value == u"1";
  }
  return std::nullopt;
}

// Sends request to the plugin as the launcher sends its own, and reads the reply's code and
// message; answered when the reply names the request. The reply record is left in reply.
PluginAnswer Send(const CPluginRequest& request, CPluginRequest& reply) {
  PluginAnswer answer;
  int emptyName = 0;
  std::u16string text = request.BuildRequestText(emptyName);
  answer.status = request.Execute(text);
  reply = CPluginRequest(text);
  std::u16string value;
  reply.GetParam(dhcp_protocol::kAnsweredKey, value);
  answer.answered = value == request.GetRequestName();
  reply.GetParam(dhcp_protocol::kReturnCodeKey, value);
  answer.returnCode = CDhcpServerRequest::ReadReturnCode(value);
  reply.GetParam(dhcp_protocol::kMessageKey, value);
  answer.message = Printable(value);
  return answer;
}

// The status keys of a reply. A reply that does not answer the request is taken for no status,
// whatever it holds: a plugin that knows no such request may hand its text back.
ServerReport ServerOf(const PluginAnswer& answer, const CPluginRequest& reply) {
  using namespace dhcp_protocol;
  ServerReport server;
  server.answer = answer;
  const std::optional<bool> running = FlagOf(reply, kServerRunningKey);
  if (!answer.answered || !running) {
    return server;
  }
  server.reported = true;
  server.running = *running;
  const auto number = [&](const char16_t* key) {
    std::u16string value;
    reply.GetParam(key, value);
    return NumberOf(value);
  };
  server.engine = TextOf(reply, kServerEngineKey);
  server.version = TextOf(reply, kServerVersionKey);
  server.pid = number(kServerPidKey);
  server.interfaceName = TextOf(reply, kServerInterfaceKey);
  server.range = TextOf(reply, kServerRangeKey);
  server.mask = TextOf(reply, kServerMaskKey);
  server.router = TextOf(reply, kServerRouterKey);
  server.leaseSeconds = number(kServerLeaseSecondsKey);
  server.started = TextOf(reply, kServerStartedKey);
  server.leasesActive = number(kServerLeasesActiveKey);
  server.poolSize = number(kServerPoolSizeKey);
  server.matches = FlagOf(reply, kServerMatchesKey);
  if (const std::optional<std::string> mode = TextOf(reply, kServerPairModeKey)) {
    server.pair = ServerReport::Pair{*mode, TextOf(reply, kServerPairRoleKey).value_or("?"),
                                     TextOf(reply, kServerPairStateKey),
                                     TextOf(reply, kServerPartnerStateKey)};
  }
  const std::string differences = TextOf(reply, kServerDifferencesKey).value_or("");
  for (std::size_t start = 0; start < differences.size();) {
    const std::size_t end = std::min(differences.find("; ", start), differences.size());
    server.differences.push_back(differences.substr(start, end - start));
    start = end + 2;
  }
  return server;
}

// --server: the status query and the dry run, each with the four settings the launcher would
// send; --stop-server: the stop request, which carries none, so that a plugin that reads no
// request name finds nothing to start a server with.
void CheckServer(
    const Options& options,
    const std::array<settings_request::Setting, settings_request::kSettingCount>& settings,
    Report& report) {
  if (report.plugin.refused || !report.plugin.loads ||
      report.entryPoints.size() != kPluginEntries.size()) {
    return;
  }
  CPluginRequest reply;
  if (options.stopServer) {
    CPluginRequest request;
    request.SetRequestName(dhcp_protocol::kStopDhcpServer);
    request.SetPluginPath(Widen(settings_request::kPluginLibrary));
    report.stop = Send(request, reply);
    report.server = ServerOf(*report.stop, reply);
  }
  if (options.server) {
    CDhcpServerRequest request;
    settings_request::FillRequest(settings, request);
    request.SetRequestName(dhcp_protocol::kQueryDhcpServer);
    report.server = ServerOf(Send(request, reply), reply);
    request.SetRequestName(dhcp_protocol::kTestDhcpServer);
    report.dryRun = Send(request, reply);
  }
}

// The plugin's state folder, read as the plugin reads it: StateFolder in [ENGINE] of its own
// settings file, "..\\run" when missing or empty, relative to the working directory.
fs::path StateFolder(const fs::path& bin) {
  std::array<char16_t, 1024> buffer{};
  const std::size_t units =
      platform::ReadProfileString(u"ENGINE", u"StateFolder", kStateFolderDefault, buffer.data(),
                                  buffer.size(), kPluginSettingsFile);
  std::u16string folder = units == 0 ? kStateFolderDefault : std::u16string(buffer.data(), units);
#ifndef _WIN32
  std::replace(folder.begin(), folder.end(), u'\\', u'/');
#endif
  const fs::path path(folder);
  return path.is_absolute() ? path : bin / path;
}

// The deployment the check was probably meant for when the working folder is not the bin/ folder
// of one: the deployment whose bin/ holds this program, else the working folder or its parent when
// it holds a deployment's bin/. None when each of them is the deployment worked from, or none.
std::optional<fs::path> MeantDeployment(const fs::path& bin, const Options& options) {
  std::vector<fs::path> roots;
  if (options.program) {
    roots.push_back(options.program->parent_path().parent_path());
  }
  roots.push_back(bin);
  roots.push_back(bin.parent_path());
  for (const fs::path& root : roots) {
    std::error_code error;
    if (!fs::equivalent(root / "bin", bin, error) && LooksLikeDeployment(root)) {
      return root;
    }
  }
  return std::nullopt;
}

// What to do about a settings file or plugin that is not where the launcher looks: check the
// deployment meant, when the working folder is not its bin/; else make the settings file, from
// the sample an install puts beside it when there is one.
void AddPlaceHints(const fs::path& bin, const Options& options, Report& report) {
  if (!report.settingsExists || !report.plugin.found) {
    if (const std::optional<fs::path> meant = MeantDeployment(bin, options)) {
      const std::string program =
          options.program ? CommandWord(*options.program) : "dhcp-launcher-check";
      const std::string root = CommandWord(*meant);
      report.hints.insert(
          report.hints.begin(),
          {"working-folder",
           "the working folder is not a deployment's bin/ folder, where the launcher runs and "
           "finds its files; " +
               Shown(*meant) + " is a deployment: check it with --deployment, or from its bin/",
           program.empty() || root.empty() ? "" : program + " --deployment " + root});
      return;
    }
  }
  const fs::path settings = bin.parent_path() / "config" / kSettingsFileName;
  const fs::path sample = settings.parent_path() / kSettingsSampleName;
  std::error_code error;
  if (!report.settingsExists && fs::is_regular_file(sample, error)) {
    report.hints.push_back(
        {"settings-file",
         "copy the sample beside it, then set its four values for the network to serve",
         CopyCommand(sample, settings)});
  } else if (!report.settingsExists) {
    report.hints.push_back({"settings-file",
                            "create it with a [PARAMS] section that sets SubNetMask, Gateway, "
                            "DuringTime and RangeIp",
                            ""});
  } else if (!report.settingsReadable) {
    report.hints.push_back(
        {"settings-file", "it must be a regular file that the launcher's user may read", ""});
  }
}

int ExitStatusOf(const Report& report, const Options& options) {
  if (report.component.refused || report.plugin.refused) {
    return kExitUnsafeLibrary;
  }
  if (!report.component.loads || !report.entryPoint ||
      (report.registered.has_value() && *report.registered < 0)) {
    return kExitComponent;
  }
  if (!report.settingsExists || !report.settingsReadable || !report.sectionFound) {
    return kExitSettingsFile;
  }
  for (const ValueReport& value : report.values) {
    if (value.reason != "ok") {
      return kExitSetting;
    }
  }
  if (!report.plugin.loads || report.entryPoints.size() != kPluginEntries.size()) {
    return kExitPlugin;
  }
  if (options.runPlugin && (report.status != 0 || report.returnCode != 0)) {
    return kExitPluginRefused;
  }
  if (report.server && !report.server->reported) {
    return kExitNoStatus;
  }
  if (options.stopServer && report.server->running) {
    return kExitStillRunning;
  }
  if (options.server && !report.server->running) {
    return kExitNoServer;
  }
  if (options.server && report.server->matches == false) {
    return kExitServerDiffers;
  }
  return kExitOk;
}

std::string Summary(const Report& report) {
  if (report.component.refused || report.plugin.refused) {
    return "Not checked to the end: a library that others could write or swap was not loaded "
           "(see the permissions); the launcher would load it and run its code with its rights.";
  }
  if (!report.component.loads) {
    return "The launcher would stop with exit code -2 before reading its settings: it cannot load "
           "fylDHCPD.dll.";
  }
  if (!report.entryPoint) {
    return "The launcher would stop with exit code -3 before reading its settings: fylDHCPD.dll "
           "has no DllRegisterServer.";
  }
  if (report.registered.has_value() && *report.registered < 0) {
    return "The launcher would stop with exit code -4 before reading its settings: "
           "DllRegisterServer failed.";
  }
  std::string empty;
  for (const ValueReport& value : report.values) {
    if (value.reason != "ok") {
      empty += (empty.empty() ? "" : ", ") + value.key;
    }
  }
  std::string line = "The launcher would register the component, exit with 0, and send ";
  line += empty.empty() ? "all four settings" : "the settings with " + empty + " empty";
  if (!report.plugin.loads) {
    return line + " to a plugin it cannot load: nothing more would happen.";
  }
  if (report.entryPoints.size() != kPluginEntries.size()) {
    return line + " to a plugin that lacks an entry point: it would not be called.";
  }
  if (report.returnCode.has_value()) {
    return line + " to the plugin, which answered " + std::to_string(*report.returnCode) +
           (report.message.empty() ? "." : ": " + report.message);
  }
  if (report.dryRun && report.dryRun->answered) {
    return line + " to the plugin, whose dry run answered " +
           std::to_string(report.dryRun->returnCode) +
           (report.dryRun->message.empty() ? "." : ": " + report.dryRun->message);
  }
  return line + " to the plugin.";
}

}  // namespace

bool LooksLikeDeployment(const fs::path& root) {
  std::error_code error;
  return fs::is_directory(root / "bin", error) &&
         (fs::exists(root / "bin" / kPluginFile, error) ||
          fs::exists(root / "bin" / kComponentFile, error) ||
          fs::exists(root / "config" / kSettingsFileName, error));
}

Report BuildReport(const Options& options) {
  Report report;
  std::error_code error;
  const fs::path bin = fs::current_path(error);
  report.binFolder = Shown(bin);
  CheckPermissions(bin, StateFolder(bin), report);
  CheckComponent(bin, options, report);
  std::array<settings_request::Setting, settings_request::kSettingCount> settings;
  CheckSettings(report, settings);
  CDhcpServerRequest request;
  settings_request::FillRequest(settings, request);
  request.SetRequestName(dhcp_protocol::kRunDhcpServer);
  int emptyName = 0;
  report.request = Printable(request.BuildRequestText(emptyName));
  CheckPlugin(bin, options, request, report);
  AddPlaceHints(bin, options, report);
  CheckServer(options, settings, report);
  report.exitStatus = ExitStatusOf(report, options);
  report.summary = Summary(report);
  return report;
}

}  // namespace check
