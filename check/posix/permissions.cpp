// Who may write a file or folder besides root and the current user, from its owner and mode bits.
#include "check/permissions.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace check {

bool PermissionsChecked() {
  return true;
}

std::string PermissionsRule() {
  return "a file or folder is safe when it is owned by root or by you and neither its group nor "
         "others may write it";
}

bool OthersCanWrite(const std::filesystem::path& path, std::string& who) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    return false;
  }
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
    return false;
  }
  who = found + " (mode " + mode + ")";
  return true;
}

}  // namespace check
