// Reading one value from a sectioned settings file (the platform's profile-file format).
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Reads the value of key in section of the profile file at path, as the platform's profile reader
// does: section and key names match without regard to ASCII case, blanks around names and values
// are dropped, one pair of enclosing quotes is removed, and a missing file, section or key gives
// defaultValue (less its trailing spaces). path is in the system's fixed form (backslashes separate
// folders). The value is written to buffer, cut to size - 1 UTF-16 units and always terminated.
// Returns the number of units written, not counting the terminator; with size 0 returns 0 and
// writes nothing.
std::size_t ReadProfileString(const std::u16string& section, const std::u16string& key,
                              const std::u16string& defaultValue, char16_t* buffer,
                              std::size_t size, const std::u16string& path);

}  // namespace platform
