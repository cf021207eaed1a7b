// Reading a profile-file value on Windows: the system's own GetPrivateProfileStringW.
#include "platform/profile.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <string>

namespace platform {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide text is UTF-16");

const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

// The system looks a bare file name up in the Windows folder; ours are relative to the current
// folder, as a name with a folder part already is.
std::u16string InCurrentFolder(const std::u16string& path) {
  if (path.find_first_of(u"\\/:") == std::u16string::npos) {
    return u".\\" + path;
  }
  return path;
}

}  // namespace

std::size_t ReadProfileString(const std::u16string& section, const std::u16string& key,
                              const std::u16string& defaultValue, char16_t* buffer,
                              std::size_t size, const std::u16string& path) {
  if (buffer == nullptr || size == 0) {
    return 0;
  }
  const auto bufferSize = static_cast<DWORD>(std::min<std::size_t>(size, MAXDWORD));
  return GetPrivateProfileStringW(Wide(section), Wide(key), Wide(defaultValue),
                                  reinterpret_cast<wchar_t*>(buffer), bufferSize,
                                  Wide(InCurrentFolder(path)));
}

}  // namespace platform
