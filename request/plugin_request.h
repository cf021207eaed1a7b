// A request to a plugin library: name, plugin path, parameters, and the message text that carries
// it.
#pragma once

#include <cstdint>
#include <string>

#include "param_table.h"

// The statuses Execute reports itself, before any plugin call. A plugin's RequestService may return
// the same values; the caller cannot tell them apart.
enum ExecuteStatus : int {
  kExecuteNoName = 1,         // the request name is empty
  kExecuteNotLoaded = 2,      // the plugin library could not be loaded
  kExecuteNoPath = 3,         // the plugin path is empty
  kExecuteNoEntryPoints = 4,  // the library lacks Initialize, RequestService or Release
};

// Message text: fields separated by "@@@"; the first field is the request name, every further field
// is key=value split at its first "=". Nothing is escaped, so a name may not hold "@@@", a key may
// not hold "=" or "@@@", a value may not hold "@@@", and a leading or trailing "@" can run into a
// separator and change the split.
class CPluginRequest : public CParamTable {
 public:
  // An empty request: no name, no plugin path, no parameters, the default settings.
  CPluginRequest();

  // A request record read from a message text. Never fails: a text without a separator is all
  // name; more than 100 distinct keys are dropped. Runs in time linear in the text's length.
  explicit CPluginRequest(std::u16string text);

  CPluginRequest(const CPluginRequest&) = default;
  CPluginRequest& operator=(const CPluginRequest&) = default;
  CPluginRequest(CPluginRequest&&) = default;
  CPluginRequest& operator=(CPluginRequest&&) = default;
  ~CPluginRequest() override;

  void SetRequestName(std::u16string name);
  const std::u16string& GetRequestName() const { return requestName; }
  void SetPluginPath(std::u16string path);

  // The message text of this request: the name alone, or name@@@key=value@@@... when parameters are
  // set. Sets emptyName to 1 and returns the empty text when the name is empty, else sets it to 0.
  std::u16string BuildRequestText(int& emptyName) const;

  // Carries this request to the plugin library at pluginPath: loads it, calls Initialize with a
  // copy of the message text, RequestService with the text itself, copies the text into reply,
  // calls Release with a copy of the reply and unloads the library. Returns what RequestService
  // returned, or, before any plugin call and with reply left untouched, the first of these that
  // applies, checked in this order:
  //   3  kExecuteNoPath: pluginPath is empty
  //   1  kExecuteNoName: the request name is empty
  //   2  kExecuteNotLoaded: the library could not be loaded
  //   4  kExecuteNoEntryPoints: the library lacks an entry point (it is unloaded again)
  // A plugin may itself return 1 to 4.
  int Execute(std::u16string& reply) const;

 private:
  std::u16string requestName;
  std::u16string pluginPath;
  // Carried settings that nothing in the system reads; set by the default constructor only.
  std::u16string logDirectory;
  std::u16string secondSetting;
  std::int32_t firstIntSetting = 0;
  std::int32_t secondIntSetting = 0;
  std::int32_t thirdIntSetting = 0;
};
