// The state folder where the engines keep their files: opening it safely, the lock that keeps two
// launcher runs apart, whole-file writes, and the shared engine log. Nothing here knows any engine.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "engine.h"
#include "process.h"

namespace dhcp_plugin {

// The engines' shared log in the state folder, and the one earlier log kept beside it.
inline constexpr char kEngineLogName[] = "engine.log";
inline constexpr char kEngineLogOldName[] = "engine.log.1";

struct StateFolder {
  Fd fd;
  std::string path;  // absolute, as the system resolves it
};

// Opens the state folder (setting, as PluginConfig holds it; text as written, for messages),
// making it 0700 when missing. Refuses (kStateFolderUnsafe) a path that cannot be used, a folder
// that is a link, is not owned by this user or is writable by others, one whose resolved path
// fails IsSafeStatePath, and one below a folder that fails IsSafeParentFolder.
EngineResult OpenStateFolder(const std::optional<std::filesystem::path>& setting,
                             const std::u16string& text, StateFolder& folder);

// Takes the folder's lock file, waiting up to 15 s for another launcher run (kStateBusy after).
EngineResult TakeLock(const StateFolder& folder, Fd& lock);

// Reads the file name in the open folder (not following a link), up to kReadLimit bytes.
bool ReadFileAt(int folder, const char* name, std::string& text);

// Writes name in folder as a whole: a temporary file, then a rename over the old one (which
// replaces a link there rather than following it).
bool WriteFileAt(int folder, const std::string& name, std::string_view text);

// Frees the space of earlier logs before a start writes anything, so that a disk an earlier run
// filled does not stop it: removes kEngineLogOldName, and when the log has grown beyond 1 MiB
// keeps its last 1 MiB (from a line's start) as kEngineLogOldName and empties the log in place.
void FreeEngineLogSpace(int folder);

// Keeps the engine log bounded: beyond 1 MiB it is moved to kEngineLogOldName (replacing the one
// before), and a link or anything but a regular file there is removed. Returns the log opened
// for appending, and its size before the start in offset.
Fd OpenEngineLog(int folder, off_t& offset);

// What the engine log holds from byte offset (its size before the start) on, at most kReadLimit
// bytes; a log now shorter than offset was begun anew and is read whole.
std::string EngineLogFrom(int folder, std::uint64_t offset);

// Whether an absolute path may be written into an engine's configuration: it starts with "/" and
// holds only [A-Za-z0-9/_.+-], so it cannot end a line, a value or a JSON string early.
bool IsSafeStatePath(std::string_view path);

// Whether a folder above the state folder keeps others from swapping what lies below it (root
// engines reopen their files there by path): it belongs to root or to user, and neither its group
// nor others may write it unless it has the sticky bit (as /tmp). mode holds the st_mode bits.
bool IsSafeParentFolder(std::uint32_t owner, std::uint32_t mode, std::uint32_t user);

// text from outside (an engine, the system) quoted for a message, in double quotes.
std::u16string Quoted(std::string_view text);

}  // namespace dhcp_plugin
