// The Highlighter object: its interface table, its browser connection, the
// events it receives and the toolbar command.
#include "bho/highlighter.h"

#include <new>

#include "bho/document_adapter.h"
#include "bho/module.h"
#include "core/code_page.h"
#include "core/highlight_options.h"
#include "settings/options_dialog.h"

namespace glintmark::bho {
namespace {

// The two events of DWebBrowserEvents2 that the object acts on.
constexpr DISPID kDispIdDocumentComplete = 259;
constexpr DISPID kDispIdOnQuit = 253;
// What QueryStatus reports for every command: OLECMDF_SUPPORTED | OLECMDF_ENABLED.
constexpr DWORD kCommandAvailable = OLECMDF_SUPPORTED | OLECMDF_ENABLED;

// Where the table of interface Base sits inside a Highlighter.
template <typename Base>
std::ptrdiff_t offsetOfTable() {
  // Any suitably aligned non-null address works: only the adjustment counts.
  auto* object = reinterpret_cast<Highlighter*>(alignof(Highlighter) * 16);
  return reinterpret_cast<char*>(static_cast<Base*>(object)) - reinterpret_cast<char*>(object);
}

// documentCompleteSource: whether a DocumentComplete call carries the
// browser's arguments, and if so the dispatch pointer of the browser or frame
// it names in *source (possibly null). That is the event's first argument,
// which stands second in the reversed argument array, as VT_DISPATCH or a
// reference to one. The browser always sends both arguments; a call that
// does not is not from it.
bool documentCompleteSource(const DISPPARAMS& params, IDispatch** source) {
  *source = nullptr;
  if (params.cArgs < 2 || params.rgvarg == nullptr) return false;
  const VARIANT& argument = params.rgvarg[1];
  if (argument.vt == VT_DISPATCH) {
    *source = argument.pdispVal;
    return true;
  }
  if (argument.vt == (VT_DISPATCH | VT_BYREF)) {
    *source = argument.ppdispVal != nullptr ? *argument.ppdispVal : nullptr;
    return true;
  }
  return false;
}

}  // namespace

// The interface table, in the order the class lists its interfaces. The first
// row's pointer also answers IUnknown: it is the object's identity.
const Highlighter::InterfaceEntry Highlighter::s_interfaces[] = {
    {&kIidIHighlighter, offsetOfTable<IHighlighter>()},
    {&IID_IDispatch, offsetOfTable<IHighlighter>()},
    {&IID_IObjectWithSite, offsetOfTable<IObjectWithSite>()},
    {&IID_IOleCommandTarget, offsetOfTable<IOleCommandTarget>()},
};

HRESULT createHighlighter(IUnknown* outer, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  auto* object = new (std::nothrow) Highlighter(outer);
  if (object == nullptr) return E_OUTOFMEMORY;
  // The creating QueryInterface takes the first reference; when it fails the
  // count is still 0 and the object goes away at once.
  const HRESULT result = outer != nullptr ? object->m_inner.QueryInterface(iid, out)
                                          : object->QueryInterface(iid, out);
  if (FAILED(result)) delete object;
  return result;
}

Highlighter::Highlighter(IUnknown* outer) : m_outer(outer) { lockModule(); }

Highlighter::~Highlighter() {
  m_eventSource.reset();
  m_browser.reset();
  m_site.reset();
  m_session.m_savedSearchText.reset();
  unlockModule();
}

// ---------------------------------------------------------------- IUnknown

HRESULT Highlighter::queryTable(REFIID iid, void** out) {
  *out = nullptr;
  const InterfaceEntry* found = nullptr;
  if (IsEqualIID(iid, IID_IUnknown)) {
    found = &s_interfaces[0];
  } else {
    for (const InterfaceEntry& entry : s_interfaces) {
      if (IsEqualIID(iid, *entry.iid)) {
        found = &entry;
        break;
      }
    }
  }
  if (found == nullptr) return E_NOINTERFACE;
  auto* table = reinterpret_cast<IUnknown*>(reinterpret_cast<char*>(this) + found->offset);
  table->AddRef();
  *out = table;
  return S_OK;
}

STDMETHODIMP Highlighter::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (m_outer != nullptr) {
    const HRESULT result = m_outer->QueryInterface(iid, out);
    if (SUCCEEDED(result)) return result;
    *out = nullptr;
  }
  return queryTable(iid, out);
}

STDMETHODIMP_(ULONG) Highlighter::AddRef() {
  if (m_outer != nullptr) return m_outer->AddRef();
  return static_cast<ULONG>(++m_refCount);
}

STDMETHODIMP_(ULONG) Highlighter::Release() {
  if (m_outer != nullptr) return m_outer->Release();
  const LONG count = --m_refCount;
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

STDMETHODIMP Highlighter::InnerUnknown::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown)) {
    AddRef();
    *out = static_cast<IUnknown*>(this);
    return S_OK;
  }
  return m_owner.queryTable(iid, out);
}

