// Reading a profile file on POSIX: the file is read here in chunks and scanned by our own reader.
#include "platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

#include "platform/profile_parser.h"
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

// Opens the file at path (fixed form) for reading as every reader here opens it, and writes to
// state why it is not open when the result is -1.
int OpenRegularFile(std::u16string_view path, OpenedProfileFile::State& state) {
  std::u16string posixPath(path);
  std::replace(posixPath.begin(), posixPath.end(), u'\\', u'/');
  std::string narrowPath;
  if (posixPath.empty() || !Utf16ToUtf8(posixPath, narrowPath)) {
    state = OpenedProfileFile::State::kMissing;
    return -1;
  }
  // O_NONBLOCK keeps a FIFO from blocking the open; it is refused below like any non-regular file.
  const int fd = ::open(narrowPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    state = errno == ENOENT || errno == ENOTDIR ? OpenedProfileFile::State::kMissing
                                                : OpenedProfileFile::State::kUnreadable;
    return -1;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    state = OpenedProfileFile::State::kUnreadable;
    return -1;
  }
  state = OpenedProfileFile::State::kOpen;
  return fd;
}

// Reads into buffer from fd, again when a signal cut the read short.
ssize_t ReadSome(int fd, char* buffer, std::size_t size) {
  ssize_t got = 0;
  do {
    got = ::read(fd, buffer, size);
  } while (got < 0 && errno == EINTR);
  return got;
}

// Scans the regular file at path (fixed form) chunk by chunk until its end or until the scanner's
// visitor stops, so memory does not grow with the file. Returns false when the path cannot be
// converted or the file is missing, not a regular file or unreadable.
bool ScanProfileFile(std::u16string_view path, ProfileScanner& scanner) {
  OpenedProfileFile::State state = OpenedProfileFile::State::kMissing;
  const FileDescriptor file(OpenRegularFile(path, state));
  if (file.get() < 0) {
    return false;
  }
  ProfileDecoder decoder;
  std::string chunk(kChunkBytes, '\0');
  std::u16string text;
  text.reserve(kChunkBytes);
  for (;;) {
    const ssize_t got = ReadSome(file.get(), chunk.data(), chunk.size());
    if (got < 0) {
      return false;
    }
    text.clear();
    if (got == 0) {
      decoder.Finish(text);
      scanner.Feed(text);
      scanner.Finish();
      return true;
    }
    decoder.Feed(std::string_view(chunk.data(), static_cast<std::size_t>(got)), text);
    if (!scanner.Feed(text)) {
      return true;
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
  // Running out of memory reads as an unreadable file; copying the default needs no memory.
  try {
    ProfileValueSearch search(UpToNul(section), UpToNul(key));
    ProfileScanner scanner(search, search.NameLimit(), size - 1);
    if (ScanProfileFile(UpToNul(path), scanner) && search.Value()) {
      return CopyProfileResult(*search.Value(), buffer, size);
    }
  } catch (...) {
  }
  return CopyProfileResult(fallback, buffer, size);
}

bool ListProfileSections(const std::u16string& path, std::vector<std::u16string>& sections) {
  try {
    ProfileNameList list;
    ProfileScanner scanner(list, list.NameLimit(), 0);
    if (!ScanProfileFile(UpToNul(path), scanner)) {
      return false;
    }
    sections = list.Take();
    return true;
  } catch (...) {
    return false;
  }
}

bool ListProfileKeys(const std::u16string& section, const std::u16string& path,
                     std::vector<std::u16string>& keys) {
  try {
    ProfileNameList list(UpToNul(section));
    ProfileScanner scanner(list, list.NameLimit(), 0);
    if (!ScanProfileFile(UpToNul(path), scanner)) {
      return false;
    }
    keys = list.Take();
    return true;
  } catch (...) {
    return false;
  }
}

OpenedProfileFile::OpenedProfileFile(const std::u16string& path) {
  const int fd = OpenRegularFile(UpToNul(path), state_);
  if (fd < 0) {
    return;
  }
  handle_ = fd;
  // Opening this path opens the file the descriptor holds, whatever its name now names.
  try {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    readerPath_.assign(self.begin(), self.end());
  } catch (...) {
    ::close(fd);  // no destructor runs for an object whose constructor throws
    throw;
  }
}

OpenedProfileFile::~OpenedProfileFile() {
  if (handle_ >= 0) {
    ::close(static_cast<int>(handle_));
  }
}

// Not const: each read moves the open file's position.
std::int64_t OpenedProfileFile::Read(  // NOLINT(readability-make-member-function-const)
    char* buffer, std::size_t size) {
  if (handle_ < 0 || buffer == nullptr || size == 0) {
    return 0;
  }
  return ReadSome(static_cast<int>(handle_), buffer, size);
}

}  // namespace platform
