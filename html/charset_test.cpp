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

}  // namespace
}  // namespace glintmark::html
