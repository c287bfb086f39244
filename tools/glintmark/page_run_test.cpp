#include "tools/glintmark/page_run.h"

#include <gtest/gtest.h>

#include "core/keywords.h"
#include "core/testing/fake_document.h"
#include "core/utf.h"
#include "html/html_document.h"
#include "html/testing/highlight.h"

namespace glintmark::tool {
namespace {

TEST(ParseOptionsWord, AcceptsDecimalAndHexWordsOnly) {
  struct Row {
    const char* text;
    std::optional<std::uint32_t> word;
  };
  const Row rows[] = {
      {"13", 13u},        {"0", 0u},          {"0xD", 13u},       {"0X0f", 15u},
      {"4294967295", 0xFFFFFFFFu},             {"4294967296", {}}, {"-1", {}},
      {"", {}},           {"0x", {}},         {" 13", {}},        {"13 ", {}},
      {"1e3", {}},        {"thirteen", {}},   {"0x1FFFFFFFF", {}},
  };
  for (const Row& row : rows) EXPECT_EQ(parseOptionsWord(row.text), row.word) << "'" << row.text << "'";
}

constexpr std::string_view kPage =
    "<html><head><title>Snow leopards</title></head><body>"
    "<h1>The Snow Leopard</h1><p>A <b>snow</b> leo<i>pard</i> in its habitat; snow again.</p>"
    "<p><a href='/x' title='old'>link</a> <a name='top'>anchor</a></p></body></html>";

// The page pass over the HTML model, with each call of the model failing in
// turn: whatever fails, every object is released and the page's text is the
// text it had.
TEST(PageRun, PassOverTheHtmlModelSurvivesEveryFailure) {
  using fake::Op;
  const Op ops[] = {Op::document, Op::title,    Op::url,       Op::referrer,  Op::body,
                    Op::all,      Op::tags,     Op::length,    Op::item,      Op::href,
                    Op::putTitle, Op::createTextRange, Op::findText, Op::htmlText,
                    Op::pasteHtml, Op::moveStart, Op::moveEnd};
  const std::unique_ptr<CodePage> codePage = makeCodePage(1252);
  for (int run = -1; run < 2 * static_cast<int>(std::size(ops)); ++run) {
    const int injected = run < 0 ? -1 : run / 2;
    SCOPED_TRACE(run);
    html::ParseOptions parse;
    parse.url = u"https://wildcats.example/a.html";
    parse.referrer = u"https://engine.example/search?q=snow+leopard+habitat";
    const auto document = html::parseHtml(kPage, parse);
    const std::u16string text = document->bodyText();
    fake::Faults faults;
    if (injected >= 0) faults.failOn(ops[injected], hr::fail, 1 + run % 2);
    PageSession session;
    PageReport report;
    HResult result;
    {
      const auto browser = faults.wrap(document->browser());
      result = HighlightPage(browser.get(), optionsFromWord(15), session, *codePage, &report);
    }
    EXPECT_EQ(faults.live(), 0);
    EXPECT_TRUE(result == hr::ok || result == hr::fail) << hresultText(result);
    EXPECT_EQ(document->bodyText(), text);
    if (injected < 0) {
      ASSERT_EQ(report.keywords.size(), 3u);
      EXPECT_EQ(report.keywords[0].spans, 3);  // "snow" three times
      EXPECT_EQ(report.keywords[1].spans, 2);  // "leopard", also across <i>
      EXPECT_EQ(report.keywords[2].spans, 1);
      EXPECT_EQ(report.tooltips, 2);
      EXPECT_NE(document->serialize().find("<span style=\"color:black;background-color:#ffff66\">"),
                std::string::npos);
    }
  }
}

// The colour each character of a written body shows: the background of the
// innermost of our spans around it ('-' for none); the page has no spans of
// its own.
std::string shownColours(const std::string& html) {
  constexpr std::string_view open = "<span style=\"color:black;background-color:#";
  std::vector<std::string> stack{"-"};
  std::string out;
  for (std::size_t i = html.find("<body>") + 6; i < html.size();) {
    if (html.compare(i, open.size(), open) == 0) {
      stack.push_back(html.substr(i + open.size(), 6));
    } else if (html.compare(i, 7, "</span>") == 0) {
      stack.pop_back();
    } else if (html[i] != '<') {
      out += stack.back() + " ";
      ++i;
      continue;
    }
    i = html.find('>', i) + 1;
  }
  return out;
}

// A word listed again is searched once, and every character shows the colour
// it showed when each listed word was searched in turn, its later spans
// nested in its earlier ones.
TEST(PageRun, RepeatedWordsShowWhatNestedSearchesShowed) {
  const std::string_view page = "<p>aabb aabbc cd <b>aa</b>bb xaabb aabb</p>";
  const std::vector<std::vector<std::string>> lists = {
      {"aabb", "aabb"}, {"aabb", "cd", "aabb"}, std::vector<std::string>(9, "aabb"),
      {"aabb", "bb", "aabb"}, {"aabb", "aabbc", "aabb"},
      {"cd", "aabb", "cd", "aabb", "xaabb", "aabb", "cd"},
  };
  const std::unique_ptr<CodePage> codePage = makeCodePage(1252);
  for (const std::vector<std::string>& words : lists) {
    std::string query;
    for (const std::string& word : words) query += (query.empty() ? "" : "+") + word;
    SCOPED_TRACE(query);
    html::ParseOptions parse;
    parse.url = u"https://a.example/";
    parse.referrer = toUtf16("https://s.example/?q=" + query);
    const auto nested = html::parseHtml(page, parse);
    {
      std::unique_ptr<BodyElement> body;
      std::unique_ptr<Document> document;
      ASSERT_EQ(nested->browser()->document(&document), hr::ok);
      ASSERT_EQ(document->body(&body), hr::ok);
      for (std::size_t position = 0; position < words.size(); ++position) {
        html::testing::highlightWord(*body, toUtf16(words[position]), highlightColour(position));
      }
    }
    const auto merged = html::parseHtml(page, parse);
    PageSession session;
    PageReport report;
    ASSERT_EQ(HighlightPage(merged->browser().get(), optionsFromWord(5), session, *codePage, &report), hr::ok);
    EXPECT_EQ(shownColours(merged->serialize()), shownColours(nested->serialize()));
    EXPECT_NE(shownColours(merged->serialize()).find(highlightColour(words.size() - 1).substr(1)), std::string::npos);
  }
}

}  // namespace
}  // namespace glintmark::tool
