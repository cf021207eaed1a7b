// Our own reader of the profile-file format: bytes to text, text to values and names, in pieces.
#include "platform/profile_parser.h"

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

bool IsLineEnd(char16_t c) {
  return c == u'\r' || c == u'\n';
}

// Whether a name of the file is the queried one: the query is trimmed of spaces beforehand, and a
// cut name or an invalid query matches nothing.
bool NameMatches(std::u16string_view name, bool cut, std::u16string_view query, bool valid) {
  return valid && !cut && EqualsIgnoringAsciiCase(name, query);
}

std::u16string FoldedName(std::u16string_view name) {
  std::u16string folded(name);
  std::transform(folded.begin(), folded.end(), folded.begin(), FoldAsciiCase);
  return folded;
}

}  // namespace

void ProfileDecoder::Feed(std::string_view bytes, std::u16string& out) {
  // Complete a held-back sequence (at most three bytes) one byte at a time, so that a large
  // piece is never copied.
  while (!pending_.empty() && !bytes.empty()) {
    std::string work = std::move(pending_);
    pending_.clear();
    work += bytes.front();
    bytes.remove_prefix(1);
    Consume(work, false, out);
  }
  if (!bytes.empty()) {
    Consume(bytes, false, out);
  }
}

void ProfileDecoder::Finish(std::u16string& out) {
  std::string work = std::move(pending_);
  pending_.clear();
  Consume(work, true, out);
}

ProfileEncoding ProfileEncodingOf(std::string_view start) {
  if (start.starts_with("\xFF\xFE")) {
    return ProfileEncoding::kUtf16Le;
  }
  if (start.starts_with("\xFE\xFF")) {
    return ProfileEncoding::kUtf16Be;
  }
  return start.starts_with("\xEF\xBB\xBF") ? ProfileEncoding::kUtf8WithMark
                                           : ProfileEncoding::kUtf8;
}

std::size_t ByteOrderMarkLength(ProfileEncoding encoding) {
  switch (encoding) {
    case ProfileEncoding::kUtf16Le:
    case ProfileEncoding::kUtf16Be:
      return 2;
    case ProfileEncoding::kUtf8WithMark:
      return 3;
    case ProfileEncoding::kUtf8:
      break;
  }
  return 0;
}

void ProfileDecoder::Consume(std::string_view bytes, bool final, std::u16string& out) {
  if (!encoding_) {
    if (!final && bytes.size() < 3) {
      pending_.assign(bytes);
      return;
    }
    encoding_ = ProfileEncodingOf(bytes);
    bytes.remove_prefix(ByteOrderMarkLength(*encoding_));
  }
  // A piece never decodes to more units than it has bytes.
  out.reserve(out.size() + bytes.size());
  const bool utf16 =
      *encoding_ == ProfileEncoding::kUtf16Le || *encoding_ == ProfileEncoding::kUtf16Be;
  const std::size_t used = utf16 ? DecodeUtf16(bytes, *encoding_ == ProfileEncoding::kUtf16Be, out)
                                 : DecodeUtf8(bytes, final, out);
  if (!final) {
    pending_.assign(bytes.substr(used));
  }
}

void ProfileScanner::Piece::Clear() {
  kept_.clear();
  length_ = 0;
  trimmedLength_ = 0;
  last_ = 0;
}

void ProfileScanner::Piece::Add(char16_t c) {
  if (length_ == 0 && IsBlank(c)) {
    return;
  }
  // Trailing blanks are kept like any unit; the trimmed length leaves them out at the end.
  if (kept_.size() < limit_) {
    kept_ += c;
  }
  ++length_;
  if (!IsBlank(c)) {
    trimmedLength_ = length_;
    last_ = c;
  }
}

std::u16string_view ProfileScanner::Piece::Text() const {
  return std::u16string_view(kept_).substr(0, trimmedLength_);
}

std::u16string_view ProfileScanner::Piece::Unquoted(bool& cut) const {
  // One pair of enclosing quotes of the same kind goes, after the blanks; blanks inside stay.
  if (trimmedLength_ >= 2 && !kept_.empty() && (kept_[0] == u'"' || kept_[0] == u'\'') &&
      last_ == kept_[0]) {
    const std::size_t inner = trimmedLength_ - 2;
    const std::u16string_view text = std::u16string_view(kept_).substr(1, inner);
    cut = inner > text.size();
    return text;
  }
  cut = Cut();
  return Text();
}

ProfileScanner::ProfileScanner(ProfileVisitor& visitor, std::size_t nameLimit,
                               std::size_t valueLimit)
    // A value keeps one unit more than it hands on, as an opening quote may yet go.
    : visitor_(visitor),
      valueLimit_(valueLimit),
      name_(nameLimit),
      value_(valueLimit == std::u16string::npos ? valueLimit : valueLimit + 1) {}

void ProfileScanner::EndHeader() {
  const ProfileVisitor::Next next = visitor_.OnSection(name_.Text(), name_.Cut());
  readKeys_ = next == ProfileVisitor::Next::kReadKeys;
  if (next == ProfileVisitor::Next::kStop) {
    state_ = State::kStopped;
  }
}

void ProfileScanner::EndValue() {
  bool cut = false;
  std::u16string_view value = value_.Unquoted(cut);
  if (value.size() > valueLimit_) {
    value = value.substr(0, valueLimit_);
    cut = true;
  }
  if (!visitor_.OnValue(value, cut)) {
    state_ = State::kStopped;
  }
}

