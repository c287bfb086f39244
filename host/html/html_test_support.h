// Helpers shared by the tests and the benchmark of the HTML document model:
// the highlighting loop the page pass runs, written against core/document.h.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/document.h"

namespace glintmark::html::testing {

// The markup the page pass pastes for one match.
inline std::u16string highlightMarkup(std::u16string_view colour, std::u16string_view html) {
  std::u16string markup = u"<span style='color:black;background-color:";
  markup += colour;
  markup += u"'>";
  markup += html;
  markup += u"</span>";
  return markup;
}

// Highlights every occurrence of `keyword` as the page pass does: a fresh
// range over the body, then find, take the match's HTML, paste it wrapped in
// a span, skip one character and extend to the end. Returns the number of
// spans pasted, or -1 when a call failed.
inline long highlightKeyword(BodyElement& body, std::u16string_view keyword,
                             std::u16string_view colour = u"#ffff66", int flags = 0) {
  std::unique_ptr<TextRange> range;
  if (failed(body.createTextRange(&range)) || !range) return -1;
  long count = 0;
  while (true) {
    bool found = false;
    if (failed(range->findText(keyword, 0, flags, &found)) || !found) break;
    WideText html;
    if (failed(range->htmlText(&html)) || !html) return -1;
    if (failed(range->pasteHtml(highlightMarkup(colour, *html)))) return -1;
    std::int32_t moved = 0;
    if (failed(range->moveStart(u"Character", 1, &moved))) return -1;
    if (failed(range->moveEnd(u"Textedit", 1, &moved))) return -1;
    ++count;
  }
  return count;
}

}  // namespace glintmark::html::testing
