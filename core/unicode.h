// Unicode rules of the UTF-8 engine: which characters make words, case
// folding, and the decoding of a search text taken from a URL.
//
// The tables come from the Unicode Character Database
// (core/unicode_tables.inc, written by scripts/generate-unicode-tables.py).
// The code pages 1252 and 932 keep their byte rules (core/keywords.cpp); the
// folding below also serves the HTML document model's searches, whatever the
// code page of the keywords.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace glintmark::unicode {

// isWordChar: letters and combining marks of every script, decimal digits and
// letter numbers (general categories L*, M*, Nd, Nl), and the zero-width
// joiner and non-joiner that Persian and Indic words hold. White space,
// punctuation, symbols and everything else separate words.
bool isWordChar(char32_t c);

// isWordJoiner: an apostrophe (' U+2019 U+05F3 U+05F4), which belongs to a
// word when a word character stands on each side of it: "don't", "l'eau".
bool isWordJoiner(char32_t c);

// standsAlone: a Han, Hiragana, Katakana or Hangul character, one of which
// makes a word by itself.
bool standsAlone(char32_t c);

// foldSimple: c folded one for one (CaseFolding.txt's C and S foldings; also
// U+0130 to "i", and U+2019 and U+02BC to the ASCII apostrophe). Folding
// never crosses from the BMP to the other planes or back, so a text folded
// unit by unit keeps its length.
//
//   foldSimple(U'Ж') == U'ж';  foldSimple(U'ς') == U'σ';  foldSimple(U'ẞ') == U'ß'
char32_t foldSimple(char32_t c);

// foldUnit: foldSimple of one UTF-16 unit (a surrogate is left as it is).
char16_t foldUnit(char16_t c);

// lengthening: the full folding of a unit that foldUnit gave, when it is
// longer than one unit: u"ss" for U+00DF, the Greek letters with dialytika
// and tonos, the ligatures; empty for any other.
std::u16string_view lengthening(char16_t folded);

// lengthens: whether lengthening(folded) is not empty (cheap, for loops).
bool lengthens(char16_t folded);

// appendFolded: `text` (UTF-16) folded in full, appended to `out`: each
// character folded one for one, then lengthened where its full folding is
// longer. Folding is idempotent.
//
//   appendFolded(out = u"", u"STRASSE Straße") -> u"strasse strasse"
void appendFolded(std::u16string& out, std::u16string_view text);

// foldUtf8: the same over UTF-8 (a malformed sequence becomes U+FFFD).
std::string foldUtf8(std::string_view utf8);

// decodeFormValue: a value of a form-encoded query (the search text of a
// URL) decoded to UTF-8: '+' is a space, "%hh" the byte hh, and the bytes are
// read as UTF-8; a byte of an escape that does not belong to a well-formed
// UTF-8 sequence is read as windows-1252, as browsers show such addresses.
// A '%' not followed by two hex digits stays as it is.
//
//   decodeFormValue("caf%c3%a9+cr%e8me") == "café crème"
std::string decodeFormValue(std::string_view text);

// ExpandedFold: a text folded unit by unit (foldUnit), written out in full
// where folding lengthens it, with the map between positions of the two. A
// search in the full text finds "strasse" in "straße"; its positions are
// mapped back to the unit-by-unit text, where a position inside a lengthened
// character has no counterpart.
class ExpandedFold {
 public:
  static constexpr std::size_t npos = ~std::size_t{0};

  // Writes out `folded` (already folded unit by unit).
  void build(std::u16string_view folded);
  void clear();

  std::u16string_view text() const { return m_text; }
  // The position in the full text of `position` of the folded text.
  std::size_t toFull(std::size_t position) const;
  // The position in the folded text of `position` of the full text, or npos
  // when it lies inside the folding of one character.
  std::size_t fromFull(std::size_t position) const;

 private:
  struct Stretch {
    std::size_t full;    // where the lengthened character starts in the full text
    std::size_t folded;  // its position in the folded text
    std::size_t units;   // its length in the full text (2 or 3)
  };
  std::u16string m_text;
  std::vector<Stretch> m_stretches;
};

}  // namespace glintmark::unicode
