// The sections and keys of a settings file on Windows, from the system's profile reader.
#include <windows.h>

#include <string>
#include <vector>

#include "check/profile_listing.h"

namespace check {
namespace {

// Reads a list of NUL-separated names into names, growing the buffer until it fits.
template <typename Read>
bool ReadList(Read read, std::vector<std::u16string>& names) {
  for (DWORD size = 4096; size <= (1U << 24); size *= 4) {
    std::u16string buffer(size, u'\0');
    const DWORD got = read(reinterpret_cast<wchar_t*>(buffer.data()), size);
    if (got + 2 >= size) {
      continue;  // cut: try a bigger buffer
    }
    for (std::size_t start = 0; start < got;) {
      const std::size_t end = buffer.find(u'\0', start);
      names.push_back(buffer.substr(start, end - start));
      start = end + 1;
    }
    return true;
  }
  return false;
}

bool Readable(const std::u16string& path) {
  const DWORD attributes = GetFileAttributesW(reinterpret_cast<const wchar_t*>(path.c_str()));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

bool ListProfileSections(const std::u16string& path, std::vector<std::u16string>& sections) {
  const auto* file = reinterpret_cast<const wchar_t*>(path.c_str());
  return Readable(path) &&
         ReadList([&](wchar_t* buffer,
                      DWORD size) { return GetPrivateProfileSectionNamesW(buffer, size, file); },
                  sections);
}

bool ListProfileKeys(const std::u16string& section, const std::u16string& path,
                     std::vector<std::u16string>& keys) {
  const auto* file = reinterpret_cast<const wchar_t*>(path.c_str());
  const auto* name = reinterpret_cast<const wchar_t*>(section.c_str());
  return Readable(path) &&
         ReadList(
             [&](wchar_t* buffer, DWORD size) {
               return GetPrivateProfileStringW(name, nullptr, L"", buffer, size, file);
             },
             keys);
}

}  // namespace check
