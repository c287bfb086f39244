#include "html/charset.h"

#include <gtest/gtest.h>

namespace glintmark::html {
namespace {

TEST(Charset, PrescanFindsTheDeclaration) {
  const struct {
    const char* page;
    const char* expected;
  } cases[] = {
      {"<meta charset=\"KOI8-R\">", "koi8-r"},
      {"<META CHARSET='windows-1251'/>", "windows-1251"},
      {"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=euc-jp\">", "euc-jp"},
      {"<meta content=\"text/html;charset = 'gbk'\" http-equiv=content-type>", "gbk"},
      {"<meta content=\"text/html; charset=gbk\">", ""},  // no http-equiv
      {"<!-- <meta charset=koi8-r> --><meta charset=utf-8>", "utf-8"},
      {"<p><meta charset=big5>", "big5"},
      {"<metadata charset=big5>", ""},
      {"", ""},
      {"<meta charset", ""},
      // A label that names no encoding is passed over for the next declaration.
      {"<meta charset=utf-7><meta charset=koi8-r>", "koi8-r"},
      {"<meta charset=utf-7 http-equiv=content-type content='text/html; charset=gbk'>", ""},
      {"<meta http-equiv=content-type content='charset=ucs-2'><meta charset=big5>", "big5"},
  };
  for (const auto& c : cases) EXPECT_EQ(prescanMetaCharset(c.page), c.expected) << c.page;
}

// As Chromium reads declarations: with the tokenizer's states, past the
// first 1024 bytes while only head elements were seen, an XML declaration
// at the start.
TEST(Charset, DeclarationsFoundAsChromiumFindsThem) {
  const std::string far(1100, ' ');
  EXPECT_EQ(prescanMetaCharset("<p>" + far + "<meta charset=koi8-r>"), "");
  EXPECT_EQ(prescanMetaCharset("<title>t</title>" + far + "<meta charset=koi8-r>"), "koi8-r");
  EXPECT_EQ(prescanMetaCharset("<!--><meta charset=koi8-r>"), "koi8-r");
  EXPECT_EQ(prescanMetaCharset("<link title=\">\"><meta charset=koi8-r>"), "koi8-r");
  EXPECT_EQ(prescanMetaCharset("<?xml version=\"1.0\" encoding=\"ISO-2022-JP\"?><p>"), "iso-2022-jp");
  EXPECT_EQ(prescanMetaCharset("<script>a=\"<meta charset=koi8-r>\"</script>"), "");
  EXPECT_EQ(prescanMetaCharset("<title><meta charset=koi8-r></title>"), "");
  EXPECT_EQ(prescanMetaCharset("text <meta charset=koi8-r>"), "koi8-r");
}

TEST(Charset, ChoosesInOrderOfPrecedence) {
  std::size_t bom = 99;
  EXPECT_EQ(chooseCharset("\xEF\xBB\xBFx", "koi8-r", &bom), "UTF-8");
  EXPECT_EQ(bom, 3u);
  EXPECT_EQ(chooseCharset("<meta charset=gbk>", " KOI8-R ", &bom), "KOI8-R");
  EXPECT_EQ(bom, 0u);
  EXPECT_EQ(chooseCharset("<meta charset=gbk>", "", &bom), "GBK");
  EXPECT_EQ(chooseCharset("<meta charset=utf-16le>", "", &bom), "UTF-8");
  EXPECT_EQ(chooseCharset("caf\xC3\xA9", "", &bom), "UTF-8");
  EXPECT_EQ(chooseCharset("caf\xE9", "", &bom), "WINDOWS-1252");
}

TEST(Charset, MapsLabelsAsBrowsersDo) {
  EXPECT_EQ(canonicalCharset("ISO-8859-1"), "WINDOWS-1252");
  EXPECT_EQ(canonicalCharset("us-ascii"), "WINDOWS-1252");
  EXPECT_EQ(canonicalCharset("utf8"), "UTF-8");
  EXPECT_EQ(canonicalCharset("x-sjis"), "SHIFT_JIS");
  EXPECT_EQ(canonicalCharset(" koi8-r "), "KOI8-R");
  EXPECT_EQ(canonicalCharset("iso-2022-kr"), "REPLACEMENT");
  EXPECT_EQ(canonicalCharset("utf-16"), "UTF-16LE");
  // Labels iconv knows but browsers do not: bytes read with them could become markup.
  for (const char* label : {"utf-7", "UTF-7", "ucs-2", "utf-32", "ibm037", "cp1047", "ebcdic-us",
                            "cp437", "x-nonsense", ""}) {
    EXPECT_EQ(canonicalCharset(label), "") << label;
  }
}

TEST(Charset, MetaDeclarationsMapAsThePrescanMapsThem) {
  std::size_t bom = 0;
  EXPECT_EQ(chooseCharset("<meta charset=x-user-defined>", "", &bom), "WINDOWS-1252");
  EXPECT_EQ(chooseCharset("<meta charset=utf-16be>", "", &bom), "UTF-8");
  EXPECT_EQ(chooseCharset("<meta charset=utf-7>caf\xE9", "", &bom), "WINDOWS-1252");
  EXPECT_EQ(chooseCharset("x", "utf-7", &bom), "");
}

// Pages that declare nothing, each read by Chromium in the encoding given.
TEST(Charset, UndeclaredEncodingGuessedAsChromiumGuesses) {
  const struct {
    const char* page;
    const char* expected;
  } cases[] = {
      {"<p>\x93\x8C\x8B\x9E\x82\xCC\x93V\x8B\x43\x82\xCD\x90\xB0\x82\xEA\x82\xC5\x82\xB7\x81\x42</p>", "SHIFT_JIS"},
      {"<p>\xC5\xEC\xB5\xFE\xA4\xCE\xC5\xB7\xB5\xA4\xA4\xCF\xC0\xB2\xA4\xEC\xA4\xC7\xA4\xB9\xA1\xA3</p>", "EUC-JP"},
      {"<p>\xB4\xAB\xC7\xA5\xB9\xFC\xC0\xBA \xC1\xDF\xBE\xD3\xBE\xC6\xBD\xC3\xBE\xC6\xC0\xC7 \xB3\xF4\xC0\xBA \xBB\xEA\xBF\xA1 \xBB\xF0\xB4\xCF\xB4\xD9.</p>", "EUC-KR"},
      {"<p>\xB3\xB7\xB0\x5C\xA5\xCD\xAC\xA1\xA6\x62\xA4\xA4\xA8\xC8\xAA\xBA\xB0\xAA\xA4s\xA4W\xA1\x43</p>", "BIG5"},
      {"<p>\xD1\xA9\xB1\xAA\xC9\xFA\xBB\xEE\xD4\xDA\xD6\xD0\xD1\xC7\xB5\xC4\xB8\xDF\xC9\xBD\xC9\xCF\xA1\xA3</p>", "GBK"},
      {"<p>\xF3\xCE\xC5\xD6\xCE\xD9\xCA \xC2\xC1\xD2\xD3 \xD6\xC9\xD7\xA3\xD4 \xD7 \xC7\xCF\xD2\xC1\xC8.</p>", "KOI8-R"},
      {"<p>\xD1\xED\xE5\xE6\xED\xFB\xE9 \xE1\xE0\xF0\xF1 \xE6\xE8\xE2\xB8\xF2 \xE2 \xE3\xEE\xF0\xE0\xF5.</p>", "WINDOWS-1251"},
      {"<p>Le l\xE9opard des neiges vit en Asie. Tr\xE8s beau.</p>", "WINDOWS-1252"},
      {"<p>a\xF1o a\xE7\xFA\x63\x61r of</p>", "WINDOWS-1252"},
  };
  for (const auto& c : cases) EXPECT_EQ(guessUndeclaredEncoding(c.page), c.expected) << c.expected;
}

}  // namespace
}  // namespace glintmark::html
