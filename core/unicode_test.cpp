#include "core/unicode.h"

#include <gtest/gtest.h>

#include "core/utf.h"

namespace glintmark::unicode {
namespace {

std::u16string folded(std::u16string_view text) {
  std::u16string out;
  appendFolded(out, text);
  return out;
}

TEST(Unicode, FoldsCaseInEveryScriptAndLengthensWhereFullFoldingDoes) {
  const std::pair<std::u16string_view, std::u16string_view> rows[] = {
      {u"STRASSE Straße ẞ", u"strasse strasse ss"},
      {u"ΟΔΌΣ οδός ΐ", u"οδόσ οδόσ \u03B9\u0308\u0301"},  // final sigma; ΐ lengthens to three
      {u"İSTANBUL Iı", u"istanbul iı"},                   // İ as i; dotless ı stays
      {u"МОСКВА Ёж ՈՒ և", u"москва ёж ու եւ"},
      {u"ﬁne CAFÉ Ǆ", u"fine café ǆ"},
      {u"don’t ʼx", u"don't 'x"},
      {u"\U00010400\U000104B0 \U0001E900", u"\U00010428\U000104D8 \U0001E922"},  // beyond the BMP
      {u"東京 ١٢", u"東京 ١٢"},
  };
  for (const auto& [text, expected] : rows) {
    EXPECT_EQ(folded(text), expected) << toUtf8(text);
    EXPECT_EQ(folded(expected), expected) << "folding again " << toUtf8(text);
  }
  EXPECT_EQ(foldUtf8("ÉCOLE Straße"), "école strasse");
  for (char32_t c = 0; c < 0x10000; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const auto unit = static_cast<char16_t>(c);
    EXPECT_EQ(foldUnit(foldUnit(unit)), foldUnit(unit)) << std::hex << std::uint32_t{c};
    EXPECT_EQ(lengthens(unit), !lengthening(unit).empty()) << std::hex << std::uint32_t{c};
  }
}

TEST(Unicode, WordCharactersAreLettersMarksAndDigitsOfEveryScript) {
  for (char32_t c = 0; c < 0x80; ++c) {
    const bool expected = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    EXPECT_EQ(isWordChar(c), expected) << "U+" << std::hex << std::uint32_t{c};
  }
  for (const char32_t c : std::u32string_view(U"éßжωשبक\u093Eก\u0E31中あカ한ą\u0301٣\U0001D4B2\u200C")) {
    EXPECT_TRUE(isWordChar(c)) << "U+" << std::hex << std::uint32_t{c};
  }
  for (const char32_t c : std::u32string_view(U"\u00A0\u00D7\u2019\u3002\u060C\u05BE\u0964😀€\u3000\uFFFF")) {
    EXPECT_FALSE(isWordChar(c)) << "U+" << std::hex << std::uint32_t{c};
  }
  EXPECT_TRUE(standsAlone(U'雨') && standsAlone(U'の') && standsAlone(U'ア') && standsAlone(U'한'));
  EXPECT_FALSE(standsAlone(U'a') || standsAlone(U'ж') || standsAlone(U'ก'));
}

TEST(Unicode, DecodesFormValuesAsUtf8FallingBackToWindows1252) {
  const std::pair<std::string_view, std::string_view> rows[] = {
      {"caf%c3%a9+cr%C3%A8me", "café crème"},
      {"%e6%9d%b1%e4%ba%ac", "東京"},
      {"caf%e9", "café"},              // not UTF-8: windows-1252
      {"%80%81%c3", "€\u0081Ã"},       // 0x81 is undefined there: the control character
      {"%ed%a0%80", "í\u00A0€"},       // an encoded surrogate is no UTF-8
      {"100%+sure%2", "100% sure%2"},  // '%' without two hex digits stays
      {"%2b%2B%25", "++%"},
      {"", ""},
  };
  for (const auto& [text, expected] : rows) {
    EXPECT_EQ(decodeFormValue(text), expected) << text;
  }
}

TEST(Unicode, ExpandedFoldMapsPositionsBetweenCharactersOnly) {
  ExpandedFold full;
  full.build(u"aßb\u0390c");
  EXPECT_EQ(full.text(), u"assb\u03B9\u0308\u0301c");
  const std::size_t toFull[] = {0, 1, 3, 4, 7, 8};
  for (std::size_t p = 0; p < std::size(toFull); ++p) {
    EXPECT_EQ(full.toFull(p), toFull[p]) << p;
    EXPECT_EQ(full.fromFull(toFull[p]), p) << p;
  }
  for (const std::size_t inside : {2u, 5u, 6u}) EXPECT_EQ(full.fromFull(inside), ExpandedFold::npos) << inside;
}

}  // namespace
}  // namespace glintmark::unicode
