// The sections of a settings file and the keys of one section, as the profile reader sees them.
#pragma once

#include <string>
#include <vector>

namespace check {

// The names of the sections of the profile file at path (system path form), in file order.
// Returns false when the file cannot be read.
bool ListProfileSections(const std::u16string& path, std::vector<std::u16string>& sections);

// The keys of section (its first occurrence) in file order, a key given twice listed twice.
// Returns false when the file cannot be read.
bool ListProfileKeys(const std::u16string& section, const std::u16string& path,
                     std::vector<std::u16string>& keys);

}  // namespace check