bool ProfileScanner::Feed(std::u16string_view text) {
  const char16_t* at = text.data();
  const char16_t* const end = at + text.size();
  while (at != end && state_ != State::kStopped) {
    char16_t c = *at++;
    switch (state_) {
      case State::kLineStart:
        // CR, LF and CRLF all end a line; blank lines and the blanks opening a line are skipped.
        if (IsLineEnd(c) || IsBlank(c)) {
          break;
        }
        if (c == u'[') {
          name_.Clear();
          state_ = State::kHeader;
        } else if (c == u';' || !readKeys_) {
          // ";" opens a comment line, even with "=" in it; "#" does not. Key lines of a section
          // nobody asked for, and those before the first header, are passed over.
          state_ = State::kSkipLine;
        } else {
          name_.Clear();
          state_ = State::kKey;
          --at;  // the key starts here, and may be empty ("=value")
        }
        break;
      case State::kHeader:
        // The name ends at the first "]" (the rest of the line is ignored), or at the end of the
        // line when there is none.
        if (IsLineEnd(c)) {
          state_ = State::kLineStart;
          EndHeader();
        } else if (c == u']') {
          state_ = State::kSkipLine;
          EndHeader();
        } else {
          name_.Add(c);
        }
        break;
      case State::kKey:
        // The key is the text before the first "="; a line without "=" defines no key. A key
        // already too long to match anything only waits for its line's "=" or end.
        if (name_.Overflowing()) {
          --at;
          while (at != end && *at != u'=' && !IsLineEnd(*at)) {
            ++at;
          }
          if (at == end) {
            break;
          }
          c = *at++;
        }
        if (IsLineEnd(c)) {
          state_ = State::kLineStart;
        } else if (c == u'=') {
          if (visitor_.OnKey(name_.Text(), name_.Cut())) {
            value_.Clear();
            state_ = State::kValue;
          } else {
            state_ = State::kSkipLine;
          }
        } else {
          name_.Add(c);
        }
        break;
      case State::kValue:
        // Values are literal; a NUL ends one, and the rest of its line is ignored.
        if (IsLineEnd(c)) {
          state_ = State::kLineStart;
          EndValue();
        } else if (c == u'\0') {
          state_ = State::kSkipLine;
          EndValue();
        } else {
          value_.Add(c);
        }
        break;
      case State::kSkipLine:
        --at;
        while (at != end && !IsLineEnd(*at)) {
          ++at;
        }
        if (at != end) {
          state_ = State::kLineStart;
          ++at;
        }
        break;
      case State::kStopped:
        break;
    }
  }
  return state_ != State::kStopped;
}

void ProfileScanner::Finish() {
  if (state_ == State::kHeader) {
    EndHeader();
  } else if (state_ == State::kValue) {
    EndValue();
  }
  if (state_ != State::kStopped) {
    state_ = State::kLineStart;
  }
}

ProfileValueSearch::ProfileValueSearch(std::u16string_view section, std::u16string_view key)
    : section_(TrimSpaces(section)), key_(TrimSpaces(key)) {
  // A name with a lone surrogate could only match an escaped undecodable byte, which must never
  // match.
  valid_ = IsWellFormed(section_) && IsWellFormed(key_);
}

std::size_t ProfileValueSearch::NameLimit() const {
  return std::max(section_.size(), key_.size()) + 1;
}

ProfileVisitor::Next ProfileValueSearch::OnSection(std::u16string_view name, bool cut) {
  // Only the first occurrence of a section is searched: its end is the end of the search.
  if (inSection_) {
    return Next::kStop;
  }
  inSection_ = NameMatches(name, cut, section_, valid_);
  return inSection_ ? Next::kReadKeys : Next::kSkipKeys;
}

bool ProfileValueSearch::OnKey(std::u16string_view name, bool cut) {
  return NameMatches(name, cut, key_, valid_);
}

bool ProfileValueSearch::OnValue(std::u16string_view value, bool /*cut*/) {
  // The first occurrence of a key wins.
  value_.emplace(value);
  return false;
}

void DistinctNames::Add(std::u16string_view name) {
  if (seen_.insert(FoldedName(name)).second) {
    names_.emplace_back(name);
  }
}

ProfileNameList::ProfileNameList(std::u16string_view section) {
  const std::u16string_view query = TrimSpaces(section);
  if (IsWellFormed(query)) {
    section_.emplace(query);
  } else {
    section_.emplace();
    invalid_ = true;
  }
}

std::size_t ProfileNameList::NameLimit() const {
  return section_ ? std::max(kProfileNameLimit, section_->size() + 1) : kProfileNameLimit;
}

ProfileVisitor::Next ProfileNameList::OnSection(std::u16string_view name, bool cut) {
  if (!section_) {
    if (!cut) {
      names_.Add(name);
    }
    return Next::kSkipKeys;
  }
  if (inSection_) {
    return Next::kStop;
  }
  inSection_ = NameMatches(name, cut, *section_, !invalid_);
  return inSection_ ? Next::kReadKeys : Next::kSkipKeys;
}

bool ProfileNameList::OnKey(std::u16string_view name, bool cut) {
  if (!cut) {
    names_.Add(name);
  }
  return false;
}

bool ProfileNameList::OnValue(std::u16string_view /*value*/, bool /*cut*/) {
  return true;
}

void ScanProfileBytes(std::string_view bytes, ProfileScanner& scanner) {
  ProfileDecoder decoder;
  std::u16string text;
  decoder.Feed(bytes, text);
  decoder.Finish(text);
  scanner.Feed(text);
  scanner.Finish();
}

std::optional<std::u16string> FindProfileValue(std::string_view bytes, std::u16string_view section,
                                               std::u16string_view key, std::size_t valueLimit) {
  ProfileValueSearch search(section, key);
  ProfileScanner scanner(search, search.NameLimit(), valueLimit);
  ScanProfileBytes(bytes, scanner);
  return search.Value();
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
