// The reference plugin's own settings, read from its profile file.
#include "plugin_config.h"

#include <algorithm>
#include <array>
#include <string>

#include "platform/profile.h"
#include "platform/shown_path.h"
#include "platform/text.h"
#include "settings_check.h"

namespace dhcp_plugin {

namespace {

// Longer values are cut by the reader; no sound value comes near this.
constexpr std::size_t kValueUnits = 1024;
constexpr char16_t kStateFolderDefault[] = u"..\\run";

std::u16string Read(const std::u16string& path, const char16_t* key, const char16_t* fallback) {
  std::array<char16_t, kValueUnits> buffer{};
  const std::size_t length = platform::ReadProfileString(kEngineSection, key, fallback,
                                                         buffer.data(), buffer.size(), path);
  return {buffer.data(), length};
}

std::u16string Lower(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'A' && c <= u'Z') {
      c = static_cast<char16_t>(c - u'A' + u'a');
    }
  }
  return text;
}

// A setting's path as a native path, "\" read as "/"; nothing when it holds an unpaired
// surrogate or a NUL, which no file name can.
std::optional<std::filesystem::path> NativePath(std::u16string text) {
  std::replace(text.begin(), text.end(), u'\\', u'/');
  std::string utf8;
  if (!platform::Utf16ToUtf8(text, utf8) || utf8.find('\0') != std::string::npos) {
    return std::nullopt;
  }
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// "check, off, auto, dnsmasq or kea": every value Engine may take.
std::u16string KnownEngines() {
  std::u16string list = u"check, off, auto";
  for (std::size_t i = 0; i < std::size(kEngineNames); ++i) {
    list +=
        (i + 1 == std::size(kEngineNames) ? u" or " : u", ") + std::u16string(kEngineNames[i].name);
  }
  return list;
}

}  // namespace

std::filesystem::path PluginConfig::ProgramOf(EngineKind kind) const {
  const auto found = programs.find(kind);
  return found == programs.end() ? std::filesystem::path() : found->second;
}

PluginConfig ReadPluginConfig(const std::u16string& path) {
  PluginConfig config;
  config.engineText = Read(path, u"Engine", u"");
  config.interfaceName = Read(path, u"Interface", u"");
  config.stateFolderText = Read(path, u"StateFolder", kStateFolderDefault);
  if (config.stateFolderText.empty()) {
    config.stateFolderText = kStateFolderDefault;
  }
  config.stateFolder = NativePath(config.stateFolderText);

  const std::u16string engine = Lower(config.engineText);
  const auto* const named =
      std::find_if(std::begin(kEngineNames), std::end(kEngineNames),
                   [&](const EngineName& entry) { return engine == entry.name; });
  if (engine.empty() || engine == u"check") {
    config.engine = EngineKind::kCheck;
  } else if (engine == u"off") {
    config.engine = EngineKind::kOff;
  } else if (engine == u"auto") {
    config.engine = EngineKind::kAuto;
  } else if (named != std::end(kEngineNames)) {
    config.engine = named->kind;
  } else {
    config.fault = u"Engine \"" + QuoteForMessage(config.engineText) + u"\" in [ENGINE] of " +
                   platform::ShownPath(kPluginConfigPath) + u" is not known; write " +
                   KnownEngines() + u".";
    return config;
  }
  const std::u16string logPackets = Read(path, u"LogPackets", u"");
  if (Lower(logPackets) == u"yes") {
    config.logPackets = true;
  } else if (!logPackets.empty() && Lower(logPackets) != u"no") {
    config.fault = u"LogPackets \"" + QuoteForMessage(logPackets) + u"\" in [ENGINE] of " +
                   platform::ShownPath(kPluginConfigPath) + u" is neither yes nor no.";
    return config;
  }
  for (const EngineName& entry : kEngineNames) {
    const std::u16string value = Read(path, entry.programKey, u"");
    std::optional<std::filesystem::path> program =
        value.empty() ? std::filesystem::path(entry.defaultProgram) : NativePath(value);
    if (!program || (!value.empty() && value.front() != u'/')) {
      config.fault =
          std::u16string(entry.programKey) + u" \"" + QuoteForMessage(value) +
          u"\" in [ENGINE] of " + platform::ShownPath(kPluginConfigPath) + u" is not " +
          (program ? u"an absolute path; engines are never looked up on PATH." : u"a usable path.");
      return config;
    }
    config.programs[entry.kind] = std::move(*program);
  }
  return config;
}

}  // namespace dhcp_plugin
