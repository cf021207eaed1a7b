// The record file of the recording stand-ins: the variable that names it and how a line reads.
// Shared by the stand-in libraries, which write it, and the tests, which read it.
#pragma once

#include <string>
#include <string_view>

namespace test_support {

// The environment variable that names the record file. When it is unset, nothing is recorded.
inline constexpr char kRecordFileVariable[] = "DHCP_TEST_RECORD_FILE";

// The line a stand-in component writes when its "DllRegisterServer" is called.
inline constexpr char kRegistrationLine[] = "DllRegisterServer";

// text as a record line holds it: "\" as "\\" and a newline as "\n", so one call is one line.
inline std::string EscapeForRecord(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

}  // namespace test_support
