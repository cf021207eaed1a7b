// The request that asks the DHCP plugin to start the DHCP server, and the reply it reads back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "plugin_request.h"

class CDhcpServerRequest : public CPluginRequest {
 public:
  CDhcpServerRequest();
  // A record read from a message text (used for the plugin's reply).
  explicit CDhcpServerRequest(std::u16string text);
  CDhcpServerRequest(const CDhcpServerRequest&) = delete;
  CDhcpServerRequest& operator=(const CDhcpServerRequest&) = delete;
  CDhcpServerRequest(CDhcpServerRequest&&) = delete;
  CDhcpServerRequest& operator=(CDhcpServerRequest&&) = delete;
  ~CDhcpServerRequest() override;

  // Each setter stores its value (taken as opaque text, possibly empty) under its parameter key and
  // returns 0 when the key now holds a non-empty value, -1 otherwise.
  int SetSubnetMask(std::u16string value);  // DHCP_ZOR_PLUGIN_SUBNETMASK_PARAMETER
  int SetGateway(std::u16string value);     // DHCP_ZOR_PLUGIN_GATEWAY_PARAMETER
  int SetDuringTime(std::u16string value);  // DHCP_ZOR_PLUGIN_DURING_TIME_PARAMETER
  int SetRangeIp(std::u16string value);     // DHCP_ZOR_PLUGIN_RANGE_IP_PARAMETER

  // 0 when key has a non-empty value, -1 otherwise.
  int HasParamValue(std::u16string key) const;

  // Sends this request as "RunDHCPServer" to the plugin and reads the reply's
  // ZOR_PLUGIN_RESPONSE_RETURN_CODE (as an integer, 0 when absent or not a number) and
  // ZOR_PLUGIN_RESPONSE_MESSAGE. When the plugin is not called (no path, no library, an entry
  // point missing) the reply is the request itself: return code 0 and an empty message. Returns
  // the return code.
  int RunDHCPServer();

  // A reply's ZOR_PLUGIN_RESPONSE_RETURN_CODE text read as RunDHCPServer reads it: leading blanks
  // and a sign allowed, reading stops at the first character that is not a digit, none gives 0.
  static std::int32_t ReadReturnCode(std::u16string_view text);

  // The message and the return code of the last reply.
  const std::u16string& GetResponseMessage() const { return responseMessage; }
  std::int32_t GetReturnCode() const { return returnCode; }

 private:
  std::unique_ptr<CDhcpServerRequest> replyRecord;  // alive only inside RunDHCPServer
  std::u16string responseMessage;
  std::int32_t returnCode = 0;
};
