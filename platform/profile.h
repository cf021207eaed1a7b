// Reading values and names from a sectioned settings file (the platform's profile-file format).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Reads the value of key in section of the profile file at path, as the platform's profile reader
// does: section and key names match whole and without regard to ASCII case, spaces around the
// queried names are ignored, blanks around names and values in the file are dropped, and one pair
// of enclosing quotes is removed. A missing, unreadable or non-regular file, a missing section or a
// missing key gives defaultValue less its trailing spaces. path is in the system's fixed form
// (backslashes separate folders). Each text argument ends at its first NUL, as for the platform's
// reader. The value is written to buffer, cut to size - 1 UTF-16 units and always terminated.
// Returns the number of units written, not counting the terminator; with size 0 returns 0 and
// writes nothing. A result of size - 1 may be a value that was cut.
std::size_t ReadProfileString(const std::u16string& section, const std::u16string& key,
                              const std::u16string& defaultValue, char16_t* buffer,
                              std::size_t size, const std::u16string& path);

// The section names of the profile file at path (fixed form), in file order, each once: a name
// that equals an earlier one without regard to ASCII case is left out, since ReadProfileString
// never reaches it, and so is a name longer than 1024 UTF-16 units (kProfileNameLimit), so that a
// long line cannot take memory in proportion to the file. Returns false, leaving sections
// untouched, when the file is missing, unreadable or not a regular file, or memory runs out; an
// empty list is a readable file without sections. Never throws.
bool ListProfileSections(const std::u16string& path, std::vector<std::u16string>& sections);

// The key names of section (matched as ReadProfileString matches it) in the profile file at path,
// in file order, each once as above. A missing section lists no keys. Returns false, leaving keys
// untouched, as ListProfileSections does. Never throws.
bool ListProfileKeys(const std::u16string& section, const std::u16string& path,
                     std::vector<std::u16string>& keys);

// A profile file opened once, for a caller that reads one file in several ways and must not read
// anything swapped in under its name in between: the readers above, given ReaderPath(), read this
// opened file and nothing else. It is opened as they open a file: never waiting (a FIFO does not
// block the open) and kept only when the opened file is a regular file. On POSIX ReaderPath()
// reaches the open file through the process's own descriptor; on Windows it is the path itself,
// and the file, held open without sharing deletion, can be neither renamed nor removed meanwhile.
class OpenedProfileFile {
 public:
  enum class State {
    kOpen,        // a regular file, open for reading
    kMissing,     // nothing is at the path (or a folder on the way is missing)
    kUnreadable,  // something is there, but it is not a regular file or cannot be opened
  };

  // Opens the file at path (fixed form). Never throws except std::bad_alloc.
  explicit OpenedProfileFile(const std::u16string& path);
  OpenedProfileFile(const OpenedProfileFile&) = delete;
  OpenedProfileFile& operator=(const OpenedProfileFile&) = delete;
  ~OpenedProfileFile();

  State GetState() const { return state_; }

  // The path (fixed form) to give the readers above; empty unless the state is kOpen.
  const std::u16string& ReaderPath() const { return readerPath_; }

  // Reads the file's next bytes, from its start at the first call, into buffer, at most size of
  // them. Returns how many were read; 0 at the end of the file or when it is not open; -1 when
  // the system fails to read. Reading here does not move what the readers above read.
  std::int64_t Read(char* buffer, std::size_t size);

 private:
  State state_ = State::kMissing;
  std::intptr_t handle_ = -1;  // the backend's descriptor or handle; -1 when none is open
  std::u16string readerPath_;
};

}  // namespace platform
