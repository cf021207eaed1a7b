// Fuzz target: the profile-file decoder and lookup on any file bytes, section and key.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/profile_parser.h"

namespace {

void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

// Names worth asking for: the system's own, odd letter case and blanks, brackets, quotes, a lone
// surrogate, and the empty name.
const std::array<std::u16string_view, 10> kNames = {
    u"PARAMS", u"SubNetMask", u"gateway", u" RangeIp ", u"",
    u"a]b",    u";x",         u"\"q\"",   u"\xD800",    u"k"};

std::u16string_view TrimSpaces(std::u16string_view s) {
  while (!s.empty() && s.front() == u' ') {
    s.remove_prefix(1);
  }
  while (!s.empty() && s.back() == u' ') {
    s.remove_suffix(1);
  }
  return s;
}

char16_t Fold(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

// Whether listing the sections of text (or the keys of section) gives a name the query matches.
bool Listed(std::u16string_view text, std::optional<std::u16string_view> section,
            std::u16string_view query) {
  platform::ProfileNameList list =
      section ? platform::ProfileNameList(*section) : platform::ProfileNameList();
  platform::ProfileScanner scanner(list, std::u16string::npos, 0);
  scanner.Feed(text);
  scanner.Finish();
  query = TrimSpaces(query);
  for (const std::u16string& name : list.Take()) {
    if (std::equal(name.begin(), name.end(), query.begin(), query.end(),
                   [](char16_t a, char16_t b) { return Fold(a) == Fold(b); })) {
      return true;
    }
  }
  return false;
}

}  // namespace

// Input: one byte choosing the chunk size, one byte choosing section and key, one byte sizing the
// result buffer, then the file's bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) {
    return 0;
  }
  const std::size_t chunk = 1 + data[0] % 64;
  const std::u16string_view section = kNames[data[1] % kNames.size()];
  const std::u16string_view key = kNames[(data[1] / kNames.size()) % kNames.size()];
  const std::size_t bufferSize = data[2] % 40;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 3), size - 3);

  // Decoding in pieces of any size gives the text decoding in one piece gives.
  std::u16string text;
  platform::ProfileDecoder whole;
  whole.Feed(bytes, text);
  whole.Finish(text);
  std::u16string piecewise;
  platform::ProfileDecoder pieces;
  for (std::size_t at = 0; at < bytes.size(); at += chunk) {
    pieces.Feed(bytes.substr(at, chunk), piecewise);
  }
  pieces.Finish(piecewise);
  Check(piecewise == text);

  // Scanning in pieces finds what scanning the whole text finds, and a value cut to the buffer is
  // the start of the whole value.
  const auto search = [&](std::size_t piece, std::size_t limit) {
    platform::ProfileValueSearch query(section, key);
    platform::ProfileScanner scanner(query, query.NameLimit(), limit);
    for (std::size_t at = 0; at < text.size(); at += piece) {
      if (!scanner.Feed(std::u16string_view(text).substr(at, piece))) {
        return query.Value();
      }
    }
    scanner.Finish();
    return query.Value();
  };
  const std::optional<std::u16string> value = search(text.size() + 1, std::u16string::npos);
  const std::size_t limit = bufferSize == 0 ? 0 : bufferSize - 1;
  const std::optional<std::u16string> cut = search(chunk, limit);
  Check(value.has_value() == cut.has_value());
  std::u16string_view result = platform::TrimProfileDefault(u"@1@ ");
  if (value) {
    Check(value->find_first_of(u"\r\n") == std::u16string::npos);
    Check(*cut == value->substr(0, limit));
    result = *value;
  }

  // The result fits the buffer, terminated; the buffer is exactly its size so any overrun shows.
  const auto buffer = std::make_unique<char16_t[]>(std::max<std::size_t>(bufferSize, 1));
  const std::size_t copied = platform::CopyProfileResult(result, buffer.get(), bufferSize);
  if (bufferSize == 0) {
    Check(copied == 0);
  } else {
    Check(copied == std::min(result.size(), bufferSize - 1));
    Check(buffer[copied] == u'\0');
    Check(std::u16string_view(buffer.get(), copied) == result.substr(0, copied));
  }

  // Listing sees the names the search found: the section among the sections, the key among its
  // keys.
  if (value) {
    Check(Listed(text, std::nullopt, section));
    Check(Listed(text, section, key));
  }
  return 0;
}
