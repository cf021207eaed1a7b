// Reads one setting from the settings file into the caller's narrow (UTF-8) buffer.
#pragma once

#include <cstddef>

class CIniReader {
 public:
  CIniReader() = default;

  // Reads key from section of the settings file fileName (all UTF-8, the file in the system's
  // fixed path form) into value, a buffer of capacity bytes, as UTF-8 with a terminating NUL.
  // Returns 0 when the key holds a value (possibly empty). Returns 1, with value left empty (when
  // capacity > 0), when the file, section or key is missing, when the value reads as the marker
  // "@1@", when it does not fit in capacity bytes with its terminator, or when it cannot be
  // converted exactly. Never writes past capacity bytes.
  int ReadString(const char* fileName, const char* section, const char* key, char* value,
                 std::size_t capacity) const;
};
