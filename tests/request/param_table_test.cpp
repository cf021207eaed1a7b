// Tests of the fixed-capacity parameter table.
#include "request/param_table.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string Key(int i) {
  return u"K" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
         std::u16string(static_cast<std::size_t>(i / 26 + 1), u'x');
}

TEST(ParamTable, NewTableIsEmpty) {
  const CParamTable table;
  EXPECT_EQ(table.CountParams(), 0);
  EXPECT_EQ(table.BuildParamText(), u"");
  EXPECT_EQ(table.GetSeparator(), u"@@@");
  std::u16string value = u"stale";
  EXPECT_EQ(table.GetParam(u"A", value), 1);
  EXPECT_EQ(value, u"");
}

TEST(ParamTable, ReplacesInPlaceAndKeepsFirstSetOrder) {
  CParamTable table;
  EXPECT_EQ(table.SetParam(u"A", u"1"), 0);
  EXPECT_EQ(table.SetParam(u"B", u""), 0);
  EXPECT_EQ(table.SetParam(u"C", u"x=y"), 0);
  EXPECT_EQ(table.SetParam(u"A", u"2"), 0);
  EXPECT_EQ(table.CountParams(), 3);
  EXPECT_EQ(table.BuildParamText(), u"A=2@@@B=@@@C=x=y");
  std::u16string value;
  EXPECT_EQ(table.GetParam(u"B", value), 0);
  EXPECT_EQ(value, u"");
  EXPECT_EQ(table.GetParam(u"C", value), 0);
  EXPECT_EQ(value, u"x=y");
}

TEST(ParamTable, KeysAreExactCodeUnits) {
  CParamTable table;
  table.SetParam(u"Key", u"lower");
  table.SetParam(u"KEY", u"upper");
  table.SetParam(u" Key", u"blank");
  table.SetParam(u"\U0001F600", u"astral");
  EXPECT_EQ(table.CountParams(), 4);
  std::u16string value;
  EXPECT_EQ(table.GetParam(u"Key", value), 0);
  EXPECT_EQ(value, u"lower");
  EXPECT_EQ(table.GetParam(u"KEY", value), 0);
  EXPECT_EQ(value, u"upper");
  EXPECT_EQ(table.GetParam(u"key", value), 1);
  EXPECT_EQ(table.GetParam(u"\U0001F600", value), 0);
  EXPECT_EQ(value, u"astral");
}

TEST(ParamTable, HoldsExactlyOneHundredKeys) {
  CParamTable table;
  for (int i = 0; i < CParamTable::kCapacity; ++i) {
    ASSERT_EQ(table.SetParam(Key(i), u"v"), 0) << i;
  }
  const std::u16string full = table.BuildParamText();
  EXPECT_EQ(table.SetParam(u"ONE_MORE", u"v"), 1);
  EXPECT_EQ(table.SetParam(u"", u"v"), 1);
  EXPECT_EQ(table.CountParams(), 100);
  EXPECT_EQ(table.BuildParamText(), full);
  std::u16string value;
  EXPECT_EQ(table.GetParam(u"ONE_MORE", value), 1);

  // A key already held is still replaced, in its own slot; the last slot is reachable too.
  EXPECT_EQ(table.SetParam(Key(99), u"last"), 0);
  EXPECT_EQ(table.SetParam(Key(0), u"first"), 0);
  EXPECT_EQ(table.GetParam(Key(99), value), 0);
  EXPECT_EQ(value, u"last");
  const std::u16string text = table.BuildParamText();
  EXPECT_EQ(text.substr(0, Key(0).size() + 7), Key(0) + u"=first@");
  EXPECT_EQ(text.substr(text.size() - 5), u"=last");
}

TEST(ParamTable, EmptyKeyHoldsFirstEmptySlotUntilARealKeyTakesIt) {
  CParamTable table;
  table.SetParam(u"A", u"1");
  EXPECT_EQ(table.SetParam(u"", u"hidden"), 0);
  EXPECT_EQ(table.CountParams(), 1);
  EXPECT_EQ(table.BuildParamText(), u"A=1");
  std::u16string value;
  EXPECT_EQ(table.GetParam(u"", value), 0);
  EXPECT_EQ(value, u"hidden");

  // A lookup stops at the first empty slot, so a real key takes the empty-key slot over.
  EXPECT_EQ(table.SetParam(u"K", u"v"), 0);
  EXPECT_EQ(table.BuildParamText(), u"A=1@@@K=v");
  EXPECT_EQ(table.GetParam(u"", value), 0);
  EXPECT_EQ(value, u"");
  EXPECT_EQ(table.GetParam(u"K", value), 0);
  EXPECT_EQ(value, u"v");
}

}  // namespace
