// Reads one setting from the settings file into the caller's narrow (UTF-8) buffer.
#include "launcher/ini_reader.h"

#include <cstring>
#include <string>
#include <string_view>

#include "platform/profile.h"
#include "platform/text.h"

namespace {

constexpr int kFound = 0;
constexpr int kMissing = 1;

// Handed to the profile reader as the default, so that a missing key reads back as this marker.
constexpr char16_t kMissingMarker[] = u"@1@";
constexpr std::string_view kMissingMarkerNarrow = "@1@";

constexpr std::size_t kMaxNameUnits = 299;
constexpr std::size_t kValueUnits = 1024;

// A UTF-8 name of more than three bytes per allowed unit is too long whatever it holds, so no
// more than this is ever looked at.
constexpr std::size_t kMaxNameBytes = 3 * kMaxNameUnits + 1;

bool ConvertName(const char* name, std::u16string& wide) {
  if (name == nullptr) {
    return false;
  }
  std::size_t length = 0;
  while (length < kMaxNameBytes && name[length] != '\0') {
    ++length;
  }
  return length < kMaxNameBytes && platform::Utf8ToUtf16(std::string_view(name, length), wide) &&
         wide.size() <= kMaxNameUnits;
}

}  // namespace

int CIniReader::ReadString(const char* fileName, const char* section, const char* key, char* value,
                           std::size_t capacity) const {
  if (value != nullptr && capacity > 0) {
    value[0] = '\0';
  }
  std::u16string wideFile;
  std::u16string wideSection;
  std::u16string wideKey;
  if (!ConvertName(fileName, wideFile) || !ConvertName(section, wideSection) ||
      !ConvertName(key, wideKey)) {
    return kMissing;
  }
  char16_t wideValue[kValueUnits] = {};
  const std::size_t units = platform::ReadProfileString(wideSection, wideKey, kMissingMarker,
                                                        wideValue, kValueUnits, wideFile);
  // A value that fills the whole buffer may have been cut by the reader.
  if (units >= kValueUnits - 1) {
    return kMissing;
  }
  std::string narrow;
  if (!platform::Utf16ToUtf8(std::u16string_view(wideValue, units), narrow) ||
      narrow == kMissingMarkerNarrow || value == nullptr || narrow.size() >= capacity) {
    return kMissing;
  }
  std::memcpy(value, narrow.data(), narrow.size());
  value[narrow.size()] = '\0';
  return kFound;
}
