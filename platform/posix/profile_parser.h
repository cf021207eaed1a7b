// Our own reader of the profile-file format, in memory: bytes to text, text to one value.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Turns the bytes of a profile file into text, fed in pieces of any size (the file is read once,
// in chunks, and never held twice). The first bytes choose the encoding: FF FE is UTF-16LE,
// FE FF is UTF-16BE, EF BB BF is UTF-8 without that mark, anything else is UTF-8. A lone last
// byte of a UTF-16 file is dropped. Valid UTF-8 decodes exactly; each byte that does not belong
// to a well-formed sequence becomes the lone surrogate U+DC80 + (byte - 0x80), so damage stays
// inside its line, never changes line structure and never matches a well-formed name.
class ProfileDecoder {
 public:
  // expectedBytes, when known, is the size of the file; it only sizes the text up front.
  explicit ProfileDecoder(std::size_t expectedBytes = 0) : expectedBytes_(expectedBytes) {}

  void Feed(std::string_view bytes);

  // Ends the input and hands over the text. The decoder is spent afterwards.
  std::u16string Finish();

 private:
  enum class Encoding { kUnknown, kUtf8, kUtf16Le, kUtf16Be };

  void Consume(std::string_view bytes, bool final);

  std::size_t expectedBytes_;
  Encoding encoding_ = Encoding::kUnknown;
  std::string pending_;  // the file's first bytes until the mark is known, or a cut-off sequence
  std::u16string text_;
};

// Finds key in section of the decoded profile text and returns its value: a view into text,
// trimmed of blanks (space, tab, vertical tab), without one pair of enclosing quotes, and ending
// at a NUL if the line holds one. Returns nothing when the section or key is not there, and when
// section or key is not well-formed UTF-16 (a lone surrogate). Names match whole and without
// regard to ASCII case; spaces around section and key are ignored. Runs in time linear in the
// size of text.
std::optional<std::u16string_view> FindProfileValue(std::u16string_view text,
                                                    std::u16string_view section,
                                                    std::u16string_view key);

// The default value as the platform's reader hands it back: without its trailing spaces (U+0020
// only; tabs and leading spaces stay).
std::u16string_view TrimProfileDefault(std::u16string_view defaultValue);

// Copies text into buffer of size units, cut to size - 1 units and terminated with a NUL.
// Returns the number of units copied, not counting the NUL. With size 0 or no buffer, returns 0
// and writes nothing.
std::size_t CopyProfileResult(std::u16string_view text, char16_t* buffer, std::size_t size);

}  // namespace platform
