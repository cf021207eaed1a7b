// Library loading on Windows: LoadLibraryExW with a narrowed search, GetProcAddress, FreeLibrary.
#include "platform/library.h"

#include <windows.h>

#include <string>
#include <vector>

namespace platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide text is UTF-16");

namespace {

const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

// The full path of path against the current folder, or the empty text when there is none.
std::u16string FullPath(const std::u16string& path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetFullPathNameW(Wide(path), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0) {
      return {};
    }
    if (length < buffer.size()) {
      return std::u16string(reinterpret_cast<const char16_t*>(buffer.data()), length);
    }
    buffer.resize(length);
  }
}

// Loads path with a search narrowed to folders whoever installed the program controls. The
// default search would also try the current folder and every folder on PATH, where anyone who can
// write there could plant a library of the same name. A bare name is looked up beside the program
// and in the system folder only. A name with a folder part is made a full path first, as the
// narrowed search requires: the system would otherwise look a relative path such as ".\x.dll" up
// in the folders of its search too. Exactly that file is loaded, and its own imports come from its
// folder and the system folder.
HMODULE LoadNarrowly(const std::u16string& path) {
  if (path.find_first_of(u"\\/:") == std::u16string::npos) {
    return LoadLibraryExW(Wide(path), nullptr,
                          LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  const std::u16string full = FullPath(path);
  if (full.empty()) {
    return nullptr;
  }
  return LoadLibraryExW(Wide(full), nullptr,
                        LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

LibraryHandle LoadLibraryAt(const std::u16string& path) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) {
    return nullptr;
  }
  // A library that is not a valid image, or whose own imports are missing, must fail quietly
  // rather than put up the system's error box.
  DWORD previousMode = 0;
  const BOOL quiet =
      SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
  HMODULE module = nullptr;
  try {
    module = LoadNarrowly(path);
  } catch (...) {
  }
  if (quiet) {
    SetThreadErrorMode(previousMode, nullptr);
  }
  return reinterpret_cast<LibraryHandle>(module);
}

EntryPoint FindEntryPoint(LibraryHandle library, const char* name) {
  if (library == nullptr || name == nullptr) {
    return nullptr;
  }
  return reinterpret_cast<EntryPoint>(GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

void UnloadLibrary(LibraryHandle library) {
  if (library != nullptr) {
    FreeLibrary(reinterpret_cast<HMODULE>(library));
  }
}

}  // namespace platform
