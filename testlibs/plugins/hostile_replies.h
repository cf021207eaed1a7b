// The replies of the hostile stand-in plugins, shared by the plugins and the tests that check them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "stand_in_replies.h"

namespace stand_in {

using namespace std::string_view_literals;

// What a hostile plugin's RequestService leaves as its reply. One plugin library is built for each
// shape (hostile_reply.cpp).
enum class HostileReply {
  kHuge,                 // 64 MiB of UTF-16: a long message with return code 31
  kNuls,                 // NULs in the name, the return code, the message and a key
  kLoneSurrogates,       // lone high and low surrogates at both ends and in the middle
  kSeparatorOnly,        // "@@@" alone
  kEmpty,                // the empty text
  kManyAts,              // 4 Mi "@" and nothing else
  kFieldsWithoutEquals,  // fields without "=" between runs of 1 to 7 "@"; no "=" anywhere
  kManyKeys,             // the return code, then 256 Ki distinct keys, then the message
  kOverlongNumber,       // a return code of a million digits
};

// The hostile plugins, by the name of the library each is built as.
struct HostilePlugin {
  HostileReply shape;
  const char* library;
};
inline constexpr HostilePlugin kHostilePlugins[] = {
    {HostileReply::kHuge, "stand_in_plugin_hostile_huge"},
    {HostileReply::kNuls, "stand_in_plugin_hostile_nuls"},
    {HostileReply::kLoneSurrogates, "stand_in_plugin_hostile_lone_surrogates"},
    {HostileReply::kSeparatorOnly, "stand_in_plugin_hostile_separator_only"},
    {HostileReply::kEmpty, "stand_in_plugin_hostile_empty"},
    {HostileReply::kManyAts, "stand_in_plugin_hostile_many_ats"},
    {HostileReply::kFieldsWithoutEquals, "stand_in_plugin_hostile_fields_without_equals"},
    {HostileReply::kManyKeys, "stand_in_plugin_hostile_many_keys"},
    {HostileReply::kOverlongNumber, "stand_in_plugin_hostile_overlong_number"},
};

inline constexpr std::size_t kHugeReplyUnits = std::size_t{32} * 1024 * 1024;  // 64 MiB
inline constexpr std::size_t kManyAtsUnits = std::size_t{4} * 1024 * 1024;
inline constexpr std::size_t kFieldsWithoutEqualsUnits = std::size_t{4} * 1024 * 1024;
inline constexpr std::size_t kManyKeysCount = std::size_t{256} * 1024;
inline constexpr std::size_t kOverlongNumberDigits = std::size_t{1024} * 1024;

inline constexpr std::u16string_view kHugeReplyHead =
    u"Huge@@@ZOR_PLUGIN_RESPONSE_RETURN_CODE=31@@@ZOR_PLUGIN_RESPONSE_MESSAGE=";

// The message of the huge reply: what follows kHugeReplyHead, up to kHugeReplyUnits in all.
inline std::u16string HugeMessage() {
  return PatternMessage(kHugeReplyUnits - kHugeReplyHead.size());
}

// The message of the reply with NULs; its return code reads 4.
inline constexpr std::u16string_view kNulMessage = u"a\0b\0"sv;

// The message of the reply with lone surrogates: a low one first, a high one last, and a high and
// a low one inside (literals split so that no letter joins a \x escape); its return code reads 12.
inline constexpr std::u16string_view kLoneSurrogateMessage =
    u"\xDFFF"
    u"a\xD800"
    u"b\xDC00"
    u"c\xDBFF"sv;

inline std::u16string HostileReplyText(HostileReply shape) {
  const auto hex = [](std::size_t n) {
    std::u16string digits;
    do {
      digits.insert(digits.begin(), u"0123456789abcdef"[n % 16]);
      n /= 16;
    } while (n != 0);
    return digits;
  };
  switch (shape) {
    case HostileReply::kHuge:
      return std::u16string(kHugeReplyHead) + HugeMessage();
    case HostileReply::kNuls:
      return std::u16string(
                 u"\0Nul\0Reply@@@ZOR_PLUGIN_RESPONSE_RETURN_CODE=4\0"
                 u"2@@@ZOR_PLUGIN_RESPONSE_MESSAGE="sv) +
             std::u16string(kNulMessage) + std::u16string(u"@@@\0=\0"sv);
    case HostileReply::kLoneSurrogates:
      return u"\xDC01"
             u"Name\xD801@@@ZOR_PLUGIN_RESPONSE_RETURN_CODE=12\xD800"
             u"@@@ZOR_PLUGIN_RESPONSE_MESSAGE=" +
             std::u16string(kLoneSurrogateMessage);
    case HostileReply::kSeparatorOnly:
      return u"@@@";
    case HostileReply::kEmpty:
      return {};
    case HostileReply::kManyAts:
      return std::u16string(kManyAtsUnits, u'@');
    case HostileReply::kFieldsWithoutEquals: {
      std::u16string text = u"Fields";
      for (std::size_t i = 0; text.size() < kFieldsWithoutEqualsUnits; ++i) {
        text.append(1 + i % 7, u'@');
        text += u"field" + hex(i);
      }
      return text;
    }
    case HostileReply::kManyKeys: {
      std::u16string text = u"Keys@@@ZOR_PLUGIN_RESPONSE_RETURN_CODE=-9";
      for (std::size_t i = 0; i < kManyKeysCount; ++i) {
        text += u"@@@K" + hex(i) + u"=v";
      }
      return text + u"@@@ZOR_PLUGIN_RESPONSE_MESSAGE=lost";
    }
    case HostileReply::kOverlongNumber:
      return u"Number@@@ZOR_PLUGIN_RESPONSE_RETURN_CODE=" +
             std::u16string(kOverlongNumberDigits, u'9') + u"@@@ZOR_PLUGIN_RESPONSE_MESSAGE=big";
  }
  return {};
}

// A short ASCII summary of text that tells a changed text apart: its length in code units and a
// 64-bit FNV-1a hash over its units, e.g. "12 units, FNV-1a 0123456789abcdef".
inline std::u16string SummarizeText(std::u16string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325U;
  for (const char16_t unit : text) {
    hash = (hash ^ unit) * 0x100000001b3U;
  }
  std::u16string units;
  std::size_t n = text.size();
  do {
    units.insert(units.begin(), static_cast<char16_t>(u'0' + n % 10));
    n /= 10;
  } while (n != 0);
  std::u16string hexHash(16, u'0');
  for (std::size_t i = 0; i < 16; ++i) {
    hexHash[15 - i] = u"0123456789abcdef"[(hash >> (4 * i)) & 0xFU];
  }
  return units + u" units, FNV-1a " + hexHash;
}

}  // namespace stand_in
