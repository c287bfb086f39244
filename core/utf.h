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

// isValidUtf8: true when decoding `bytes` needs no replacement (an encoded
// U+FFFD in the input is valid).
bool isValidUtf8(std::string_view bytes);

}  // namespace glintmark
