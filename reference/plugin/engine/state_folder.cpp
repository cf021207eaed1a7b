// The engines' state folder on Linux: opened without following links, locked, written whole.
#include "state_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <thread>

#include "platform/safe_folder.h"

namespace dhcp_plugin {

namespace {

constexpr milliseconds kLockWait{15000};
constexpr off_t kLogLimit = off_t{1} << 20;  // the engine log is moved aside beyond this size
constexpr char kLockName[] = "engine.lock";

EngineResult Fail(int code, std::u16string message) {
  return {code, std::move(message)};
}

bool IsPathCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.' || c == '-' || c == '/' || c == '+';
}

// Where a missing folder at path would be made: its parent resolved, then its own name; "" with
// errno set when the parent cannot be resolved or the name is "." or "..".
std::string WouldBeMade(const std::string& path) {
  std::filesystem::path wanted = std::filesystem::path(path).lexically_normal();
  if (!wanted.has_filename()) {
    wanted = wanted.parent_path();
  }
  const std::string name = wanted.filename().native();
  std::filesystem::path parent = wanted.parent_path();
  if (parent.empty()) {
    parent = ".";
  }
  if (name.empty() || name == "." || name == "..") {
    errno = EINVAL;
    return "";
  }
  std::array<char, PATH_MAX> resolved{};
  if (realpath(parent.c_str(), resolved.data()) == nullptr) {
    return "";
  }
  const std::string base(resolved.data());
  return (base == "/" ? "" : base) + "/" + name;
}

}  // namespace

std::u16string ModeText(std::uint32_t mode) {
  std::u16string text = u"0";
  for (int shift = 6; shift >= 0; shift -= 3) {
    text += static_cast<char16_t>(u'0' + ((mode >> static_cast<unsigned>(shift)) & 7U));
  }
  return text;
}

std::u16string Quoted(std::string_view text) {
  return u"\"" + QuoteForMessage(WidenText(text)) + u"\"";
}

