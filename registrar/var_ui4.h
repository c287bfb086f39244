// varUI4FromStr: the OLE Automation text-to-number conversion that a
// registration script's "D" values go through.
//
// On Windows this is VarUI4FromStr(text, locale 0, no flags) itself. On Linux
// it is our own conversion that answers as Windows does for the texts a
// script holds, with the number characters of U.S. English ("-", "+", ".",
// ",", "$"):
//   - blanks around the number, a sign before or after it, "(...)" for a
//     negative number, "$" and "," thousands separators after the first digit;
//   - decimals and exponents ("1.5", "1e3"), rounded half to even;
//   - "&H" hexadecimal and "&O" octal (a sign is ignored there);
//   - the whole text must be used: "0xA", "12abc" or "" are
//     DISP_E_TYPEMISMATCH; a negative non-zero number or one above
//     4294967295 is DISP_E_OVERFLOW.
// The text ends at its first U+0000, as the zero-terminated original does.
//
//   uint32_t n; varUI4FromStr(u" 4096 ", &n) == S_OK, n == 4096
//   varUI4FromStr(u"&HFF", &n) == S_OK, n == 255
#pragma once

#include <cstdint>
#include <string_view>

#include "core/hresult.h"

namespace glintmark {

// *out is written only on success.
HResult varUI4FromStr(std::u16string_view text, std::uint32_t* out);

}  // namespace glintmark
