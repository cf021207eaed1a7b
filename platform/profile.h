// Reading values and names from a sectioned settings file (the platform's profile-file format).
#pragma once

#include <cstddef>
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

}  // namespace platform
