// Reading a profile file on Windows: the system's own GetPrivateProfileStringW and its listings.
#include "platform/profile.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/profile_parser.h"

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

// Whether path names a regular file this process can read: the system's listings answer an
// empty list for a missing file, which must read as a failure here.
bool IsReadableFile(const std::u16string& path) {
  const HANDLE file =
      CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const bool regular = GetFileType(file) == FILE_TYPE_DISK &&
                       GetFileInformationByHandle(file, &info) != 0 &&
                       (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  CloseHandle(file);
  return regular;
}

// Runs a listing call of the system, which writes names each ended by a NUL and the list ended by
// a second NUL, and answers size - 2 when the list does not fit: the buffer grows until it does.
// The names go into names once each, in the order listed; a name longer than kProfileNameLimit is
// left out, as the POSIX backend leaves it out.
template <typename List>
bool ListNames(const std::u16string& path, List list, std::vector<std::u16string>& names) {
  try {
    const std::u16string file = InCurrentFolder(path);
    if (!IsReadableFile(file)) {
      return false;
    }
    std::vector<wchar_t> buffer(4096);
    DWORD written = 0;
    for (;;) {
      written = list(buffer.data(), static_cast<DWORD>(buffer.size()), Wide(file));
      if (written + 2 < buffer.size()) {
        break;
      }
      if (buffer.size() > MAXDWORD / 2) {
        return false;
      }
      buffer.resize(buffer.size() * 2);
    }
    DistinctNames distinct;
    const auto* units = reinterpret_cast<const char16_t*>(buffer.data());
    for (std::size_t at = 0; at < written;) {
      const std::u16string_view name(units + at);
      if (name.size() <= kProfileNameLimit) {
        distinct.Add(name);
      }
      at += name.size() + 1;
    }
    names = distinct.Take();
    return true;
  } catch (...) {
    return false;
  }
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

bool ListProfileSections(const std::u16string& path, std::vector<std::u16string>& sections) {
  return ListNames(
      path,
      [](wchar_t* buffer, DWORD size, const wchar_t* file) {
        return GetPrivateProfileSectionNamesW(buffer, size, file);
      },
      sections);
}

bool ListProfileKeys(const std::u16string& section, const std::u16string& path,
                     std::vector<std::u16string>& keys) {
  // The value reader ignores spaces around a section's name; Wine's key listing does not, so they
  // go here.
  const std::size_t first = section.find_first_not_of(u' ');
  const std::u16string trimmed =
      first == std::u16string::npos
          ? std::u16string()
          : section.substr(first, section.find_last_not_of(u' ') - first + 1);
  return ListNames(
      path,
      [&trimmed](wchar_t* buffer, DWORD size, const wchar_t* file) {
        // A null key asks for the names of the section's keys.
        return GetPrivateProfileStringW(Wide(trimmed), nullptr, L"", buffer, size, file);
      },
      keys);
}

OpenedProfileFile::OpenedProfileFile(const std::u16string& path) {
  const std::u16string file = InCurrentFolder(std::u16string(path.c_str()));
  // Shared for reading and writing as the system's reader shares it, but not for deletion, so
  // that nobody renames or removes the file while it is open here.
  const HANDLE handle = CreateFileW(Wide(file), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    state_ = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? State::kMissing
                                                                            : State::kUnreadable;
    return;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(handle) != FILE_TYPE_DISK || GetFileInformationByHandle(handle, &info) == 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(handle);
    state_ = State::kUnreadable;
    return;
  }
  try {
    readerPath_ = file;
  } catch (...) {
    CloseHandle(handle);  // no destructor runs for an object whose constructor throws
    throw;
  }
  handle_ = reinterpret_cast<std::intptr_t>(handle);
  state_ = State::kOpen;
}

OpenedProfileFile::~OpenedProfileFile() {
  if (handle_ != -1) {
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
  }
}

std::int64_t OpenedProfileFile::Read(char* buffer, std::size_t size) {
  if (handle_ == -1 || buffer == nullptr || size == 0) {
    return 0;
  }
  DWORD got = 0;
  const auto wanted = static_cast<DWORD>(std::min<std::size_t>(size, MAXDWORD));
  if (ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, wanted, &got, nullptr) == 0) {
    return -1;
  }
  return got;
}

}  // namespace platform
