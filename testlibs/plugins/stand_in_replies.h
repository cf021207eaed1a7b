// The replies of the stand-in plugins, shared by the plugins and the tests that check them.
#pragma once

#include <cstddef>
#include <string>

namespace stand_in {

// How a build of the recorder (recorder.cpp) answers RequestService.
enum class Answer {
  kUnchanged,    // leaves the text as it is and returns 0
  kFixedReply,   // replaces the text with kFixedReply and returns kFixedReplyStatus
  kOutOfMemory,  // lets std::bad_alloc escape
};

// scripted_reply: the environment variable that names its script, a UTF-8 file of lines
// "<request name>\t<reply text>" (ASCII). RequestService replaces the text with the reply of the
// first line naming the request's name (the text before the first "@@@") and returns 0; a request
// no line names is left unchanged.
inline constexpr char kReplyScriptVariable[] = "DHCP_TEST_REPLY_SCRIPT";

inline constexpr char16_t kFixedReply[] =
    u"ZZ@@@ZOR_PLUGIN_RESPONSE_RETURN_CODE=17@@@ZOR_PLUGIN_RESPONSE_MESSAGE=started";
inline constexpr int kFixedReplyStatus = 42;

// A message of units code units that never repeats within 4096 units, so a lost, doubled or
// shifted block shows. It holds neither "@" nor "=" nor a surrogate.
inline std::u16string PatternMessage(std::size_t units) {
  std::u16string message(units, u'\0');
  for (std::size_t i = 0; i < message.size(); ++i) {
    message[i] = static_cast<char16_t>(0x3000 + i % 0x1000);
  }
  return message;
}

// long_reply: RequestService replaces the text with kLongReplyHead followed by LongMessage() and
// returns kLongReplyStatus; the reply's return code reads kLongReplyCode.
inline constexpr char16_t kLongReplyHead[] =
    u"LongReply@@@ZOR_PLUGIN_RESPONSE_RETURN_CODE=-77@@@ZOR_PLUGIN_RESPONSE_MESSAGE=";
inline constexpr int kLongReplyCode = -77;
inline constexpr int kLongReplyStatus = 7;
inline constexpr std::size_t kLongMessageUnits = std::size_t{512} * 1024;  // 1 MiB of UTF-16

inline std::u16string LongMessage() {
  return PatternMessage(kLongMessageUnits);
}

}  // namespace stand_in
