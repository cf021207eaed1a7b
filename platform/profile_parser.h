// Our own reader of the profile-file format, on text fed in pieces: bytes to text, text to values
// and names. It holds no operating-system code; the POSIX backend reads settings files with it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace platform {

// The longest section or key name the listings hand back, in UTF-16 units. A longer name is left
// out: no sound settings file has one, and holding it would let a single long line take memory
// in proportion to the file.
constexpr std::size_t kProfileNameLimit = 1024;

// How a profile file's first bytes say it is encoded: FF FE is UTF-16LE, FE FF is UTF-16BE,
// EF BB BF is UTF-8 with a byte-order mark, anything else is UTF-8 without one.
enum class ProfileEncoding { kUtf8, kUtf8WithMark, kUtf16Le, kUtf16Be };

// The encoding the start of a file tells (its first three bytes, or all of a shorter file).
ProfileEncoding ProfileEncodingOf(std::string_view start);

// The length in bytes of the byte-order mark of encoding (0 when it has none).
std::size_t ByteOrderMarkLength(ProfileEncoding encoding);

// Turns the bytes of a profile file into text, fed in pieces of any size, so that a file is read
// once, in chunks, without ever being held whole. The first bytes choose the encoding: FF FE is
// UTF-16LE, FE FF is UTF-16BE, EF BB BF is UTF-8 without that mark, anything else is UTF-8. A
// lone last byte of a UTF-16 file is dropped. Valid UTF-8 decodes exactly; each byte that does
// not belong to a well-formed sequence becomes the lone surrogate U+DC80 + (byte - 0x80), so
// damage stays inside its line, never changes line structure and never matches a well-formed
// name. Holds at most three bytes between pieces.
class ProfileDecoder {
 public:
  // Decodes the next piece, appending its text to out. A sequence cut off by the end of the piece
  // waits for the next one.
  void Feed(std::string_view bytes, std::u16string& out);

  // Ends the input, appending the text of what was held back. The decoder is spent afterwards.
  void Finish(std::u16string& out);

 private:
  void Consume(std::string_view bytes, bool final, std::u16string& out);

  std::optional<ProfileEncoding> encoding_;  // none until the file's first bytes are seen
  std::string pending_;  // the file's first bytes until the mark is known, or a cut-off sequence
};

// What a ProfileScanner finds in a profile text, reported line by line in file order.
class ProfileVisitor {
 public:
  enum class Next { kStop, kSkipKeys, kReadKeys };

  virtual ~ProfileVisitor() = default;

  // A section header with its name trimmed of blanks. cut tells that the name is longer than the
  // scanner's name limit: name then holds its first units only and must match nothing. The result
  // stops the scan, or says whether the key lines up to the next header are wanted.
  virtual Next OnSection(std::u16string_view name, bool cut) = 0;

  // A key line of a section whose keys are wanted, with its key trimmed of blanks and cut as
  // above. Returns true to be handed the value next.
  virtual bool OnKey(std::u16string_view name, bool cut) = 0;

  // The value of the key OnKey took: trimmed of blanks, without one pair of enclosing quotes,
  // ending at a NUL. cut tells that it is longer than the value limit and holds its first units
  // only. Returns false to stop the scan.
  virtual bool OnValue(std::u16string_view value, bool cut) = 0;
};

// Walks a profile text fed in pieces of any size, in one pass and in memory bounded by the two
// limits (not by the size of the text or of any line), and tells a visitor what it finds.
class ProfileScanner {
 public:
  ProfileScanner(ProfileVisitor& visitor, std::size_t nameLimit, std::size_t valueLimit);

  // Scans the next piece. Returns false once the visitor has stopped the scan; later pieces are
  // then ignored.
  bool Feed(std::u16string_view text);

  // Ends the text; a last line without a line end is reported like any other.
  void Finish();

 private:
  // One piece of a line as the format trims it: blanks dropped at both ends, its first limit
  // units kept, its length counted.
  class Piece {
   public:
    explicit Piece(std::size_t limit) : limit_(limit) {}
    void Clear();
    void Add(char16_t c);
    // True once the piece is known to be cut, whatever follows.
    bool Overflowing() const { return trimmedLength_ > limit_; }
    std::u16string_view Text() const;
    bool Cut() const { return trimmedLength_ > kept_.size(); }
    // The text without one pair of enclosing quotes of the same kind, and whether it is cut.
    std::u16string_view Unquoted(bool& cut) const;

