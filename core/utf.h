// UTF-8 and UTF-16: the conversions between the bytes the command line, files
// and the HTML model hold and the UTF-16 text of the document interfaces.
//
// Decoding never fails. A byte that cannot start a sequence, a sequence cut
// short by a byte that cannot continue it (or by the end), an overlong form, a
// surrogate and anything above U+10FFFF each become one U+FFFD; a cut-short
// sequence gives up only the bytes read before the offending one, which is
// then decoded afresh. Encoding turns an unpaired surrogate into U+FFFD.
//
//   toUtf16("caf\xC3\xA9") == u"caf\u00E9";  toUtf16("\xE4\xB8") == u"\uFFFD"
//   toUtf8(u"\xD800x") == "\xEF\xBF\xBDx"
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace glintmark {

std::u16string toUtf16(std::string_view utf8);
void appendUtf16(std::u16string& out, std::string_view utf8);
// convertUtf8: the same into `out`, which has room for utf8.size() units
// (UTF-8 never takes fewer bytes than UTF-16 units); returns the units written.
std::size_t convertUtf8(std::string_view utf8, char16_t* out);

std::string toUtf8(std::u16string_view text);
void appendUtf8(std::string& out, std::u16string_view text);

// putUtf8: the character at text[i] written as UTF-8 at `p` (up to four
// bytes), `p` moved past it. A surrogate pair is read whole, `i` left at its
// second unit; an unpaired surrogate is written as U+FFFD. For the loops
// that write UTF-8 straight into a buffer.
inline void putUtf8(char*& p, std::u16string_view text, std::size_t& i) {
  char32_t c = text[i];
  if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
      text[i + 1] <= 0xDFFF) {
    c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
    ++i;
  } else if (c >= 0xD800 && c <= 0xDFFF) {
    c = 0xFFFD;
  }
  if (c < 0x80) {
    *p++ = static_cast<char>(c);
    return;
  }
  if (c < 0x800) {
    *p++ = static_cast<char>(0xC0 | (c >> 6));
  } else if (c < 0x10000) {
    *p++ = static_cast<char>(0xE0 | (c >> 12));
    *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  } else {
    *p++ = static_cast<char>(0xF0 | (c >> 18));
    *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  }
  *p++ = static_cast<char>(0x80 | (c & 0x3F));
}

// isValidUtf8: true when decoding `bytes` needs no replacement (an encoded
// U+FFFD in the input is valid).
bool isValidUtf8(std::string_view bytes);

}  // namespace glintmark
