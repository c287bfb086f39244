// Property tests over generated pages: highlighting keeps the text, makes one
// span per match, and the markup survives a round trip.
#include <gtest/gtest.h>

#include "html/html_document.h"
#include "html/html_internal.h"
#include "html/testing/highlight.h"
#include "html/page_generator.h"

namespace glintmark::html {
namespace {

std::size_t countOf(std::string_view text, std::string_view needle) {
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string_view::npos;
       at = text.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

TEST(PageGenerator, IsDeterministicAndReachesItsSize) {
  const std::string page = generatePage(50'000, 7);
  EXPECT_GE(page.size(), 50'000u);
  EXPECT_LT(page.size(), 52'000u);
  EXPECT_EQ(page, generatePage(50'000, 7));
  EXPECT_NE(page, generatePage(50'000, 8));
}

// The matches the page pass's loop must find, counted on the plain body text:
// each search resumes right behind the previous match.
long expectedMatches(std::u16string text, std::u16string needle, bool wholeWords) {
  for (char16_t& c : text) c = foldChar(c);
  for (char16_t& c : needle) c = foldChar(c);
  long count = 0;
  for (std::size_t at = text.find(needle); at != std::u16string::npos;) {
    const bool bounded = (at == 0 || !isWordChar(text[at - 1])) &&
                         (at + needle.size() >= text.size() || !isWordChar(text[at + needle.size()]));
    if (wholeWords && !bounded) {
      at = text.find(needle, at + 1);
      continue;
    }
    ++count;
    at = text.find(needle, at + needle.size());
  }
  return count;
}

// The dense shapes keep the density they promise, so that benchmark figures
// on them mean the same from run to run.
TEST(PageGenerator, DenseShapesAreTagDenseWithFewMatches) {
  struct Row {
    PageShape shape;
    double fewestLinks, mostLinks;  // per KB
  };
  for (const Row& row : {Row{PageShape::dense, 1.2, 1.9}, Row{PageShape::links, 2.7, 3.4}}) {
    SCOPED_TRACE(row.fewestLinks);
    const std::string page = generatePage(200'000, 3, row.shape);
    EXPECT_EQ(page, generatePage(200'000, 3, row.shape));
    std::unique_ptr<HtmlDocument> document = parseHtml(page);
    const double kilobytes = static_cast<double>(page.size()) / 1024;
    const double elements = static_cast<double>(document->elementsByTagName("*").size()) / kilobytes;
    const double links = static_cast<double>(document->elementsByTagName("a").size()) / kilobytes;
    EXPECT_GT(elements, 20) << "elements per KB";
    EXPECT_LT(elements, 27) << "elements per KB";
    EXPECT_GT(links, row.fewestLinks) << "links per KB";
    EXPECT_LT(links, row.mostLinks) << "links per KB";
    long matches = 0;
    for (const std::string& keyword : generatedPageKeywords()) {
      matches += expectedMatches(document->bodyText(), toUtf16(keyword), false);
    }
    EXPECT_GT(matches / kilobytes, 1.0) << "matches per KB";
    EXPECT_LT(matches / kilobytes, 1.8) << "matches per KB";
  }
}

class GeneratedPage : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(GeneratedPage, FindsEveryOccurrenceOfTheBodyText) {
  std::unique_ptr<HtmlDocument> document = parseHtml(generatePage(40'000, GetParam()));
  const std::u16string text = document->bodyText();
  std::unique_ptr<BodyElement> body;
  ASSERT_EQ(document->document()->body(&body), hr::ok);
  // Text never changes, so every keyword's count is that of the plain text,
  // however many spans earlier keywords left.
  for (const int flags : {0, 2}) {
    for (const std::string& keyword : generatedPageKeywords()) {
      const std::u16string word = toUtf16(keyword);
      EXPECT_EQ(testing::highlightWord(*body, word, "#99ff99", flags),
                expectedMatches(text, word, flags == 2))
          << keyword << " with flags " << flags;
    }
  }
}

TEST_P(GeneratedPage, HighlightingKeepsTheTextAndMakesOneSpanPerMatch) {
  const std::string markup = generatePage(60'000, GetParam());
  std::unique_ptr<HtmlDocument> document = parseHtml(markup);
  const std::u16string textBefore = document->bodyText();
  const std::size_t spansBefore = countOf(document->serialize(), "<span");

  std::unique_ptr<Document> view = document->document();
  std::unique_ptr<BodyElement> body;
  ASSERT_EQ(view->body(&body), hr::ok);
  ASSERT_TRUE(body);
  long matches = 0;
  for (const std::string& keyword : generatedPageKeywords()) {
    const long found = testing::highlightWord(*body, toUtf16(keyword), "#ffff66");
    ASSERT_GE(found, 0) << keyword;
    matches += found;
  }
  EXPECT_GT(matches, 50);
  EXPECT_EQ(document->bodyText(), textBefore);
  const std::string after = document->serialize();
  EXPECT_EQ(countOf(after, "<span style=\"color:black;background-color:#ffff66\">"),
            static_cast<std::size_t>(matches));
  EXPECT_EQ(countOf(after, "<span") - spansBefore, static_cast<std::size_t>(matches));

  // serialise -> parse -> serialise is stable, before and after highlighting.
  EXPECT_EQ(parseHtml(after)->serialize(), after);
  const std::string plain = parseHtml(markup)->serialize();
  EXPECT_EQ(parseHtml(plain)->serialize(), plain);
}

INSTANTIATE_TEST_SUITE_P(Seeds, GeneratedPage, ::testing::Values(1u, 2u, 3u, 42u));

}  // namespace
}  // namespace glintmark::html
