// The literal model of reading a message text into a request record, kept as the reference the
// parsing constructor CPluginRequest(text) must agree with (tests, fuzz targets and benchmarks use
// it). It follows these rules step by step, rescanning and copying freely: clarity over speed.
//
//   1. Positions are signed; a search that finds nothing gives -1. Taking a piece of the text, a
//      negative start or length counts as 0, and a start past the end gives the empty text.
//   2. Search "@@@" from position 0. The first hit f ends the name, text[0, f); every later search
//      resumes at f + 1, inside the separator just found, so a run of more than three "@" moves
//      the split. A text without "@@@" is all name and has no fields.
//   3. A field runs from the resume position p to the next hit (or the end of the text, for the
//      last field). Its key starts at p + 2, just past the separator, and ends before the first
//      "=" at or after p, even when that "=" lies in a later field; its value runs from just past
//      that "=" to the field's end, and is empty when that "=" lies past it. With no "=" left, the
//      key is empty and the value is the text from position 0 to the field's end.
//   4. Each field goes to CParamTable::SetParam in order, so a repeated key keeps its first slot
//      and its last value, and keys past the table's capacity are dropped.
#pragma once

#include <string>
#include <vector>

#include "request/param_table.h"

namespace literal {

// Positions as signed numbers; -1 is "absent".
inline long Find(const std::u16string& text, const std::u16string& what, long from) {
  if (from > static_cast<long>(text.size())) {
    return -1;
  }
  const auto at = text.find(what, static_cast<std::size_t>(from));
  return at == std::u16string::npos ? -1 : static_cast<long>(at);
}

inline std::u16string Mid(const std::u16string& text, long first, long count) {
  if (first < 0) {
    first = 0;
  }
  if (count < 0) {
    count = 0;
  }
  if (first >= static_cast<long>(text.size())) {
    return {};
  }
  return text.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(count));
}

struct Parsed {
  std::u16string name;
  CParamTable table;
  std::vector<std::u16string> keysSet;  // every key handed to SetParam, in order
};

inline Parsed Parse(const std::u16string& text) {
  Parsed parsed;
  const std::u16string separator = u"@@@";
  const long length = static_cast<long>(text.size());
  long pos = 0;
  long fields = 0;
  auto setField = [&](long end) {
    const long eq = Find(text, u"=", pos);
    const std::u16string key = Mid(text, pos + 2, eq - pos - 2);
    parsed.keysSet.push_back(key);
    parsed.table.SetParam(key, Mid(text, eq + 1, end - eq - 1));
  };
  for (;;) {
    const long f = Find(text, separator, pos);
    if (f < 0) {
      break;
    }
    if (fields == 0) {
      parsed.name = Mid(text, pos, f);
    } else {
      setField(f);
    }
    fields = fields + 1;
    pos = f + 1;
  }
  if (fields == 0) {
    parsed.name = text;
  } else {
    setField(length);
  }
  return parsed;
}

}  // namespace literal
