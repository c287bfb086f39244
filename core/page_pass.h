// HighlightPage and ApplyLinkTooltips: the page pass over one completed
// document.
//
// The pass is written once, against the document operations of
// core/document.h, so that the browser's COM objects (through bho/'s adapter)
// and the HTML document model of html/ run the very same code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/code_page.h"
#include "core/document.h"
#include "core/highlight_options.h"
#include "core/hresult.h"

namespace glintmark {

// The state that outlives one pass: the search text kept from page to page by
// the object that owns the pass (one per browser window).
struct PageSession {
  std::optional<std::string> m_savedSearchText;
};

// What one pass did, for reports (the command-line tool); the browser's pass
// does not ask for it.
struct PageReport {
  // Where the text split into keywords came from; none when the pass ended
  // before choosing one.
  enum class Source { none, url, referrer, saved, title };
  struct Keyword {
    std::string word;
    std::string_view colour;
    std::int32_t spans = 0;  // pastes that succeeded
  };
  Source source = Source::none;
  std::optional<std::string> text;  // the text split into keywords
  bool fromTitle = false;
  // The words searched for (keywordSearches): a word the text lists twice
  // or more stands once, with the colour its marks show and the spans of
  // its one search.
  std::vector<Keyword> keywords;
  std::int32_t tooltips = 0;  // links whose title was set
};

// The name of a source as reports write it: "none", "url", "referrer", "saved", "title".
std::string_view sourceName(PageReport::Source source);

// highlightColour: the background colour of the keyword at `position` (0 for
// the first); the sixth and every later keyword share the last colour.
//
//   highlightColour(0) == "#ffff66";  highlightColour(9) == "#ff8c00"
std::string_view highlightColour(std::size_t position);

// The wide text of the highlighting loop, converted from the code page once
// per pass: the closing tag of the span that wraps a match, and the units the
// range moves on by after it.
struct HighlightMarkup {
  explicit HighlightMarkup(const CodePage& codePage);
  std::u16string characterUnit;  // "Character"
  std::u16string texteditUnit;   // "Textedit"
  std::u16string close;          // "</span>"
};

// spanOpen: the opening tag of the span that wraps a match of a keyword with
// background `colour`; the match's HTML and HighlightMarkup::close follow it.
//
//   spanOpen("#ffff66", cp) == u"<span style='color:black;background-color:#ffff66'>"
std::u16string spanOpen(std::string_view colour, const CodePage& codePage);

// highlightOccurrences: the pass's loop for one keyword. Wraps each occurrence
// of `word` found in `range` (findText with `flags`; 2 is whole words only)
// between `open` and markup.close, and returns the number of spans pasted. A
// match whose HTML cannot be read is left as it is. Stops at the end of the
// range, when findText fails, and when the loop cannot show progress:
// moveStart fails or moves nothing, or a match does not lie beyond the
// previous one. A misbehaving document model could otherwise keep finding
// the same text, and the browser runs this on its window's thread. Models
// that offer no compareEndPoints get the moveStart test alone.
std::int32_t highlightOccurrences(TextRange& range, std::u16string_view word, std::int32_t flags,
                                  std::u16string_view open, const HighlightMarkup& markup);

// The choice of the text a page is highlighted with, made from the page's
// lowercased URL, referrer and title and the session's saved text, without
// a call to the document. It comes in two steps because the pass reads the
// referrer only when the page URL leaves the choice open:
//
//   TextChooser chooser(options, session.m_savedSearchText, codePage);
//   if (!chooser.pageUrl(url)) return;            // not highlighted
//   TextChoice choice = chooser.referrer(referrer, title);
struct TextChoice {
  bool highlight = false;           // false: the page is not highlighted
  std::optional<std::string> text;  // the text to split; none in title-word mode without a title
  bool fromTitle = false;
  PageReport::Source source = PageReport::Source::none;
};

class TextChooser {
 public:
  // `saved` is the session's saved text, which the choice updates.
  TextChooser(const HighlightOptions& options, std::optional<std::string>& saved, const CodePage& codePage);

  // The page URL, lowercased, empty for none; a search value found in it is
  // cut in place behind its "&". A non-empty search text is saved. False
  // when the choice ends here, the page not highlighted.
  bool pageUrl(std::string& url);
  // The referrer, lowercased, empty for none (cut in place like the URL),
  // and the lowercased title; the choice.
  TextChoice referrer(std::string& referrer, const std::optional<std::string>& title);

 private:
  const HighlightOptions& m_options;
  std::optional<std::string>& m_saved;
  const CodePage& m_codePage;
  std::optional<std::string_view> m_searchText;  // into the URL, the referrer or m_saved
  PageReport::Source m_source = PageReport::Source::none;
};

// HighlightPage: runs the page pass on `browser` (nullptr: nothing to do, S_OK)
// with the given options; reads and updates `session.m_savedSearchText`.
// Returns S_OK or the failing code of an essential call; E_OUTOFMEMORY when
// memory runs out.
HResult HighlightPage(Browser* browser, const HighlightOptions& options, PageSession& session,
                      const CodePage& codePage);
// The same pass, telling what it did in *report (reset first) when non-null.
HResult HighlightPage(Browser* browser, const HighlightOptions& options, PageSession& session,
                      const CodePage& codePage, PageReport* report);

// ApplyLinkTooltips: every `a` element's title becomes its href. Failures stop
// the tooltip work silently; only memory exhaustion is reported (E_OUTOFMEMORY).
HResult ApplyLinkTooltips(Document& document);
// The same, counting in *applied (when non-null) the links whose title was set.
HResult ApplyLinkTooltips(Document& document, std::int32_t* applied);

}  // namespace glintmark
