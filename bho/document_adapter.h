// The browser's document object model seen through core/document.h.
//
// ComBrowser and the objects it hands out are thin wrappers over the
// browser's COM interfaces (IWebBrowser2, IHTMLDocument2,
// IHTMLElementCollection, IHTMLAnchorElement + IHTMLElement, IHTMLBodyElement,
// IHTMLTxtRange), so that the page pass of core/ runs unchanged inside the
// browser. Each wrapper holds one reference on its interface and releases it
// when destroyed; every BSTR and VARIANT made or received for a call is freed
// before the call returns, on every path. HRESULTs pass through unchanged; a
// null BSTR comes back as an empty WideText and a null interface (or one that
// lacks the interface asked for) as a succeeded call with no object. Running
// out of memory answers E_OUTOFMEMORY; no exception leaves a wrapper.
#pragma once

#include <exdisp.h>

#include <memory>

#include "bho/com_ptr.h"
#include "core/document.h"

namespace glintmark::bho {

class ComBrowser final : public Browser {
 public:
  // `browser` may be null: document() then succeeds with no document.
  explicit ComBrowser(ComPtr<IWebBrowser2> browser) : m_browser(std::move(browser)) {}
  HResult document(std::unique_ptr<Document>* document) override;

 private:
  ComPtr<IWebBrowser2> m_browser;
};

}  // namespace glintmark::bho
