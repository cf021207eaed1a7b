// Tests of plugin invocation: loading a real plugin library, calling it and taking its reply.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "record_file.h"
#include "request/plugin_contract.h"
#include "request/plugin_request.h"
#include "stand_in_replies.h"
#include "stand_ins.h"
#include "temp_folder.h"

namespace {

using test_support::RecordLine;
using test_support::StandInText;

constexpr char16_t kSentinel[] = u"reply left alone";

CPluginRequest MakeRequest(const std::u16string& path, const std::u16string& name) {
  CPluginRequest request;
  request.SetPluginPath(path);
  request.SetRequestName(name);
  request.SetParam(u"KEY", u"value");
  return request;
}

TEST(Execute, FailsBeforeTheCallInTheOrderOfItsChecks) {
  // The plugin without Release is the recorder built without it: a call to any of its entry
  // points would show in the record.
  const test_support::ScopedRecordFile record;
  const test_support::TempFolder folder;
  // A file that only looks like a library.
  const std::filesystem::path fakeLibrary =
      folder.Write("not_a_library.so", "this is text, not a library\n");

  const std::u16string recorder = StandInText("stand_in_plugin_recorder");
  const std::u16string noRelease = StandInText("stand_in_plugin_no_release");
  const std::u16string missing = (folder.path() / "no_such_plugin.so").u16string();
  struct Case {
    const char* what;
    std::u16string path;
    std::u16string name;
    int status;
  };
  const std::vector<Case> cases = {
      {"no path and no name", u"", u"", 3},
      {"no path", u"", u"N", 3},
      {"no name, a working plugin", recorder, u"", 1},
      {"no name, a missing library", missing, u"", 1},
      {"no name, a plugin without Release", noRelease, u"", 1},
      {"a missing library", missing, u"N", 2},
      {"a file that is no library", fakeLibrary.u16string(), u"N", 2},
      {"a folder", folder.path().u16string(), u"N", 2},
      {"a path that is not valid UTF-16", u"\xD800.so", u"N", 2},
      {"a plugin without Release", noRelease, u"N", 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const CPluginRequest request = MakeRequest(c.path, c.name);
    std::u16string reply = kSentinel;
    EXPECT_EQ(request.Execute(reply), c.status);
    EXPECT_EQ(reply, kSentinel);
    EXPECT_TRUE(record.Lines().empty());
  }
}

TEST(Execute, CallsTheThreeEntryPointsInOrderAndReturnsThePluginsStatus) {
  const test_support::ScopedRecordFile record;

  // fixed_reply replaces the text: Initialize and RequestService see the request, Release the
  // reply.
  const CPluginRequest fixed = MakeRequest(StandInText("stand_in_plugin_fixed_reply"), u"Start");
  std::u16string reply = kSentinel;
  EXPECT_EQ(fixed.Execute(reply), stand_in::kFixedReplyStatus);
  EXPECT_EQ(reply, stand_in::kFixedReply);
  EXPECT_EQ(record.Lines(), (std::vector<std::string>{
                                RecordLine(1, kInitializeEntry, u"Start@@@KEY=value"),
                                RecordLine(2, kRequestServiceEntry, u"Start@@@KEY=value"),
                                RecordLine(3, kReleaseEntry, stand_in::kFixedReply),
                            }));

  // A plugin that leaves the text alone gives the request back as the reply, with its status 0.
  for (const char* plugin : {"stand_in_plugin_unchanged", "stand_in_plugin_recorder"}) {
    SCOPED_TRACE(plugin);
    record.Clear();
    CPluginRequest request;
    request.SetPluginPath(StandInText(plugin));
    request.SetRequestName(u"Name only");
    reply = kSentinel;
    EXPECT_EQ(request.Execute(reply), 0);
    EXPECT_EQ(reply, u"Name only");

    request.SetParam(u"A", u"1");
    request.SetParam(u"B", u"x=y");
    reply = kSentinel;
    EXPECT_EQ(request.Execute(reply), 0);
    EXPECT_EQ(reply, u"Name only@@@A=1@@@B=x=y");
  }
  // Each Execute loads the library afresh: the recorder's call count starts again at 1, and
  // Initialize comes once per request.
  EXPECT_EQ(record.Lines(), (std::vector<std::string>{
                                RecordLine(1, kInitializeEntry, u"Name only"),
                                RecordLine(2, kRequestServiceEntry, u"Name only"),
                                RecordLine(3, kReleaseEntry, u"Name only"),
                                RecordLine(1, kInitializeEntry, u"Name only@@@A=1@@@B=x=y"),
                                RecordLine(2, kRequestServiceEntry, u"Name only@@@A=1@@@B=x=y"),
                                RecordLine(3, kReleaseEntry, u"Name only@@@A=1@@@B=x=y"),
                            }));
}

TEST(Execute, RecordsEachCallOnOneLine) {
  const test_support::ScopedRecordFile record;
  CPluginRequest request;
  request.SetPluginPath(StandInText("stand_in_plugin_recorder"));
  request.SetRequestName(u"C:\\dir\\");
  request.SetParam(u"K", u"two\nlines\ttab \u00E9\U0001F600");
  std::u16string reply;
  ASSERT_EQ(request.Execute(reply), 0);
  const std::string text = "C:\\\\dir\\\\@@@K=two\\nlines\ttab \xC3\xA9\xF0\x9F\x98\x80";
  EXPECT_EQ(record.Lines(),
            (std::vector<std::string>{"1\tInitialize\t" + text, "2\tRequestService\t" + text,
                                      "3\tRelease\t" + text}));

  // Text that is not valid UTF-16 is recorded as "?".
  record.Clear();
  request.SetParam(u"K", u"\xDC00");
  ASSERT_EQ(request.Execute(reply), 0);
  EXPECT_EQ(record.Lines(), (std::vector<std::string>{"1\tInitialize\t?", "2\tRequestService\t?",
                                                      "3\tRelease\t?"}));
}

TEST(Execute, BringsBackAReplyOfOneMebibyteWhole) {
  const CPluginRequest request = MakeRequest(StandInText("stand_in_plugin_long_reply"), u"Long");
  const std::u16string expected = stand_in::kLongReplyHead + stand_in::LongMessage();
  for (int run = 0; run < 2; ++run) {
    std::u16string reply = kSentinel;
    EXPECT_EQ(request.Execute(reply), stand_in::kLongReplyStatus);
    ASSERT_EQ(reply.size(), expected.size());
    EXPECT_TRUE(reply == expected);  // not EXPECT_EQ: a mismatch would print two megabytes
  }
}

TEST(Execute, LoadsPathsWrittenInTheSystemsForm) {
  const test_support::ScopedRecordFile record;
  // Backslashes separate the folders.
  std::u16string backslashed = StandInText("stand_in_plugin_recorder");
  std::replace(backslashed.begin(), backslashed.end(), u'/', u'\\');
  CPluginRequest request = MakeRequest(backslashed, u"Backslashes");
  std::u16string reply;
  EXPECT_EQ(request.Execute(reply), 0);
  EXPECT_EQ(reply, u"Backslashes@@@KEY=value");

  // ".\" names the current directory.
  const std::filesystem::path plugin = test_support::StandInLibrary("stand_in_plugin_recorder");
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(plugin.parent_path());
  request.SetPluginPath(u".\\" + plugin.filename().u16string());
  request.SetRequestName(u"Relative");
  reply.clear();
  const int status = request.Execute(reply);
  std::filesystem::current_path(previous);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(reply, u"Relative@@@KEY=value");

  EXPECT_EQ(record.Lines().size(), 6U);
}

}  // namespace
