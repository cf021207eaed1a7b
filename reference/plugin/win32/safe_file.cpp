// Appending to a file in a folder without following links or growing without bound (Win32).
#include "safe_file.h"

#include <windows.h>

#include <algorithm>
#include <memory>

namespace safe_file {

namespace {

// Closes a file handle when it goes away.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (handle_ != INVALID_HANDLE_VALUE) {
      ::CloseHandle(handle_);
    }
  }
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

bool IsPlainFolder(const std::filesystem::path& folder) {
  const DWORD attributes = ::GetFileAttributesW(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// Opens the file itself, never the target of a reparse point (a symbolic link or junction), and
// keeps it only when the handle shows a plain disk file with one name. Writes its size.
HANDLE OpenRegularForAppend(const std::filesystem::path& file, std::uint64_t& size) {
  const HANDLE handle =
      ::CreateFileW(file.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return handle;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
      info.nNumberOfLinks != 1) {
    ::CloseHandle(handle);
    return INVALID_HANDLE_VALUE;
  }
  size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32U) | info.nFileSizeLow;
  return handle;
}

bool WriteAll(HANDLE handle, std::string_view data) {
  while (!data.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1U << 30U));
    DWORD written = 0;
    if (!::WriteFile(handle, data.data(), chunk, &written, nullptr) || written == 0) {
      return false;
    }
    data.remove_prefix(written);
  }
  return true;
}

}  // namespace

bool AppendRotating(const std::filesystem::path& folder, const char* name, const char* oldName,
                    std::string_view data, std::uint64_t rotateAt) noexcept {
  try {
    ::CreateDirectoryW(folder.c_str(), nullptr);
    if (!IsPlainFolder(folder)) {
      return false;
    }
    const std::filesystem::path file = folder / name;
    std::uint64_t size = 0;
    auto handle = std::make_unique<Handle>(OpenRegularForAppend(file, size));
    if (handle->Get() == INVALID_HANDLE_VALUE) {
      return false;
    }
    if (size > 0 && size + data.size() > rotateAt) {
      // MoveFileEx renames a link itself, never its target.
      handle.reset();
      const std::filesystem::path old = folder / oldName;
      if (!::MoveFileExW(file.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return false;
      }
      handle = std::make_unique<Handle>(OpenRegularForAppend(file, size));
      if (handle->Get() == INVALID_HANDLE_VALUE) {
        return false;
      }
    }
    return WriteAll(handle->Get(), data);
  } catch (...) {
    return false;  // out of memory for a path
  }
}

}  // namespace safe_file
