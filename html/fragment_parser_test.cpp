// Our own parser: fragments for pasteHtml and whole well-formed pages.
#include <gtest/gtest.h>

#include "html/html_document.h"
#include "html/html_internal.h"

namespace glintmark::html {
namespace {

std::string reserialised(std::string_view markup) {
  std::unique_ptr<HtmlDocument> document = HtmlDocument::create();
  document->setInnerHtml(document->body(), markup);
  std::string out;
  for (const Node* child = document->body()->firstChild(); child; child = child->nextSibling()) {
    out += document->serialize(child);
  }
  return out;
}

TEST(FragmentParser, ParsesWellFormedMarkup) {
  const struct {
    const char* markup;
    const char* expected;
  } cases[] = {
      {"<span style='color:black;background-color:#ffff66'>new</span>",
       "<span style=\"color:black;background-color:#ffff66\">new</span>"},
      {"<a HREF=x Title=\"a &quot;b&quot; &amp; c\" data-x>t</a>",
       "<a href=\"x\" title=\"a &quot;b&quot; &amp; c\" data-x=\"\">t</a>"},
      {"<a href=\"?a=1&amp=2&b=3\">q</a>", "<a href=\"?a=1&amp;amp=2&amp;b=3\">q</a>"},
      {"a &amp; &lt;b&gt; &nbsp;&eacute;&#233;&#xE9;&#x1F600;&#150;&bogus; &amp",
       "a &amp; &lt;b&gt; &nbsp;ééé\xF0\x9F\x98\x80\xE2\x80\x93&amp;bogus; &amp;"},
      {"x<br>y<br/>z<img src=i />", "x<br>y<br>z<img src=\"i\">"},
      {"<script>if (a < b) { x = '</p>'; }</script>", "<script>if (a < b) { x = '</p>'; }</script>"},
      {"<style>p > b { }</STYLE>after", "<style>p > b { }</style>after"},
      {"<textarea>&lt;b&gt;</textarea>", "<textarea>&lt;b&gt;</textarea>"},
      {"<!-- a -- b --><!---->x", "<!-- a -- b --><!---->x"},
      {"<b>unclosed <i>both", "<b>unclosed <i>both</i></b>"},
      {"stray</b> end</p>", "stray end"},
      {"<ul><li>one<li>two</ul>", "<ul><li>one</li><li>two</li></ul>"},
      {"<p>one<p>two<div>three</div>", "<p>one</p><p>two</p><div>three</div>"},
      {"a < b and c<>d </ x>", "a &lt; b and c&lt;&gt;d "},
      {"<b>bold</b >", "<b>bold</b>"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(reserialised(c.markup), c.expected) << c.markup;
}

TEST(FragmentParser, EstimatesNestingDepth) {
  EXPECT_EQ(estimateNestingDepth(""), 0u);
  EXPECT_EQ(estimateNestingDepth("<div><div><b>x</b></div><i>y</i></div>"), 3u);
  EXPECT_EQ(estimateNestingDepth("<ul><li>a<li>b<li>c<br><img src=x><p>d<p>e</ul>"), 1u);
  EXPECT_EQ(estimateNestingDepth("</b></b><b>a < b <3"), 1u);
}

TEST(FragmentParser, EndTagInsideScriptTextCannotEscapeIt) {
  std::unique_ptr<HtmlDocument> document = HtmlDocument::create();
  Node* script = document->createElement("script");
  document->appendChild(document->body(), script);
  document->appendChild(script, document->createText("x = '</script><img src=x>';"));
  const std::string out = document->serialize(script);
  EXPECT_EQ(out, "<script>x = '<\\/script><img src=x>';</script>");
  EXPECT_TRUE(parseSimpleHtml(out)->elementsByTagName("img").empty());
}

TEST(ParseSimpleHtml, BuildsAWholePage) {
  std::unique_ptr<HtmlDocument> document = parseSimpleHtml(
      "<!DOCTYPE html>\n<html lang=en><head><title>T</title></head>\n"
      "<body class=b><p>x</p></body></html>\n");
  EXPECT_EQ(document->serialize(),
            "<!DOCTYPE html><html lang=\"en\"><head><title>T</title></head>"
            "<body class=\"b\"><p>x</p>\n</body></html>");
  EXPECT_EQ(document->title(), u"T");
}

TEST(ParseSimpleHtml, PutsBodyContentIntoABody) {
  std::unique_ptr<HtmlDocument> document =
      parseSimpleHtml("<title>T</title><meta charset=utf-8><p>x</p><title>not head</title>");
  EXPECT_EQ(document->serialize(),
            "<html><head><title>T</title><meta charset=\"utf-8\"></head>"
            "<body><p>x</p><title>not head</title></body></html>");
}

TEST(ParseSimpleHtml, FramesetStandsForTheBody) {
  std::unique_ptr<HtmlDocument> document =
      parseSimpleHtml("<html><frameset cols=50%><frame src=a></frameset></html>");
  ASSERT_TRUE(document->body());
  EXPECT_TRUE(document->body()->is("frameset"));
  EXPECT_EQ(document->serialize(),
            "<html><head></head><frameset cols=\"50%\"><frame src=\"a\"></frameset></html>");
}

}  // namespace
}  // namespace glintmark::html
