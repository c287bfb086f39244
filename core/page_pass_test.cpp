#include "core/page_pass.h"

#include <gtest/gtest.h>

#include <new>

#include "core/testing/fake_document.h"

namespace glintmark {
namespace {

using fake::FakeLink;
using fake::FakePage;
using fake::Faults;
using fake::Op;

// The page of the decision tests: every source has a word of its own.
constexpr char16_t kText[] = u"Alpha beta gamma delta";
constexpr char16_t kUrlA[] = u"https://engine.example/search?hl=en&q=alpha";
constexpr char16_t kReferrerB[] = u"https://engine.example/find?q=beta";
constexpr char16_t kPlain[] = u"https://site.example/page.html";

std::u16string span(std::string_view colour, std::u16string_view html) {
  return u"<span style='color:black;background-color:" + std::u16string(colour.begin(), colour.end()) +
         u"'>" + std::u16string(html) + u"</span>";
}

// Runs one pass over `page` through the fault wrapper and checks that every
// object handed out was released.
struct Pass {
  HResult result = hr::ok;
  PageReport report;
};
Pass run(FakePage& page, std::uint32_t word, PageSession& session, Faults& faults) {
  Pass pass;
  auto browser = faults.wrap(page.browser());
  pass.result = HighlightPage(browser.get(), optionsFromWord(word), session, ansiCodePage(), &pass.report);
  EXPECT_EQ(faults.live(), 0) << "objects still held after the pass";
  return pass;
}
Pass run(FakePage& page, std::uint32_t word, PageSession& session) {
  Faults faults;
  return run(page, word, session, faults);
}

// The matched text of every paste, in order.
std::vector<std::u16string> pastedWords(const FakePage& page) {
  std::vector<std::u16string> words;
  for (const fake::Paste& paste : page.pastes) words.push_back(page.text.substr(paste.start, paste.end - paste.start));
  return words;
}

TEST(HighlightPage, PaletteRunsByPositionAndStopsAtTheSixthColour) {
  for (std::size_t position = 0; position < 9; ++position) {
    static constexpr std::string_view expected[] = {"#ffff66", "#a0ffff", "#99ff99", "#9acd32",
                                                    "#ee82ee", "#ff8c00", "#ff8c00", "#ff8c00", "#ff8c00"};
    EXPECT_EQ(highlightColour(position), expected[position]) << "position " << position;
  }
}

TEST(HighlightPage, ChoosesTheTextByTheDecisionTable) {
  struct Row {
    const char* name;
    std::u16string url;
    std::u16string referrer;
    std::optional<std::string> savedBefore;
    std::uint32_t options;
    std::vector<std::u16string> highlighted;
    std::optional<std::string> savedAfter;
    std::string_view source;
  };
  const std::u16string noSearch = u"https://other.example/page?id=7";
  const std::vector<Row> rows = {
      {"url A, referrer B", kUrlA, kReferrerB, {}, 2, {u"beta"}, "alpha", "referrer"},
      {"url A, referrer B, results off", kUrlA, kReferrerB, {}, 13, {}, "alpha", "none"},
      {"url A, referrer yields nothing", kUrlA, noSearch, {}, 2, {u"Alpha"}, "alpha", "saved"},
      {"url A, no referrer", kUrlA, u"", "gamma", 3, {u"Alpha"}, {}, "url"},
      {"url A, no referrer, not intelligent", kUrlA, u"", "gamma", 2, {}, {}, "none"},
      {"referrer B, intelligent only", kPlain, kReferrerB, {}, 1, {u"beta"}, {}, "referrer"},
      {"referrer B, results only", kPlain, kReferrerB, {}, 2, {u"beta"}, {}, "referrer"},
      {"referrer B, returned only", kPlain, kReferrerB, {}, 4, {u"beta"}, {}, "referrer"},
      {"referrer B, all off", kPlain, kReferrerB, {}, 8, {}, {}, "none"},
      {"saved S", kPlain, noSearch, "gamma", 4, {u"gamma"}, "gamma", "saved"},
      {"nothing saved: title words", kPlain, noSearch, {}, 1, {u"delta"}, {}, "title"},
      {"nothing saved, not intelligent", kPlain, noSearch, {}, 4, {}, {}, "none"},
      {"no referrer drops S: title words", kPlain, u"", "gamma", 1, {u"delta"}, {}, "title"},
      {"no referrer drops S, not intelligent", kPlain, u"", "gamma", 4, {}, {}, "none"},
      {"empty value, intelligent: nothing", kPlain, u"https://e.example/?q=", {}, 1, {}, {}, "referrer"},
      {"empty value, not intelligent", kPlain, u"https://e.example/?q=", {}, 4, {}, {}, "none"},
      {"empty value gives way to S", kPlain, u"https://e.example/?q=", "gamma", 4, {u"gamma"}, "gamma",
       "saved"},
      {"empty own value, no referrer", u"https://e.example/?q=", u"", {}, 3, {}, {}, "url"},
      {"url without ? or & not looked at", u"https://e.example/find_q=alpha", u"", {}, 1, {u"delta"}, {},
       "title"},
      {"referrer without ? or & is", kPlain, u"https://e.example/find_q=beta", {}, 4, {u"beta"}, {},
       "referrer"},
      {"all off still saves", kUrlA, kReferrerB, "gamma", 0, {}, "alpha", "none"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakePage page;
    page.text = kText;
    page.title = u"Delta";
    page.url = row.url;
    page.referrer = row.referrer;
    PageSession session{row.savedBefore};
    const Pass pass = run(page, row.options, session);
    EXPECT_EQ(pass.result, hr::ok);
    EXPECT_EQ(pastedWords(page), row.highlighted);
    EXPECT_EQ(session.m_savedSearchText, row.savedAfter);
    EXPECT_EQ(sourceName(pass.report.source), row.source);
  }
}

// The same decisions without a document: what the chooser answers for each
// row, including where it stops (nullopt text with highlight: title words
// wanted but no title).
TEST(TextChooser, ChoosesTheTextByTheDecisionTable) {
  struct Row {
    const char* name;
    std::string url;
    std::string referrer;
    std::optional<std::string> title;
    std::optional<std::string> savedBefore;
    std::uint32_t options;
    bool urlGoesOn;
    bool highlight;
    std::optional<std::string> text;
    std::string_view source;
    std::optional<std::string> savedAfter;
  };
  const std::string urlA = "https://e.example/search?hl=en&q=alpha";
  const std::string referrerB = "https://e.example/find?q=beta";
  const std::string plain = "https://site.example/page.html";
  const std::string noSearch = "https://other.example/page?id=7";
  const std::vector<Row> rows = {
      {"url A, referrer B", urlA, referrerB, "delta", {}, 2, true, true, "beta", "referrer", "alpha"},
      {"url A, results off: ends at the url", urlA, referrerB, "delta", {}, 13, false, false, {}, "none",
       "alpha"},
      {"url A, referrer yields nothing", urlA, noSearch, "delta", {}, 2, true, true, "alpha", "saved", "alpha"},
      {"url A, no referrer", urlA, "", "delta", "gamma", 3, true, true, "alpha", "url", {}},
      {"url A, no referrer, not intelligent", urlA, "", "delta", {}, 2, true, false, {}, "none", {}},
      {"referrer B, returned only", plain, referrerB, "delta", {}, 4, true, true, "beta", "referrer", {}},
      {"referrer B, all off", plain, referrerB, "delta", "gamma", 8, true, false, {}, "none", "gamma"},
      {"saved S", plain, noSearch, "delta", "gamma", 4, true, true, "gamma", "saved", "gamma"},
      {"nothing saved: title words", plain, noSearch, "delta", {}, 1, true, true, "delta", "title", {}},
      {"title words, no title", plain, noSearch, {}, {}, 1, true, true, {}, "none", {}},
      {"no referrer drops S", plain, "", "delta", "gamma", 4, true, false, {}, "none", {}},
      {"empty value splits into nothing", plain, "https://e.example/?q=", "delta", {}, 1, true, true, "",
       "referrer", {}},
      {"url without ? or & not looked at", "https://e.example/find_q=alpha", "", "delta", {}, 1, true, true,
       "delta", "title", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const HighlightOptions options = optionsFromWord(row.options);
    std::optional<std::string> saved = row.savedBefore;
    TextChooser chooser(options, saved, ansiCodePage());
    std::string url = row.url;
    std::string referrer = row.referrer;
    ASSERT_EQ(chooser.pageUrl(url), row.urlGoesOn);
    const TextChoice choice = row.urlGoesOn ? chooser.referrer(referrer, row.title) : TextChoice();
    EXPECT_EQ(choice.highlight, row.highlight);
    EXPECT_EQ(choice.text, row.text);
    EXPECT_EQ(choice.fromTitle, row.source == "title");
    EXPECT_EQ(sourceName(choice.source), row.source);
    EXPECT_EQ(saved, row.savedAfter);
  }
}

// Title, URL and referrer are lowercased before anything looks at them: the
// search parameters, the saved text, the stop words and the page-URL test of
// title words all see lower case only.
TEST(HighlightPage, LowercasesTitleUrlAndReferrer) {
  struct Row {
    const char* name;
    std::u16string url;
    std::u16string referrer;
    std::uint32_t options;
    std::string text;
    std::vector<std::string> words;
    std::optional<std::string> savedAfter;
  };
  const std::vector<Row> rows = {
      {"url", u"HTTPS://Engine.Example/Search?HL=en&Q=Alpha+BETA", u"https://site.example/", 2, "alpha+beta",
       {"alpha", "beta"}, "alpha+beta"},
      {"referrer", kPlain, u"HTTPS://ENGINE.EXAMPLE/FIND?Q=Gamma", 4, "gamma", {"gamma"}, {}},
      // "the" is a stop word and "gamma" stands in the page URL.
      {"title", u"https://Site.Example/GAMMA-rays.html", u"", 1, "the gamma delta", {"delta"}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakePage page;
    page.text = kText;
    page.title = u"The Gamma DELTA";
    page.url = row.url;
    page.referrer = row.referrer;
    PageSession session;
    const Pass pass = run(page, row.options, session);
    EXPECT_EQ(pass.result, hr::ok);
    EXPECT_EQ(pass.report.text, row.text);
    std::vector<std::string> words;
    for (const PageReport::Keyword& keyword : pass.report.keywords) words.push_back(keyword.word);
    EXPECT_EQ(words, row.words);
    EXPECT_EQ(session.m_savedSearchText, row.savedAfter);
  }
}

TEST(HighlightPage, CarriesTheSearchThroughABrowsingSession) {
  PageSession session;
  struct Step {
    std::u16string url;
    std::u16string referrer;
    std::vector<std::u16string> highlighted;
  };
  const std::vector<Step> steps = {
      {u"https://engine.example/search?q=gamma+beta", u"https://engine.example/", {}},
      {u"https://site.example/a.html", u"https://engine.example/", {u"gamma", u"beta"}},
      {u"https://site.example/b.html", u"https://site.example/a.html", {u"gamma", u"beta"}},
      {u"https://site.example/c.html", u"", {u"delta"}},
      {u"https://site.example/d.html", u"https://site.example/c.html", {u"delta"}},
  };
  for (std::size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(i);
    FakePage page;
    page.text = kText;
    page.title = u"Delta";
    page.url = steps[i].url;
    page.referrer = steps[i].referrer;
    EXPECT_EQ(run(page, defaultOptionsWord, session).result, hr::ok);
    EXPECT_EQ(pastedWords(page), steps[i].highlighted);
  }
}

TEST(HighlightPage, BuildsOneSpanPerOccurrenceWithTheMatchedHtml) {
  FakePage page;
  page.text = u"New York is new; so is YORK.";
  page.referrer = u"https://engine.example/?q=new+york+absent+is+so+to+of";
  PageSession session;
  const Pass pass = run(page, defaultOptionsWord, session);
  ASSERT_EQ(pass.result, hr::ok);
  // "absent" uses up the 3rd colour; "to" and "of" share the 6th and match nothing.
  std::vector<std::pair<std::u16string, std::u16string>> got;
  for (const fake::Paste& paste : page.pastes) {
    got.emplace_back(page.text.substr(paste.start, paste.end - paste.start), paste.markup);
  }
  const std::vector<std::pair<std::u16string, std::u16string>> want = {
      {u"New", span("#ffff66", u"New")},  {u"new", span("#ffff66", u"new")},
      {u"York", span("#a0ffff", u"York")}, {u"YORK", span("#a0ffff", u"YORK")},
      {u"is", span("#9acd32", u"is")},    {u"is", span("#9acd32", u"is")},
      {u"so", span("#ee82ee", u"so")},
  };
  EXPECT_EQ(got, want);
  ASSERT_EQ(pass.report.keywords.size(), 7u);
  EXPECT_EQ(pass.report.keywords[2].word, "absent");
  EXPECT_EQ(pass.report.keywords[2].spans, 0);
  EXPECT_EQ(pass.report.keywords[5].colour, "#ff8c00");
  EXPECT_EQ(pass.report.keywords[6].colour, "#ff8c00");
}

TEST(HighlightPage, TitleWordsMatchWholeWordsOnlySearchWordsMatchInside) {
  for (const bool fromTitle : {true, false}) {
    SCOPED_TRACE(fromTitle);
    FakePage page;
    page.text = u"cat catalogue bobcat cat";
    page.title = u"Cat";
    page.url = kPlain;
    page.referrer = fromTitle ? u"" : u"https://engine.example/?q=cat";
    PageSession session;
    ASSERT_EQ(run(page, defaultOptionsWord, session).result, hr::ok);
    EXPECT_EQ(page.pastes.size(), fromTitle ? 2u : 4u);
  }
}

TEST(HighlightPage, KeywordListedTwiceIsSearchedOnceInTheColourOfItsLastPlace) {
  FakePage page;
  page.text = u"cat dog";
  page.referrer = u"https://engine.example/?q=cat+dog+cat";
  PageSession session;
  const Pass pass = run(page, defaultOptionsWord, session);
  ASSERT_EQ(pass.result, hr::ok);
  ASSERT_EQ(page.pastes.size(), 2u);
  EXPECT_EQ(page.pastes[0].markup, span("#99ff99", u"cat"));
  EXPECT_EQ(page.pastes[1].markup, span("#a0ffff", u"dog"));
  ASSERT_EQ(pass.report.keywords.size(), 2u);
  EXPECT_EQ(pass.report.keywords[0].word, "cat");
  EXPECT_EQ(pass.report.keywords[0].colour, "#99ff99");
  EXPECT_EQ(pass.report.keywords[0].spans, 1);
}

TEST(HighlightPage, FramesetGetsTooltipsButNoHighlighting) {
  FakePage page;
  page.text = kText;
  page.frameset = true;
  page.referrer = kReferrerB;
  page.links = {FakeLink{u"https://a.example/", u"old", true}};
  PageSession session;
  Faults faults;
  EXPECT_EQ(run(page, defaultOptionsWord, session, faults).result, hr::ok);
  EXPECT_TRUE(page.pastes.empty());
  EXPECT_EQ(page.links[0].title, u"https://a.example/");
  EXPECT_EQ(faults.calls(Op::createTextRange), 0);
}

TEST(HighlightPage, TooltipsFollowTheirOptionOnly) {
  for (const std::uint32_t word : {0u, 8u, 13u, 5u}) {
    SCOPED_TRACE(word);
    FakePage page;
    page.url = kUrlA;  // a search results page: the pass ends early
    page.links = {FakeLink{u"https://a.example/", u"old", true}};
    PageSession session;
    const Pass pass = run(page, word, session);
    EXPECT_EQ(page.links[0].title, (word & 8) ? u"https://a.example/" : u"old");
    EXPECT_EQ(pass.report.tooltips, (word & 8) ? 1 : 0);
  }
}

TEST(HighlightPage, NullBrowserIsNothingToDo) {
  PageSession session{"kept"};
  EXPECT_EQ(HighlightPage(nullptr, optionsFromWord(15), session, ansiCodePage()), hr::ok);
  EXPECT_EQ(session.m_savedSearchText, "kept");
}

// Each failing call of the table, with what stays done.
TEST(HighlightPage, FailuresEndThePassAsTheTableSays) {
  constexpr HResult kCode = static_cast<HResult>(0x80041234);
  enum class Fault { fail, none };
  struct Row {
    const char* name;
    Op op;
    Fault fault;
    int onCall;
    HResult result;
    std::vector<std::u16string> highlighted;
  };
  const std::vector<Row> rows = {
      {"get_Document fails", Op::document, Fault::fail, 0, kCode, {}},
      {"no IHTMLDocument2", Op::document, Fault::none, 0, hr::ok, {}},
      {"get_title fails: search text unaffected", Op::title, Fault::fail, 0, hr::ok,
       {u"beta", u"beta", u"gamma"}},
      {"get_URL fails", Op::url, Fault::fail, 0, kCode, {}},
      {"get_referrer fails", Op::referrer, Fault::fail, 0, kCode, {}},
      {"get_body fails", Op::body, Fault::fail, 0, kCode, {}},
      {"not a body element", Op::body, Fault::none, 0, hr::ok, {}},
      {"createTextRange fails for the 2nd word", Op::createTextRange, Fault::fail, 2, kCode,
       {u"beta", u"beta"}},
      {"createTextRange gives none", Op::createTextRange, Fault::none, 2, hr::ok, {u"beta", u"beta"}},
      {"findText fails: next keyword", Op::findText, Fault::fail, 2, hr::ok, {u"beta", u"gamma"}},
      {"get_htmlText fails: match kept", Op::htmlText, Fault::fail, 1, hr::ok, {u"beta", u"gamma"}},
      {"get_htmlText no string", Op::htmlText, Fault::none, 1, hr::ok, {u"beta", u"gamma"}},
      {"pasteHTML fails: goes on", Op::pasteHtml, Fault::fail, 1, hr::ok, {u"beta", u"gamma"}},
      {"moveStart fails: next keyword", Op::moveStart, Fault::fail, 1, hr::ok, {u"beta", u"gamma"}},
      {"moveEnd fails: not acted on", Op::moveEnd, Fault::fail, 0, hr::ok, {u"beta", u"gamma"}},
      {"duplicate fails: this match, then next keyword", Op::duplicate, Fault::fail, 1, hr::ok, {u"beta", u"gamma"}},
      {"compareEndPoints fails: next keyword", Op::compareEndPoints, Fault::fail, 1, hr::ok,
       {u"beta", u"gamma"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakePage page;
    page.text = u"beta and beta, gamma";
    page.url = kPlain;
    page.referrer = u"https://engine.example/?q=beta+gamma";
    page.links = {FakeLink{u"https://a.example/", {}, true}};
    PageSession session;
    Faults faults;
    if (row.fault == Fault::fail) {
      faults.failOn(row.op, kCode, row.onCall);
    } else {
      faults.noneOn(row.op, row.onCall);
    }
    const Pass pass = run(page, defaultOptionsWord, session, faults);
    EXPECT_EQ(pass.result, row.result);
    EXPECT_EQ(pastedWords(page), row.highlighted);
    // Tooltips run first and stay, whatever fails after them.
    const bool tooltipsRan = row.op != Op::document;
    EXPECT_EQ(page.links[0].title, tooltipsRan ? WideText(u"https://a.example/") : WideText());
  }
}

TEST(HighlightPage, ReferrerFailureKeepsTheTextSavedFromTheUrl) {
  FakePage page;
  page.url = kUrlA;
  Faults faults;
  faults.failOn(Op::referrer, hr::fail);
  PageSession session{"older"};
  EXPECT_EQ(run(page, 15, session, faults).result, hr::fail);
  EXPECT_EQ(session.m_savedSearchText, "alpha");
}

TEST(HighlightPage, MemoryExhaustionInAnyCallEndsThePassWithOutOfMemory) {
  for (const Op op : {Op::document, Op::all, Op::tags, Op::item, Op::href, Op::putTitle, Op::title,
                      Op::url, Op::referrer, Op::body, Op::createTextRange, Op::findText, Op::htmlText,
                      Op::pasteHtml, Op::moveStart, Op::duplicate}) {
    SCOPED_TRACE(static_cast<int>(op));
    FakePage page;
    page.text = u"beta beta";
    page.url = kPlain;
    page.referrer = u"https://engine.example/?q=beta";
    page.links = {FakeLink{u"https://a.example/", {}, true}};
    Faults faults;
    faults.throwOn(op, 1);
    PageSession session;
    EXPECT_EQ(run(page, 15, session, faults).result, hr::outOfMemory);
  }
}

// A code page that runs out of memory at its nth conversion.
class ExhaustedCodePage : public CodePage {
 public:
  explicit ExhaustedCodePage(int failAt) : m_failAt(failAt) {}
  std::string toNarrow(std::u16string_view wide) const override {
    spend();
    return inner().toNarrow(wide);
  }
  std::u16string toWide(std::string_view narrow) const override {
    spend();
    return inner().toWide(narrow);
  }
  void lowerInPlace(char* text, std::size_t length) const override { inner().lowerInPlace(text, length); }
  bool isLeadByte(unsigned char byte) const override { return inner().isLeadByte(byte); }
  bool isDoubleByte() const override { return inner().isDoubleByte(); }
  std::string name() const override { return inner().name(); }
  bool exhausted() const { return m_calls >= m_failAt; }

 private:
  static const CodePage& inner() { return ansiCodePage(); }
  void spend() const {
    if (++m_calls == m_failAt) throw std::bad_alloc();
  }
  int m_failAt;
  mutable int m_calls = 0;
};

TEST(HighlightPage, MemoryExhaustionInEveryConversionIsReported) {
  for (int failAt = 1;; ++failAt) {
    SCOPED_TRACE(failAt);
    FakePage page;
    page.text = u"beta gamma beta";
    page.title = u"Title";
    page.url = kPlain;
    page.referrer = u"https://engine.example/?q=beta+gamma";
    const ExhaustedCodePage codePage(failAt);
    Faults faults;
    auto browser = faults.wrap(page.browser());
    PageSession session;
    const HResult result = HighlightPage(browser.get(), optionsFromWord(15), session, codePage);
    EXPECT_EQ(faults.live(), 0);
    if (!codePage.exhausted()) {
      EXPECT_EQ(result, hr::ok);
      break;
    }
    EXPECT_EQ(result, hr::outOfMemory);
  }
}

// Broken document models must not make the loop spin: each case would loop
// for ever if the pass trusted the model's answers.
TEST(HighlightPage, NeverSpinsOnAMisbehavingDocumentModel) {
  struct Row {
    const char* name;
    bool findFromBodyStart;
    bool pasteKeepsRange;
    bool moveStartIgnored;
    bool offersCompare;
    std::size_t pastes;
  };
  const std::vector<Row> rows = {
      {"find restarts at the body start", true, false, false, true, 1},
      {"paste keeps the range, moveStart does nothing", false, true, true, true, 1},
      {"the same, without compareEndPoints", false, true, true, false, 1},
      {"well behaved", false, false, false, true, 3},
      {"well behaved, without compareEndPoints", false, false, false, false, 3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakePage page;
    page.text = u"cat cat cat dog";
    page.url = kPlain;
    page.referrer = u"https://engine.example/?q=cat+dog";
    page.findFromBodyStart = row.findFromBodyStart;
    page.pasteKeepsRange = row.pasteKeepsRange;
    page.moveStartIgnored = row.moveStartIgnored;
    page.offersCompare = row.offersCompare;
    PageSession session;
    // Should the loop spin after all, the capped findText ends it.
    constexpr int kFindCap = 1000;
    Faults faults;
    faults.failFrom(Op::findText, hr::fail, kFindCap);
    ASSERT_EQ(run(page, defaultOptionsWord, session, faults).result, hr::ok);
    EXPECT_LT(faults.calls(Op::findText), kFindCap) << "the loop kept searching";
    EXPECT_EQ(page.pastes.size(), row.pastes + 1) << "cat, then dog";
  }
}

}  // namespace
}  // namespace glintmark
