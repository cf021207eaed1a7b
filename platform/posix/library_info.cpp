// Which file a loaded library came from, on POSIX: the dynamic linker's map of the library.
#include "platform/library_info.h"

#include <dlfcn.h>
#include <link.h>

#include <string>

#include "platform/text.h"

namespace platform {

bool GetLibraryPath(LibraryHandle library, std::u16string& path) {
  if (library == nullptr) {
    return false;
  }
  link_map* map = nullptr;
  if (dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr ||
      map->l_name[0] == '\0') {
    return false;
  }
  return Utf8ToUtf16(map->l_name, path);
}

}  // namespace platform
