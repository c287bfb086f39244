// CodePage: the ANSI code page in which the keyword logic and the registry
// code work.
//
// Everything the browser hands over is UTF-16 ("wide"); the search-text logic
// works on narrow strings in the process's ANSI code page, lowercased with the
// code page's own case mapping, and its substring searches never match at the
// second byte of a double-byte character. Windows answers these questions with
// CP_ACP; on Linux an iconv-backed implementation stands in, with the code page
// selectable so the double-byte rules can be exercised (windows-932).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace glintmark {

class CodePage {
 public:
  virtual ~CodePage() = default;

  // toNarrow: UTF-16 to the code page. A character the code page cannot
  // represent becomes '?', and an unpaired surrogate likewise, as Windows'
  // WideCharToMultiByte does with its default character. Never fails except
  // for memory (std::bad_alloc).
  virtual std::string toNarrow(std::u16string_view wide) const = 0;

  // toWide: the code page to UTF-16. A byte or byte pair the code page does not
  // define becomes U+FFFD (a lone lead byte at the end included), so a result
  // always exists.
  virtual std::u16string toWide(std::string_view narrow) const = 0;

  // lowerInPlace: lowercases text[0, length) with the code page's case mapping.
  // A double-byte character is lowercased as one unit (or left alone) and never
  // changes its length; single-byte letters map to single-byte letters.
  virtual void lowerInPlace(char* text, std::size_t length) const = 0;

  // isLeadByte: whether byte starts a double-byte character. Always false in a
  // single-byte code page.
  virtual bool isLeadByte(unsigned char byte) const = 0;

  // isDoubleByte: whether any byte is a lead byte (lets searches take the
  // plain byte-wise path in single-byte code pages).
  virtual bool isDoubleByte() const = 0;

  // A short name for messages, e.g. "1252".
  virtual std::string name() const = 0;

  // isUtf8: the code page of today's browsers (65001), where search texts
  // are decoded and cut into words by Unicode's rules rather than by bytes.
  virtual bool isUtf8() const { return false; }
};

// characterLength
//
// The bytes of the character that starts at text[at] (at < text.size()): 2
// for a lead byte with a byte after it, else 1, a lead byte that ends the
// text included. For walking narrow text by whole characters, so that a
// trail byte is never taken for a character of its own.
//
//   characterLength(cp932, "\x81\\x", 0) == 2;  characterLength(cp932, "\x81", 0) == 1
inline std::size_t characterLength(const CodePage& codePage, std::string_view text, std::size_t at) {
  return codePage.isLeadByte(static_cast<unsigned char>(text[at])) && at + 1 < text.size() ? 2 : 1;
}

// findInText
//
// Byte-exact search for `needle` in `text` that only accepts occurrences
// beginning at a character boundary: in a double-byte code page a match that
// would start at the trail byte of a double-byte character is skipped. Returns
// the offset of the first occurrence, or std::string_view::npos. An empty
// needle matches at 0.
//
//   findInText(cp1252, "a?q=b", "?q=") == 1
//   findInText(cp932, "\x81_q=", "_q=") == npos   // "_" is a trail byte here
std::size_t findInText(const CodePage& codePage, std::string_view text, std::string_view needle);

// lowerInPlace over a whole std::string.
inline void lowerInPlace(const CodePage& codePage, std::string& text) {
  codePage.lowerInPlace(text.data(), text.size());
}

// The process's ANSI code page: CP_ACP on Windows, windows-1252 on Linux. A
// caller that works in another code page makes it with makeCodePage and
// passes it on; this one never changes.
const CodePage& ansiCodePage();

// makeCodePage: a code page by number (1252, 932, ...). Windows serves only the
// process's own ANSI code page; on Linux any code page iconv knows. Returns
// nullptr for an unknown number.
std::unique_ptr<CodePage> makeCodePage(unsigned number);

}  // namespace glintmark
