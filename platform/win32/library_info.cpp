// Which file a loaded library came from, on Windows: GetModuleFileNameW.
#include "platform/library_info.h"

#include <windows.h>

#include <string>

namespace platform {

bool GetLibraryPath(LibraryHandle library, std::u16string& path) {
  if (library == nullptr) {
    return false;
  }
  // The path may be longer than MAX_PATH; grow the buffer until it fits.
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(reinterpret_cast<HMODULE>(library), buffer.data(),
                                            static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      return false;
    }
    if (length < buffer.size()) {
      path.assign(buffer.begin(), buffer.begin() + length);
      return true;
    }
    if (buffer.size() >= 32768) {
      return false;
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace platform
