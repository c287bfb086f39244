// Text ranges: exact output of the highlighting loop and of each operation.
#include <gtest/gtest.h>

#include "html/html_document.h"
#include "html/html_internal.h"
#include "html/testing/highlight.h"

namespace glintmark::html {
namespace {

std::string bodyOf(const HtmlDocument& document) {
  std::string out;
  for (const Node* child = document.body()->firstChild(); child; child = child->nextSibling()) {
    out += document.serialize(child);
  }
  return out;
}

std::unique_ptr<TextRange> rangeOver(HtmlDocument& document) {
  std::unique_ptr<Document> view = document.document();
  std::unique_ptr<BodyElement> body;
  EXPECT_EQ(view->body(&body), hr::ok);
  std::unique_ptr<TextRange> range;
  if (body) {
    EXPECT_EQ(body->createTextRange(&range), hr::ok);
  }
  return range;
}

std::u16string htmlOf(TextRange& range) {
  WideText html;
  EXPECT_EQ(range.htmlText(&html), hr::ok);
  return html.value_or(u"(none)");
}

// The page pass's loop with a short marker element instead of the styled
// span, so that expectations stay readable.
long highlightWith(HtmlDocument& document, std::u16string_view keyword, std::u16string_view tag,
                   int flags) {
  std::unique_ptr<TextRange> range = rangeOver(document);
  long count = 0;
  bool found = false;
  while (succeeded(range->findText(keyword, 0, flags, &found)) && found) {
    std::u16string markup;
    markup.append(u"<").append(tag).append(u">").append(htmlOf(*range));
    markup.append(u"</").append(tag).append(u">");
    EXPECT_EQ(range->pasteHtml(markup), hr::ok);
    std::int32_t moved = 0;
    EXPECT_EQ(range->moveStart(u"Character", 1, &moved), hr::ok);
    EXPECT_EQ(range->moveEnd(u"Textedit", 1, &moved), hr::ok);
    if (++count > 1000) break;
  }
  return count;
}

struct HighlightCase {
  const char* name;
  const char* body;
  const char16_t* keyword;
  int flags;
  const char* expected;
};

class Highlighting : public ::testing::TestWithParam<HighlightCase> {};

TEST_P(Highlighting, GivesExactMarkup) {
  const HighlightCase& c = GetParam();
  std::unique_ptr<HtmlDocument> document = parseSimpleHtml(c.body);
  const std::u16string text = document->bodyText();
  highlightWith(*document, c.keyword, u"mark", c.flags);
  EXPECT_EQ(bodyOf(*document), c.expected);
  EXPECT_EQ(document->bodyText(), text);
}

const HighlightCase highlightCases[] = {
    {"PlainText", "<p>new york is new</p>", u"new", 0,
     "<p><mark>new</mark> york is <mark>new</mark></p>"},
    {"WordSplitByInlineMarkup", "<p>wea<b>ther</b> report</p>", u"weather", 0,
     "<p><mark>wea<b>ther</b></mark> report</p>"},
    {"StartsInsideAnElement", "<p><b>new yo</b>rk</p>", u"york", 0,
     "<p><b>new </b><mark><b>yo</b>rk</mark></p>"},
    {"EndsInsideAnElement", "<p>ne<i>w york</i></p>", u"new", 0,
     "<p><mark>ne<i>w</i></mark><i> york</i></p>"},
    {"StartsAndEndsInsideElements", "<p><b>xne</b><i>wx</i></p>", u"new", 0,
     "<p><b>x</b><mark><b>ne</b><i>w</i></mark><i>x</i></p>"},
    {"DeeplyCutElementsKeepAttributes", "<p><a href=\"u\"><b>xxne</b></a>w</p>", u"new", 0,
     "<p><a href=\"u\"><b>xx</b></a><mark><a href=\"u\"><b>ne</b></a>w</mark></p>"},
    {"WholeElementContent", "<p><b>new</b></p>", u"new", 0, "<p><b><mark>new</mark></b></p>"},
    {"WholeLinkAndMore", "<p><a href=\"x\">new</a> york</p>", u"new york", 0,
     "<p><mark><a href=\"x\">new</a> york</mark></p>"},
    {"Entities", "<p>fish &amp; chips &lt;b&gt;</p>", u"& chips <b>", 0,
     "<p>fish <mark>&amp; chips &lt;b&gt;</mark></p>"},
    {"NoBreakSpaceMatchesSpace", "<p>new&nbsp;york</p>", u"new york", 0,
     "<p><mark>new&nbsp;york</mark></p>"},
    {"WholeWordsOnly", "<p>cat concat cat's category 2cat cat</p>", u"cat", 2,
     "<p><mark>cat</mark> concat <mark>cat</mark>'s category 2cat <mark>cat</mark></p>"},
    {"PartsOfWordsWithoutFlag", "<p>concat</p>", u"cat", 0, "<p>con<mark>cat</mark></p>"},
    {"BackToBackMatches", "<p>newnew new</p>", u"new", 0,
     "<p><mark>new</mark><mark>new</mark> <mark>new</mark></p>"},
    {"BackToBackAcrossElements", "<p><b>RIVER</b><i></i><b>river</b>riverRIVE</p>", u"river", 0,
     "<p><b><mark>RIVER</mark></b><i></i><b><mark>river</mark></b><mark>river</mark>RIVE</p>"},
    {"MatchesSeparatedByOneCharacter", "<p>aa.aa</p>", u"aa", 0,
     "<p><mark>aa</mark>.<mark>aa</mark></p>"},
    {"NoMatchAcrossBlocks", "<p>wea</p><p>ther</p><div>new<br>york</div>", u"weather", 0,
     "<p>wea</p><p>ther</p><div>new<br>york</div>"},
    {"NoMatchAcrossLineBreak", "<div>new<br>york</div>", u"new york", 0,
     "<div>new<br>york</div>"},
    {"AccentedLettersFoldCase", "<p>Café CAFÉ cafe</p>", u"café", 0,
     "<p><mark>Café</mark> <mark>CAFÉ</mark> cafe</p>"},
    {"CyrillicAndGreekFoldCase", "<p>МОСКВА Αθήνα</p>", u"москва", 0,
     "<p><mark>МОСКВА</mark> Αθήνα</p>"},
    {"SharpSMatchesDoubleS", "<p>Straße STRASSE stra<b>ße</b>n</p>", u"strasse", 0,
     "<p><mark>Straße</mark> <mark>STRASSE</mark> <mark>stra<b>ße</b></mark>n</p>"},
    {"KeywordWithSharpS", "<p>x STRASSE Straße ẞ</p>", u"Straße", 0,
     "<p>x <mark>STRASSE</mark> <mark>Straße</mark> ẞ</p>"},
    {"NoMatchInsideOneCharactersFolding", "<p>ßa sa ﬁx</p>", u"sa", 0,
     "<p>ßa <mark>sa</mark> ﬁx</p>"},
    {"FinalSigmaAndTurkishCapitalI", "<p>ΟΔΌΣ οδός İZMİR</p>", u"οδόσ", 0,
     "<p><mark>ΟΔΌΣ</mark> <mark>οδός</mark> İZMİR</p>"},
    {"WholeWordsInEveryScript", "<p>кот котик кот. 猫 ß-кот Straße</p>", u"кот", 2,
     "<p><mark>кот</mark> котик <mark>кот</mark>. 猫 ß-<mark>кот</mark> Straße</p>"},
    {"HiddenTextIsNotSearched",
     "<script>new</script><style>new</style><!--new--><textarea>new</textarea>"
     "<select><option>new</option></select><noscript>new</noscript><p title=\"new\">x new</p>",
     u"new", 0,
     "<script>new</script><style>new</style><!--new--><textarea>new</textarea>"
     "<select><option>new</option></select><noscript>new</noscript>"
     "<p title=\"new\">x <mark>new</mark></p>"},
    {"ForeignContentIsNotSearched",
     "<svg><text>new</text></svg><math><mi>new</mi></math><p>new</p>", u"new", 0,
     "<svg><text>new</text></svg><math><mi>new</mi></math><p><mark>new</mark></p>"},
    {"TableCellsSeparate", "<table><tr><td>ne</td><td>w</td><td>new</td></tr></table>", u"new", 0,
     "<table><tr><td>ne</td><td>w</td><td><mark>new</mark></td></tr></table>"},
    {"NoMatch", "<p>nothing here</p>", u"york", 0, "<p>nothing here</p>"},
};

INSTANTIATE_TEST_SUITE_P(Cases, Highlighting, ::testing::ValuesIn(highlightCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TextRange, LaterKeywordsNestAndCrossEarlierSpans) {
  std::unique_ptr<HtmlDocument> document = parseSimpleHtml("<p>new york</p>");
  EXPECT_EQ(highlightWith(*document, u"new", u"mark", 0), 1);
  EXPECT_EQ(highlightWith(*document, u"ne", u"ins", 0), 1);
  EXPECT_EQ(bodyOf(*document), "<p><mark><ins>ne</ins>w</mark> york</p>");
  EXPECT_EQ(highlightWith(*document, u"w y", u"del", 0), 1);
  EXPECT_EQ(bodyOf(*document),
            "<p><mark><ins>ne</ins></mark><del><mark>w</mark> y</del>ork</p>");
  EXPECT_EQ(document->bodyText(), u"\nnew york\n");
}

TEST(TextRange, SameKeywordTwiceNestsASecondSpan) {
  std::unique_ptr<HtmlDocument> document = parseSimpleHtml("<p>a new b</p>");
  EXPECT_EQ(highlightWith(*document, u"new", u"mark", 0), 1);
  EXPECT_EQ(highlightWith(*document, u"new", u"ins", 0), 1);
  EXPECT_EQ(bodyOf(*document), "<p>a <mark><ins>new</ins></mark> b</p>");
}

TEST(TextRange, FindTextCoversTheMatchAndGivesItsHtml) {
  std::unique_ptr<HtmlDocument> document = parseSimpleHtml("<p>one <b>two</b> three</p>");
  std::unique_ptr<TextRange> range = rangeOver(*document);
  EXPECT_EQ(htmlOf(*range), u"one <b>two</b> three");
  bool found = false;
  ASSERT_EQ(range->findText(u"e tw", 0, 0, &found), hr::ok);
  ASSERT_TRUE(found);
  EXPECT_EQ(htmlOf(*range), u"e <b>tw</b>");
  // Searching within the match only finds what it covers.
  ASSERT_EQ(range->findText(u"three", 0, 0, &found), hr::ok);
  EXPECT_FALSE(found);
  EXPECT_EQ(htmlOf(*range), u"e <b>tw</b>");
}

TEST(TextRange, FindTextCountsAndFlags) {
  std::unique_ptr<HtmlDocument> document = parseSimpleHtml("<p>Abc abc ABC</p>");
  std::unique_ptr<TextRange> range = rangeOver(*document);
  bool found = false;
  ASSERT_EQ(range->findText(u"ABC", 0, 4, &found), hr::ok);  // case-sensitive
  ASSERT_TRUE(found);
  std::int32_t moved = 0;
  ASSERT_EQ(range->moveStart(u"Textedit", -1, &moved), hr::ok);
  EXPECT_EQ(moved, -1);
  // The body text starts with the paragraph's separator.
  ASSERT_EQ(range->findText(u"abc", 3, 0, &found), hr::ok);  // only three characters to look at
  EXPECT_FALSE(found);
  ASSERT_EQ(range->findText(u"abc", 4, 0, &found), hr::ok);
  EXPECT_TRUE(found);
  EXPECT_EQ(htmlOf(*range), u"Abc");
  ASSERT_EQ(range->moveEnd(u"Textedit", 1, &moved), hr::ok);
  ASSERT_EQ(range->moveStart(u"Textedit", -1, &moved), hr::ok);
  ASSERT_EQ(range->findText(u"abc", -100, 0, &found), hr::ok);  // backward: the last one
  EXPECT_TRUE(found);
  EXPECT_EQ(htmlOf(*range), u"ABC");
  ASSERT_EQ(range->findText(u"", 0, 0, &found), hr::ok);
  EXPECT_FALSE(found);
}

// The scan looks at four places at a time: a match at every place, near the
// ends and after a false start, is found where it is.
TEST(TextRange, FindTextFindsAMatchAtEveryPlace) {
  for (const std::u16string needle : {u"b", u"bc", u"bcd"}) {
    for (std::size_t before = 0; before < 9; ++before) {
      for (std::size_t after = 0; after < 6; ++after) {
        const std::u16string text = std::u16string(before, u'b') + u"x" + needle + std::u16string(after, u'c');
        std::unique_ptr<HtmlDocument> document = parseSimpleHtml("<p>" + toUtf8(text) + "</p>");
        std::unique_ptr<TextRange> range = rangeOver(*document);
        bool found = false;
        ASSERT_EQ(range->findText(u"x" + needle, 0, 0, &found), hr::ok);
        EXPECT_TRUE(found) << toUtf8(text);
        EXPECT_EQ(htmlOf(*range), u"x" + needle) << toUtf8(text);
      }
    }
  }
}

TEST(TextRange, MovesByCharacterAndTextedit) {
  std::unique_ptr<HtmlDocument> document = parseSimpleHtml("<p>a\xF0\x9F\x98\x80" "b</p>");
  std::unique_ptr<TextRange> range = rangeOver(*document);
  std::int32_t moved = 0;
  // Separator, a, the emoji, b, separator.
  ASSERT_EQ(range->moveStart(u"character", 2, &moved), hr::ok);
  EXPECT_EQ(moved, 2);
  ASSERT_EQ(range->moveEnd(u"CHARACTER", -2, &moved), hr::ok);
  EXPECT_EQ(moved, -2);
  EXPECT_EQ(htmlOf(*range), u"\U0001F600");  // a surrogate pair is one character
  ASSERT_EQ(range->moveStart(u"Character", 1000, &moved), hr::ok);
  EXPECT_EQ(moved, 3);
  EXPECT_EQ(htmlOf(*range), u"");  // the start dragged the end along
  ASSERT_EQ(range->moveStart(u"Textedit", 1, &moved), hr::ok);
  EXPECT_EQ(moved, 0);
  ASSERT_EQ(range->moveStart(u"Textedit", -1, &moved), hr::ok);
  EXPECT_EQ(moved, -1);
  EXPECT_EQ(range->moveStart(u"Word", 1, &moved), hr::invalidArg);
  EXPECT_EQ(range->moveStart(u"Character", 1, nullptr), hr::pointer);
  bool found;
  EXPECT_EQ(range->findText(u"a", 0, 0, nullptr), hr::pointer);
  EXPECT_EQ(range->htmlText(nullptr), hr::pointer);
  (void)found;
}

TEST(TextRange, DuplicatesAndComparesEndPoints) {
  std::unique_ptr<HtmlDocument> document = parseSimpleHtml("<p>one two one</p>");
  std::unique_ptr<TextRange> range = rangeOver(*document);
  bool found = false;
  ASSERT_EQ(range->findText(u"one", 0, 0, &found), hr::ok);
  std::unique_ptr<TextRange> first;
  ASSERT_EQ(range->duplicate(&first), hr::ok);
  ASSERT_TRUE(first);
  EXPECT_EQ(htmlOf(*first), u"one");
  std::int32_t moved = 0, order = 99;
  ASSERT_EQ(range->moveStart(u"Character", 1, &moved), hr::ok);
  ASSERT_EQ(range->moveEnd(u"Textedit", 1, &moved), hr::ok);
  ASSERT_EQ(range->findText(u"one", 0, 0, &found), hr::ok);
  ASSERT_EQ(range->compareEndPoints(u"StartToStart", *first, &order), hr::ok);
  EXPECT_EQ(order, 1);
  ASSERT_EQ(first->compareEndPoints(u"EndToStart", *range, &order), hr::ok);
  EXPECT_EQ(order, -1);
  ASSERT_EQ(range->compareEndPoints(u"EndToEnd", *range, &order), hr::ok);
  EXPECT_EQ(order, 0);
  EXPECT_EQ(range->compareEndPoints(u"Sideways", *first, &order), hr::invalidArg);
  std::unique_ptr<HtmlDocument> otherDocument = parseSimpleHtml("<p>x</p>");
  EXPECT_EQ(range->compareEndPoints(u"EndToEnd", *rangeOver(*otherDocument), &order),
            hr::invalidArg);
}

TEST(TextRange, PasteThatChangesTheTextReindexes) {
  std::unique_ptr<HtmlDocument> document = parseSimpleHtml("<p>hello world, world</p>");
  std::unique_ptr<TextRange> range = rangeOver(*document);
  bool found = false;
  ASSERT_EQ(range->findText(u"world", 0, 0, &found), hr::ok);
  ASSERT_EQ(range->pasteHtml(u"<b>there &amp; back</b>"), hr::ok);
  EXPECT_EQ(bodyOf(*document), "<p>hello <b>there &amp; back</b>, world</p>");
  // The range is collapsed on the pasted text's last character: one
  // character on, the rest of the text follows.
  std::int32_t moved = 0;
  ASSERT_EQ(range->moveStart(u"Character", 1, &moved), hr::ok);
  ASSERT_EQ(range->moveEnd(u"Textedit", 1, &moved), hr::ok);
  EXPECT_EQ(htmlOf(*range), u", world");
  ASSERT_EQ(range->findText(u"world", 0, 0, &found), hr::ok);
  ASSERT_TRUE(found);
  ASSERT_EQ(range->pasteHtml(u""), hr::ok);
  EXPECT_EQ(document->bodyText(), u"\nhello there & back, \n");
}

TEST(TextRange, PasteOverBlocksSplitsThemAsDomRangeExtractionDoes) {
  std::unique_ptr<HtmlDocument> document = parseSimpleHtml("<p>one two</p><p>three four</p>");
  std::unique_ptr<TextRange> range = rangeOver(*document);
  bool found = false;
  ASSERT_EQ(range->findText(u"two", 0, 0, &found), hr::ok);
  std::int32_t moved = 0;
  ASSERT_EQ(range->moveEnd(u"Character", 7, &moved), hr::ok);  // two separators, then "three"
  EXPECT_EQ(htmlOf(*range), u"<p>two</p><p>three</p>");
  ASSERT_EQ(range->pasteHtml(u"X"), hr::ok);
  EXPECT_EQ(bodyOf(*document), "<p>one </p>X<p> four</p>");
}

TEST(TextRange, EmptyBodyTakesThePasteAtItsEnd) {
  std::unique_ptr<HtmlDocument> document = parseSimpleHtml("<div></div>");
  std::unique_ptr<TextRange> range = rangeOver(*document);
  EXPECT_EQ(htmlOf(*range), u"");
  bool found = true;
  ASSERT_EQ(range->findText(u"x", 0, 0, &found), hr::ok);
  EXPECT_FALSE(found);
  ASSERT_EQ(range->pasteHtml(u"<i>new</i>"), hr::ok);
  EXPECT_EQ(bodyOf(*document), "<div></div><i>new</i>");
}

// Text that reads like markup stays text through get_htmlText + pasteHTML.
TEST(TextRange, EscapedTextNeverBecomesAnElement) {
  std::unique_ptr<HtmlDocument> document = parseSimpleHtml(
      "<p>&lt;img src=x onerror=alert(1)&gt; and &lt;script&gt;alert(2)&lt;/script&gt;</p>");
  EXPECT_EQ(highlightWith(*document, u"img", u"mark", 0), 1);
  EXPECT_EQ(highlightWith(*document, u"<script>alert(2)</script>", u"ins", 0), 1);
  EXPECT_EQ(highlightWith(*document, u"onerror=alert(1)>", u"del", 0), 1);
  EXPECT_TRUE(document->elementsByTagName("img").empty());
  EXPECT_TRUE(document->elementsByTagName("script").empty());
  EXPECT_EQ(bodyOf(*document),
            "<p>&lt;<mark>img</mark> src=x <del>onerror=alert(1)&gt;</del> and "
            "<ins>&lt;script&gt;alert(2)&lt;/script&gt;</ins></p>");
}

TEST(TextRange, HighlightsThroughThePagePassMarkup) {
  std::unique_ptr<HtmlDocument> document = parseSimpleHtml("<p>Snow and snow</p>");
  std::unique_ptr<Document> view = document->document();
  std::unique_ptr<BodyElement> body;
  ASSERT_EQ(view->body(&body), hr::ok);
  EXPECT_EQ(testing::highlightWord(*body, u"snow", "#a0ffff"), 2);
  EXPECT_EQ(bodyOf(*document),
            "<p><span style=\"color:black;background-color:#a0ffff\">Snow</span> and "
            "<span style=\"color:black;background-color:#a0ffff\">snow</span></p>");
}

// What a highlighted match keeps in the document: its span, the span's text
// and the piece its text was cut from (three nodes), one byte pair per
// matched character; the span's style is stored once for all of them.
TEST(TextRange, AHighlightedMatchKeepsAFewHundredBytes) {
  std::string page = "<p>";
  for (int i = 0; i < 2000; ++i) page += "aa ";
  std::unique_ptr<HtmlDocument> document = parseSimpleHtml(page);
  std::unique_ptr<BodyElement> body;
  ASSERT_EQ(document->document()->body(&body), hr::ok);
  const std::size_t before = DocumentAccess::arena(*document).used();
  ASSERT_EQ(testing::highlightWord(*body, u"aa"), 2000);
  const std::size_t perMatch = (DocumentAccess::arena(*document).used() - before) / 2000;
  EXPECT_LE(perMatch, 3 * sizeof(Node) + 16) << perMatch << " bytes a match";
  EXPECT_LE(sizeof(Node), 88u);
}

// A second copy of a page kept in step through the observer alone, as the
// browser engine keeps the live page: node for node, by number.
class Follower final : public TreeObserver {
 public:
  Follower(HtmlDocument& leader, HtmlDocument& follower) : m_leader(leader), m_follower(follower) {
    const Node* a = leader.root();
    Node* b = follower.root();
    for (; a && b; a = nextInOrder(a, leader.root()), b = nextInOrder(b, follower.root())) add(*a, b);
  }
  void splitText(const Node& node, std::size_t offset, const Node& rest) override {
    Node* text = m_nodes.at(node.number());
    const std::u16string whole(text->text());
    Node* piece = m_follower.createText(std::u16string_view(whole).substr(offset));
    DocumentAccess::setText(m_follower, *text, std::u16string_view(whole).substr(0, offset));
    m_follower.insertBefore(text->parent(), piece, text->nextSibling());
    add(rest, piece);
  }
  void newElement(const Node& element, const Node* original) override {
    Node* made = m_follower.createElement(element.name());
    for (const Attribute& a : (original ? *original : element).attributes()) {
      m_follower.setAttribute(made, a.name, a.value);
    }
    add(element, made);
  }
  void inserted(const Node& parent, const Node& child, const Node* before) override {
    m_follower.insertBefore(m_nodes.at(parent.number()), m_nodes.at(child.number()),
                            before ? m_nodes.at(before->number()) : nullptr);
  }

 private:
  void add(const Node& node, Node* copy) {
    m_leader.setNumber(&node, static_cast<std::uint32_t>(m_nodes.size()));
    m_nodes.push_back(copy);
  }
  HtmlDocument& m_leader;
  HtmlDocument& m_follower;
  std::vector<Node*> m_nodes;
};

TEST(TextRange, HighlightingMovesNodesAndAFollowerKeepsInStep) {
  const char* page =
      "<p>one <i>two</i> three <b>fo<a href=x>ur</a> five</b> six</p><p>two <br>three</p>";
  std::unique_ptr<HtmlDocument> document = parseSimpleHtml(page);
  std::unique_ptr<HtmlDocument> copy = parseSimpleHtml(page);
  Follower follower(*document, *copy);
  document->setObserver(&follower);
  const Node* italic = document->elementsByTagName("i").front();
  const Node* link = document->elementsByTagName("a").front();
  std::unique_ptr<BodyElement> body;
  ASSERT_EQ(document->document()->body(&body), hr::ok);
  EXPECT_EQ(testing::highlightWord(*body, u"two three fo", "#ffff66"), 1);
  EXPECT_EQ(testing::highlightWord(*body, u"ur five", "#a0ffff"), 1);
  EXPECT_EQ(testing::highlightWord(*body, u"three", "#99ff99"), 2);
  // The italic element and the link were moved into spans, not made anew.
  EXPECT_EQ(italic->parent()->name(), "span");
  EXPECT_EQ(document->elementsByTagName("i").front(), italic);
  EXPECT_EQ(document->elementsByTagName("a").front(), link);
  EXPECT_EQ(bodyOf(*document),
            "<p>one <span style=\"color:black;background-color:#ffff66\"><i>two</i> "
            "<span style=\"color:black;background-color:#99ff99\">three</span> <b>fo</b></span>"
            "<b><span style=\"color:black;background-color:#a0ffff\"><a href=\"x\">ur</a> five</span>"
            "</b> six</p><p>two <br><span style=\"color:black;background-color:#99ff99\">three</span></p>");
  EXPECT_EQ(bodyOf(*copy), bodyOf(*document));

  // Markup other than a span around the range's own cannot be followed.
  std::unique_ptr<TextRange> range = rangeOver(*document);
  bool found = false;
  ASSERT_EQ(range->findText(u"six", 0, 0, &found), hr::ok);
  ASSERT_TRUE(found);
  EXPECT_EQ(range->pasteHtml(u"<b>six</b>"), hr::fail);
  EXPECT_EQ(bodyOf(*copy), bodyOf(*document));
  document->setObserver(nullptr);
}

}  // namespace
}  // namespace glintmark::html
