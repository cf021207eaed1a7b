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

// What OpenStateFolder does with a missing folder: kCreate makes it 0700; kInspect makes nothing,
// leaves folder.fd "none" and sets folder.path to where it would be made.
enum class FolderUse { kCreate, kInspect };

// Opens the state folder (setting, as PluginConfig holds it; text as written, for messages).
// Refuses (kStateFolderUnsafe) a path that cannot be used, a folder that is a link or is not owned
// by this user, one whose resolved path fails IsSafeStatePath, one that fails IsOwnerOnlyFolder
// (the message then holds "chmod 700 PATH" with its resolved path), and one below a folder that
// fails platform::IsSafeFolder (root engines reopen their files there by path); a missing folder
// (kInspect) is checked by where it would be made, and refused when its parent does not exist.
EngineResult OpenStateFolder(const std::optional<std::filesystem::path>& setting,
                             const std::u16string& text, StateFolder& folder,
                             FolderUse use = FolderUse::kCreate);

// Takes the folder's lock file, waiting up to 15 s for another launcher run (kStateBusy after).
EngineResult TakeLock(const StateFolder& folder, Fd& lock);

// Takes every permission of group and others off the files in the folder (links are left
// alone): an engine may set its own umask (dnsmasq's is 022, for its lease and pid files) or give
// a file a mode of its own (dnsmasq's log 0660, Kea's logger lock 0660).
void KeepToOwner(const StateFolder& folder);

// "0755": the permission bits of mode as chmod takes them.
std::u16string ModeText(std::uint32_t mode);

// Reads the file name in the open folder (not following a link), up to kReadLimit bytes.
bool ReadFileAt(int folder, const char* name, std::string& text);

// Writes name in folder as a whole: a temporary file, then a rename over the old one (which
// replaces a link there rather than following it). A Durability::kSynced write also flushes the
// file and the folder to disk, so that a crash leaves the old text or the new, never less: for
// files a start does not make anew from the settings (the leases). errno tells why it failed.
enum class Durability { kWhole, kSynced };
bool WriteFileAt(int folder, const std::string& name, std::string_view text,
                 Durability durability = Durability::kWhole);

// Frees the space of earlier logs before a start writes anything, so that a disk an earlier run
// filled does not stop it: removes kEngineLogOldName, and when the log has grown beyond 1 MiB
// keeps its last 1 MiB (from a line's start) as kEngineLogOldName and empties the log in place.
void FreeEngineLogSpace(int folder);

// Keeps the engine log bounded: beyond 1 MiB it is moved to kEngineLogOldName (replacing the one
// before), and a link or anything but a regular file there is removed. Returns the log opened
// for appending, made 0600, and its size now in offset.
Fd OpenEngineLog(int folder, off_t& offset);

// What the engine log holds from byte offset (its size before the start) on, at most kReadLimit
// bytes; a log now shorter than offset was begun anew and is read whole.
std::string EngineLogFrom(int folder, std::uint64_t offset);

// Whether an absolute path may be written into an engine's configuration: it starts with "/" and
// holds only [A-Za-z0-9/_.+-], so it cannot end a line, a value or a JSON string early.
bool IsSafeStatePath(std::string_view path);

// Whether a state folder's mode (st_mode bits) lets no one but its owner in: no permission at all
// for group or others. Reading alone would only list it, but nothing needs that, and one rule,
// the mode the folder is created with, is the one a refusal can name.
bool IsOwnerOnlyFolder(std::uint32_t mode);

// text from outside (an engine, the system) quoted for a message, in double quotes.
std::u16string Quoted(std::string_view text);

}  // namespace dhcp_plugin
