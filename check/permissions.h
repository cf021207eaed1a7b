// Who may write a file or folder of the deployment besides root and the user running the check.
#pragma once

#include <filesystem>
#include <string>

namespace check {

// Whether this platform's backend looks at permissions at all.
bool PermissionsChecked();

// What this backend checks, in one sentence for the report.
std::string PermissionsRule();

// Writes to who a short account of who else can write path ("anyone can write it (mode 0666)")
// and returns true when anyone other than root and the current user can write it. Returns false,
// leaving who alone, when nobody else can, when path does not exist, or when nothing is checked.
bool OthersCanWrite(const std::filesystem::path& path, std::string& who);

}  // namespace check
