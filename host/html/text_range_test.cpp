#include <gtest/gtest.h>

#include "host/html/html_document.h"
#include "host/html/html_test_support.h"

namespace glintmark::html {
namespace {

std::string bodyOf(const HtmlDocument& document) {
  std::string out;
  for (const Node* child = document.body()->firstChild(); child; child = child->nextSibling()) {
    out += document.serialize(child);
  }
  return out;
}

std::unique_ptr<BodyElement> bodyElement(HtmlDocument& document) {
  std::unique_ptr<Document> view = document.document();
  std::unique_ptr<BodyElement> body;
  EXPECT_EQ(view->body(&body), hr::ok);
  return body;
}

TEST(TextRange, HighlightsSimpleText) {
  auto document = parseSimpleHtml("<p>new york is new</p>");
  auto body = bodyElement(*document);
  ASSERT_TRUE(body);
  EXPECT_EQ(testing::highlightKeyword(*body, u"new", u"#ffff66"), 2);
  EXPECT_EQ(bodyOf(*document),
            "<p><span style=\"color:black;background-color:#ffff66\">new</span> york is "
            "<span style=\"color:black;background-color:#ffff66\">new</span></p>");
}

}  // namespace
}  // namespace glintmark::html
