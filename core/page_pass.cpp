// HighlightPage: chooses the page's search text, splits it into keywords and
// wraps every occurrence of each keyword in a coloured span.
#include "core/page_pass.h"

#include <array>
#include <utility>

#include "core/guarded.h"
#include "core/keywords.h"
#include "core/search_query.h"

namespace glintmark {
namespace {

// Background colours by keyword position; the last one serves the sixth and
// every later keyword.
constexpr std::array<std::string_view, 6> kPalette = {
    "#ffff66", "#a0ffff", "#99ff99", "#9acd32", "#ee82ee", "#ff8c00",
};

// The pieces of the markup that replaces one occurrence, in the order they are
// appended; the matched HTML goes between the opening and the closing piece.
constexpr std::string_view kSpanOpen = "<span style='";
constexpr std::string_view kSpanStyle = "color:black;background-color:";
constexpr std::string_view kSpanOpenEnd = "'>";
constexpr std::string_view kSpanClose = "</span>";

constexpr std::string_view kCharacterUnit = "Character";
constexpr std::string_view kTexteditUnit = "Textedit";
constexpr std::int32_t kWholeWordsOnly = 2;

// A document string in the code page, lowercased; none for "no string".
std::optional<std::string> lowered(const CodePage& codePage, const WideText& wide) {
  if (!wide) return std::nullopt;
  std::string narrow = codePage.toNarrow(*wide);
  lowerInPlace(codePage, narrow);
  return narrow;
}

bool nonEmpty(const std::optional<std::string_view>& text) { return text && !text->empty(); }

// Highlighting the keywords: each distinct word once (keywordSearches), from
// a fresh range over the whole body.
HResult highlightKeywords(BodyElement& body, const KeywordList& keywords, const CodePage& codePage,
                          PageReport& report) {
  const HighlightMarkup markup(codePage);
  const std::int32_t flags = keywords.fromTitle ? kWholeWordsOnly : 0;
  for (const KeywordSearch& search : keywordSearches(keywords)) {
    const std::string_view colour = highlightColour(search.colourPosition);
    report.keywords.push_back({std::string(search.word), colour, 0});

    std::unique_ptr<TextRange> range;
    GLINTMARK_RETURN_IF_FAILED(body.createTextRange(&range));
    if (!range) return hr::ok;

    const std::u16string open = spanOpen(colour, codePage);
    report.keywords.back().spans =
        highlightOccurrences(*range, codePage.toWide(search.word), flags, open, markup);
  }
  return hr::ok;
}

HResult runPass(Browser* browser, const HighlightOptions& options, PageSession& session,
                const CodePage& codePage, PageReport& report) {
  // Getting the document.
  if (browser == nullptr) return hr::ok;
  std::unique_ptr<Document> document;
  GLINTMARK_RETURN_IF_FAILED(browser->document(&document));
  if (!document) return hr::ok;

  if (options.linkTooltips) {
    // Only running out of memory stops the pass here.
    if (ApplyLinkTooltips(*document, &report.tooltips) == hr::outOfMemory) return hr::outOfMemory;
  }

  // Choosing the text. The referrer is read only when the page URL leaves the
  // choice open, so that its failure cannot end a pass the URL already ended.
  WideText wide;
  const HResult titleResult = document->title(&wide);
  const std::optional<std::string> title =
      succeeded(titleResult) ? lowered(codePage, wide) : std::nullopt;

  wide.reset();
  GLINTMARK_RETURN_IF_FAILED(document->url(&wide));
  std::string url = lowered(codePage, wide).value_or(std::string());
  TextChooser chooser(options, session.m_savedSearchText, codePage);
  if (!chooser.pageUrl(url)) return hr::ok;

  wide.reset();
  GLINTMARK_RETURN_IF_FAILED(document->referrer(&wide));
  std::string referrer = lowered(codePage, wide).value_or(std::string());
  TextChoice choice = chooser.referrer(referrer, title);
  if (!choice.highlight) return hr::ok;

  std::unique_ptr<BodyElement> body;
  GLINTMARK_RETURN_IF_FAILED(document->body(&body));
  if (!body || !choice.text) return hr::ok;

  // `url` is the lowercased page URL as extractSearchText left it (cut at
  // the "&" behind its value); c_str stops at that cut.
  const KeywordList keywords = splitKeywords(choice.text->c_str(), choice.fromTitle,
                                             url.empty() ? nullptr : url.c_str(), codePage);
  report.source = choice.source;
  report.text = std::move(choice.text);
  report.fromTitle = keywords.fromTitle;
  return highlightKeywords(*body, keywords, codePage, report);
}

}  // namespace

TextChooser::TextChooser(const HighlightOptions& options, std::optional<std::string>& saved,
                         const CodePage& codePage)
    : m_options(options), m_saved(saved), m_codePage(codePage) {}

bool TextChooser::pageUrl(std::string& url) {
  if (url.empty()) return true;
  if (findInText(m_codePage, url, "?") != std::string_view::npos ||
      findInText(m_codePage, url, "&") != std::string_view::npos) {
    m_searchText = extractSearchText(url.data(), m_codePage);
    m_source = PageReport::Source::url;
  }
  if (!nonEmpty(m_searchText)) return true;
  // Saved whether or not this page is highlighted: the pages it leads to are.
  m_saved = std::string(*m_searchText);
  return m_options.highlightSearchResults;
}

TextChoice TextChooser::referrer(std::string& referrer, const std::optional<std::string>& title) {
  using Source = PageReport::Source;
  TextChoice choice;
  if (!referrer.empty()) {
    m_searchText = extractSearchText(referrer.data(), m_codePage);
    m_source = Source::referrer;
  } else {
    // A page opened without a referrer ends the run of a search.
    m_saved.reset();
    if (!m_options.highlightIntelligently) return choice;
  }

  if (!nonEmpty(m_searchText)) {
    if (m_saved) {
      m_searchText = *m_saved;
      m_source = Source::saved;
    } else if (!m_options.highlightIntelligently) {
      return choice;
    }
  }

  if (!m_options.highlightSearchResults && !m_options.highlightReturnedDocuments &&
      !m_options.highlightIntelligently) {
    return choice;
  }

  // An empty search text still wins over the title: it splits into nothing.
  choice.highlight = true;
  if (m_searchText) {
    choice.text = std::string(*m_searchText);
    choice.source = m_source;
  } else if (title) {
    choice.text = *title;
    choice.fromTitle = true;
    choice.source = Source::title;
  }
  return choice;
}

std::string_view sourceName(PageReport::Source source) {
  switch (source) {
    case PageReport::Source::url: return "url";
    case PageReport::Source::referrer: return "referrer";
    case PageReport::Source::saved: return "saved";
    case PageReport::Source::title: return "title";
    case PageReport::Source::none: break;
  }
  return "none";
}

HighlightMarkup::HighlightMarkup(const CodePage& codePage)
    : characterUnit(codePage.toWide(kCharacterUnit)),
      texteditUnit(codePage.toWide(kTexteditUnit)),
      close(codePage.toWide(kSpanClose)) {}

std::u16string spanOpen(std::string_view colour, const CodePage& codePage) {
  std::u16string open = codePage.toWide(kSpanOpen);
  open += codePage.toWide(kSpanStyle);
  open += codePage.toWide(colour);
  open += codePage.toWide(kSpanOpenEnd);
  return open;
}

std::int32_t highlightOccurrences(TextRange& range, std::u16string_view word, std::int32_t flags,
                                  std::u16string_view open, const HighlightMarkup& markup) {
  std::int32_t spans = 0;
  std::unique_ptr<TextRange> previous;  // the last match, as the model reports its extent
  std::u16string html;
  for (;;) {
    bool found = false;
    if (failed(range.findText(word, 0, flags, &found)) || !found) break;
    if (previous) {
      std::int32_t order = 0;
      const HResult compared = range.compareEndPoints(u"StartToStart", *previous, &order);
      if (compared != hr::notImplemented && (failed(compared) || order <= 0)) break;
    }
    previous.reset();
    const HResult copied = range.duplicate(&previous);
    const bool lastMatch = failed(copied) && copied != hr::notImplemented;

    // A match whose HTML cannot be read is left as it is: pasting a span
    // around nothing would delete the matched text.
    WideText matched;
    if (succeeded(range.htmlText(&matched)) && matched && !matched->empty()) {
      HResult result = range.wrap(open);
      if (result == hr::notImplemented) {
        html.assign(open);
        html += *matched;
        html += markup.close;
        result = range.pasteHtml(html);
      }
      if (succeeded(result)) ++spans;
    }
    if (lastMatch) break;
    std::int32_t moved = 0;
    if (failed(range.moveStart(markup.characterUnit, 1, &moved)) || moved <= 0) break;
    range.moveEnd(markup.texteditUnit, 1, &moved);
  }
  return spans;
}

std::string_view highlightColour(std::size_t position) {
  return kPalette[position < kPalette.size() ? position : kPalette.size() - 1];
}

HResult HighlightPage(Browser* browser, const HighlightOptions& options, PageSession& session,
                      const CodePage& codePage, PageReport* report) {
  PageReport scratch;
  PageReport& out = report != nullptr ? *report : scratch;
  out = PageReport();
  return memoryGuarded([&] { return runPass(browser, options, session, codePage, out); });
}

HResult HighlightPage(Browser* browser, const HighlightOptions& options, PageSession& session,
                      const CodePage& codePage) {
  return HighlightPage(browser, options, session, codePage, nullptr);
}

}  // namespace glintmark
