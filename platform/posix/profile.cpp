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

// Scans the regular file at path (fixed form) chunk by chunk until its end or until the scanner's
// visitor stops, so memory does not grow with the file. Returns false when the path cannot be
// converted or the file is missing, not a regular file or unreadable.
bool ScanProfileFile(std::u16string_view path, ProfileScanner& scanner) {
  std::u16string posixPath(path);
  std::replace(posixPath.begin(), posixPath.end(), u'\\', u'/');
  std::string narrowPath;
  if (posixPath.empty() || !Utf16ToUtf8(posixPath, narrowPath)) {
    return false;
  }
  // O_NONBLOCK keeps a FIFO from blocking the open; it is refused below like any non-regular file.
  const FileDescriptor file(::open(narrowPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat info {};
  if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  ProfileDecoder decoder;
  std::string chunk(kChunkBytes, '\0');
  std::u16string text;
  text.reserve(kChunkBytes);
  for (;;) {
    const ssize_t got = ::read(file.get(), chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) {
      continue;
    }
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

}  // namespace platform
