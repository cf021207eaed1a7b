// Fuzz target: the profile-file decoder and lookup on any file bytes, section and key.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "platform/posix/profile_parser.h"

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
  platform::ProfileDecoder whole(bytes.size());
  whole.Feed(bytes);
  const std::u16string text = whole.Finish();
  platform::ProfileDecoder pieces;
  for (std::size_t at = 0; at < bytes.size(); at += chunk) {
    pieces.Feed(bytes.substr(at, chunk));
  }
  Check(pieces.Finish() == text);

  // A value found is a view inside the text.
  const auto value = platform::FindProfileValue(text, section, key);
  std::u16string_view result = platform::TrimProfileDefault(u"@1@ ");
  if (value) {
    Check(value->empty() || (value->data() >= text.data() &&
                             value->data() + value->size() <= text.data() + text.size()));
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
  return 0;
}