EngineResult OpenStateFolder(const std::optional<std::filesystem::path>& setting,
                             const std::u16string& text, StateFolder& folder, FolderUse use) {
  if (!setting) {
    return Fail(kStateFolderUnsafe,
                u"StateFolder \"" + QuoteForMessage(text) + u"\" is not a usable path.");
  }
  const std::string& path = setting->native();
  if (use == FolderUse::kCreate) {
    mkdir(path.c_str(), 0700);
  }
  folder.fd = safe_file::OpenFolderNoFollow(path, false);
  const bool missing = use == FolderUse::kInspect && !folder.fd && errno == ENOENT;
  struct stat info {};
  const std::u16string named = u"StateFolder " + Quoted(path);
  folder.path = missing ? WouldBeMade(path) : "";
  if ((missing && folder.path.empty()) ||
      (!missing && (!static_cast<bool>(folder.fd) || fstat(folder.fd.Get(), &info) != 0))) {
    return Fail(kStateFolderUnsafe,
                named + u" cannot be opened as a folder (" + WidenText(std::strerror(errno)) +
                    u"); it must be a folder, not a symbolic link, whose parent exists.");
  }
  if (!missing && info.st_uid != geteuid()) {
    return Fail(kStateFolderUnsafe, named +
                                        u" is not owned by the user the launcher runs as; use a "
                                        u"folder of that user's that only it may enter (0700).");
  }
  const std::uint32_t mode = info.st_mode;
  std::array<char, PATH_MAX> target{};
  const std::string self = "/proc/self/fd/" + std::to_string(folder.fd.Get());
  const ssize_t length = missing ? 0 : readlink(self.c_str(), target.data(), target.size() - 1);
  if (!missing) {
    folder.path = length > 0 ? std::string(target.data(), static_cast<std::size_t>(length)) : "";
  }
  if (!IsSafeStatePath(folder.path)) {
    return Fail(kStateFolderUnsafe,
                named + u" resolves to " + Quoted(folder.path) +
                    u"; use a folder whose absolute path holds only letters, digits and /_.+- "
                    u"and stays short enough for a control socket.");
  }
  if (!IsOwnerOnlyFolder(mode)) {
    return Fail(kStateFolderUnsafe,
                named + u" may be entered, listed or written by its group or others (mode " +
                    ModeText(mode) +
                    u"): the servers' leases, log and control socket in it are the owner's only. "
                    u"Make it so: chmod 700 " +
                    WidenText(folder.path));
  }
  // The path is resolved, so each folder above is a real folder; a link found now was put there
  // since, by someone who may write its parent.
  for (std::string parent = folder.path; parent.size() > 1;) {
    parent.erase(std::max<std::size_t>(parent.rfind('/'), 1));
    if (lstat(parent.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        !platform::IsSafeFolder(info.st_uid, info.st_mode, geteuid())) {
      return Fail(kStateFolderUnsafe,
                  named + u" lies below " + Quoted(parent) +
                      u", which belongs to another user or may be written by its group or others "
                      u"without the sticky bit; every folder above the state folder must belong "
                      u"to root or the user the launcher runs as and be writable only by them.");
    }
  }
  return {};
}

EngineResult TakeLock(const StateFolder& folder, Fd& lock) {
  lock = Fd(openat(folder.fd.Get(), kLockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!static_cast<bool>(lock)) {
    return Fail(kStateFolderUnsafe, u"The lock file in the state folder " + Quoted(folder.path) +
                                        u" cannot be opened (" + WidenText(std::strerror(errno)) +
                                        u").");
  }
  const auto deadline = Clock::now() + kLockWait;
  while (flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (Clock::now() > deadline) {
      return Fail(kStateBusy, u"Another launcher run is starting the DHCP server in " +
                                  Quoted(folder.path) + u"; nothing was changed.");
    }
    std::this_thread::sleep_for(milliseconds(20));
  }
  return {};
}

void KeepToOwner(const StateFolder& folder) {
  const int copy = fcntl(folder.fd.Get(), F_DUPFD_CLOEXEC, 0);
  DIR* entries = copy < 0 ? nullptr : fdopendir(copy);
  if (entries == nullptr) {
    if (copy >= 0) {
      close(copy);
    }
    return;
  }
  while (const dirent* entry = readdir(entries)) {
    struct stat info {};
    if (fstatat(folder.fd.Get(), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISLNK(info.st_mode) && !S_ISDIR(info.st_mode) && (info.st_mode & 0077U) != 0) {
      fchmodat(folder.fd.Get(), entry->d_name, info.st_mode & 07700U, 0);
    }
  }
  closedir(entries);
}

bool ReadFileAt(int folder, const char* name, std::string& text) {
  const Fd fd(openat(folder, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  return static_cast<bool>(fd) && safe_file::ReadAll(fd.Get(), text, kReadLimit);
}

bool WriteFileAt(int folder, const std::string& name, std::string_view text,
                 Durability durability) {
  const std::string temporary = name + ".tmp";
  unlinkat(folder, temporary.c_str(), 0);
  const Fd fd(openat(folder, temporary.c_str(),
                     O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!static_cast<bool>(fd)) {
    return false;
  }
  const bool synced = durability == Durability::kSynced;
  if (!safe_file::WriteAll(fd.Get(), text) || (synced && fsync(fd.Get()) != 0) ||
      renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) {
    const int error = errno;
    unlinkat(folder, temporary.c_str(), 0);
    errno = error;
    return false;
  }
  return !synced || fsync(folder) == 0;
}

void FreeEngineLogSpace(int folder) {
  unlinkat(folder, kEngineLogOldName, 0);
  const Fd fd(openat(folder, kEngineLogName, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (!static_cast<bool>(fd) || fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      info.st_size <= kLogLimit) {
    return;
  }
  std::string tail(static_cast<std::size_t>(kLogLimit), '\0');
  std::size_t got = 0;
  while (got < tail.size()) {
    const ssize_t part = pread(fd.Get(), tail.data() + got, tail.size() - got,
                               info.st_size - kLogLimit + static_cast<off_t>(got));
    if (part < 0 && errno == EINTR) {
      continue;
    }
    if (part <= 0) {
      break;
    }
    got += static_cast<std::size_t>(part);
  }
  tail.resize(got);
  const std::size_t lineStart = tail.find('\n');
  tail.erase(0, lineStart == std::string::npos ? 0 : lineStart + 1);
  // Emptied in place, not removed: the server started before may still write it (appending), and
  // the space of a file it holds open would come free only once it stops. Emptied first: its
  // space is what a full disk needs for the rest.
  if (ftruncate(fd.Get(), 0) == 0) {
    WriteFileAt(folder, kEngineLogOldName, tail);
  }
}

Fd OpenEngineLog(int folder, off_t& offset) {
  struct stat info {};
  if (fstatat(folder, kEngineLogName, &info, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!S_ISREG(info.st_mode) || info.st_nlink != 1) {
      unlinkat(folder, kEngineLogName, 0);  // a link or a FIFO here was not put there by us
    } else if (info.st_size > kLogLimit) {
      renameat(folder, kEngineLogName, folder, kEngineLogOldName);
    }
  }
  Fd fd = safe_file::OpenRegularForAppend(folder, kEngineLogName);
  // Created under the launcher's umask, or handed to its user by dnsmasq: it is root's alone.
  if (fd && fchmod(fd.Get(), 0600) != 0) {
    return {};
  }
  offset = fd ? lseek(fd.Get(), 0, SEEK_END) : 0;
  return fd;
}

std::string EngineLogFrom(int folder, std::uint64_t offset) {
  const Fd fd(openat(folder, kEngineLogName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  struct stat info {};
  std::string text;
  if (!static_cast<bool>(fd) || fstat(fd.Get(), &info) != 0) {
    return text;
  }
  // A log shorter than before the start was begun anew (the engine rotated it): all of it is new.
  const auto size = static_cast<std::uint64_t>(info.st_size);
  off_t at = size < offset ? 0 : static_cast<off_t>(offset);
  std::array<char, 4096> chunk{};
  while (text.size() < kReadLimit) {
    const ssize_t got =
        pread(fd.Get(), chunk.data(), std::min(chunk.size(), kReadLimit - text.size()), at);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      break;
    }
    text.append(chunk.data(), static_cast<std::size_t>(got));
    at += got;
  }
  return text;
}

bool IsSafeStatePath(std::string_view path) {
  return !path.empty() && path.front() == '/' &&
         std::all_of(path.begin(), path.end(), IsPathCharacter);
}

bool IsOwnerOnlyFolder(std::uint32_t mode) {
  return (mode & 0077U) == 0;
}

}  // namespace dhcp_plugin
