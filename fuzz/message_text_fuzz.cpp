// Fuzz target: the message-text parser on any UTF-16 text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "literal_walk.h"
#include "request/plugin_request.h"

namespace {

// The literal walk copies and rescans freely; keep its inputs small enough to stay fast.
constexpr std::size_t kMaxUnits = 4096;

void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

bool HoldsAt(const std::u16string& text) {
  return text.find(u'@') != std::u16string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < size && text.size() < kMaxUnits; i += 2) {
    text += static_cast<char16_t>(data[i] | (data[i + 1] << 8U));
  }

  const CPluginRequest record(text);
  Check(record.CountParams() <= CParamTable::kCapacity);

  // The parser must leave the record the literal walk leaves.
  const literal::Parsed expected = literal::Parse(text);
  Check(record.CountParams() == expected.table.CountParams());
  Check(record.BuildParamText() == expected.table.BuildParamText());
  int emptyName = 0;
  const std::u16string built = record.BuildRequestText(emptyName);
  Check(emptyName == (expected.name.empty() ? 1 : 0));
  bool plain = !HoldsAt(expected.name);
  std::u16string key;
  std::u16string want;
  std::u16string got;
  for (std::size_t i = 0; i <= expected.keysSet.size(); ++i) {
    key = i < expected.keysSet.size() ? expected.keysSet[i] : std::u16string();
    Check(record.GetParam(key, got) == expected.table.GetParam(key, want));
    Check(got == want);
    if (!key.empty() && expected.table.GetParam(key, want) == 0) {
      plain = plain && !HoldsAt(key) && !HoldsAt(want) && key.find(u'=') == std::u16string::npos;
    }
  }

  // Without "@" in any text and "=" in any key, a rebuilt request parses back to the same text.
  if (plain && emptyName == 0) {
    const CPluginRequest again(built);
    Check(again.BuildRequestText(emptyName) == built);
  }
  return 0;
}
