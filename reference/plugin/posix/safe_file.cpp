// Appending to a file in a folder without following links, blocking or growing without bound.
#include "safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace safe_file {

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = other.Release();
  }
  return *this;
}

Descriptor::~Descriptor() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

Descriptor OpenFolderNoFollow(const std::filesystem::path& folder, bool createMissing) noexcept {
  const char* path = folder.c_str();
  if (createMissing) {
    // mkdir never follows a link in the last component: a link there makes it fail with EEXIST,
    // and the open below refuses it.
    ::mkdir(path, 0755);
  }
  return Descriptor(::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

Descriptor OpenRegularForAppend(int folderFd, const char* name) noexcept {
  Descriptor file(::openat(
      folderFd, name,
      O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644));
  struct stat status {};
  if (!file || ::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_nlink != 1) {
    return {};
  }
  return file;
}

bool WriteAll(int fd, std::string_view data) noexcept {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool ReadAll(int fd, std::string& text, std::size_t limit) {
  std::array<char, 4096> chunk{};
  while (text.size() < limit) {
    const ssize_t got = ::read(fd, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return got == 0;
    }
    text.append(chunk.data(), static_cast<std::size_t>(got));
  }
  return true;
}

bool AppendRotatingAt(int folderFd, const char* name, const char* oldName, std::string_view data,
                      std::uint64_t rotateAt) noexcept {
  Descriptor file = OpenRegularForAppend(folderFd, name);
  if (!file) {
    return false;
  }
  struct stat status {};
  if (::fstat(file.Get(), &status) != 0) {
    return false;
  }
  const auto size = static_cast<std::uint64_t>(status.st_size);
  if (size > 0 && size + data.size() > rotateAt) {
    // Whatever the name holds by now (even a link swapped in) is moved aside, not written to; the
    // fresh file is opened with the same checks as the first.
    file = Descriptor();
    if (::renameat(folderFd, name, folderFd, oldName) != 0) {
      return false;
    }
    file = OpenRegularForAppend(folderFd, name);
    if (!file) {
      return false;
    }
  }
  return WriteAll(file.Get(), data);
}

bool AppendRotating(const std::filesystem::path& folder, const char* name, const char* oldName,
                    std::string_view data, std::uint64_t rotateAt) noexcept {
  const Descriptor folderFd = OpenFolderNoFollow(folder, true);
  return folderFd && AppendRotatingAt(folderFd.Get(), name, oldName, data, rotateAt);
}

}  // namespace safe_file
