// Paths as Windows users write them: the fixed form itself.
#include "platform/shown_path.h"

namespace platform {

std::u16string ShownPath(std::u16string_view path) {
  return std::u16string(path);
}

std::string ShownPath(std::string_view path) {
  return std::string(path);
}

}  // namespace platform
