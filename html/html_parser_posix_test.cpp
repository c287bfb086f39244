// parseHtml on Linux: charsets, gumbo's tree in ours, noscript, bad input.
#include <gtest/gtest.h>

#include "html/charset.h"
#include "html/html_document.h"
#include "html/testing/highlight.h"

namespace glintmark::html {
namespace {

struct CharsetCase {
  const char* name;
  std::string bytes;
  const char* callerCharset;
  const char16_t* expectedText;
};

class Charset : public ::testing::TestWithParam<CharsetCase> {};

TEST_P(Charset, IsConvertedBeforeParsing) {
  const CharsetCase& c = GetParam();
  ParseOptions options;
  options.charset = c.callerCharset;
  std::unique_ptr<HtmlDocument> document = parseHtml(c.bytes, options);
  ASSERT_TRUE(document);
  EXPECT_EQ(document->bodyText(), c.expectedText);
}

const CharsetCase charsetCases[] = {
    {"Utf8WithoutDeclaration", "<p>caf\xC3\xA9</p>", "", u"\ncafé\n"},
    {"InvalidUtf8FallsBackToWindows1252", "<p>caf\xE9 \x80</p>", "", u"\ncafé €\n"},
    {"MetaCharset", "<meta charset=\"iso-8859-15\"><p>\xA4</p>", "", u"\n€\n"},
    {"MetaHttpEquiv",
     "<meta http-equiv=Content-Type content='text/html; charset=koi8-r'><p>\xF0\xD2\xC9</p>", "",
     u"\nПри\n"},
    {"MetaInsideCommentIgnored", "<!-- <meta charset=koi8-r> --><p>caf\xC3\xA9</p>", "",
     u"\ncafé\n"},
    {"Latin1MeansWindows1252", "<meta charset=latin1><p>\x93q\x94</p>", "", u"\n\u201Cq\u201D\n"},
    {"DeclaredUtf16MeansUtf8", "<meta charset=utf-16><p>caf\xC3\xA9</p>", "", u"\ncafé\n"},
    {"UnknownMetaCharsetIsIgnored", "<meta charset=x-nonsense><p>caf\xE9</p>", "", u"\ncafé\n"},
    {"UnknownMetaCharsetOnUtf8", "<meta charset=x-nonsense><p>caf\xC3\xA9</p>", "", u"\ncafé\n"},
    {"CallerOverridesMeta", "<meta charset=utf-8><p>caf\xE9</p>", "windows-1252", u"\ncafé\n"},
    {"ShiftJis", "<meta charset=shift_jis><p>\x93\x8C\x8B\x9E</p>", "", u"\n東京\n"},
    {"UndeclaredShiftJis", "<p>\x93\x8C\x8B\x9E\x82\xCC</p>", "", u"\n東京の\n"},
    {"Utf8ByteOrderMarkWinsOverCaller", "\xEF\xBB\xBF<p>caf\xC3\xA9</p>", "koi8-r", u"\ncafé\n"},
    {"Utf16LittleEndianByteOrderMark",
     std::string("\xFF\xFE<\0p\0>\0\xE9\0", 10), "", u"\né\n"},
    {"Utf16BigEndianByteOrderMark", std::string("\xFE\xFF\0<\0p\0>\0\xE9", 10), "", u"\né\n"},
    // Labels that browsers do not know read as no declaration: the UTF-7 of
    // "<script>" stays text.
    {"Utf7IsNoEncoding", "<meta charset=utf-7><p>+ADw-script+AD4-x</p>", "",
     u"\n+ADw-script+AD4-x\n"},
    {"EbcdicIsNoEncoding", "<meta charset=ibm037><p>\x4C\x4C</p>", "", u"\nLL\n"},
    {"ReplacementEncodingReadsAsOneReplacementCharacter",
     "<meta charset=iso-2022-kr><p>\x1B$)C<script>x</script></p>", "", u"\uFFFD"},
    {"InvalidSequenceBecomesReplacement", "<meta charset=shift_jis><p>a\x81</p>", "",
     u"\na\uFFFD\n"},
};

INSTANTIATE_TEST_SUITE_P(Cases, Charset, ::testing::ValuesIn(charsetCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ConvertToUtf8, Windows1252ReadsEveryByteAsBrowsersDo) {
  // The five bytes Microsoft left undefined are the C1 controls of the same number.
  EXPECT_EQ(convertToUtf8("\x80\x81\x8D\x8F\x90\x9D\x9F\xE9", "WINDOWS-1252"),
            "\u20AC\u0081\u008D\u008F\u0090\u009D\u0178\u00E9");
  EXPECT_EQ(convertToUtf8("<p>\x1B$)C\x0E", "REPLACEMENT"), "\uFFFD");
  EXPECT_EQ(convertToUtf8("", "REPLACEMENT"), "");
}

TEST(ParseHtml, UnknownCallerCharsetIsAnError) {
  ParseOptions options;
  options.charset = "x-no-such-charset";
  std::string error;
  EXPECT_EQ(parseHtml("<p>x</p>", options, &error), nullptr);
  EXPECT_NE(error.find("x-no-such-charset"), std::string::npos);
}

TEST(ParseHtml, TakesUrlAndReferrerFromTheCaller) {
  ParseOptions options;
  options.url = u"http://example.com/a/b.html";
  options.referrer = u"http://search.example/?q=x";
  std::unique_ptr<HtmlDocument> document = parseHtml("<title> A \n title </title>", options);
  EXPECT_EQ(document->url(), options.url);
  EXPECT_EQ(document->referrer(), options.referrer);
  EXPECT_EQ(document->title(), u"A title");
}

TEST(ParseHtml, NoscriptContentIsRawTextAsWritten) {
  const std::string page =
      "<!DOCTYPE html><html><head><noscript><link rel=a></noscript></head><body>"
      "<noscript><p class=x>new &amp; <b>york</b></p></noscript><p>new</p></body></html>";
  std::unique_ptr<HtmlDocument> document = parseHtml(page);
  const Node* noscript = document->elementsByTagName("noscript").at(1);
  ASSERT_TRUE(noscript->firstChild());
  EXPECT_TRUE(noscript->firstChild()->isText());
  EXPECT_EQ(noscript->firstChild()->nextSibling(), nullptr);
  EXPECT_EQ(document->serialize(), page);
  EXPECT_EQ(document->bodyText(), u"\nnew\n");
}

// xmp and plaintext hold raw text: not body text, and written back as read.
// Nothing can end a plaintext, so nothing is written after its content.
TEST(ParseHtml, RawTextElementsStayText) {
  const std::string page =
      "<!DOCTYPE html><html><head></head><body><p>new</p><xmp><b>new</b></xmp><plaintext>new</p>";
  std::unique_ptr<HtmlDocument> document = parseHtml(page);
  EXPECT_EQ(document->bodyText(), u"\nnew\n");
  EXPECT_EQ(document->serialize(), page);
}

// Pages whose reading by gumbo alone differs from a browser's with scripting
// on, as they are written back (chromium-differential.py checks them and
// more in Chromium itself).
TEST(ParseHtml, ReadsAsABrowserWithScriptingOn) {
  const struct {
    std::string page, written;
  } cases[] = {
      {"<head><noscript><img src=x onerror=f()></noscript></head>a",
       "<html><head><noscript><img src=x onerror=f()></noscript></head><body>a</body></html>"},
      {"<div><noscript></div><img src=x></noscript>a",
       "<html><head></head><body><div><noscript></div><img src=x></noscript>a</div></body></html>"},
      {"<head></head><noscript>\r\n<b>a</b></noscript>",
       "<html><head></head><body><noscript>\n<b>a</b></noscript></body></html>"},
      {"<!--<noscript>--><svg><noscript><b>a</b></noscript></svg>",
       "<!--<noscript>--><html><head></head><body><svg><noscript></noscript></svg><b>a</b></body></html>"},
      {"<p><isindex prompt=p action=/x>a",
       "<html><head></head><body><p><isindex prompt=\"p\" action=\"/x\">a</isindex></p></body></html>"},
      {"<p><ISINDEX prompt=a><i>b</IsIndex>c<script>d</isindex></script><isindex title=\"&#97;cronym\"></isindex >",
       "<html><head></head><body><p><isindex prompt=\"a\"><i>b</i></isindex><i>c<script>d</isindex></script>"
       "<isindex title=\"acronym\"></isindex></i></p></body></html>"},
      {"<!-- <isindex> --><p title=\"<isindex>\">a",
       "<!-- <isindex> --><html><head></head><body><p title=\"<isindex>\">a</p></body></html>"},
      {"<svg><style>&lt;img&gt;</style><plaintext>a</plaintext></svg>b",
       "<html><head></head><body><svg><style>&lt;img&gt;</style><plaintext>a</plaintext></svg>b</body></html>"},
      {"<script><!--<script>a</script>b--></script>",
       "<html><head><script><!--<script>a</script>b--></script></head><body></body></html>"},
      {"<p title=\"a&#13;b\">c&#13;d</p>",
       "<html><head></head><body><p title=\"a&#13;b\">c&#13;d</p></body></html>"},
      // A select's content parsed as the body's; a select in text or a
      // script is no tag, and a nested select start tag closes the select.
      {"<p><select name=a><div>b<img src=x></applet></div></SELECT>c<!--<select>--><script>'</select>'</script>",
       "<html><head></head><body><p><select name=\"a\"><div>b<img src=\"x\"></div></select>c<!--<select>-->"
       "<script>'</select>'</script></p></body></html>"},
      {"<select><option>a<select>b</select>c<select name=d><div>e</div><select id=f>g",
       "<html><head></head><body><select><option>a</option></select>bc<select name=\"d\"><div>e</div></select>g"
       "</body></html>"},
      // A select closed by an input or a bare select start tag: gumbo reads
      // an end tag there, and places after it still find the page's tags
      // (the noscript's raw text, the isindex, a select in a comment).
      {"<select><img src=x><input>a<select><div>b<select>c<noscript><p>d</noscript><!--<select><input>-->"
       "<select><p><isindex></select>",
       "<html><head></head><body><select><img src=\"x\"></select><input>a<select><div>b</div></select>c"
       "<noscript><p>d</noscript><!--<select><input>--><select><p><isindex></isindex></p></select></body></html>"},
      // Formatting a select left open reopened after it, from the page's own
      // tag; paragraphs closed at an option; SVG closed at a p end tag; the
      // tags after all these still found.
      {"<select><b title=\"</isindex>\">a</select>b<isindex><select><p>c<option>d<select><i>e<input>f"
       "<noscript><u>g</noscript><svg><g></p>h",
       "<html><head></head><body><select><b title=\"</isindex>\">a</b></select><b title=\"</isindex>\">b<isindex>"
       "<select><p>c</p><option>d</option></select><i>e<input>f<noscript><u>g</noscript><svg><g></g></svg><p></p>h"
       "</i></isindex></b></body></html>"},
      // Controls and noncharacters kept, a private-use character of the page too.
      {"<p title=\"\x01\x7F\">a\x01\x0B\x1F\x7F\xC2\x85\xEF\xB7\x90\xF4\x8F\xBF\xBF\xF3\xB0\x80\x80<!--\x08-->",
       "<html><head></head><body><p title=\"\x01\x7F\">a\x01\x0B\x1F\x7F\xC2\x85\xEF\xB7\x90\xF4\x8F\xBF\xBF"
       "\xF3\xB0\x80\x80<!--\x08--></p></body></html>"},
  };
  for (const auto& c : cases) {
    std::unique_ptr<HtmlDocument> document = parseHtml(c.page);
    ASSERT_TRUE(document) << c.page;
    EXPECT_EQ(document->serialize(), c.written) << c.page;
  }
}

TEST(ParseHtml, SerialisesAsHtml5) {
  const std::string page =
      "<!DOCTYPE html><html><head><title>a &amp; b</title>"
      "<script>if (a < b && c > d) {}</script></head>"
      "<body><p title=\"say &quot;hi&quot; &amp; go\" hidden=\"\">x&nbsp;&lt;y&gt;<br><img src=\"i\">"
      "</p><pre>\n\nkeep</pre><!-- note --><textarea>a &lt;b&gt;</textarea></body></html>";
  EXPECT_EQ(parseHtml(page)->serialize(), page);
}

// Written for UTF-8 bytes, the declarations of another charset say utf-8;
// the tree keeps them as read.
TEST(ParseHtml, CharsetDeclarationsWrittenAsUtf8) {
  const std::string page =
      "<!DOCTYPE html><html><head><meta charset=\"koi8-r\" content=\"charset=koi8-r\">"
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=shift_jis\">"
      "<meta charset=\"UTF-8\"></head><body><meta content=\"text/html; charset=latin1\"></body></html>";
  std::unique_ptr<HtmlDocument> document = parseHtml(page);
  std::string written;
  const auto append = [&](std::string_view bytes) {
    written += bytes;
    return true;
  };
  ASSERT_TRUE(document->serialize(append, HtmlDocument::Charsets::declareUtf8));
  EXPECT_EQ(written,
            "<!DOCTYPE html><html><head><meta charset=\"utf-8\" content=\"charset=koi8-r\">"
            "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">"
            "<meta charset=\"UTF-8\"></head><body><meta content=\"text/html; charset=utf-8\"></body></html>");
  EXPECT_EQ(document->serialize(), page);
}

TEST(ParseHtml, KeepsALegacyDoctype) {
  const std::string page =
      "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\" "
      "\"http://www.w3.org/TR/html4/loose.dtd\"><html><head></head><body></body></html>";
  EXPECT_EQ(parseHtml(page)->serialize(), page);
}

TEST(ParseHtml, FramesetDocumentOffersNoBodyElement) {
  std::unique_ptr<HtmlDocument> document =
      parseHtml("<html><frameset><frame src=a.html></frameset></html>");
  ASSERT_TRUE(document->body());
  EXPECT_TRUE(document->body()->is("frameset"));
  std::unique_ptr<Document> view = document->document();
  std::unique_ptr<BodyElement> body;
  EXPECT_EQ(view->body(&body), hr::ok);
  EXPECT_EQ(body, nullptr);
}

// Bad input parses into some document, without crash or runaway memory.
struct BadInputCase {
  const char* name;
  std::string bytes;
  const char* refusal = nullptr;  // a shape gumbo would read in time beyond bound
};

class BadInput : public ::testing::TestWithParam<BadInputCase> {};

TEST_P(BadInput, ParsesHighlightsAndSerialises) {
  std::string error;
  std::unique_ptr<HtmlDocument> document = parseHtml(GetParam().bytes, {}, &error);
  if (GetParam().refusal) {
    EXPECT_FALSE(document);
    EXPECT_EQ(error, GetParam().refusal);
    return;
  }
  ASSERT_TRUE(document) << error;
  const std::u16string text = document->bodyText();
  std::unique_ptr<Document> view = document->document();
  std::unique_ptr<BodyElement> body;
  ASSERT_EQ(view->body(&body), hr::ok);
  if (body) {
    EXPECT_GE(testing::highlightWord(*body, u"ab"), 0);
    EXPECT_EQ(document->bodyText(), text);
  }
  const std::string out = document->serialize();
  EXPECT_TRUE(parseHtml(out));
}

std::string nested(std::size_t depth, const char* open, const char* close) {
  std::string out;
  for (std::size_t i = 0; i < depth; ++i) out += open;
  out += "a";
  for (std::size_t i = 0; i < depth; ++i) out += close;
  return out;
}

std::string numbered(std::size_t count, const char* before, const char* after) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) out += before + std::to_string(i) + after;
  return out;
}

constexpr const char* deep = "the page nests elements more than 512 deep";

const BadInputCase badInputCases[] = {
    {"Empty", ""},
    {"NulBytes", std::string("<p>a\0b</p>\0<b\0>a</b>", 20)},
    {"InvalidUtf8", "<p>a\xC3\x28 \xF0\x28\x8C\x28 a\xFF</p>"},
    {"UnclosedEverything", "<p><b><i><table><tr><td>a<div>a"},
    {"MisnestedFormatting", "<p><b>a<i>b</b>a</i>a</p><b><p>a</b>a</p>"},
    {"DeepDivsWithinTheLimit", nested(500, "<div>", "</div>")},
    {"ManyClosedDivs", [] {
       std::string page;
       for (int i = 0; i < 20000; ++i) page += "<div><p>a</div><li>b<td>c";
       return page;
     }()},
    {"DeepDivs", nested(4000, "<div>", "</div>"), deep},
    {"DeepSpans", nested(10000, "<span>", "</span>"), deep},
    {"DeepUnclosed", nested(10000, "<div><b>", ""), deep},
    {"DeepWithStrayEndTags", nested(100000, "<div>", "</span>"), deep},
    // Formatting elements an enclosing element closed, reopened by text.
    {"DeepReopened", "<div>" + numbered(300, "<b id=", ">") + "</div>" + nested(250, "<div>", ""), deep},
    {"ManyAttributes", "<p" + numbered(513, " a", "") + ">a", "a tag of the page has more than 512 attributes"},
    {"ManyAttributesOnAnEndTag", "<p></p" + numbered(513, " a", "") + ">",
     "a tag of the page has more than 512 attributes"},
    {"ManyCopiesOfOneAttribute", "<p" + nested(20000, " a", "") + ">a"},
    // 400 open around 5000 blocks would be two million elements.
    {"ManyReopened", "<div>" + numbered(400, "<b id=", ">") + "</div>" + numbered(5000, "<div>x", "</div>"),
     "the page's unclosed formatting elements would be reopened more than 105174 times"},
    {"LongTextNode", "<p>" + std::string(4 << 20, 'a') + "</p>"},
    {"OnlyMarkup", "<<<>>></></ ><!><!-"},
    {"ManyMatchesInOneTextNode", "<p>" + [] {
       std::string text;
       for (int i = 0; i < 20000; ++i) text += "ab ";
       return text;
     }() + "</p>"},
};

INSTANTIATE_TEST_SUITE_P(Cases, BadInput, ::testing::ValuesIn(badInputCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace glintmark::html
