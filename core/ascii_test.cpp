#include "core/ascii.h"

#include <gtest/gtest.h>

#include <cctype>

namespace glintmark {
namespace {

// The C library in the "C" locale is the reference for the 128 ASCII bytes;
// every byte above them, as a char (negative where char is signed) and as a
// UTF-16 unit, is no letter or digit and keeps its case.
TEST(Ascii, EveryByteAsCharAndAsUtf16Unit) {
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const auto u = static_cast<char16_t>(b);
    const bool ascii = b < 0x80;
    EXPECT_EQ(isAsciiAlpha(c), ascii && std::isalpha(b) != 0) << "byte " << b;
    EXPECT_EQ(isAsciiAlnum(u), ascii && std::isalnum(b) != 0) << "byte " << b;
    EXPECT_EQ(lowerAscii(c), ascii ? static_cast<char>(std::tolower(b)) : c) << "byte " << b;
    EXPECT_EQ(lowerAscii(u), ascii ? static_cast<char16_t>(std::tolower(b)) : u) << "byte " << b;
    EXPECT_EQ(upperAscii(c), ascii ? static_cast<char>(std::toupper(b)) : c) << "byte " << b;
    const int hex = !ascii || !std::isxdigit(b) ? -1
                    : std::isdigit(b)          ? b - '0'
                                               : std::tolower(b) - 'a' + 10;
    EXPECT_EQ(hexDigitValue(c), hex) << "byte " << b;
    EXPECT_EQ(hexDigitValue(u), hex) << "byte " << b;
  }
  // A UTF-16 unit whose low byte is an ASCII letter is no letter.
  EXPECT_EQ(lowerAscii(u'\u0141'), u'\u0141');
  EXPECT_EQ(hexDigitValue(u'\uFF21'), -1);
}

TEST(Ascii, EqualsIgnoringAsciiCase) {
  EXPECT_TRUE(equalsIgnoringAsciiCase("HKEY_Users", "hkey_users"));
  EXPECT_TRUE(equalsIgnoringAsciiCase("", ""));
  EXPECT_FALSE(equalsIgnoringAsciiCase("HKCU", "HKC"));
  EXPECT_FALSE(equalsIgnoringAsciiCase("@", "`"));        // 0x40 and 0x60 differ by 0x20 too
  EXPECT_FALSE(equalsIgnoringAsciiCase("\xC9", "\xE9"));  // É and é: not ASCII
  EXPECT_EQ(lowerAscii(std::string_view("Content-TYPE: X\xC9")), "content-type: x\xC9");
}

}  // namespace
}  // namespace glintmark