STDMETHODIMP_(ULONG) Highlighter::InnerUnknown::AddRef() { return static_cast<ULONG>(++m_refCount); }

STDMETHODIMP_(ULONG) Highlighter::InnerUnknown::Release() {
  const LONG count = --m_refCount;
  if (count == 0) delete &m_owner;
  return static_cast<ULONG>(count);
}

// --------------------------------------------------------- IObjectWithSite

STDMETHODIMP Highlighter::SetSite(IUnknown* site) {
  m_site = ComPtr<IUnknown>(site);
  ComPtr<IWebBrowser2> browser;
  if (site != nullptr && FAILED(site->QueryInterface(IID_IWebBrowser2, browser.putVoid()))) {
    browser.reset();
  }
  m_browser = std::move(browser);
  if (!m_browser) return E_INVALIDARG;
  m_eventSource = m_browser.query<IConnectionPointContainer>();
  if (!m_eventSource) return E_POINTER;
  return Connect();
}

STDMETHODIMP Highlighter::GetSite(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!m_site) return E_FAIL;
  return m_site->QueryInterface(iid, out);
}

// ------------------------------------------------------ the class's own

HRESULT Highlighter::OnQuit() {
  Disconnect();
  return S_OK;
}

HRESULT Highlighter::Connect() {
  ComPtr<IConnectionPoint> point;
  GLINTMARK_RETURN_IF_FAILED(findEventPoint(&point));
  return point->Advise(static_cast<IObjectWithSite*>(this), &m_adviseCookie);
}

HRESULT Highlighter::Disconnect() {
  ComPtr<IConnectionPoint> point;
  GLINTMARK_RETURN_IF_FAILED(findEventPoint(&point));
  return point->Unadvise(m_adviseCookie);
}

HRESULT Highlighter::findEventPoint(ComPtr<IConnectionPoint>* point) {
  // Without an event source (no SetSite with a browser yet) there is nothing
  // to connect to.
  if (!m_eventSource) return E_UNEXPECTED;
  const HRESULT found = m_eventSource->FindConnectionPoint(DIID_DWebBrowserEvents2, point->put());
  if (FAILED(found)) return found;
  return *point ? S_OK : E_UNEXPECTED;
}

HRESULT Highlighter::HighlightPage() {
  try {
    ComBrowser browser(m_browser);
    return glintmark::HighlightPage(m_browser ? &browser : nullptr, highlightOptions(), m_session,
                                    ansiCodePage());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

// ------------------------------------------------------- IOleCommandTarget

STDMETHODIMP Highlighter::QueryStatus(const GUID*, ULONG count, OLECMD commands[], OLECMDTEXT*) {
  if (commands == nullptr) return E_POINTER;
  for (ULONG i = 0; i < count; ++i) commands[i].cmdf = kCommandAvailable;
  return S_OK;
}

STDMETHODIMP Highlighter::Exec(const GUID*, DWORD, DWORD option, VARIANT*, VARIANT*) {
  if (option == OLECMDEXECOPT_DODEFAULT) {
    // The dialog runs its own message loop; the browser may let go of the
    // object meanwhile, so hold it until the dialog has closed.
    ComPtr<IOleCommandTarget> self(this);
    showOptionsDialog(moduleInstance());
  }
  return S_OK;
}

// ---------------------------------------------------------------- IDispatch

STDMETHODIMP Highlighter::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP Highlighter::GetTypeInfo(UINT, LCID lcid, ITypeInfo** typeInfo) {
  if (typeInfo == nullptr) return E_POINTER;
  *typeInfo = nullptr;
  return highlighterTypeInfo(lcid, typeInfo);
}

STDMETHODIMP Highlighter::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID lcid,
                                        DISPID* dispIds) {
  ComPtr<ITypeInfo> typeInfo;
  const HRESULT loaded = highlighterTypeInfo(lcid, typeInfo.put());
  if (FAILED(loaded)) return loaded;
  return typeInfo->GetIDsOfNames(names, count, dispIds);
}

STDMETHODIMP Highlighter::Invoke(DISPID dispId, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                 EXCEPINFO*, UINT*) {
  if (params == nullptr) return E_INVALIDARG;
  // An event handler may drop the browser's last reference to the object.
  ComPtr<IHighlighter> self(this);
  switch (dispId) {
    case kDispIdDocumentComplete: {
      IDispatch* source = nullptr;
      if (!documentCompleteSource(*params, &source)) break;  // not from the browser: ignored
      ComPtr<IWebBrowser2> browser;
      if (source != nullptr && FAILED(source->QueryInterface(IID_IWebBrowser2, browser.putVoid()))) {
        browser.reset();
      }
      m_browser = std::move(browser);
      HighlightPage();
      break;
    }
    case kDispIdOnQuit:
      OnQuit();
      break;
    default:
      break;
  }
  return S_OK;
}

}  // namespace glintmark::bho
