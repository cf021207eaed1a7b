// The sections and keys of a settings file on POSIX, decoded by our own profile reader.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "check/profile_listing.h"
#include "platform/posix/profile_parser.h"
#include "platform/text.h"

namespace check {
namespace {

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\v';
}

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsBlank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
  const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

std::optional<std::u16string> ReadText(const std::u16string& path) {
  std::u16string posixPath = path;
  std::replace(posixPath.begin(), posixPath.end(), u'\\', u'/');
  std::string narrow;
  if (!platform::Utf16ToUtf8(posixPath, narrow)) {
    return std::nullopt;
  }
  std::ifstream file(narrow, std::ios::binary);
  if (!file) {
    return std::nullopt;
  }
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  platform::ProfileDecoder decoder(bytes.size());
  decoder.Feed(bytes);
  return decoder.Finish();
}

// Calls visit(section, key) for each key line and visit(section, nullopt) for each header.
template <typename Visit>
bool Walk(const std::u16string& path, Visit visit) {
  const std::optional<std::u16string> text = ReadText(path);
  if (!text) {
    return false;
  }
  std::optional<std::u16string_view> section;
  std::u16string_view rest = *text;
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find(u'\n'), rest.find(u'\r'));
    std::u16string_view line = Trim(rest.substr(0, end));
    rest.remove_prefix(end == std::u16string_view::npos ? rest.size() : end + 1);
    line = line.substr(0, line.find(u'\0'));
    if (!line.empty() && line.front() == u'[') {
      section = Trim(line.substr(1, line.find(u']') - 1));
      visit(*section, std::nullopt);
    } else if (section && !line.empty() && line.front() != u';' &&
               line.find(u'=') != std::u16string_view::npos) {
      visit(*section, std::optional(Trim(line.substr(0, line.find(u'=')))));
    }
  }
  return true;
}

}  // namespace

bool ListProfileSections(const std::u16string& path, std::vector<std::u16string>& sections) {
  return Walk(path, [&](std::u16string_view section, std::optional<std::u16string_view> key) {
    if (!key) {
      sections.emplace_back(section);
    }
  });
}

bool ListProfileKeys(const std::u16string& section, const std::u16string& path,
                     std::vector<std::u16string>& keys) {
  int seen = 0;  // headers of the section met so far: only the first one counts
  return Walk(path, [&](std::u16string_view name, std::optional<std::u16string_view> key) {
    if (!key) {
      seen += SameName(name, Trim(section)) ? 1 : 0;
    } else if (seen == 1 && SameName(name, Trim(section))) {
      keys.emplace_back(*key);
    }
  });
}

}  // namespace check
