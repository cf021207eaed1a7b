// The names tests first used for the stand-in plugins, kept for tests written against them; new
// tests use stand_ins.h, record_file.h and utf16.h directly.
#pragma once

#include <string>
#include <string_view>

#include "record_file.h"
#include "stand_in_replies.h"
#include "stand_ins.h"
#include "utf16.h"

namespace stand_in {

using test_support::ScopedRecordFile;

inline std::u16string Wide(std::string_view utf8) {
  return test_support::Utf16(utf8);
}

inline std::string Narrow(std::u16string_view text) {
  return test_support::Utf8(text);
}

inline std::string Line(int n, std::string_view entryPoint, std::u16string_view text) {
  return test_support::RecordLine(n, entryPoint, text);
}

// Where the stand-in library of that target lies, as UTF-8.
inline std::string PathUtf8(std::string_view target) {
  const std::u8string path = test_support::StandInLibrary(target).u8string();
  return std::string(path.begin(), path.end());
}

// Where each stand-in plugin lies, as UTF-8.
inline const std::string kUnchangedPlugin = PathUtf8("stand_in_plugin_unchanged");
inline const std::string kFixedReplyPlugin = PathUtf8("stand_in_plugin_fixed_reply");
inline const std::string kLongReplyPlugin = PathUtf8("stand_in_plugin_long_reply");
inline const std::string kNoReleasePlugin = PathUtf8("stand_in_plugin_no_release");
inline const std::string kRecorderPlugin = PathUtf8("stand_in_plugin_recorder");

}  // namespace stand_in
