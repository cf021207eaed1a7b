// Who may write or swap a file or folder besides root and the current user, from owners and mode
// bits, folder by folder along the way the system follows to a file.
#include "check/permissions.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <deque>
#include <string>

#include "platform/safe_folder.h"

namespace fs = std::filesystem;

namespace check {
namespace {

// The system's own limit on the links followed for one path.
constexpr int kMaxLinks = 40;

// Who besides root and the current user can write what info describes, or "" when nobody can.
std::string Describe(const struct stat& info) {
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
  std::string found;
  if (info.st_uid != 0 && info.st_uid != geteuid()) {
    found = "its owner (uid " + std::to_string(info.st_uid) + ") is neither root nor you";
  } else if ((info.st_mode & S_IWOTH) != 0) {
    found = "anyone can write it";
  } else if ((info.st_mode & S_IWGRP) != 0) {
    found = "its group (gid " + std::to_string(info.st_gid) + ") can write it";
  } else {
    return {};
  }
  return found + " (mode " + mode + ")";
}

// The account of a folder that lets others swap what lies in it, or "" when it does not.
std::string DescribeFolder(const struct stat& info) {
  return platform::IsSafeFolder(info.st_uid, info.st_mode, geteuid()) ? std::string()
                                                                      : Describe(info);
}

// The current user's name, or its number when it has none.
std::string CurrentUser() {
  struct passwd entry {};
  struct passwd* found = nullptr;
  std::array<char, 4096> buffer{};
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr) {
    return found->pw_name;
  }
  return std::to_string(geteuid());
}

// The commands that make what info describes safe: the current user owns it (chown -h for a link,
// which would otherwise change what it points to), and neither its group nor others may write it.
// A folder with the sticky bit is shared on purpose (as /tmp): its write permission is left to the
// operator.
std::vector<std::string> FixesFor(const struct stat& info) {
  std::vector<std::string> fixes;
  const bool link = S_ISLNK(info.st_mode);
  if (info.st_uid != 0 && info.st_uid != geteuid()) {
    fixes.push_back((link ? "chown -h " : "chown ") + CurrentUser());
  }
  const bool group = (info.st_mode & S_IWGRP) != 0;
  const bool others = (info.st_mode & S_IWOTH) != 0;
  const bool sticky = S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0;
  if (!link && !sticky && (group || others)) {
    fixes.push_back(std::string("chmod ") + (group ? "g" : "") + (others ? "o" : "") + "-w");
  }
  return fixes;
}

void CheckFolder(const std::string& folder, std::vector<PathProblem>& problems) {
  struct stat info {};
  if (lstat(folder.c_str(), &info) == 0) {
    std::string who = DescribeFolder(info);
    if (!who.empty()) {
      problems.push_back({folder, std::move(who), FixesFor(info)});
    }
  }
}

}  // namespace

bool PermissionsChecked() {
  return true;
}

std::string PermissionsRule() {
  return "a file or folder is safe when root or you own it and neither its group nor others may "
         "write it; a folder above the deployment or on a library's way from / may let others "
         "write with the sticky bit (as /tmp); a library is loaded only when it and every link "
         "and folder on its way are safe";
}

bool OthersCanWrite(const fs::path& path, std::string& who, std::vector<std::string>& fixes) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    return false;
  }
  std::string found = Describe(info);
  if (found.empty()) {
    return false;
  }
  who = std::move(found);
  fixes = FixesFor(info);
  return true;
}

void CheckFoldersAbove(const fs::path& folder, std::vector<PathProblem>& problems) {
  std::vector<PathProblem> found;
  for (fs::path above = folder.parent_path(); above != folder;) {
    CheckFolder(above.string(), found);
    const fs::path next = above.parent_path();
    if (next == above) {
      break;
    }
    above = next;
  }
  problems.insert(problems.end(), found.rbegin(), found.rend());
}

bool SafeToOpen(const fs::path& path, std::vector<PathProblem>& problems) {
  const std::size_t before = problems.size();
  std::error_code error;
  const fs::path full = path.is_absolute() ? path : fs::current_path(error) / path;
  if (error) {
    return true;
  }
  std::deque<std::string> rest;  // the names still to follow
  for (const fs::path& name : full.relative_path()) {
    rest.push_back(name.string());
  }
  // The folder reached so far: an absolute path without links, whose folders are all checked.
  std::string at = "/";
  CheckFolder(at, problems);
  int links = 0;
  while (!rest.empty()) {
    const std::string name = rest.front();
    rest.pop_front();
    if (name.empty() || name == ".") {
      continue;
    }
    if (name == "..") {
      at = fs::path(at).parent_path().string();
      continue;
    }
    std::string next = at;
    if (at != "/") {
      next += '/';
    }
    next += name;
    struct stat info {};
    if (lstat(next.c_str(), &info) != 0) {
      break;
    }
    if (S_ISLNK(info.st_mode)) {
      // A sticky folder that others may write still lets a link's owner replace the link.
      if (info.st_uid != 0 && info.st_uid != geteuid()) {
        problems.push_back({next,
                            "a link that belongs to uid " + std::to_string(info.st_uid) +
                                ", who is neither root nor you",
                            FixesFor(info)});
      }
      const fs::path target = fs::read_symlink(next, error);
      if (error || ++links > kMaxLinks) {
        break;
      }
      if (target.is_absolute()) {
        at = "/";
      }
      const fs::path relative = target.relative_path();
      rest.insert(rest.begin(), relative.begin(), relative.end());
      continue;
    }
    std::string who = rest.empty() ? Describe(info) : DescribeFolder(info);
    if (!who.empty()) {
      problems.push_back({next, std::move(who), FixesFor(info)});
    }
    at = next;
  }
  return problems.size() == before;
}

}  // namespace check
