// The document: building, serialising, and the views the page pass uses.
#include "html/html_document.h"

#include <gtest/gtest.h>

namespace glintmark::html {
namespace {

TEST(HtmlDocument, BuildsAndSerialises) {
  std::unique_ptr<HtmlDocument> document = HtmlDocument::create();
  document->setDoctype("html");
  Node* p = document->createElement("P");
  document->setAttribute(p, "Class", "a\"b&c\xC2\xA0");
  document->appendChild(document->body(), p);
  document->appendChild(p, document->createText("1 < 2 & 3 > 2\xC2\xA0"));
  document->appendChild(p, document->createComment(" note --> "));
  Node* br = document->createElement("br");
  document->appendChild(p, br);
  document->appendChild(br, document->createText("lost"));  // void: never written
  document->appendChild(document->body(), document->createText(u"\u00e9"));
  EXPECT_EQ(document->serialize(),
            "<!DOCTYPE html><html><head></head><body>"
            "<p class=\"a&quot;b&amp;c&nbsp;\">1 &lt; 2 &amp; 3 &gt; 2&nbsp;<!-- note - -> --><br></p>"
            "\xC3\xA9</body></html>");
}

// Long runs are written several units at a time: a character to escape or
// encode at any place of a run is written as it is alone.
TEST(HtmlDocument, SerialisesEveryPlaceOfALongRun) {
  struct Case {
    std::string raw, inText, inAttribute;
  };
  const std::vector<Case> cases = {{"&", "&amp;", "&amp;"},
                                   {"<", "&lt;", "<"},
                                   {">", "&gt;", ">"},
                                   {"\"", "\"", "&quot;"},
                                   {"\xC2\xA0", "&nbsp;", "&nbsp;"},
                                   {"\xC3\xA9", "\xC3\xA9", "\xC3\xA9"},
                                   {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"}};
  for (std::size_t at = 0; at < 40; ++at) {
    for (const Case& c : cases) {
      const std::string before(at, 'a'), after(40 - at, 'b');
      std::unique_ptr<HtmlDocument> document = HtmlDocument::create();
      Node* p = document->createElement("p");
      document->setAttribute(p, "title", before + c.raw + after);
      document->appendChild(document->body(), p);
      document->appendChild(p, document->createText(before + c.raw + after));
      EXPECT_EQ(document->serialize(p), "<p title=\"" + before + c.inAttribute + after + "\">" + before +
                                            c.inText + after + "</p>")
          << "at " << at << ": " << c.raw;
    }
  }
}

TEST(HtmlDocument, RefusesToMakeANodeItsOwnDescendant) {
  std::unique_ptr<HtmlDocument> document = HtmlDocument::create();
  Node* outer = document->createElement("div");
  Node* inner = document->createElement("div");
  document->appendChild(outer, inner);
  document->appendChild(inner, outer);
  EXPECT_EQ(outer->parent(), nullptr);
  EXPECT_EQ(inner->parent(), outer);
}

TEST(HtmlDocument, BodyTextFollowsChanges) {
  std::unique_ptr<HtmlDocument> document = parseSimpleHtml("<p>one</p>");
  EXPECT_EQ(document->bodyText(), u"\none\n");
  document->setInnerHtml(document->body(), "<div>two<br>three</div> four");
  EXPECT_EQ(document->bodyText(), u"\ntwo\nthree\n four");
  std::unique_ptr<TextRange> range;
  std::unique_ptr<BodyElement> body;
  ASSERT_EQ(document->document()->body(&body), hr::ok);
  ASSERT_EQ(body->createTextRange(&range), hr::ok);
  bool found = false;
  ASSERT_EQ(range->findText(u"four", 0, 0, &found), hr::ok);
  EXPECT_TRUE(found);
}

TEST(HtmlDocument, TitleAsTheBrowserReportsIt) {
  std::unique_ptr<HtmlDocument> document =
      parseSimpleHtml("<head><title>\n  Snow  \t leopard </title></head><svg><title>x</title></svg>");
  EXPECT_EQ(document->title(), u"Snow leopard");
  document->setTitle(u"New & <title>");
  EXPECT_EQ(document->title(), u"New & <title>");
  EXPECT_EQ(document->serialize(document->head()),
            "<head><title>New &amp; &lt;title&gt;</title></head>");
  std::unique_ptr<HtmlDocument> untitled = HtmlDocument::create();
  EXPECT_EQ(untitled->title(), u"");
  untitled->setTitle(u"Made");
  EXPECT_EQ(untitled->serialize(untitled->head()), "<head><title>Made</title></head>");
}

TEST(DocumentView, GivesTitleUrlAndReferrer) {
  std::unique_ptr<HtmlDocument> document = parseSimpleHtml("<title>T</title><p>x</p>");
  document->setUrl(u"http://example.com/");
  std::unique_ptr<Browser> browser = document->browser();
  std::unique_ptr<Document> view;
  ASSERT_EQ(browser->document(&view), hr::ok);
  ASSERT_TRUE(view);
  WideText text;
  ASSERT_EQ(view->title(&text), hr::ok);
  EXPECT_EQ(text, u"T");
  ASSERT_EQ(view->url(&text), hr::ok);
  EXPECT_EQ(text, u"http://example.com/");
  ASSERT_EQ(view->referrer(&text), hr::ok);
  EXPECT_EQ(text, u"");  // present and empty: no page led here
  EXPECT_EQ(view->title(nullptr), hr::pointer);
  EXPECT_EQ(view->body(nullptr), hr::pointer);
  EXPECT_EQ(browser->document(nullptr), hr::pointer);
}

TEST(DocumentView, LinksThroughTheCollections) {
  std::unique_ptr<HtmlDocument> document = parseSimpleHtml(
      "<p><a href=\"b.html\" title=\"old\">1</a><A HREF=\"http://other/\">2</A>"
      "<a name=\"anchor\">3</a><area href=\"map.html\"><img src=\"i\"></p>");
  document->setUrl(u"http://example.com/dir/page.html");
  std::unique_ptr<Document> view = document->document();
  std::unique_ptr<ElementCollection> all;
  ASSERT_EQ(view->all(&all), hr::ok);
  std::int32_t count = 0;
  ASSERT_EQ(all->length(&count), hr::ok);
  EXPECT_EQ(count, 9);  // html head body p a a a area img
  std::unique_ptr<LinkElement> link;
  ASSERT_EQ(all->item(0, &link), hr::ok);
  EXPECT_EQ(link, nullptr);  // html is no anchor

  std::unique_ptr<ElementCollection> anchors;
  ASSERT_EQ(all->tags(u"A", &anchors), hr::ok);
  ASSERT_EQ(anchors->length(&count), hr::ok);
  ASSERT_EQ(count, 3);
  const char16_t* expected[] = {u"http://example.com/dir/b.html", u"http://other/", u""};
  for (std::int32_t i = 0; i < count; ++i) {
    ASSERT_EQ(anchors->item(i, &link), hr::ok);
    ASSERT_TRUE(link);
    WideText href;
    ASSERT_EQ(link->href(&href), hr::ok);
    EXPECT_EQ(href, expected[i]);
    ASSERT_EQ(link->putTitle(*href), hr::ok);
  }
  ASSERT_EQ(anchors->item(3, &link), hr::ok);
  EXPECT_EQ(link, nullptr);
  ASSERT_EQ(anchors->item(-1, &link), hr::ok);
  EXPECT_EQ(link, nullptr);
  EXPECT_EQ(document->serialize(document->body()->firstChild()),
            "<p><a href=\"b.html\" title=\"http://example.com/dir/b.html\">1</a>"
            "<a href=\"http://other/\" title=\"http://other/\">2</a>"
            "<a name=\"anchor\" title=\"\">3</a><area href=\"map.html\"><img src=\"i\"></p>");
}

TEST(DocumentView, BaseElementSetsTheBase) {
  std::unique_ptr<HtmlDocument> document =
      parseSimpleHtml("<head><base href=\"/root/\"></head><a href=\"x\">x</a>");
  document->setUrl(u"http://example.com/a/b");
  EXPECT_EQ(document->resolvedHref(document->elementsByTagName("a").at(0)),
            u"http://example.com/root/x");
  // A <base> in SVG or in a template's content is not the document's.
  for (const char* hidden : {"<svg><base href=\"https://bank.example/\"/></svg>",
                             "<template><base href=\"https://bank.example/\"></template>"}) {
    document = parseSimpleHtml(std::string("<body>") + hidden + "<a href=\"/login\">x</a>");
    document->setUrl(u"http://example.com/a/b");
    EXPECT_EQ(document->resolvedHref(document->elementsByTagName("a").at(0)), u"http://example.com/login") << hidden;
  }
}

// The base address is cached between links; every change that can move it
// must show in the next href.
TEST(DocumentView, BaseFollowsChangesAfterItWasCached) {
  std::unique_ptr<HtmlDocument> document = parseSimpleHtml("<a href=\"x\">x</a>");
  document->setUrl(u"http://example.com/a/b");
  Node* link = document->elementsByTagName("a").at(0);
  EXPECT_EQ(document->resolvedHref(link), u"http://example.com/a/x");
  document->setAttribute(link, "title", "tooltip");  // not a base: nothing moves
  EXPECT_EQ(document->resolvedHref(link), u"http://example.com/a/x");

  Node* base = document->createElement("base");
  document->setAttribute(base, "href", "/root/");
  document->appendChild(document->head(), base);
  EXPECT_EQ(document->resolvedHref(link), u"http://example.com/root/x");
  document->setAttribute(base, "href", "/other/");
  EXPECT_EQ(document->resolvedHref(link), u"http://example.com/other/x");
  document->setUrl(u"http://example.org/");
  EXPECT_EQ(document->resolvedHref(link), u"http://example.org/other/x");
  document->removeChild(base);
  EXPECT_EQ(document->resolvedHref(link), u"http://example.org/x");
}

}  // namespace
}  // namespace glintmark::html
