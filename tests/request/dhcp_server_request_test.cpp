// Tests of the DHCP server request: its four parameters, the text the plugin gets, and the reply.
#include "request/dhcp_server_request.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "record_file.h"
#include "request/plugin_contract.h"
#include "stand_in_replies.h"
#include "stand_ins.h"
#include "utf16.h"

namespace {

using test_support::RecordLine;
using test_support::StandInText;
using test_support::UnchangedCalls;

constexpr char16_t kMaskKey[] = u"DHCP_ZOR_PLUGIN_SUBNETMASK_PARAMETER";
constexpr char16_t kGatewayKey[] = u"DHCP_ZOR_PLUGIN_GATEWAY_PARAMETER";
constexpr char16_t kDuringTimeKey[] = u"DHCP_ZOR_PLUGIN_DURING_TIME_PARAMETER";
constexpr char16_t kRangeIpKey[] = u"DHCP_ZOR_PLUGIN_RANGE_IP_PARAMETER";
constexpr char16_t kReturnCodeKey[] = u"ZOR_PLUGIN_RESPONSE_RETURN_CODE";
constexpr char16_t kMessageKey[] = u"ZOR_PLUGIN_RESPONSE_MESSAGE";

TEST(DhcpServerRequest, SendsAllFourParametersInSetterOrder) {
  const test_support::ScopedRecordFile record;
  using Setter = int (CDhcpServerRequest::*)(std::u16string);
  struct Parameter {
    Setter set;
    const char16_t* key;
    const char16_t* value;
  };
  const std::vector<Parameter> parameters = {
      {&CDhcpServerRequest::SetSubnetMask, kMaskKey, u"255.255.255.0"},
      {&CDhcpServerRequest::SetGateway, kGatewayKey, u"192.168.1.1"},
      {&CDhcpServerRequest::SetDuringTime, kDuringTimeKey, u"3600"},
      {&CDhcpServerRequest::SetRangeIp, kRangeIpKey, u"192.168.1.100-192.168.1.200"},
  };

  // All four empty: each setter reports -1, and all four keys still go out, empty.
  CDhcpServerRequest request;
  request.SetPluginPath(StandInText("stand_in_plugin_recorder"));
  for (const auto& p : parameters) {
    EXPECT_EQ((request.*p.set)(u""), -1);
    EXPECT_EQ(request.HasParamValue(p.key), -1);
  }
  EXPECT_EQ(request.RunDHCPServer(), 0);
  EXPECT_EQ(request.GetReturnCode(), 0);
  EXPECT_EQ(request.GetResponseMessage(), u"");
  EXPECT_EQ(record.Lines(), UnchangedCalls(u"RunDHCPServer@@@DHCP_ZOR_PLUGIN_SUBNETMASK_PARAMETER="
                                           u"@@@DHCP_ZOR_PLUGIN_GATEWAY_PARAMETER="
                                           u"@@@DHCP_ZOR_PLUGIN_DURING_TIME_PARAMETER="
                                           u"@@@DHCP_ZOR_PLUGIN_RANGE_IP_PARAMETER="));

  // Values are taken as opaque text; setting the mask again keeps its first slot.
  record.Clear();
  for (const auto& p : parameters) {
    EXPECT_EQ((request.*p.set)(p.value), 0);
    EXPECT_EQ(request.HasParamValue(p.key), 0);
  }
  EXPECT_EQ(request.SetSubnetMask(u"not a mask"), 0);
  EXPECT_EQ(request.CountParams(), 4);
  EXPECT_EQ(request.RunDHCPServer(), 0);
  EXPECT_EQ(record.Lines(),
            UnchangedCalls(u"RunDHCPServer@@@DHCP_ZOR_PLUGIN_SUBNETMASK_PARAMETER=not a mask"
                           u"@@@DHCP_ZOR_PLUGIN_GATEWAY_PARAMETER=192.168.1.1"
                           u"@@@DHCP_ZOR_PLUGIN_DURING_TIME_PARAMETER=3600"
                           u"@@@DHCP_ZOR_PLUGIN_RANGE_IP_PARAMETER=192.168.1.100-192.168.1.200"));

  // Emptying a value reports -1 again; the key stays in its slot.
  EXPECT_EQ(request.SetGateway(u""), -1);
  EXPECT_EQ(request.HasParamValue(kGatewayKey), -1);
  EXPECT_EQ(request.BuildParamText(),
            u"DHCP_ZOR_PLUGIN_SUBNETMASK_PARAMETER=not a mask@@@DHCP_ZOR_PLUGIN_GATEWAY_PARAMETER="
            u"@@@DHCP_ZOR_PLUGIN_DURING_TIME_PARAMETER=3600"
            u"@@@DHCP_ZOR_PLUGIN_RANGE_IP_PARAMETER=192.168.1.100-192.168.1.200");

  // HasParamValue compares keys exactly.
  EXPECT_EQ(request.HasParamValue(u"dhcp_zor_plugin_subnetmask_parameter"), -1);
  EXPECT_EQ(request.HasParamValue(u"NO_SUCH_KEY"), -1);
  request.SetParam(u"OTHER", u"x");
  EXPECT_EQ(request.HasParamValue(u"OTHER"), 0);
}

TEST(DhcpServerRequest, TakesReturnCodeAndMessageFromTheLastReply) {
  const test_support::ScopedRecordFile record;
  CDhcpServerRequest request;
  request.SetSubnetMask(u"255.255.255.0");
  request.SetGateway(u"10.0.0.1");
  request.SetDuringTime(u"60");
  request.SetRangeIp(u"10.0.0.2-10.0.0.9");
  const std::u16string requestText =
      u"RunDHCPServer@@@DHCP_ZOR_PLUGIN_SUBNETMASK_PARAMETER=255.255.255.0"
      u"@@@DHCP_ZOR_PLUGIN_GATEWAY_PARAMETER=10.0.0.1@@@DHCP_ZOR_PLUGIN_DURING_TIME_PARAMETER=60"
      u"@@@DHCP_ZOR_PLUGIN_RANGE_IP_PARAMETER=10.0.0.2-10.0.0.9";

  // The reply's first field is ignored; the plugin's own status is not the return code.
  request.SetPluginPath(StandInText("stand_in_plugin_fixed_reply"));
  EXPECT_EQ(request.RunDHCPServer(), 17);
  EXPECT_EQ(request.GetReturnCode(), 17);
  EXPECT_EQ(request.GetResponseMessage(), u"started");
  EXPECT_EQ(record.Lines(), (std::vector<std::string>{
                                RecordLine(1, kInitializeEntry, requestText),
                                RecordLine(2, kRequestServiceEntry, requestText),
                                RecordLine(3, kReleaseEntry, stand_in::kFixedReply),
                            }));

  // Every later run overwrites both, also when the plugin is never called.
  const std::u16string missing = StandInText("stand_in_plugin_fixed_reply") + u".missing";
  struct Run {
    const char* what;
    std::u16string path;
    int code;
    std::u16string message;
  };
  const std::vector<Run> runs = {
      {"a plugin that leaves the text alone", StandInText("stand_in_plugin_unchanged"), 0, u""},
      {"the fixed reply again", StandInText("stand_in_plugin_fixed_reply"), 17, u"started"},
      {"no plugin path", u"", 0, u""},
      {"the fixed reply again", StandInText("stand_in_plugin_fixed_reply"), 17, u"started"},
      {"a missing library", missing, 0, u""},
      {"the fixed reply again", StandInText("stand_in_plugin_fixed_reply"), 17, u"started"},
      {"a plugin without Release", StandInText("stand_in_plugin_no_release"), 0, u""},
      {"a reply of one mebibyte", StandInText("stand_in_plugin_long_reply"),
       stand_in::kLongReplyCode, stand_in::LongMessage()},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run.what);
    request.SetPluginPath(run.path);
    EXPECT_EQ(request.RunDHCPServer(), run.code);
    EXPECT_EQ(request.GetReturnCode(), run.code);
    EXPECT_TRUE(request.GetResponseMessage() == run.message);  // may be a mebibyte long
  }
  // Only the fixed reply plugin recorded, three calls on each of its four runs; the plugin
  // without Release was never called.
  EXPECT_EQ(record.Lines().size(), 12U);
}

