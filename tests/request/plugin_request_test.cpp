// Tests of the request record: building and parsing the message text.
#include "request/plugin_request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "literal_walk.h"

namespace {

struct Param {
  std::u16string key;
  std::u16string value;
};

// Checks that record holds exactly name and params (in slot order), through the public operations.
void ExpectRecord(const CPluginRequest& record, const std::u16string& name,
                  const std::vector<Param>& params) {
  int emptyName = -1;
  const std::u16string text = record.BuildRequestText(emptyName);
  std::u16string paramText;
  for (const auto& [key, value] : params) {
    paramText += (paramText.empty() ? u"" : u"@@@") + key + u"=" + value;
  }
  EXPECT_EQ(record.GetRequestName(), name);
  EXPECT_EQ(emptyName, name.empty() ? 1 : 0);
  EXPECT_EQ(text, name.empty() ? u"" : params.empty() ? name : name + u"@@@" + paramText);
  EXPECT_EQ(record.CountParams(), static_cast<int>(params.size()));
  EXPECT_EQ(record.BuildParamText(), paramText);
  for (const auto& [key, value] : params) {
    std::u16string found;
    EXPECT_EQ(record.GetParam(key, found), 0);
    EXPECT_EQ(found, value);
  }
}

// Checks that the parser left the same record as the literal walk did.
void ExpectSameAsLiteral(const std::u16string& text) {
  const CPluginRequest record(text);
  const literal::Parsed expected = literal::Parse(text);
  SCOPED_TRACE(std::string(text.begin(), text.end()));

  int emptyName = -1;
  const std::u16string built = record.BuildRequestText(emptyName);
  const std::u16string params = expected.table.BuildParamText();
  ASSERT_EQ(record.GetRequestName(), expected.name);
  ASSERT_EQ(emptyName, expected.name.empty() ? 1 : 0);
  if (!expected.name.empty()) {
    ASSERT_EQ(built, params.empty() ? expected.name : expected.name + u"@@@" + params);
  }
  ASSERT_EQ(record.CountParams(), expected.table.CountParams());
  ASSERT_EQ(record.BuildParamText(), params);
  std::vector<std::u16string> keys = expected.keysSet;
  keys.emplace_back();
  for (const auto& key : keys) {
    std::u16string got;
    std::u16string want;
    ASSERT_EQ(record.GetParam(key, got), expected.table.GetParam(key, want));
    ASSERT_EQ(got, want);
  }
}

TEST(RequestText, BuildsNameAloneOrNameAndParameters) {
  CPluginRequest request;
  int emptyName = -1;
  request.SetRequestName(u"N");
  EXPECT_EQ(request.BuildRequestText(emptyName), u"N");
  EXPECT_EQ(emptyName, 0);

  request.SetParam(u"K", u"v");
  request.SetParam(u"E", u"");
  EXPECT_EQ(request.BuildRequestText(emptyName), u"N@@@K=v@@@E=");
  EXPECT_EQ(emptyName, 0);

  // Building changes nothing, so it can be repeated.
  EXPECT_EQ(request.BuildRequestText(emptyName), u"N@@@K=v@@@E=");

  request.SetRequestName(u"");
  emptyName = 0;
  EXPECT_EQ(request.BuildRequestText(emptyName), u"");
  EXPECT_EQ(emptyName, 1);
}

TEST(RequestText, ParsesOrdinaryAndOddShapes) {
  ExpectRecord(CPluginRequest(u"N@@@A=1@@@B=x=y"), u"N", {{u"A", u"1"}, {u"B", u"x=y"}});
  ExpectRecord(CPluginRequest(u"just a name"), u"just a name", {});
  ExpectRecord(CPluginRequest(u""), u"", {});
  ExpectRecord(CPluginRequest(u"N@@@A="), u"N", {{u"A", u""}});
  ExpectRecord(CPluginRequest(u"N@@@"), u"N", {});
  ExpectRecord(CPluginRequest(u"@@@K=v"), u"", {{u"K", u"v"}});
  ExpectRecord(CPluginRequest(u"N@@@=v"), u"N", {});
  // A field without "=" takes the "=" of the next field.
  ExpectRecord(CPluginRequest(u"N@@@abc@@@K=v"), u"N", {{u"abc@@@K", u""}, {u"K", u"v"}});
  // Texts outside the basic plane are carried as their code units.
  ExpectRecord(CPluginRequest(u"\U0001F600@@@\U0001F601=\U0001F602"), u"\U0001F600",
               {{u"\U0001F601", u"\U0001F602"}});

  // A copy of a parsed record is a record of its own.
  const CPluginRequest original(u"N@@@A=1");
  CPluginRequest copy = original;
  copy.SetParam(u"A", u"2");
  copy.SetRequestName(u"M");
  ExpectRecord(original, u"N", {{u"A", u"1"}});
  ExpectRecord(copy, u"M", {{u"A", u"2"}});
}

TEST(RequestText, RunsOfAtSignsShiftTheSplit) {
  // The search after a separator resumes inside it, so every further "@" of a run opens one more
  // field, whose key reaches back into the run.
  ExpectRecord(CPluginRequest(u"N@@@@K=v"), u"N", {{u"@K", u""}, {u"K", u"v"}});
  ExpectRecord(CPluginRequest(u"N@@@@@@K=v"), u"N",
               {{u"@@@K", u""}, {u"@@K", u""}, {u"@K", u""}, {u"K", u"v"}});
  ExpectRecord(CPluginRequest(u"N@@@A=a@@@@B=b"), u"N", {{u"A", u"a"}, {u"@B", u""}, {u"B", u"b"}});
  // A trailing "@" stays in the value; a trailing run of four closes the value off.
  ExpectRecord(CPluginRequest(u"N@@@K=v@"), u"N", {{u"K", u"v@"}});
  ExpectRecord(CPluginRequest(u"N@@@K=v@@@@"), u"N", {{u"K", u"v"}});
  // A leading run: the name is empty and no "=" follows, so nothing is visible.
  ExpectRecord(CPluginRequest(u"@@@@N"), u"", {});
  for (const auto* text : {u"N@@@@K=v", u"N@@@@@@K=v", u"@@@@N", u"N@@@K=v@@@@", u"@@@@@@@"}) {
    ExpectSameAsLiteral(text);
  }
}

TEST(RequestText, EmptyKeyFieldsLeaveOnlyTheLastValueInTheFreeSlot) {
  // "x@@@y" has no "=" at all: each later field stores the text before its separator under the
  // empty key, which stays invisible but readable under the empty key.
  const CPluginRequest record(u"x@@@y@@@z");
  ExpectRecord(record, u"x", {});
  std::u16string value;
  EXPECT_EQ(record.GetParam(u"", value), 0);
  EXPECT_EQ(value, u"x@@@y@@@z");
  ExpectSameAsLiteral(u"x@@@y@@@z");
  ExpectSameAsLiteral(u"N@@@=a@@@K=v");
  ExpectSameAsLiteral(u"N@@@K=v@@@=a");
}

TEST(RequestText, DropsKeysPastTheHundredth) {
  std::u16string text = u"N";
  for (int i = 0; i < 150; ++i) {
    text += u"@@@k" + std::u16string(static_cast<std::size_t>(i + 1), u'x') + u"=v";
  }
  const CPluginRequest record(text);
  EXPECT_EQ(record.CountParams(), 100);
  std::u16string value;
  EXPECT_EQ(record.GetParam(u"k" + std::u16string(100, u'x'), value), 0);
  EXPECT_EQ(record.GetParam(u"k" + std::u16string(101, u'x'), value), 1);
  ExpectSameAsLiteral(text);
  ExpectSameAsLiteral(text + u"@@@kx=again@@@tail@@@@@@");
}

TEST(RequestText, RoundTripsWhenNoTextHoldsAtSigns) {
  CPluginRequest request;
  request.SetRequestName(u"RunDHCPServer");
  request.SetParam(u"MASK", u"255.255.255.0");
  request.SetParam(u"EMPTY", u"");
  request.SetParam(u"EQ", u"a=b=c");
  request.SetParam(u"WIDE", u"\u00e9\U0001F600");
  int emptyName = 0;
  const std::u16string text = request.BuildRequestText(emptyName);
  const CPluginRequest parsed(text);
  EXPECT_EQ(parsed.BuildRequestText(emptyName), text);
}

}  // namespace
