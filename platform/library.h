// Loading shared libraries and looking up their entry points.
#pragma once

#include <memory>
#include <string>

namespace platform {

// A loaded library; the operating system's handle stays behind this opaque type.
struct LibraryTag;
using LibraryHandle = LibraryTag*;

// An entry point's address; cast it to the entry point's own function type before calling it.
using EntryPoint = void (*)();

// Loads the library at path, a UTF-16 path in the system's fixed form (backslashes separate
// folders). A name without a folder goes through the platform's library search: on Windows the
// program's folder and the system folder only (never the current folder or PATH); on POSIX the
// loader's search. A name with a folder part loads that file alone, a relative one against the
// current folder (on Windows never found through a search). Returns null when
// the path cannot be converted or the library cannot be loaded. On POSIX a name with a folder part
// loads only a regular file: a FIFO or device in its place is refused at once, never waited on.
LibraryHandle LoadLibraryAt(const std::u16string& path);

// The address of the export named name, or null when the library has none.
EntryPoint FindEntryPoint(LibraryHandle library, const char* name);

// Unloads a library loaded by LoadLibraryAt. Null is ignored.
void UnloadLibrary(LibraryHandle library);

// Unloads the library it holds when it goes out of scope.
struct LibraryUnloader {
  void operator()(LibraryHandle library) const { UnloadLibrary(library); }
};
using ScopedLibrary = std::unique_ptr<LibraryTag, LibraryUnloader>;

}  // namespace platform