   private:
    std::size_t limit_;
    std::u16string kept_;
    std::size_t length_ = 0;         // units after the leading blanks
    std::size_t trimmedLength_ = 0;  // the same without the trailing blanks
    char16_t last_ = 0;              // the last unit that is not a blank
  };

  enum class State { kLineStart, kHeader, kKey, kValue, kSkipLine, kStopped };

  void EndHeader();
  void EndValue();

  ProfileVisitor& visitor_;
  std::size_t valueLimit_;
  State state_ = State::kLineStart;
  bool readKeys_ = false;  // key lines before the first header belong to no section
  Piece name_;
  Piece value_;
};

// The value of key in section of a profile text, found as the platform's reader finds it, cut to
// valueLimit units. Names match whole and without regard to ASCII case; spaces around section and
// key are ignored. Returns nothing when the section or key is not there, and when section or key
// is not well-formed UTF-16 (a lone surrogate). Stops at the key's first occurrence or at the end
// of the section's first occurrence.
class ProfileValueSearch : public ProfileVisitor {
 public:
  ProfileValueSearch(std::u16string_view section, std::u16string_view key);

  // The scanner's name limit for this search: a longer name cannot match.
  std::size_t NameLimit() const;

  const std::optional<std::u16string>& Value() const { return value_; }

  Next OnSection(std::u16string_view name, bool cut) override;
  bool OnKey(std::u16string_view name, bool cut) override;
  bool OnValue(std::u16string_view value, bool cut) override;

 private:
  std::u16string section_;
  std::u16string key_;
  bool valid_;
  bool inSection_ = false;
  std::optional<std::u16string> value_;
};

// Names each listed once: a name that equals an earlier one without regard to ASCII case is left
// out, as a later occurrence is never found.
class DistinctNames {
 public:
  void Add(std::u16string_view name);
  // Takes the names added so far, in the order they came.
  std::vector<std::u16string> Take() { return std::move(names_); }

 private:
  std::unordered_set<std::u16string> seen_;  // the names added, in lower case
  std::vector<std::u16string> names_;
};

// Lists the section names of a profile text in file order, or the key names of one section (the
// first occurrence of a section, matched as ProfileValueSearch matches it), each name once. A name
// the scanner cut is left out.
class ProfileNameList : public ProfileVisitor {
 public:
  // Lists the sections.
  ProfileNameList() = default;
  // Lists the keys of section.
  explicit ProfileNameList(std::u16string_view section);

  std::vector<std::u16string> Take() { return names_.Take(); }

  // The scanner's name limit for this listing: kProfileNameLimit, or more for a longer section
  // asked for, so that it is still found.
  std::size_t NameLimit() const;

  Next OnSection(std::u16string_view name, bool cut) override;
  bool OnKey(std::u16string_view name, bool cut) override;
  bool OnValue(std::u16string_view value, bool cut) override;

 private:
  std::optional<std::u16string> section_;  // present when listing keys
  bool invalid_ = false;                   // the section asked for holds a lone surrogate
  bool inSection_ = false;
  DistinctNames names_;
};

// Scans a whole profile file given as bytes in memory, as the POSIX backend scans a file.
void ScanProfileBytes(std::string_view bytes, ProfileScanner& scanner);

// The value of key in section of a profile file given as bytes, cut to valueLimit units.
std::optional<std::u16string> FindProfileValue(std::string_view bytes, std::u16string_view section,
                                               std::u16string_view key,
                                               std::size_t valueLimit = std::u16string::npos);

// The default value as the platform's reader hands it back: without its trailing spaces (U+0020
// only; tabs and leading spaces stay).
std::u16string_view TrimProfileDefault(std::u16string_view defaultValue);

// Copies text into buffer of size units, cut to size - 1 units and terminated with a NUL.
// Returns the number of units copied, not counting the NUL. With size 0 or no buffer, returns 0
// and writes nothing.
std::size_t CopyProfileResult(std::u16string_view text, char16_t* buffer, std::size_t size);

}  // namespace platform
