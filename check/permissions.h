// Who may write or swap a file or folder of the deployment besides root and the user running the
// check.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace check {

// Whether this platform's backend looks at permissions at all.
bool PermissionsChecked();

// What this backend checks, in a sentence for the report.
std::string PermissionsRule();

// Writes to who a short account of who else can write path ("anyone can write it (mode 0666)")
// and to fixes the commands that would stop them, each to be followed by the path ("chown root",
// "chmod go-w"), and returns true when anyone other than root and the current user can write it.
// Returns false, leaving who and fixes alone, when nobody else can, when path does not exist, or
// when nothing is checked.
bool OthersCanWrite(const std::filesystem::path& path, std::string& who,
                    std::vector<std::string>& fixes);

// Something on the way to a file that others could change: path, who could, and the commands
// that would stop them, as above.
struct PathProblem {
  std::filesystem::path path;
  std::string who;
  std::vector<std::string> fixes;
};

// Appends a problem for each folder above folder (an absolute path without links, such as the
// current directory's), from the root of the file system down, that fails the folder rule of
// platform/safe_folder.h: it lets others swap what lies below it. Appends nothing when nothing is
// checked.
void CheckFoldersAbove(const std::filesystem::path& folder, std::vector<PathProblem>& problems);

// Follows path as the system follows it to open the file, from the root of the file system (or
// from the current directory when path is relative), and appends a problem for each thing on the
// way that someone other than root and the current user could change before the file is opened
// by that path: a folder passed through that fails the folder rule, a link that another user owns,
// and the file itself when another user owns it or its group or others may write it. A missing
// entry ends the walk (the file cannot be opened). Returns true when nothing was appended.
bool SafeToOpen(const std::filesystem::path& path, std::vector<PathProblem>& problems);

}  // namespace check
