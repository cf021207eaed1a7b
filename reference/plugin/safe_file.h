// Appending to a file in a folder without following links, blocking or growing without bound.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace safe_file {

// Appends data to the file `name` in `folder`, creating the folder (not its parents) and the file
// when missing. Before the write, a file that is not empty and would grow beyond rotateAt bytes is
// renamed to `oldName` in the same folder (replacing an earlier one, which is the only old file
// kept) and a fresh file is started, so the file stays within rotateAt bytes unless one piece of
// data alone is larger.
//
// Writes only to a regular file that is `name` itself: when the folder's last component or the
// file is a symbolic link (or, on POSIX, a FIFO, a device or a file with a second hard link), it
// writes nothing. A rename acts on names only, so an `oldName` that is a link is replaced, never
// written through. On POSIX every check is made on the opened descriptor (no test-then-open), the
// open never blocks and the descriptors are closed on exec. On Windows the file is opened without
// following a reparse point and checked through its handle; the folder is checked by its
// attributes just before the open.
//
// Returns true when all of data was written. Never throws.
bool AppendRotating(const std::filesystem::path& folder, const char* name, const char* oldName,
                    std::string_view data, std::uint64_t rotateAt) noexcept;

}  // namespace safe_file

#if !defined(_WIN32)
// The POSIX building blocks of AppendRotating, for other files kept the same way.
namespace safe_file {

// An open file descriptor, closed when the object goes away. -1 is "none".
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(other.Release()) {}
  Descriptor& operator=(Descriptor&& other) noexcept;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor();

  int Get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Gives up ownership: returns the descriptor and leaves this one "none".
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

// Opens a folder for the *at calls (O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC). When createMissing is
// set, a missing folder is made first (mode 0755 less the umask; its parents must exist). Fails
// (returns "none") when the folder's last component is a symbolic link, even to a folder, or is not
// a folder; components before the last are followed as usual.
Descriptor OpenFolderNoFollow(const std::filesystem::path& folder, bool createMissing) noexcept;

// Opens `name` inside the folder for appending (O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW |
// O_NONBLOCK | O_CLOEXEC | O_NOCTTY; a new file gets mode 0644 less the umask). Returns "none"
// when name is a symbolic link, when the open would block (a FIFO without a reader) and, by an
// fstat of the opened descriptor, when it is not a regular file or has more than one hard link.
Descriptor OpenRegularForAppend(int folderFd, const char* name) noexcept;

// Writes all of data to fd, going on after partial writes and interrupted calls. Returns false on
// any other failure.
bool WriteAll(int fd, std::string_view data) noexcept;

// Reads fd to its end, appending to text, until text holds at least limit bytes. Returns false
// on a read error (interrupted calls are retried). May throw std::bad_alloc.
bool ReadAll(int fd, std::string& text, std::size_t limit);

// AppendRotating within an open folder.
bool AppendRotatingAt(int folderFd, const char* name, const char* oldName, std::string_view data,
                      std::uint64_t rotateAt) noexcept;

}  // namespace safe_file
#endif
