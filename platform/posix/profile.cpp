// Reading one value from a profile file on POSIX: the file is read and decoded here, then searched
// by our own in-memory reader.
#include "platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <string_view>

#include "platform/posix/profile_parser.h"
#include "platform/text.h"

namespace platform {

namespace {

constexpr std::size_t kChunkBytes = std::size_t{64} * 1024;

// Closes the descriptor also when decoding runs out of memory.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// The platform's reader takes its texts as NUL-terminated strings; ours end there too.
std::u16string_view UpToNul(const std::u16string& s) {
  return std::u16string_view(s).substr(0, s.find(u'\0'));
}

// Reads and decodes the regular file at path (fixed form). Returns nothing when the path cannot
// be converted or the file is missing, not a regular file or unreadable.
std::optional<std::u16string> ReadProfileText(std::u16string_view path) {
  std::u16string posixPath(path);
  std::replace(posixPath.begin(), posixPath.end(), u'\\', u'/');
  std::string narrowPath;
  if (posixPath.empty() || !Utf16ToUtf8(posixPath, narrowPath)) {
    return std::nullopt;
  }
  // O_NONBLOCK keeps a FIFO from blocking the open; it is refused below like any non-regular file.
  const FileDescriptor file(::open(narrowPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat info {};
  if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  ProfileDecoder decoder(static_cast<std::size_t>(info.st_size));
  std::string chunk(kChunkBytes, '\0');
  for (;;) {
    const ssize_t got = ::read(file.get(), chunk.data(), chunk.size());
    if (got == 0) {
      return decoder.Finish();
    }
    if (got < 0 && errno != EINTR) {
      return std::nullopt;
    }
    if (got > 0) {
      decoder.Feed(std::string_view(chunk.data(), static_cast<std::size_t>(got)));
    }
  }
}

}  // namespace

std::size_t ReadProfileString(const std::u16string& section, const std::u16string& key,
                              const std::u16string& defaultValue, char16_t* buffer,
                              std::size_t size, const std::u16string& path) {
  if (buffer == nullptr || size == 0) {
    return 0;
  }
  const std::u16string_view fallback = TrimProfileDefault(UpToNul(defaultValue));
  // Running out of memory on a huge file reads as an unreadable file; copying the default needs
  // no memory.
  try {
    const std::optional<std::u16string> text = ReadProfileText(UpToNul(path));
    if (text) {
      const auto value = FindProfileValue(*text, UpToNul(section), UpToNul(key));
      if (value) {
        return CopyProfileResult(*value, buffer, size);
      }
    }
  } catch (...) {
  }
  return CopyProfileResult(fallback, buffer, size);
}

}  // namespace platform
