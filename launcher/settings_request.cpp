// The four DHCP settings as the launcher reads them, each with the reason it is sent as it is.
#include "launcher/settings_request.h"

#include <array>
#include <string>
#include <string_view>

#include "launcher/ini_reader.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "request/dhcp_server_request.h"

namespace settings_request {
namespace {

// As the settings reader reads a value: a buffer of this many UTF-16 units.
constexpr std::size_t kValueUnits = 1024;
// A second default, which tells a missing key from a value that reads as the marker.
constexpr char16_t kOtherMarker[] = u"@2@";

std::u16string Widen(std::string_view narrow) {
  std::u16string wide;
  platform::Utf8ToUtf16(narrow, wide);
  return wide;
}

std::u16string ReadRaw(const std::u16string& file, const std::u16string& key,
                       const std::u16string& defaultValue) {
  std::array<char16_t, kValueUnits> buffer{};
  const std::size_t units = platform::ReadProfileString(Widen(kSettingsSection), key, defaultValue,
                                                        buffer.data(), buffer.size(), file);
  return {buffer.data(), units};
}

// Why the settings reader refused the value of key (it reports only that it did).
void ExplainRefusal(const char* fileName, Setting& setting) {
  const std::u16string file = Widen(fileName);
  const std::u16string key = Widen(setting.key);
  const std::u16string marker = Widen(kMissingMarker);
  std::u16string raw = ReadRaw(file, key, marker);
  if (raw == marker) {
    setting.inFile = ReadRaw(file, key, kOtherMarker) != kOtherMarker;
    setting.value = setting.inFile ? raw : std::u16string();
    setting.reason = setting.inFile ? Reason::kMarker : Reason::kMissing;
    return;
  }
  std::string narrow;
  setting.inFile = true;
  setting.reason = raw.size() < kValueUnits - 1 && !platform::Utf16ToUtf8(raw, narrow)
                       ? Reason::kNotText
                       : Reason::kTooLong;
  setting.value = std::move(raw);
}

}  // namespace

std::array<Setting, kSettingCount> ReadSettings(const char* fileName, bool explain) {
  std::array<Setting, kSettingCount> settings;
  const CIniReader reader;
  for (std::size_t i = 0; i < kSettingCount; ++i) {
    Setting& setting = settings[i];
    setting.key = kSettingKeys[i];
    std::array<char, kSettingCapacity> buffer{};
    if (reader.ReadString(fileName, kSettingsSection, setting.key, buffer.data(), buffer.size()) ==
        1) {
      if (explain) {
        ExplainRefusal(fileName, setting);
      }
      continue;
    }
    setting.inFile = true;
    setting.value = Widen(buffer.data());
    // The message text escapes nothing, so a value holding "@" could smuggle fields into the
    // request or rename the next key; no sound DHCP setting holds one, and such a value is sent
    // empty like a missing key.
    if (setting.value.find(u'@') != std::u16string::npos) {
      setting.reason = Reason::kHoldsAt;
    } else {
      setting.sent = setting.value;
      setting.reason = Reason::kSent;
    }
  }
  return settings;
}

void FillRequest(const std::array<Setting, kSettingCount>& settings, CDhcpServerRequest& request) {
  request.SetPluginPath(Widen(kPluginLibrary));
  request.SetSubnetMask(settings[kSubnetMask].sent);
  request.SetGateway(settings[kGateway].sent);
  request.SetDuringTime(settings[kDuringTime].sent);
  request.SetRangeIp(settings[kRangeIp].sent);
}

}  // namespace settings_request
