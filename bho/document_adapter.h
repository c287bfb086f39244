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
// lacks the interface asked for) as a succeeded call with no object.
//
// Running out of memory in the adapter itself (a BSTR for the browser or a
// copy of the browser's text that cannot be made) is not the browser's
// failure: std::bad_alloc leaves the wrapper, and the page pass ends with
// E_OUTOFMEMORY. Answered as an HRESULT it would pass for a failed findText
// or pasteHTML, which the pass ignores, and the pass would end with S_OK.
#pragma once

#include <exdisp.h>
#include <oleauto.h>

#include <memory>

#include "bho/com_ptr.h"
#include "core/document.h"

namespace glintmark::bho {

// How the adapter makes the BSTRs it hands to the browser: SysAllocStringLen,
// or a stand-in through which a test runs out of memory.
using BstrMaker = BSTR(STDAPICALLTYPE*)(const OLECHAR* text, UINT length);

class ComBrowser final : public Browser {
 public:
  // `browser` may be null: document() then succeeds with no document.
  explicit ComBrowser(ComPtr<IWebBrowser2> browser, BstrMaker makeBstr = SysAllocStringLen)
      : m_browser(std::move(browser)), m_makeBstr(makeBstr) {}
  HResult document(std::unique_ptr<Document>* document) override;

 private:
  ComPtr<IWebBrowser2> m_browser;
  BstrMaker m_makeBstr;
};

}  // namespace glintmark::bho