// With no plugin called, the request text itself is read as the reply; this drives the reading of
// the reply keys without a plugin.
TEST(DhcpServerRequest, ReadsTheReturnCodeAsTheCLibraryDoes) {
  struct Case {
    std::u16string text;
    int code;
  };
  const std::vector<Case> cases = {
      {u"17", 17},
      {u"12abc", 12},
      {u"-5", -5},
      {u" +7", 7},
      {u"\t\n\v\f\r 9", 9},
      {u"007", 7},
      {u"-0", 0},
      {u"1 2", 1},
      {u"2147483647", INT_MAX},
      {u"2147483648", INT_MAX},
      {u"99999999999999999999999999", INT_MAX},
      {u"-2147483648", INT_MIN},
      {u"-2147483649", INT_MIN},
      {u"-99999999999999999999999999", INT_MIN},
      {u"", 0},
      {u"abc", 0},
      {u"+", 0},
      {u"-", 0},
      {u"+-3", 0},
      {u"- 3", 0},
      {u"\u0661", 0},       // ARABIC-INDIC DIGIT ONE
      {u"\uFF15", 0},       // FULLWIDTH DIGIT FIVE
      {u"4\u0662", 4},      // stops at the first digit that is not ASCII
      {u"\u30003", 0},      // IDEOGRAPHIC SPACE is not a blank
      {u"\U0001D7D98", 0},  // MATHEMATICAL DOUBLE-STRUCK DIGIT ONE, then 8
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(test_support::Utf8(c.text));
    CDhcpServerRequest request;
    request.SetParam(kReturnCodeKey, c.text);
    EXPECT_EQ(request.RunDHCPServer(), c.code);
    EXPECT_EQ(request.GetReturnCode(), c.code);
    EXPECT_EQ(request.GetResponseMessage(), u"");
  }
}

TEST(DhcpServerRequest, KeepsTheWholeMessageAfterItsKey) {
  const std::vector<std::u16string> messages = {
      u"started", u"a=b=c",           u"=leading",
      u"",        u"  blanks kept  ", u"d\u00E9marr\u00E9 \u2713 \U0001F600",
  };
  for (const auto& message : messages) {
    SCOPED_TRACE(test_support::Utf8(message));
    CDhcpServerRequest request;
    request.SetParam(kMessageKey, message);
    request.SetParam(kReturnCodeKey, u"3");
    EXPECT_EQ(request.RunDHCPServer(), 3);
    EXPECT_EQ(request.GetResponseMessage(), message);
  }
  // Without the reply keys: return code 0 and an empty message.
  CDhcpServerRequest request;
  request.SetSubnetMask(u"255.0.0.0");
  EXPECT_EQ(request.RunDHCPServer(), 0);
  EXPECT_EQ(request.GetResponseMessage(), u"");
}

}  // namespace
