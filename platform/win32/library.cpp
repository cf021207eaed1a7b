// Library loading on Windows: LoadLibraryW, GetProcAddress and FreeLibrary.
#include "platform/library.h"

#include <windows.h>

#include <string>

namespace platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide text is UTF-16");

LibraryHandle LoadLibraryAt(const std::u16string& path) {
  if (path.empty()) {
    return nullptr;
  }
  // A library that is not a valid image, or whose own imports are missing, must fail quietly
  // rather than put up the system's error box.
  DWORD previousMode = 0;
  const BOOL quiet =
      SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
  HMODULE module = LoadLibraryW(reinterpret_cast<const wchar_t*>(path.c_str()));
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
