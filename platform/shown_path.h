// How a path the system names in its fixed form reads on this platform, for messages and reports.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// path, in the system's fixed form (backslashes separate folders, as in
// "..\\config\\fylDHCPServer.ini"), as this platform's users write it: with "/" on POSIX, where
// every reader of such a path takes "\" for "/", and unchanged on Windows. For what a message, a
// hint or a log line shows; the path opened stays the fixed form.
std::u16string ShownPath(std::u16string_view path);
std::string ShownPath(std::string_view path);

}  // namespace platform
