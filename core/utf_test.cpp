#include "core/utf.h"

#include <gtest/gtest.h>

namespace glintmark {
namespace {

TEST(Utf, DecodesWellFormedTextAndReplacesEachBrokenSequenceOnce) {
  struct Case {
    std::string_view utf8;
    std::u16string_view utf16;
  };
  const Case cases[] = {
      {"", u""},
      {"caf\xC3\xA9", u"caf\u00E9"},
      {"\xE6\x97\xA5", u"\u65E5"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},            // a surrogate pair
      {"\xE4\xB8", u"\uFFFD"},                        // cut short by the end
      {"\xE4\xB8x", u"\uFFFDx"},                      // cut short; the byte is read afresh
      {"\xE4\xC3\xA9", u"\uFFFD\u00E9"},
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                  // bytes that never start a sequence
      {"\xE0\x80\xAF", u"\uFFFD"},                    // overlong
      {"\xED\xA0\x80", u"\uFFFD"},                    // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD"},                // above U+10FFFF
      {"\x80x", u"\uFFFDx"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(toUtf16(c.utf8), c.utf16) << "input: " << testing::PrintToString(std::string(c.utf8));
    std::u16string units(c.utf8.size(), u'\0');
    units.resize(convertUtf8(c.utf8, units.data()));
    EXPECT_EQ(units, c.utf16) << "into a buffer: " << testing::PrintToString(std::string(c.utf8));
  }
}

TEST(Utf, EncodesAndReplacesUnpairedSurrogates) {
  EXPECT_EQ(toUtf8(u"caf\u00E9 \u65E5 \U0001F600"), "caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80");
  EXPECT_EQ(toUtf8(std::u16string_view(u"\xD800x\xDC00", 3)), "\xEF\xBF\xBDx\xEF\xBF\xBD");
  std::string out = "a";
  appendUtf8(out, u"b");
  EXPECT_EQ(out, "ab");
  // Long text is encoded in blocks of 4096 units; a pair at a block's edge
  // stays whole.
  const std::u16string pairAtEdge = std::u16string(4095, u'a') + u"\U0001F600b";
  EXPECT_EQ(toUtf8(pairAtEdge), std::string(4095, 'a') + "\xF0\x9F\x98\x80" + "b");
}

TEST(Utf, ValidUtf8NeedsNoReplacement) {
  EXPECT_TRUE(isValidUtf8("caf\xC3\xA9 \xEF\xBF\xBD"));  // an encoded U+FFFD is valid
  EXPECT_FALSE(isValidUtf8("caf\xE9"));
  EXPECT_FALSE(isValidUtf8("\xE0\x80\xAF"));
}

}  // namespace
}  // namespace glintmark
