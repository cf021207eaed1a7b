// The rule a process with high rights applies to a folder it opens or loads files from by path.
#pragma once

#include <cstdint>

namespace platform {

// Whether a folder keeps others from swapping what lies in it: it belongs to root or to user, and
// neither its group nor others may write it unless it has the sticky bit (as /tmp), which keeps
// them from renaming or removing entries they do not own. owner and mode are the folder's st_uid
// and st_mode; user is the effective user of the process that relies on the folder.
constexpr bool IsSafeFolder(std::uint32_t owner, std::uint32_t mode, std::uint32_t user) {
  constexpr std::uint32_t kGroupOrOthersWrite = 0022;
  constexpr std::uint32_t kSticky = 01000;
  return (owner == 0 || owner == user) &&
         ((mode & kGroupOrOthersWrite) == 0 || (mode & kSticky) != 0);
}

}  // namespace platform
