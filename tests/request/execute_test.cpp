// Tests of plugin invocation: loading a real plugin library, calling it and taking its reply.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/library.h"
#include "request/plugin_contract.h"
#include "request/plugin_request.h"
#include "stand_in_plugins.h"

namespace {

using stand_in::Line;
using stand_in::Wide;

constexpr char16_t kSentinel[] = u"reply left alone";

CPluginRequest MakeRequest(const std::u16string& path, const std::u16string& name) {
  CPluginRequest request;
  request.SetPluginPath(path);
  request.SetRequestName(name);
  request.SetParam(u"KEY", u"value");
  return request;
}

TEST(Execute, FailsBeforeTheCallInTheOrderOfItsChecks) {
  const stand_in::ScopedRecordFile record;
  const std::filesystem::path folder = std::filesystem::temp_directory_path();
  // A file that only looks like a library.
  const std::filesystem::path fakeLibrary =
      folder / ("dhcp_not_a_library_" + std::to_string(std::random_device()()) + ".so");
  std::ofstream(fakeLibrary) << "this is text, not a library\n";

  const std::u16string recorder = Wide(stand_in::kRecorderPlugin);
  const std::u16string noRelease = Wide(stand_in::kNoReleasePlugin);
  const std::u16string missing = Wide((folder / "dhcp_no_such_plugin.so").string());
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
      {"a file that is no library", Wide(fakeLibrary.string()), u"N", 2},
      {"a folder", Wide(folder.string()), u"N", 2},
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
  std::filesystem::remove(fakeLibrary);

  // The plugin without Release records the calls it gets, so the record checks above can fail.
  {
    const platform::ScopedLibrary library(platform::LoadLibraryAt(noRelease));
    ASSERT_TRUE(library);
    EXPECT_EQ(platform::FindEntryPoint(library.get(), kReleaseEntry), nullptr);
    const auto initialize = reinterpret_cast<PluginInitializeFn>(
        platform::FindEntryPoint(library.get(), kInitializeEntry));
    ASSERT_NE(initialize, nullptr);
    initialize(u"called directly");
  }
  EXPECT_EQ(record.Lines(),
            std::vector<std::string>{Line(1, kInitializeEntry, u"called directly")});
}

TEST(Execute, CallsTheThreeEntryPointsInOrderAndReturnsThePluginsStatus) {
  const stand_in::ScopedRecordFile record;

  // fixed_reply replaces the text: Initialize and RequestService see the request, Release the
  // reply.
  const CPluginRequest fixed = MakeRequest(Wide(stand_in::kFixedReplyPlugin), u"Start");
  std::u16string reply = kSentinel;
  EXPECT_EQ(fixed.Execute(reply), stand_in::kFixedReplyStatus);
  EXPECT_EQ(reply, stand_in::kFixedReply);
  EXPECT_EQ(record.Lines(), (std::vector<std::string>{
                                Line(1, kInitializeEntry, u"Start@@@KEY=value"),
                                Line(2, kRequestServiceEntry, u"Start@@@KEY=value"),
                                Line(3, kReleaseEntry, stand_in::kFixedReply),
                            }));

  // A plugin that leaves the text alone gives the request back as the reply, with its status 0.
  for (const char* path : {stand_in::kUnchangedPlugin, stand_in::kRecorderPlugin}) {
    SCOPED_TRACE(path);
    record.Clear();
    CPluginRequest request;
    request.SetPluginPath(Wide(path));
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
                                Line(1, kInitializeEntry, u"Name only"),
                                Line(2, kRequestServiceEntry, u"Name only"),
                                Line(3, kReleaseEntry, u"Name only"),
                                Line(1, kInitializeEntry, u"Name only@@@A=1@@@B=x=y"),
                                Line(2, kRequestServiceEntry, u"Name only@@@A=1@@@B=x=y"),
                                Line(3, kReleaseEntry, u"Name only@@@A=1@@@B=x=y"),
                            }));
}

TEST(Execute, RecordsEachCallOnOneLine) {
  const stand_in::ScopedRecordFile record;
  CPluginRequest request;
  request.SetPluginPath(Wide(stand_in::kRecorderPlugin));
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
  const CPluginRequest request = MakeRequest(Wide(stand_in::kLongReplyPlugin), u"Long");
  const std::u16string expected = stand_in::kLongReplyHead + stand_in::LongMessage();
  for (int run = 0; run < 2; ++run) {
    std::u16string reply = kSentinel;
    EXPECT_EQ(request.Execute(reply), stand_in::kLongReplyStatus);
    ASSERT_EQ(reply.size(), expected.size());
    EXPECT_TRUE(reply == expected);  // not EXPECT_EQ: a mismatch would print two megabytes
  }
}

TEST(Execute, LoadsPathsWrittenInTheSystemsForm) {
  const stand_in::ScopedRecordFile record;
  // Backslashes separate the folders.
  std::u16string backslashed = Wide(stand_in::kRecorderPlugin);
  std::replace(backslashed.begin(), backslashed.end(), u'/', u'\\');
  CPluginRequest request = MakeRequest(backslashed, u"Backslashes");
  std::u16string reply;
  EXPECT_EQ(request.Execute(reply), 0);
  EXPECT_EQ(reply, u"Backslashes@@@KEY=value");

  // ".\" names the current directory.
  const std::filesystem::path plugin = std::filesystem::path(stand_in::kRecorderPlugin);
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(plugin.parent_path());
  request.SetPluginPath(u".\\" + Wide(plugin.filename().string()));
  request.SetRequestName(u"Relative");
  reply.clear();
  const int status = request.Execute(reply);
  std::filesystem::current_path(previous);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(reply, u"Relative@@@KEY=value");

  EXPECT_EQ(record.Lines().size(), 6U);
}

}  // namespace
