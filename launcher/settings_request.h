// The four DHCP settings as the launcher reads them from its settings file and sends them to the
// plugin, each with the reason it is sent as it is.
#pragma once

#include <array>
#include <cstddef>
#include <string>

class CDhcpServerRequest;

namespace settings_request {

// Where the launcher reads its settings (system path form, relative to the working directory).
inline constexpr char kSettingsFile[] = "..\\config\\fylDHCPServer.ini";
inline constexpr char kSettingsSection[] = "PARAMS";
// The launcher's buffer for one value, in bytes of UTF-8, terminator included.
inline constexpr std::size_t kSettingCapacity = 200;
// The plugin the launcher sends the request to (system path form, from the working directory).
inline constexpr char kPluginLibrary[] = ".\\mekDHCPPluginu.dll";
// What the profile reader hands back for a missing file, section or key.
inline constexpr char kMissingMarker[] = "@1@";

enum SettingIndex : std::size_t { kSubnetMask, kGateway, kDuringTime, kRangeIp, kSettingCount };
inline constexpr std::array<const char*, kSettingCount> kSettingKeys = {"SubNetMask", "Gateway",
                                                                        "DuringTime", "RangeIp"};

// Why a setting is sent as it is. Every reason but kSent means it is sent empty.
enum class Reason {
  kSent,     // the value in the file, as it stands
  kMissing,  // the file, its section or the key is missing (or the file cannot be read)
  kMarker,   // the value reads as the missing-key marker "@1@"
  kHoldsAt,  // the value holds "@", which would break the message text's fields
  kTooLong,  // the value does not fit the 200-byte buffer as UTF-8
  kNotText,  // the value is not valid text in the file's encoding
};

struct Setting {
  const char* key = nullptr;
  bool inFile = false;   // the key holds a value in the file (possibly empty or not text)
  std::u16string value;  // that value as the profile reader reads it (a lone surrogate stands
                         // for each byte that is not text); empty when !inFile
  std::u16string sent;   // what the launcher sends
  Reason reason = Reason::kMissing;
};

// Reads the four settings from section "PARAMS" of fileName (UTF-8, system path form) exactly as
// the launcher does, in the order of kSettingKeys. With explain, a value the settings reader
// refuses is read again to tell why (inFile, value and reason); without it, as the launcher reads,
// the file is read once per key and such a value is reported as kMissing. Never throws except
// std::bad_alloc.
std::array<Setting, kSettingCount> ReadSettings(const char* fileName, bool explain = false);

// Sets the plugin path and the four values the launcher sends on request.
void FillRequest(const std::array<Setting, kSettingCount>& settings, CDhcpServerRequest& request);

}  // namespace settings_request
