// The reference plugin's own settings, read from its profile file.
#include "plugin_config.h"

#include <algorithm>
#include <array>
#include <string>

#include "engine.h"
#include "platform/profile.h"
#include "platform/shown_path.h"
#include "platform/text.h"
#include "settings_check.h"

namespace dhcp_plugin {

namespace {

// Longer values are cut by the reader; no sound value comes near this.
constexpr std::size_t kValueUnits = 1024;
constexpr char16_t kStateFolderDefault[] = u"..\\run";

std::u16string ReadIn(const char16_t* section, const std::u16string& path, const char16_t* key,
                      const char16_t* fallback) {
  std::array<char16_t, kValueUnits> buffer{};
  const std::size_t length =
      platform::ReadProfileString(section, key, fallback, buffer.data(), buffer.size(), path);
  return {buffer.data(), length};
}

std::u16string Read(const std::u16string& path, const char16_t* key, const char16_t* fallback) {
  return ReadIn(kEngineSection, path, key, fallback);
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
  return u"check, off, " + ServingEngineValues();
}

// "KEY \"VALUE\" in [HA] of ../config/mekDHCPPluginu.ini" (as the platform writes the path): the
// start of a sentence about a value.
std::u16string InPairSection(const char16_t* key, const std::u16string& value) {
  return std::u16string(key) + u" \"" + QuoteForMessage(value) + u"\" in [" + kPairSection +
         u"] of " + platform::ShownPath(kPluginConfigPath);
}

bool SetFault(PairConfig& pair, int code, std::u16string message) {
  pair.faultCode = code;
  pair.fault = std::move(message);
  return false;
}

// The URL of key into url; false with the fault set when it cannot be used.
bool ReadPeerUrl(const std::u16string& path, const char16_t* key, PairConfig& pair, PeerUrl& url) {
  const std::u16string text = ReadIn(kPairSection, path, key, u"");
  if (Lower(text.substr(0, 7)) == u"http://") {
    return SetFault(pair, kPairWithoutTls,
                    InPairSection(key, text) +
                        u" speaks no TLS, and the pair's listener would run the commands of "
                        u"anyone who reaches it; write https:// and set TrustAnchor, CertFile and "
                        u"KeyFile.");
  }
  const std::optional<PeerUrl> parsed = ParsePeerUrl(text);
  if (!parsed) {
    return SetFault(
        pair, kPairUrlInvalid,
        (text.empty() ? std::u16string(key) + u" is missing in [" + kPairSection + u"] of " +
                            platform::ShownPath(kPluginConfigPath) + u"; write"
                      : InPairSection(key, text) + u" is not") +
            u" https://IPv4:PORT/ (an IPv4 address, not a name, and a port from 1 to 65535).");
  }
  url = *parsed;
  return true;
}

// Section HA into pair; false with the fault set at the first value that cannot be used.
bool ReadPair(const std::u16string& path, PairConfig& pair) {
  const std::u16string mode = ReadIn(kPairSection, path, u"Mode", u"");
  if (mode.empty() || Lower(mode) == u"off") {
    return true;
  }
  if (Lower(mode) == u"hot-standby") {
    pair.mode = PairMode::kHotStandby;
  } else if (Lower(mode) == u"load-balancing") {
    pair.mode = PairMode::kLoadBalancing;
  } else {
    return SetFault(
        pair, kPairModeUnknown,
        InPairSection(u"Mode", mode) + u" is not known; write off, hot-standby or load-balancing.");
  }
  const std::u16string role = ReadIn(kPairSection, path, u"Role", u"");
  if (Lower(role) == u"primary" || Lower(role) == u"secondary") {
    pair.role = Lower(role) == u"primary" ? PairRole::kPrimary : PairRole::kSecondary;
  } else {
    return SetFault(pair, kPairModeUnknown,
                    (role.empty() ? u"Role is missing in [" + std::u16string(kPairSection) +
                                        u"] of " + platform::ShownPath(kPluginConfigPath)
                                  : InPairSection(u"Role", role) + u" is not known") +
                        u"; write primary or secondary: which of the two servers this is.");
  }
  if (!ReadPeerUrl(path, u"PrimaryUrl", pair, pair.primary) ||
      !ReadPeerUrl(path, u"SecondaryUrl", pair, pair.secondary)) {
    return false;
  }
  if (pair.primary == pair.secondary) {
    return SetFault(pair, kPairUrlInvalid,
                    u"PrimaryUrl and SecondaryUrl in [" + std::u16string(kPairSection) + u"] of " +
                        platform::ShownPath(kPluginConfigPath) +
                        u" are the same; each server needs a URL of its own.");
  }
  const struct {
    const char16_t* key;
    std::filesystem::path* path;
  } files[] = {{u"TrustAnchor", &pair.trustAnchor},
               {u"CertFile", &pair.certFile},
               {u"KeyFile", &pair.keyFile}};
  std::u16string missing;
  for (const auto& file : files) {
    if (ReadIn(kPairSection, path, file.key, u"").empty()) {
      missing += (missing.empty() ? u"" : u", ") + std::u16string(file.key);
    }
  }
  if (missing == u"TrustAnchor, CertFile, KeyFile") {
    return SetFault(pair, kPairWithoutTls,
                    u"The pair in [" + std::u16string(kPairSection) + u"] of " +
                        platform::ShownPath(kPluginConfigPath) +
                        u" has no TLS files; the pair speaks TLS only, for its listener runs the "
                        u"commands of anyone who reaches it. Set TrustAnchor, CertFile and "
                        u"KeyFile.");
  }
  if (!missing.empty()) {
    return SetFault(pair, kPairTlsFilesUnsafe,
                    u"[" + std::u16string(kPairSection) + u"] of " +
                        platform::ShownPath(kPluginConfigPath) + u" lacks " + missing +
                        u"; the pair needs all three TLS files.");
  }
  for (const auto& file : files) {
    const std::u16string value = ReadIn(kPairSection, path, file.key, u"");
    const std::optional<std::filesystem::path> native = NativePath(value);
    if (!native || value.front() != u'/') {
      return SetFault(pair, kPairTlsFilesUnsafe,
                      InPairSection(file.key, value) + u" is not an absolute path.");
    }
    *file.path = *native;
  }
  return true;
}

}  // namespace

std::u16string ServingEngineValues() {
  std::u16string list = u"auto";
  for (std::size_t i = 0; i < std::size(kEngineNames); ++i) {
    list +=
        (i + 1 == std::size(kEngineNames) ? u" or " : u", ") + std::u16string(kEngineNames[i].name);
  }
  return list;
}

const char16_t* PairModeName(PairMode mode) {
  switch (mode) {
    case PairMode::kHotStandby:
      return u"hot-standby";
    case PairMode::kLoadBalancing:
      return u"load-balancing";
    case PairMode::kOff:
      break;
  }
  return u"off";
}

const char16_t* PairRoleName(PairRole role) {
  return role == PairRole::kPrimary ? u"primary" : u"secondary";
}

std::u16string PeerUrlText(const PeerUrl& url) {
  return u"https://" + FormatDottedQuad(url.address) + u":" + DecimalText(url.port) + u"/";
}

std::optional<PeerUrl> ParsePeerUrl(std::u16string_view text) {
  constexpr std::u16string_view kScheme = u"https://";
  if (text.size() < kScheme.size() ||
      Lower(std::u16string(text.substr(0, kScheme.size()))) != kScheme) {
    return std::nullopt;
  }
  text.remove_prefix(kScheme.size());
  if (!text.empty() && text.back() == u'/') {
    text.remove_suffix(1);
  }
  const std::size_t colon = text.find(u':');
  if (colon == std::u16string_view::npos) {
    return std::nullopt;
  }
  const std::optional<Ipv4> address = ParseDottedQuad(text.substr(0, colon));
  const std::u16string_view port = text.substr(colon + 1);
  constexpr std::uint32_t kMaxPort = 65535;
  std::uint32_t number = 0;
  for (const char16_t c : port) {
    if (c < u'0' || c > u'9' || number > kMaxPort) {
      return std::nullopt;
    }
    number = number * 10 + static_cast<std::uint32_t>(c - u'0');
  }
  constexpr Ipv4 kMulticast = 0xE0000000U;
  constexpr Ipv4 kClassDMask = 0xF0000000U;
  constexpr Ipv4 kLoopback = 0x7F000000U;
  constexpr Ipv4 kClassAMask = 0xFF000000U;
  if (!address || *address == 0 || *address == 0xFFFFFFFFU ||
      (*address & kClassDMask) == kMulticast || (*address & kClassAMask) == kLoopback ||
      port.empty() || port.front() == u'0' || number > kMaxPort) {
    return std::nullopt;
  }
  return PeerUrl{*address, static_cast<std::uint16_t>(number)};
}

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
  ReadPair(path, config.pair);
  return config;
}

}  // namespace dhcp_plugin
