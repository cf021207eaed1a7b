// Library loading on POSIX: dlopen, dlsym and dlclose.
#include "platform/library.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "platform/text.h"

namespace platform {

namespace {

// Whether path names a regular file (after links). The open does not block on a FIFO, which the
// loader's own open would wait on for good.
bool IsRegularFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  struct stat info {};
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  ::close(fd);
  return regular;
}

}  // namespace

LibraryHandle LoadLibraryAt(const std::u16string& path) {
  std::string narrow;
  if (!Utf16ToUtf8(path, narrow) || narrow.empty()) {
    return nullptr;
  }
  // The system writes paths with backslashes; POSIX separates folders with slashes.
  std::replace(narrow.begin(), narrow.end(), '\\', '/');
  // A name with a slash is a path, which dlopen opens without a search: load only a regular file
  // there. The file could still be swapped between this check and the load; whoever can do that
  // can as well plant a library in its place, so what is left is a load that fails or hangs, not
  // a new way in. (Loading through /proc/self/fd of the checked descriptor would close that gap,
  // but would give the library a path of /proc, and its own $ORIGIN run path would break.)
  if (narrow.find('/') != std::string::npos && !IsRegularFile(narrow)) {
    return nullptr;
  }
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
