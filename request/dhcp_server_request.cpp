// The request that asks the DHCP plugin to start the DHCP server, and the reply it reads back.
#include "dhcp_server_request.h"

#include <climits>
#include <cstdint>
#include <string_view>
#include <utility>

#include "dhcp_protocol.h"

namespace {

using namespace dhcp_protocol;  // the names of the request and its reply

bool IsSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

// Wide text to int by the C library's rules: leading white space, an optional sign, then ASCII
// digits up to the first other character. No digits gives 0; a number out of range saturates to
// INT_MAX or INT_MIN.
int TextToInt(std::u16string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  // Accumulate the magnitude; INT_MIN's magnitude is one more than INT_MAX.
  const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT_MIN) : INT_MAX;
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - u'0');
    if (magnitude > limit) {
      magnitude = limit;
    }
  }
  return static_cast<int>(negative ? -magnitude : magnitude);
}

}  // namespace

CDhcpServerRequest::CDhcpServerRequest() = default;

CDhcpServerRequest::CDhcpServerRequest(std::u16string text) : CPluginRequest(std::move(text)) {}

CDhcpServerRequest::~CDhcpServerRequest() = default;

int CDhcpServerRequest::SetSubnetMask(std::u16string value) {
  SetParam(kSubnetMaskKey, std::move(value));
  return HasParamValue(kSubnetMaskKey);
}

int CDhcpServerRequest::SetGateway(std::u16string value) {
  SetParam(kGatewayKey, std::move(value));
  return HasParamValue(kGatewayKey);
}

int CDhcpServerRequest::SetDuringTime(std::u16string value) {
  SetParam(kDuringTimeKey, std::move(value));
  return HasParamValue(kDuringTimeKey);
}

int CDhcpServerRequest::SetRangeIp(std::u16string value) {
  SetParam(kRangeIpKey, std::move(value));
  return HasParamValue(kRangeIpKey);
}

int CDhcpServerRequest::HasParamValue(std::u16string key) const {
  std::u16string value;
  GetParam(std::move(key), value);
  return value.empty() ? -1 : 0;
}

std::int32_t CDhcpServerRequest::ReadReturnCode(std::u16string_view text) {
  return TextToInt(text);
}

int CDhcpServerRequest::RunDHCPServer() {
  SetRequestName(kRunDhcpServer);
  int emptyName = 0;
  std::u16string reply = BuildRequestText(emptyName);
  Execute(reply);

  replyRecord = std::make_unique<CDhcpServerRequest>(std::move(reply));
  std::u16string returnCodeText;
  replyRecord->GetParam(kReturnCodeKey, returnCodeText);
  returnCode = TextToInt(returnCodeText);
  replyRecord->GetParam(kMessageKey, responseMessage);
  replyRecord.reset();
  return returnCode;
}
