// Library loading on POSIX: dlopen, dlsym and dlclose.
#include "platform/library.h"

#include <dlfcn.h>

#include <algorithm>
#include <string>

#include "platform/text.h"

namespace platform {

LibraryHandle LoadLibraryAt(const std::u16string& path) {
  std::string narrow;
  if (!Utf16ToUtf8(path, narrow) || narrow.empty()) {
    return nullptr;
  }
  // The system writes paths with backslashes; POSIX separates folders with slashes.
  std::replace(narrow.begin(), narrow.end(), '\\', '/');
  return static_cast<LibraryHandle>(dlopen(narrow.c_str(), RTLD_NOW | RTLD_LOCAL));
}

EntryPoint FindEntryPoint(LibraryHandle library, const char* name) {
  if (library == nullptr) {
    return nullptr;
  }
  return reinterpret_cast<EntryPoint>(dlsym(library, name));
}

void UnloadLibrary(LibraryHandle library) {
  if (library != nullptr) {
    dlclose(library);
  }
}

}  // namespace platform
