// Our own reader of the profile-file format, in memory: bytes to text, text to one value.
#include "profile_parser.h"

#include <algorithm>
#include <utility>

#include "platform/text.h"

namespace platform {

namespace {

// An undecodable byte b (always >= 0x80) becomes U+DC00 + b, that is U+DC80..U+DCFF.
constexpr char16_t kEscapeBase = 0xDC00;

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\v';
}

std::u16string_view TrimBlanks(std::u16string_view s) {
  while (!s.empty() && IsBlank(s.front())) {
    s.remove_prefix(1);
  }
  while (!s.empty() && IsBlank(s.back())) {
    s.remove_suffix(1);
  }
  return s;
}

std::u16string_view TrimSpaces(std::u16string_view s) {
  while (!s.empty() && s.front() == u' ') {
    s.remove_prefix(1);
  }
  while (!s.empty() && s.back() == u' ') {
    s.remove_suffix(1);
  }
  return s;
}

char16_t FoldAsciiCase(char16_t c) {
  return c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c;
}

bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return FoldAsciiCase(x) == FoldAsciiCase(y); });
}

bool IsWellFormed(std::u16string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] >= 0xD800 && s[i] <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      ++i;
    } else if (s[i] >= 0xD800 && s[i] <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

// Decodes UTF-8, escaping undecodable bytes. Unless final, a sequence cut off by the end of in is
// left alone. Returns the number of bytes consumed.
std::size_t DecodeUtf8(std::string_view in, bool final, std::u16string& out) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(in.data());
  std::size_t i = 0;
  while (i < in.size()) {
    const std::size_t length = Utf8SequenceLength(bytes[i]);
    if (length == 1) {
      out += static_cast<char16_t>(bytes[i]);
      ++i;
      continue;
    }
    const bool complete = in.size() - i >= length;
    if (length > 1 && !complete && !final) {
      break;
    }
    char32_t c = 0;
    if (length > 1 && complete && DecodeUtf8Sequence(in.substr(i, length), c)) {
      AppendUtf16(c, out);
      i += length;
    } else {
      out += static_cast<char16_t>(kEscapeBase + bytes[i]);
      ++i;
    }
  }
  return i;
}

std::size_t DecodeUtf16(std::string_view in, bool bigEndian, std::u16string& out) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(in.data());
  std::size_t i = 0;
  for (; in.size() - i >= 2; i += 2) {
    const unsigned first = bytes[i];
    const unsigned second = bytes[i + 1];
    out += static_cast<char16_t>(bigEndian ? (first << 8U) | second : (second << 8U) | first);
  }
  return i;
}

}  // namespace

void ProfileDecoder::Feed(std::string_view bytes) {
  // Complete a held-back sequence (at most three bytes) one byte at a time, so that a large
  // piece is never copied.
  while (!pending_.empty() && !bytes.empty()) {
    std::string work = std::move(pending_);
    pending_.clear();
    work += bytes.front();
    bytes.remove_prefix(1);
    Consume(work, false);
  }
  if (!bytes.empty()) {
    Consume(bytes, false);
  }
}

std::u16string ProfileDecoder::Finish() {
  std::string work = std::move(pending_);
  pending_.clear();
  Consume(work, true);
  return std::move(text_);
}

void ProfileDecoder::Consume(std::string_view bytes, bool final) {
  if (encoding_ == Encoding::kUnknown) {
    if (!final && bytes.size() < 3) {
      pending_.assign(bytes);
      return;
    }
    if (bytes.starts_with("\xFF\xFE")) {
      encoding_ = Encoding::kUtf16Le;
      bytes.remove_prefix(2);
    } else if (bytes.starts_with("\xFE\xFF")) {
      encoding_ = Encoding::kUtf16Be;
      bytes.remove_prefix(2);
    } else {
      encoding_ = Encoding::kUtf8;
      if (bytes.starts_with("\xEF\xBB\xBF")) {
        bytes.remove_prefix(3);
      }
    }
    text_.reserve(encoding_ == Encoding::kUtf8 ? expectedBytes_ : expectedBytes_ / 2);
  }
  const std::size_t used = encoding_ == Encoding::kUtf8
                               ? DecodeUtf8(bytes, final, text_)
                               : DecodeUtf16(bytes, encoding_ == Encoding::kUtf16Be, text_);
  if (!final) {
    pending_.assign(bytes.substr(used));
  }
}

std::optional<std::u16string_view> FindProfileValue(std::u16string_view text,
                                                    std::u16string_view section,
                                                    std::u16string_view key) {
  // Spaces around the queried names are ignored. A name with a lone surrogate could only match
  // an escaped undecodable byte, which must never match.
  section = TrimSpaces(section);
  key = TrimSpaces(key);
  if (!IsWellFormed(section) || !IsWellFormed(key)) {
    return std::nullopt;
  }
  // Lines before the first header belong to no section, so no query finds them.
  bool inSection = false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    // CR, LF and CRLF all end a line; CRLF just leaves an empty line between, which is ignored.
    const std::size_t end = std::min(text.find_first_of(u"\r\n", pos), text.size());
    const std::u16string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    std::size_t first = 0;
    while (first < line.size() && IsBlank(line[first])) {
      ++first;
    }
    if (first == line.size()) {
      continue;
    }
    if (line[first] == u'[') {
      // Only the first occurrence of a section is searched: its end is the end of the search.
      if (inSection) {
        return std::nullopt;
      }
      // The name ends at the first "]" (the rest of the line is ignored), or at the end of the
      // line when there is none.
      std::u16string_view name = line.substr(first + 1);
      name = name.substr(0, name.find(u']'));
      inSection = EqualsIgnoringAsciiCase(TrimBlanks(name), section);
      continue;
    }
    // ";" opens a comment line, even with "=" in it; "#" does not.
    if (!inSection || line[first] == u';') {
      continue;
    }
    // The key is the text before the first "="; a line without "=" defines no key.
    const std::size_t eq = line.find(u'=');
    if (eq == std::u16string_view::npos ||
        !EqualsIgnoringAsciiCase(TrimBlanks(line.substr(0, eq)), key)) {
      continue;
    }
    // The first occurrence of a key wins. Its value is literal: it ends at a NUL, loses the
    // blanks around it and then one pair of enclosing quotes of the same kind.
    std::u16string_view value = line.substr(eq + 1);
    value = TrimBlanks(value.substr(0, value.find(u'\0')));
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return value;
  }
  return std::nullopt;
}

std::u16string_view TrimProfileDefault(std::u16string_view defaultValue) {
  while (!defaultValue.empty() && defaultValue.back() == u' ') {
    defaultValue.remove_suffix(1);
  }
  return defaultValue;
}

std::size_t CopyProfileResult(std::u16string_view text, char16_t* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) {
    return 0;
  }
  const std::size_t count = std::min(text.size(), size - 1);
  std::copy_n(text.data(), count, buffer);
  buffer[count] = u'\0';
  return count;
}

}  // namespace platform
