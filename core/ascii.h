// ASCII character helpers: for tag and attribute names, URL schemes, charset
// labels, registry keywords and hexadecimal digits, which are ASCII whatever
// the text around them is.
//
// Each takes any character type (char, char16_t, char32_t, int) and looks at
// the value only: a char holding a byte from 0x80 up (negative where char is
// signed) and a UTF-16 unit from 0x80 up are neither letters nor digits, and
// the case changes leave them as they are. These are not a code page's case
// mapping: text in the ANSI code page is lowercased by CodePage::lowerInPlace.
//
//   lowerAscii('Q') == 'q';  lowerAscii(u'\u00C9') == u'\u00C9'
//   lowerAscii("Utf-8") == "utf-8";  hexDigitValue('b') == 11;  hexDigitValue('g') == -1
#pragma once

#include <concepts>
#include <cstddef>
#include <string>
#include <string_view>

namespace glintmark {

template <std::integral Char>
constexpr bool isAsciiUpper(Char c) {
  return c >= Char('A') && c <= Char('Z');
}

template <std::integral Char>
constexpr bool isAsciiLower(Char c) {
  return c >= Char('a') && c <= Char('z');
}

template <std::integral Char>
constexpr bool isAsciiAlpha(Char c) {
  return isAsciiUpper(c) || isAsciiLower(c);
}

template <std::integral Char>
constexpr bool isAsciiDigit(Char c) {
  return c >= Char('0') && c <= Char('9');
}

template <std::integral Char>
constexpr bool isAsciiAlnum(Char c) {
  return isAsciiAlpha(c) || isAsciiDigit(c);
}

// lowerAscii, upperAscii: c with an ASCII letter's case changed; any other
// value as it is.
template <std::integral Char>
constexpr Char lowerAscii(Char c) {
  return isAsciiUpper(c) ? static_cast<Char>(c + ('a' - 'A')) : c;
}

template <std::integral Char>
constexpr Char upperAscii(Char c) {
  return isAsciiLower(c) ? static_cast<Char>(c - ('a' - 'A')) : c;
}

// lowerAscii over text: a copy with the ASCII letters lowercased.
inline std::string lowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lowerAscii(c);
  return out;
}

// hexDigitValue: 0-15 for '0'-'9', 'a'-'f' and 'A'-'F'; -1 for anything else.
template <std::integral Char>
constexpr int hexDigitValue(Char c) {
  if (isAsciiDigit(c)) return static_cast<int>(c - Char('0'));
  if (c >= Char('a') && c <= Char('f')) return static_cast<int>(c - Char('a')) + 10;
  if (c >= Char('A') && c <= Char('F')) return static_cast<int>(c - Char('A')) + 10;
  return -1;
}

// equalsIgnoringAsciiCase: a and b hold the same bytes once ASCII letters
// are lowercased (bytes from 0x80 up must match exactly).
//
//   equalsIgnoringAsciiCase("HKCU", "hkcu") == true
constexpr bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

}  // namespace glintmark
