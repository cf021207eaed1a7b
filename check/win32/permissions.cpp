// Permissions on Windows: access control lists are not read, and the report says so.
#include "check/permissions.h"

#include <string>

namespace check {

bool PermissionsChecked() {
  return false;
}

std::string PermissionsRule() {
  return "not checked on Windows: make sure only administrators can change the deployment's "
         "folders, the folders above it, its libraries and its settings files (see their "
         "Security properties)";
}

bool OthersCanWrite(const std::filesystem::path& /*path*/, std::string& /*who*/,
                    std::vector<std::string>& /*fixes*/) {
  return false;
}

void CheckFoldersAbove(const std::filesystem::path& /*folder*/,
                       std::vector<PathProblem>& /*problems*/) {}

bool SafeToOpen(const std::filesystem::path& /*path*/, std::vector<PathProblem>& /*problems*/) {
  return true;
}

}  // namespace check
