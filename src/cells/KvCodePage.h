// Code pages: the code page of a file's 8-bit texts, and their conversion to UTF-8.
//
// A single-byte code page is a 256-entry table from byte to Unicode, built once per
// code page from the platform's converter (iconv of the C library, the Windows API on
// Windows). A byte the code page leaves undefined maps to the code point of the same
// number (0x81 in 1252 gives U+0081), so no byte is lost and every byte can be
// recovered from the UTF-8 text. Code page 65001 is UTF-8 itself: its texts are
// checked and passed through, an invalid sequence replaced by U+FFFD and counted.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::uint32_t kCodePageUtf8 = 65001;
inline constexpr std::uint32_t kDefaultCodePage = 1252;

// The code page named by Text: a number (437, 850, 852, 855, 857, 858, 860, 861, 862,
// 863, 865, 866, 869, 874, 1250-1258, 28591-28599, 28605, 65001) or a name such as
// windows-1252, cp850, ibm866, iso-8859-1, latin1 or utf-8, in any letter case.
// False for anything else.
bool TryParseCodePage(std::string_view text, std::uint32_t& number);
// The message for a value TryParseCodePage refuses: it names the value and the
// accepted forms.
std::string CodePageErrorMessage(std::string_view text);

class TKvCodePage {
 public:
  std::uint32_t Number() const { return number_; }
  bool IsUtf8() const { return number_ == kCodePageUtf8; }
  // The Unicode code point of a byte (single-byte code pages; for UTF-8 the byte's
  // own number).
  char32_t ToUnicode(std::uint8_t byte) const { return unicode_[byte]; }

  // Appends Text, bytes of this code page, as UTF-8. For UTF-8 the text is checked:
  // each invalid sequence becomes U+FFFD and adds 1 to invalid.
  void AppendUtf8(std::string& out, std::string_view text, std::int64_t& invalid) const;

  // The table of a code page (an accepted number), built on first use; the same
  // object for the rest of the run, safe to share between threads.
  static const TKvCodePage& Get(std::uint32_t number);

  // For tests: a code page from a table of one's own.
  TKvCodePage(std::uint32_t number, const std::array<char32_t, 256>& unicode);

 private:
  std::uint32_t number_ = 0;
  std::array<char32_t, 256> unicode_{};
  // The UTF-8 form of each byte of 0x80..0xFF (at most 3 bytes) and its length, so
  // that a byte costs one lookup and one small copy.
  struct THigh {
    char Bytes[3];
    std::uint8_t Length;
  };
  std::array<THigh, 128> high_{};
};

// Appends the UTF-8 form of a code point (up to U+10FFFF; a surrogate or a larger
// value gives U+FFFD).
void AppendCodePointUtf8(std::string& out, char32_t cp);
// Appends Text after checking it is UTF-8: each invalid sequence (a stray or missing
// continuation byte, an overlong form, a surrogate, a value above U+10FFFF) becomes
// one U+FFFD per maximal invalid part; returns the number replaced.
std::int64_t AppendValidUtf8(std::string& out, std::string_view text);
// The byte order mark of UTF-8.
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The platform's table for a single-byte code page (an accepted number other than
// 65001): for each byte the code point, or the byte's own number when the code page
// leaves it undefined or the platform cannot convert it.
void PlatformCodePageTable(std::uint32_t number, std::array<char32_t, 256>& unicode);
