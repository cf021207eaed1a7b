// A request to a plugin library: building and parsing its message text, and carrying it to the
// plugin.
#include "plugin_request.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/library.h"
#include "plugin_contract.h"

namespace {

// Positions in a text; -1 stands for "absent", as the searches report it.
using Pos = std::ptrdiff_t;

// Substring of at most count units from first: a negative first or count counts as 0, the count is
// cut at the end of the text, and a first position past the end gives the empty text.
std::u16string_view Mid(std::u16string_view text, Pos first, Pos count) {
  const auto length = static_cast<Pos>(text.size());
  first = std::max<Pos>(first, 0);
  count = std::max<Pos>(count, 0);
  if (first >= length) {
    return {};
  }
  return text.substr(static_cast<std::size_t>(first),
                     static_cast<std::size_t>(std::min(count, length - first)));
}

// Position of the first occurrence of what at or after from, or -1.
Pos Find(std::u16string_view text, std::u16string_view what, Pos from) {
  if (from > static_cast<Pos>(text.size())) {
    return -1;
  }
  const std::size_t at = text.find(what, static_cast<std::size_t>(from));
  return at == std::u16string_view::npos ? -1 : static_cast<Pos>(at);
}

// Finds the first "=" at or after a position that never decreases between calls. It remembers the
// last answer, so a text whose fields lack "=" is scanned once rather than once per field.
class EqualsFinder {
 public:
  explicit EqualsFinder(std::u16string_view text) : text_(text) {}

  Pos From(Pos pos) {
    if (known_ == kUnknown || (known_ >= 0 && known_ < pos)) {
      known_ = Find(text_, u"=", pos);
    }
    return known_;
  }

 private:
  static constexpr Pos kUnknown = -2;
  std::u16string_view text_;
  Pos known_ = kUnknown;
};

}  // namespace

CPluginRequest::CPluginRequest()
    : logDirectory(u"..\\log"), firstIntSetting(7), secondIntSetting(2048), thirdIntSetting(3) {}

// Fields are split at each "@@@"; the search after a separator at f resumes at f + 1, inside the
// separator, and a field's key starts at f + 3. A field's "=" is the first one at or after its
// start, even when that lies in a later field.
//
// Two shortcuts keep the parse linear without changing its result. A store under the empty key only
// matters if it is the last one before the end and no new slot is taken after it (a new key takes
// over that same empty slot), so it is held back as a view and written once at the end. A new key
// that finds no free slot is dropped before its text is copied.
CPluginRequest::CPluginRequest(std::u16string text) {
  const std::u16string_view whole = text;
  const std::u16string separator = GetSeparator();
  const auto length = static_cast<Pos>(whole.size());
  EqualsFinder equals(whole);
  std::optional<std::u16string_view> emptyKeyValue;

  const auto storeField = [&](Pos pos, Pos end) {
    const Pos eq = equals.From(pos);
    const std::u16string_view key = Mid(whole, pos + 2, eq - pos - 2);
    const std::u16string_view value = Mid(whole, eq + 1, end - eq - 1);
    if (key.empty()) {
      emptyKeyValue = value;
      return;
    }
    const int slot = FindSlot(key);
    if (slot < 0) {
      return;
    }
    if (IsEmptySlot(slot)) {
      emptyKeyValue.reset();
    }
    StoreAt(slot, std::u16string(key), std::u16string(value));
  };

  Pos pos = 0;
  bool anySeparator = false;
  for (Pos f = Find(whole, separator, pos); f >= 0; f = Find(whole, separator, pos)) {
    if (!anySeparator) {
      requestName = Mid(whole, pos, f);
      anySeparator = true;
    } else {
      storeField(pos, f);
    }
    pos = f + 1;
  }

  if (!anySeparator) {
    requestName = std::move(text);
    return;
  }
  storeField(pos, length);
  if (emptyKeyValue) {
    SetParam(std::u16string(), std::u16string(*emptyKeyValue));
  }
}

CPluginRequest::~CPluginRequest() = default;

void CPluginRequest::SetRequestName(std::u16string name) {
  requestName = std::move(name);
}

void CPluginRequest::SetPluginPath(std::u16string path) {
  pluginPath = std::move(path);
}

std::u16string CPluginRequest::BuildRequestText(int& emptyName) const {
  emptyName = 0;
  if (requestName.empty()) {
    emptyName = 1;
    return {};
  }
  if (CountParams() > 0) {
    return requestName + GetSeparator() + BuildParamText();
  }
  return requestName;
}

int CPluginRequest::Execute(std::u16string& reply) const {
  if (pluginPath.empty()) {
    return kExecuteNoPath;
  }
  int emptyName = 0;
  std::u16string text = BuildRequestText(emptyName);
  if (emptyName == 1) {
    return kExecuteNoName;
  }

  const platform::ScopedLibrary library(platform::LoadLibraryAt(pluginPath));
  if (!library) {
    return kExecuteNotLoaded;
  }
  const auto initialize = reinterpret_cast<PluginInitializeFn>(
      platform::FindEntryPoint(library.get(), kInitializeEntry));
  const auto requestService = reinterpret_cast<PluginRequestServiceFn>(
      platform::FindEntryPoint(library.get(), kRequestServiceEntry));
  const auto release =
      reinterpret_cast<PluginReleaseFn>(platform::FindEntryPoint(library.get(), kReleaseEntry));
  if (initialize == nullptr || requestService == nullptr || release == nullptr) {
    return kExecuteNoEntryPoints;
  }

  initialize(text);
  const int status = requestService(text);
  reply = text;
  release(reply);
  // The text may hold memory the plugin allocated; give it back while the library is still loaded.
  // Swapping is needed: assigning an empty text would keep the old buffer.
  std::u16string().swap(text);
  return status;
}
