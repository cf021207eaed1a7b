// Paths as POSIX users write them: "/" between folders.
#include "platform/shown_path.h"

#include <algorithm>

namespace platform {

std::u16string ShownPath(std::u16string_view path) {
  std::u16string shown(path);
  std::replace(shown.begin(), shown.end(), u'\\', u'/');
  return shown;
}

std::string ShownPath(std::string_view path) {
  std::string shown(path);
  std::replace(shown.begin(), shown.end(), '\\', '/');
  return shown;
}

}  // namespace platform
