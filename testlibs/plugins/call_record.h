// Records a stand-in plugin's calls in a file, so tests can see them after the library is unloaded.
#pragma once

#include <string>

#include "record_format.h"

namespace stand_in {

// Appends one line for a call of entryPoint with text to the record file named by
// test_support::kRecordFileVariable, when it is set:
//   <n>\t<entryPoint>\t<text>\n
// n counts the calls since this library was loaded (1, 2, 3, ...; it starts again at 1 on every
// load). text is written as UTF-8 escaped by test_support::EscapeForRecord, so one call is one
// line; a text that is not valid UTF-16 is written as "?". Throws nothing; a file that cannot be
// opened is skipped.
void RecordCall(const char* entryPoint, const std::u16string& text) noexcept;

}  // namespace stand_in
