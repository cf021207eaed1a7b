// Tests of the reference plugin's checks of the four DHCP settings.
#include "settings_check.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using dhcp_plugin::Ipv4;

std::string Narrow(const std::u16string& text) {
  std::string narrow;
  for (const char16_t c : text) {
    narrow += c < 0x80 ? static_cast<char>(c) : '?';
  }
  return narrow;
}

TEST(AddressParsing, AcceptsOnlyStrictDottedQuads) {
  struct Case {
    std::u16string text;
    std::optional<Ipv4> expected;
  };
  const std::vector<Case> cases = {
      {u"0.0.0.0", 0x00000000},
      {u"255.255.255.255", 0xFFFFFFFF},
      {u"192.168.1.1", 0xC0A80101},
      {u"10.0.200.7", 0x0A00C807},
      {u"", std::nullopt},
      {u"1.2.3", std::nullopt},
      {u"1.2.3.4.5", std::nullopt},
      {u"1.2.3.", std::nullopt},
      {u".1.2.3", std::nullopt},
      {u"1..2.3", std::nullopt},
      {u"256.1.1.1", std::nullopt},
      {u"1.1.1.999", std::nullopt},
      {u"1.1.1.1000", std::nullopt},
      {u"01.2.3.4", std::nullopt},  // leading zero (read as octal elsewhere)
      {u"1.2.3.00", std::nullopt},
      {u" 1.2.3.4", std::nullopt},
      {u"1.2.3.4 ", std::nullopt},
      {u"1.2.3.4\n", std::nullopt},
      {u"+1.2.3.4", std::nullopt},
      {u"1.2.-3.4", std::nullopt},
      {u"0x1.2.3.4", std::nullopt},
      {u"1.2.3.4/24", std::nullopt},
      {u"a.b.c.d", std::nullopt},
      {u"\uFF11.2.3.4", std::nullopt},  // a full-width digit is not an ASCII digit
      {u"1,2,3,4", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(Narrow(text));
    EXPECT_EQ(dhcp_plugin::ParseDottedQuad(text), expected);
    if (expected) {
      EXPECT_EQ(dhcp_plugin::FormatDottedQuad(*expected), text);
    }
  }
}

TEST(AddressParsing, MasksRangesAndLeaseTimes) {
  const std::vector<std::pair<Ipv4, std::optional<int>>> masks = {
      {0x00000000, 0},
      {0x80000000, 1},
      {0xFFFFFF00, 24},
      {0xFFFFFFFC, 30},
      {0xFFFFFFFF, 32},
      {0xFF00FF00, std::nullopt},
      {0x7FFFFFFF, std::nullopt},
      {0xFFFFFF01, std::nullopt},
      {0x00000001, std::nullopt},
      {0xFFFEFFFF, std::nullopt},
  };
  for (const auto& [mask, prefix] : masks) {
    SCOPED_TRACE(mask);
    EXPECT_EQ(dhcp_plugin::MaskPrefixLength(mask), prefix);
  }

  const auto range = dhcp_plugin::ParseRange(u"192.168.1.200-192.168.1.100");
  ASSERT_TRUE(range.has_value());
  EXPECT_EQ(range->first, 0xC0A801C8U);  // the order is left to the caller to judge
  EXPECT_EQ(range->last, 0xC0A80164U);
  for (const std::u16string text :
       {u"", u"-", u"1.2.3.4", u"1.2.3.4-", u"-1.2.3.4", u"1.2.3.4 - 1.2.3.5", u"1.2.3.4--1.2.3.5",
        u"1.2.3.4-1.2.3.5-1.2.3.6", u"1.2.3.4-1.2.3", u"1.2.3.4:1.2.3.5", u"1.2.3.4-1.2.3.5 "}) {
    SCOPED_TRACE(Narrow(text));
    EXPECT_FALSE(dhcp_plugin::ParseRange(text).has_value());
  }

  const std::uint64_t tooLong = dhcp_plugin::kMaxLeaseSeconds + 1;
  const std::vector<std::pair<std::u16string, std::optional<std::uint64_t>>> leases = {
      {u"1", 1},
      {u"86400", 86400},
      {u"0", 0},
      {u"007", 7},
      {u"4294967294", 4294967294U},
      {u"4294967295", tooLong},
      {u"99999999999999999999999999999999", tooLong},
      {u"", std::nullopt},
      {u"-1", std::nullopt},
      {u"+5", std::nullopt},
      {u"1.5", std::nullopt},
      {u"10s", std::nullopt},
      {u" 10", std::nullopt},
      {u"1e3", std::nullopt},
  };
  for (const auto& [text, seconds] : leases) {
    SCOPED_TRACE(Narrow(text));
    EXPECT_EQ(dhcp_plugin::ParseLeaseSeconds(text), seconds);
  }
}

TEST(AddressParsing, QuotedValuesCannotBreakTheReply) {
  EXPECT_EQ(dhcp_plugin::QuoteForMessage(u"192.168.1.1"), u"192.168.1.1");
  EXPECT_EQ(dhcp_plugin::QuoteForMessage(u"a@@@K=v"), u"a???K=v");
  EXPECT_EQ(dhcp_plugin::QuoteForMessage(u"x\r\ny\t\u007F"), u"x??y??");
  EXPECT_EQ(dhcp_plugin::QuoteForMessage(u"\xD800z\xDC00"), u"?z?");
  // C1 controls and the line and paragraph separators would break a line as a line feed does.
  EXPECT_EQ(dhcp_plugin::QuoteForMessage(u"a\u0085b\u0080\u009F\u2028\u2029c"), u"a?b????c");
  EXPECT_EQ(dhcp_plugin::QuoteForMessage(u"\u00A0\u00E9\u2027\u202F"), u"\u00A0\u00E9\u2027\u202F");
  EXPECT_EQ(dhcp_plugin::QuoteForMessage(u"\U0001F600"), u"\U0001F600");
  EXPECT_EQ(dhcp_plugin::QuoteForMessage(std::u16string(64, u'a')), std::u16string(64, u'a'));
  EXPECT_EQ(dhcp_plugin::QuoteForMessage(std::u16string(65, u'a')),
            std::u16string(64, u'a') + u"...");
  // A pair that would straddle the cut is left out whole.
  EXPECT_EQ(dhcp_plugin::QuoteForMessage(std::u16string(63, u'a') + u"\U0001F600"),
            std::u16string(63, u'a') + u"...");
  EXPECT_EQ(dhcp_plugin::QuoteForMessage(std::u16string(200, u'@')),
            std::u16string(64, u'?') + u"...");
}

TEST(SettingsCheck, ReportsTheFirstFaultWithTheSettingAndItsValue) {
  const dhcp_plugin::DhcpSettings sound{u"255.255.255.0", u"192.168.1.1", u"86400",
                                        u"192.168.1.100-192.168.1.200"};
  struct Case {
    dhcp_plugin::DhcpSettings settings;
    int code;
    std::vector<std::u16string> mentions;  // texts the message must hold
  };
  const auto with = [&](auto member, std::u16string value) {
    dhcp_plugin::DhcpSettings settings = sound;
    settings.*member = std::move(value);
    return settings;
  };
  using S = dhcp_plugin::DhcpSettings;
  const std::vector<Case> cases = {
      {sound,
       0,
       {u"192.168.1.0/24", u"192.168.1.1", u"192.168.1.100-192.168.1.200", u"101 addresses",
        u"86400"}},
      {with(&S::rangeIp, u"192.168.1.7-192.168.1.7"), 0, {u"(1 address)"}},
      {{u"255.255.255.252", u"10.0.0.1", u"1", u"10.0.0.2-10.0.0.2"}, 0, {u"10.0.0.0/30"}},
      // The widest subnet clear of every block no server can lease from.
      {{u"224.0.0.0", u"32.0.0.1", u"4294967294", u"32.0.0.2-63.255.255.254"},
       0,
       {u"32.0.0.0/3", u"536870909 addresses"}},
      {with(&S::subnetMask, u""), 10, {u"SubNetMask", u"missing"}},
      {with(&S::subnetMask, u"255.255.255"), 11, {u"SubNetMask", u"\"255.255.255\""}},
      {with(&S::subnetMask, u"255.255.255.0 "), 11, {u"SubNetMask"}},
      {with(&S::subnetMask, u"255.0.255.0"),
       12,
       {u"SubNetMask", u"\"255.0.255.0\"", u"contiguous"}},
      {with(&S::subnetMask, u"0.0.0.0"), 13, {u"SubNetMask", u"\"0.0.0.0\""}},
      {with(&S::subnetMask, u"255.255.255.254"), 13, {u"SubNetMask"}},
      {with(&S::subnetMask, u"255.255.255.255"), 13, {u"SubNetMask"}},
      {with(&S::gateway, u""), 20, {u"Gateway", u"missing"}},
      {with(&S::gateway, u"192.168.1"), 21, {u"Gateway", u"\"192.168.1\""}},
      {with(&S::gateway, u"192.168.1.0"),
       22,
       {u"Gateway", u"network", u"192.168.1.1 to 192.168.1.254"}},
      {with(&S::gateway, u"192.168.1.255"), 22, {u"Gateway", u"broadcast", u"192.168.1.0/24"}},
      {with(&S::duringTime, u""), 30, {u"DuringTime", u"missing"}},
      {with(&S::duringTime, u"1 day"), 31, {u"DuringTime", u"\"1 day\""}},
      {with(&S::duringTime, u"-60"), 31, {u"DuringTime", u"\"-60\""}},
      {with(&S::duringTime, u"0"), 32, {u"DuringTime", u"\"0\"", u"4294967294"}},
      {with(&S::duringTime, u"4294967295"), 32, {u"DuringTime", u"\"4294967295\""}},
      {with(&S::rangeIp, u""), 40, {u"RangeIp", u"missing"}},
      {with(&S::rangeIp, u"192.168.1.100"), 41, {u"RangeIp", u"\"192.168.1.100\"", u"first-last"}},
      {with(&S::rangeIp, u"192.168.2.100-192.168.1.200"),
       42,
       {u"RangeIp", u"starts at 192.168.2.100", u"192.168.1.0/24"}},
      {with(&S::rangeIp, u"192.168.1.100-192.168.2.1"), 42, {u"RangeIp", u"ends at 192.168.2.1"}},
      {with(&S::rangeIp, u"192.168.1.200-192.168.1.100"),
       43,
       {u"RangeIp", u"\"192.168.1.200-192.168.1.100\"", u"reversed"}},
      {with(&S::rangeIp, u"192.168.1.1-192.168.1.50"), 44, {u"RangeIp", u"Gateway 192.168.1.1"}},
      // A range holding the gateway and the network address: the gateway is reported.
      {with(&S::rangeIp, u"192.168.1.0-192.168.1.255"), 44, {u"Gateway 192.168.1.1"}},
      {with(&S::rangeIp, u"192.168.1.200-192.168.1.255"),
       45,
       {u"RangeIp", u"broadcast address 192.168.1.255"}},
      {{u"255.255.255.0", u"192.168.1.254", u"60", u"192.168.1.0-192.168.1.10"},
       45,
       {u"network address 192.168.1.0"}},
      // Every setting bad: the first in reading order is reported.
      {{u"x", u"y", u"z", u"w"}, 11, {u"SubNetMask"}},
      {{u"255.255.255.0", u"y", u"z", u"w"}, 21, {u"Gateway"}},
      {{u"255.255.255.0", u"192.168.1.1", u"z", u"w"}, 31, {u"DuringTime"}},
      // Values that could break the reply are quoted harmlessly.
      {with(&S::gateway, u"1.2.3.4@@@ZOR_PLUGIN_RESPONSE_RETURN_CODE=0"),
       21,
       {u"\"1.2.3.4???ZOR_PLUGIN_RESPONSE_RETURN_CODE=0\""}},
      {with(&S::rangeIp, u"a\nb"), 41, {u"\"a?b\""}},
  };
  for (const auto& [settings, code, mentions] : cases) {
    const dhcp_plugin::CheckResult result = dhcp_plugin::CheckSettings(settings);
    SCOPED_TRACE(Narrow(result.message));
    EXPECT_EQ(result.code, code);
    for (const auto& mention : mentions) {
      EXPECT_NE(result.message.find(mention), std::u16string::npos) << Narrow(mention);
    }
    EXPECT_EQ(result.message.find(u'@'), std::u16string::npos);
    EXPECT_EQ(result.message.back(), u'.');
  }
}

TEST(SettingsCheck, RefusesSubnetsNoServerCanLeaseFrom) {
  struct Case {
    std::u16string mask;
    std::u16string gateway;
    std::u16string range;                  // empty: the nine addresses after the gateway
    std::vector<std::u16string> mentions;  // none: accepted
  };
  const std::vector<Case> cases = {
      {u"255.255.255.0",
       u"127.0.0.1",
       u"",
       {u"\"127.0.0.1\" lies in the loopback block 127.0.0.0/8"}},
      {u"255.255.255.0", u"224.0.0.1", u"", {u"multicast block 224.0.0.0/4"}},
      {u"255.255.255.0", u"239.255.255.1", u"", {u"multicast block"}},
      {u"255.255.255.0", u"240.0.0.1", u"", {u"reserved block 240.0.0.0/4"}},
      {u"255.255.255.0", u"0.0.0.1", u"", {u"\"this network\" block 0.0.0.0/8"}},
      {u"255.255.255.0", u"169.254.1.1", u"", {u"link-local block 169.254.0.0/16"}},
      // Its /24 holds the limited broadcast address 255.255.255.255.
      {u"255.255.255.0", u"255.255.255.1", u"", {u"reserved block"}},
      {u"128.0.0.0",
       u"10.0.0.1",
       u"127.0.0.1-127.0.0.9",
       {u"SubNetMask \"128.0.0.0\" makes subnet 0.0.0.0/1, which overlaps the \"this network\""}},
      {u"128.0.0.0", u"127.0.0.1", u"", {u"\"127.0.0.1\" lies in the loopback block"}},
      {u"254.0.0.0", u"126.0.0.1", u"", {u"subnet 126.0.0.0/7, which overlaps the loopback block"}},
      {u"255.254.0.0", u"169.255.0.1", u"", {u"overlaps the link-local block"}},
      {u"192.0.0.0", u"200.0.0.1", u"", {u"subnet 192.0.0.0/2, which overlaps the multicast"}},
      // Right beside the blocks, and the ranges that stay usable.
      {u"255.0.0.0", u"1.0.0.1", u"", {}},
      {u"255.0.0.0", u"126.255.255.1", u"", {}},
      {u"255.0.0.0", u"128.0.0.1", u"", {}},
      {u"255.255.255.0", u"169.253.255.1", u"", {}},
      {u"255.255.255.0", u"169.255.0.1", u"", {}},
      {u"255.255.255.0", u"223.255.255.1", u"", {}},
      {u"255.0.0.0", u"10.0.0.1", u"", {}},
      {u"255.240.0.0", u"172.16.0.1", u"", {}},
      {u"255.192.0.0", u"100.64.0.1", u"", {}},
      {u"255.255.255.0", u"192.168.1.1", u"", {}},
      {u"255.255.255.0", u"198.51.100.1", u"", {}},
      {u"255.255.255.0", u"203.0.113.1", u"", {}},
  };
  for (const auto& [mask, gateway, range, mentions] : cases) {
    const Ipv4 first = *dhcp_plugin::ParseDottedQuad(gateway) + 1;
    const dhcp_plugin::CheckResult result =
        dhcp_plugin::CheckSettings({mask, gateway, u"3600",
                                    range.empty() ? dhcp_plugin::FormatDottedQuad(first) + u"-" +
                                                        dhcp_plugin::FormatDottedQuad(first + 8)
                                                  : range});
    SCOPED_TRACE(Narrow(result.message));
    EXPECT_EQ(result.code, mentions.empty() ? 0 : 23);
    for (const auto& mention : mentions) {
      EXPECT_NE(result.message.find(mention), std::u16string::npos) << Narrow(mention);
    }
    if (!mentions.empty()) {
      EXPECT_NE(result.message.find(u"no DHCP server can lease"), std::u16string::npos);
    }
  }
}

TEST(SettingsCheck, OnlyCheckedSettingsBecomeServeSettings) {
  EXPECT_FALSE(dhcp_plugin::ToServeSettings(
      {u"255.255.255.0", u"198.51.100.1", u"0", u"198.51.100.2-198.51.100.3"}));
  const std::optional<dhcp_plugin::ServeSettings> sound = dhcp_plugin::ToServeSettings(
      {u"255.255.255.0", u"198.51.100.1", u"600", u"198.51.100.100-198.51.100.200"});
  ASSERT_TRUE(sound);
  const dhcp_plugin::ServeSettings& s = *sound;
  EXPECT_EQ(s.prefix, 24);
  EXPECT_EQ(s.Network(), 0xC6336400U);
  EXPECT_EQ(s.first, 0xC6336464U);
  EXPECT_EQ(s.last, 0xC63364C8U);
  EXPECT_EQ(s.leaseSeconds, 600U);
}

}  // namespace
