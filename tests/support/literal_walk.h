// A literal, step-by-step transcription of the message-text walk, kept as the reference the
// parsing constructor must agree with. It rescans and copies freely: clarity over speed.
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
