// Which file a loaded library came from.
#pragma once

#include <string>

#include "platform/library.h"

namespace platform {

// Writes to path the full path (UTF-16, the system's form) of the file library was loaded from,
// which tells where the library search found it. Returns false, leaving path alone, when library
// is null or the system cannot tell.
bool GetLibraryPath(LibraryHandle library, std::u16string& path);

}  // namespace platform
