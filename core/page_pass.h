// HighlightPage and ApplyLinkTooltips: the page pass over one completed
// document.
//
// The pass is written once, against the document operations of
// core/document.h, so that the browser's COM objects (through bho/'s adapter)
// and the HTML document model of host/html run the very same code.
#pragma once

#include <optional>
#include <string>

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

// HighlightPage: runs the page pass on `browser` (nullptr: nothing to do, S_OK)
// with the given options; reads and updates `session.m_savedSearchText`.
// Returns S_OK or the failing code of an essential call; E_OUTOFMEMORY when
// memory runs out.
HResult HighlightPage(Browser* browser, const HighlightOptions& options, PageSession& session,
                      const CodePage& codePage);

// ApplyLinkTooltips: every `a` element's title becomes its href. Failures stop
// the tooltip work silently; only memory exhaustion is reported (E_OUTOFMEMORY).
HResult ApplyLinkTooltips(Document& document);

}  // namespace glintmark
