// The page pass's highlighting loop for one word over a whole body, for the
// tests and the benchmark of the HTML document model.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "core/code_page.h"
#include "core/document.h"
#include "core/page_pass.h"

namespace glintmark::html::testing {

// highlightWord: a fresh range over `body`, then the pass's own loop with the
// markup of a keyword coloured `colour` (in the process's code page). Returns
// the number of spans pasted, or -1 when the body gives no range.
inline long highlightWord(BodyElement& body, std::u16string_view word,
                          std::string_view colour = highlightColour(0), std::int32_t flags = 0) {
  std::unique_ptr<TextRange> range;
  if (failed(body.createTextRange(&range)) || !range) return -1;
  const CodePage& codePage = ansiCodePage();
  return highlightOccurrences(*range, word, flags, spanOpen(colour, codePage),
                              HighlightMarkup(codePage));
}

}  // namespace glintmark::html::testing
