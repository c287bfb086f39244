#include "core/code_page.h"
#include "core/code_page_utf8.h"

#include <gtest/gtest.h>

namespace glintmark {
namespace {

// The double-byte tests need windows-932; Windows only serves its own ANSI
// code page, so there they are skipped unless the process runs in 932.
std::unique_ptr<CodePage> shiftJis() { return makeCodePage(932); }

TEST(CodePage, AsciiRoundTripsInEveryCodePage) {
  const CodePage& cp = ansiCodePage();
  std::u16string wide;
  for (char16_t c = 1; c < 0x80; ++c) wide.push_back(c);
  const std::string narrow = cp.toNarrow(wide);
  ASSERT_EQ(narrow.size(), wide.size());
  for (std::size_t i = 0; i < narrow.size(); ++i) EXPECT_EQ(static_cast<char16_t>(narrow[i]), wide[i]);
  EXPECT_EQ(cp.toWide(narrow), wide);
}

TEST(CodePage, AsciiLowercasingTouchesOnlyCapitals) {
  const CodePage& cp = ansiCodePage();
  for (int b = 1; b < 0x80; ++b) {
    char c = static_cast<char>(b);
    cp.lowerInPlace(&c, 1);
    const int expected = (b >= 'A' && b <= 'Z') ? b + 32 : b;
    EXPECT_EQ(static_cast<unsigned char>(c), expected) << "byte " << b;
  }
}

TEST(CodePage, Windows1252LowercasesAccentedCapitals) {
  const CodePage& cp = ansiCodePage();
  if (cp.name() != "1252") GTEST_SKIP() << "ANSI code page is " << cp.name();
  std::string text = "\xC0\xC9\xDE\x8A\x8C\x8E\x9F" "ABC\xDF\xD7";
  lowerInPlace(cp, text);
  // À É Þ Š Œ Ž Ÿ -> à é þ š œ ž ÿ; ß and × have no capital form and stay.
  EXPECT_EQ(text, "\xE0\xE9\xFE\x9A\x9C\x9E\xFF" "abc\xDF\xD7");
}

TEST(CodePage, Windows1252ConvertsBothWays) {
  const CodePage& cp = ansiCodePage();
  if (cp.name() != "1252") GTEST_SKIP() << "ANSI code page is " << cp.name();
  EXPECT_EQ(cp.toNarrow(u"caf\u00e9 \u20ac"), "caf\xE9 \x80");
  EXPECT_EQ(cp.toWide("caf\xE9 \x80"), u"caf\u00e9 \u20ac");
  // A character the code page cannot hold becomes '?'; so does a lone surrogate.
  EXPECT_EQ(cp.toNarrow(u"a\u4e2db"), "a?b");
  EXPECT_EQ(cp.toNarrow(std::u16string(u"x") + char16_t(0xD800) + u"y"), "x?y");
  EXPECT_FALSE(cp.isDoubleByte());
  for (int b = 0; b < 256; ++b) EXPECT_FALSE(cp.isLeadByte(static_cast<unsigned char>(b))) << b;
}

TEST(FindInText, SingleByteFindsEveryPosition) {
  const CodePage& cp = ansiCodePage();
  EXPECT_EQ(findInText(cp, "a?q=b", "?q="), 1u);
  EXPECT_EQ(findInText(cp, "abc", "abcd"), std::string_view::npos);
  EXPECT_EQ(findInText(cp, "", "a"), std::string_view::npos);
  EXPECT_EQ(findInText(cp, "abc", ""), 0u);
  EXPECT_EQ(findInText(cp, "\x81_q=", "_q="), 1u);
}

TEST(ShiftJis, LeadBytesAndNoMatchOnTrailByte) {
  auto cp = shiftJis();
  if (!cp) GTEST_SKIP() << "windows-932 not available here";
  EXPECT_TRUE(cp->isDoubleByte());
  EXPECT_TRUE(cp->isLeadByte(0x81));
  EXPECT_TRUE(cp->isLeadByte(0xE0));
  EXPECT_FALSE(cp->isLeadByte('A'));
  EXPECT_FALSE(cp->isLeadByte(0xA1));  // half-width katakana are single bytes
  // 0x81 0x5F is one character whose second byte is '_': no match there.
  EXPECT_EQ(findInText(*cp, "\x81_q=", "_q="), std::string_view::npos);
  EXPECT_EQ(findInText(*cp, "\x81_q=x&_q=y", "_q="), 6u);
  EXPECT_EQ(findInText(*cp, "a_q=", "_q="), 1u);
  // Stepping: a lead byte takes its trail byte along, unless it ends the text.
  EXPECT_EQ(characterLength(*cp, "\x81\\x", 0), 2u);
  EXPECT_EQ(characterLength(*cp, "\x81\\x", 2), 1u);
  EXPECT_EQ(characterLength(*cp, "x\x81", 1), 1u);
}

TEST(ShiftJis, DoubleByteCharactersLowercaseAsOneUnit) {
  auto cp = shiftJis();
  if (!cp) GTEST_SKIP() << "windows-932 not available here";
  // Fullwidth A (0x82 0x60) becomes fullwidth a (0x82 0x81); the trail byte
  // 0x60 of another character is never taken for an ASCII letter.
  std::string text = "\x82\x60Q\x83\x41";  // FULLWIDTH A, Q, KATAKANA SMALL A
  lowerInPlace(*cp, text);
  EXPECT_EQ(text, "\x82\x81q\x83\x41");
  std::string trailIsCapital = "\x81\x41";  // trail byte 'A' stays as it is
  lowerInPlace(*cp, trailIsCapital);
  EXPECT_EQ(trailIsCapital, "\x81\x41");
}

TEST(ShiftJis, ConversionFailuresHaveDefinedResults) {
  auto cp = shiftJis();
  if (!cp) GTEST_SKIP() << "windows-932 not available here";
  EXPECT_EQ(cp->toWide("\x82\xA0"), u"\u3042");  // HIRAGANA A
  EXPECT_EQ(cp->toNarrow(u"\u3042"), "\x82\xA0");
  // A lone lead byte at the end, and an undefined pair, become U+FFFD.
  EXPECT_EQ(cp->toWide("a\x82"), u"a\uFFFD");
  EXPECT_EQ(cp->toNarrow(u"\u00e9"), "?");
}

// 65001: what the browser engine uses. Lowercasing keeps every length, so the
// capitals whose lowercase is longer or shorter in UTF-8 stay as they are.
TEST(Utf8CodePage, ConvertsAndLowercasesWithoutChangingLengths) {
  const std::unique_ptr<CodePage> cp = makeUtf8CodePage();
  EXPECT_EQ(cp->toNarrow(u"Caf\u00C9 \u20ac \U0001F600"), "Caf\xC3\x89 \xE2\x82\xAC \xF0\x9F\x98\x80");
  EXPECT_EQ(cp->toNarrow(std::u16string(u"x") + char16_t(0xDC00) + u"y"), "x?y");
  EXPECT_EQ(cp->toWide("a\xC3\xA9\xFFz"), u"a\u00e9\ufffdz");
  std::string text = "ABC \xC3\x80\xC3\x9E \xC5\x81 \xCE\x91\xCE\xA9 \xD0\x96\xD0\x81 \xC4\xB0 \xC3\x97 \xE4\xB8\xAD";
  const std::size_t length = text.size();
  lowerInPlace(*cp, text);
  // A B C, À Þ, Ł, Α Ω, Ж Ё lowered; İ (its lowercase is one byte), × and 中 kept.
  EXPECT_EQ(text, "abc \xC3\xA0\xC3\xBE \xC5\x82 \xCE\xB1\xCF\x89 \xD0\xB6\xD1\x91 \xC4\xB0 \xC3\x97 \xE4\xB8\xAD");
  EXPECT_EQ(text.size(), length);
  EXPECT_EQ(findInText(*cp, "caf\xC3\xA9?q=x", "?q="), 5u);
}

}  // namespace
}  // namespace glintmark
