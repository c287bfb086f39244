#include "bho/testing/browser_doubles.h"

#include <exdispid.h>
#include <olectl.h>

#include <string_view>

namespace glintmark::bho::testing {
namespace {

int g_liveDoubles = 0;
std::map<std::string, HRESULT>& failures() {
  static std::map<std::string, HRESULT> table;
  return table;
}
std::map<std::string, int>& calls() {
  static std::map<std::string, int> table;
  return table;
}

// Counts the call; true with *result set when the test made the method fail.
bool injectedFailure(const char* method, HRESULT* result) {
  ++calls()[method];
  const auto found = failures().find(method);
  if (found == failures().end()) return false;
  *result = found->second;
  return true;
}

#define GLINTMARK_FAULT(method)                                \
  do {                                                         \
    HRESULT injected_ = S_OK;                                  \
    if (injectedFailure(method, &injected_)) return injected_; \
  } while (false)

BSTR toBstr(const WideText& text) {
  if (!text) return nullptr;
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text->data()),
                           static_cast<UINT>(text->size()));
}

std::u16string_view fromBstr(BSTR text) {
  return {reinterpret_cast<const char16_t*>(text), text != nullptr ? SysStringLen(text) : 0u};
}

// IHTMLTxtRange over a model TextRange.
class RangeDouble final : public CountedObject, public IHTMLTxtRangeStubs {
 public:
  explicit RangeDouble(std::unique_ptr<TextRange> model) : m_model(std::move(model)) {}
  GLINTMARK_DOUBLE_IUNKNOWN
  GLINTMARK_DOUBLE_IDISPATCH

  STDMETHODIMP findText(BSTR text, LONG count, LONG flags, VARIANT_BOOL* success) override {
    GLINTMARK_FAULT("IHTMLTxtRange::findText");
    if (success == nullptr) return E_POINTER;
    *success = VARIANT_FALSE;
    bool found = false;
    const HRESULT result = m_model->findText(fromBstr(text), count, flags, &found);
    if (found) *success = VARIANT_TRUE;
    return result;
  }
  STDMETHODIMP get_htmlText(BSTR* html) override {
    GLINTMARK_FAULT("IHTMLTxtRange::get_htmlText");
    if (html == nullptr) return E_POINTER;
    WideText text;
    const HRESULT result = m_model->htmlText(&text);
    *html = toBstr(text);
    return result;
  }
  STDMETHODIMP pasteHTML(BSTR html) override {
    GLINTMARK_FAULT("IHTMLTxtRange::pasteHTML");
    return m_model->pasteHtml(fromBstr(html));
  }
  STDMETHODIMP moveStart(BSTR unit, LONG count, LONG* actual) override {
    GLINTMARK_FAULT("IHTMLTxtRange::moveStart");
    std::int32_t moved = 0;
    const HRESULT result = m_model->moveStart(fromBstr(unit), count, &moved);
    if (actual != nullptr) *actual = moved;
    return result;
  }
  STDMETHODIMP moveEnd(BSTR unit, LONG count, LONG* actual) override {
    GLINTMARK_FAULT("IHTMLTxtRange::moveEnd");
    std::int32_t moved = 0;
    const HRESULT result = m_model->moveEnd(fromBstr(unit), count, &moved);
    if (actual != nullptr) *actual = moved;
    return result;
  }
  STDMETHODIMP duplicate(IHTMLTxtRange** copy) override {
    GLINTMARK_FAULT("IHTMLTxtRange::duplicate");
    if (copy == nullptr) return E_POINTER;
    *copy = nullptr;
    std::unique_ptr<TextRange> model;
    const HRESULT result = m_model->duplicate(&model);
    if (SUCCEEDED(result) && model) *copy = new RangeDouble(std::move(model));
    return result;
  }
  STDMETHODIMP compareEndPoints(BSTR how, IHTMLTxtRange* other, LONG* order) override {
    GLINTMARK_FAULT("IHTMLTxtRange::compareEndPoints");
    auto* otherRange = dynamic_cast<RangeDouble*>(other);
    if (order == nullptr || otherRange == nullptr) return E_INVALIDARG;
    std::int32_t result = 0;
    const HRESULT call = m_model->compareEndPoints(fromBstr(how), *otherRange->m_model, &result);
    *order = result;
    return call;
  }

 private:
  IUnknown* find(REFIID iid) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IHTMLTxtRange) {
      return static_cast<IHTMLTxtRange*>(this);
    }
    return nullptr;
  }
  std::unique_ptr<TextRange> m_model;
};

// An element: always IHTMLElement; IHTMLAnchorElement when it stands for a
// link of the model, IHTMLBodyElement when it stands for the model's body.
class ElementDouble final : public CountedObject,
                            public IHTMLElementStubs,
                            public IHTMLAnchorElementStubs,
                            public IHTMLBodyElementStubs {
 public:
  ElementDouble(std::unique_ptr<LinkElement> link, std::unique_ptr<BodyElement> body)
      : m_link(std::move(link)), m_body(std::move(body)) {}
  GLINTMARK_DOUBLE_IUNKNOWN
  GLINTMARK_DOUBLE_IDISPATCH

  STDMETHODIMP get_href(BSTR* target) override {
    GLINTMARK_FAULT("IHTMLAnchorElement::get_href");
    if (target == nullptr) return E_POINTER;
    WideText text;
    const HRESULT result = m_link->href(&text);
    *target = toBstr(text);
    return result;
  }
  STDMETHODIMP put_title(BSTR title) override {
    GLINTMARK_FAULT("IHTMLElement::put_title");
    return m_link ? m_link->putTitle(fromBstr(title)) : S_OK;
  }
  STDMETHODIMP createTextRange(IHTMLTxtRange** range) override {
    GLINTMARK_FAULT("IHTMLBodyElement::createTextRange");
    if (range == nullptr) return E_POINTER;
    *range = nullptr;
    std::unique_ptr<TextRange> model;
    const HRESULT result = m_body->createTextRange(&model);
    if (SUCCEEDED(result) && model) *range = new RangeDouble(std::move(model));
    return result;
  }

 private:
  IUnknown* find(REFIID iid) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IHTMLElement) {
      return static_cast<IHTMLElement*>(this);
    }
    if (iid == IID_IHTMLAnchorElement && m_link) return static_cast<IHTMLAnchorElement*>(this);
    if (iid == IID_IHTMLBodyElement && m_body) return static_cast<IHTMLBodyElement*>(this);
    return nullptr;
  }
  std::unique_ptr<LinkElement> m_link;
  std::unique_ptr<BodyElement> m_body;
};

// IHTMLElementCollection over a model collection. It insists on the argument
// types the browser documents: a VT_BSTR tag name; a VT_I4 index with an
// empty second variant.
class CollectionDouble final : public CountedObject, public IHTMLElementCollectionStubs {
 public:
  explicit CollectionDouble(std::unique_ptr<ElementCollection> model) : m_model(std::move(model)) {}
  GLINTMARK_DOUBLE_IUNKNOWN
  GLINTMARK_DOUBLE_IDISPATCH

  STDMETHODIMP tags(VARIANT tagName, IDispatch** result) override {
    GLINTMARK_FAULT("IHTMLElementCollection::tags");
    if (result == nullptr) return E_POINTER;
    *result = nullptr;
    if (tagName.vt != VT_BSTR) return E_INVALIDARG;
    std::unique_ptr<ElementCollection> model;
    const HRESULT call = m_model->tags(fromBstr(tagName.bstrVal), &model);
    if (SUCCEEDED(call) && model) {
      *result = static_cast<IHTMLElementCollection*>(new CollectionDouble(std::move(model)));
    }
    return call;
  }
  STDMETHODIMP get_length(LONG* count) override {
    GLINTMARK_FAULT("IHTMLElementCollection::get_length");
    if (count == nullptr) return E_POINTER;
    std::int32_t value = 0;
    const HRESULT result = m_model->length(&value);
    *count = value;
    return result;
  }
  STDMETHODIMP item(VARIANT name, VARIANT index, IDispatch** element) override {
    GLINTMARK_FAULT("IHTMLElementCollection::item");
    if (element == nullptr) return E_POINTER;
    *element = nullptr;
    if (name.vt != VT_I4 || index.vt != VT_EMPTY) return E_INVALIDARG;
    std::unique_ptr<LinkElement> link;
    const HRESULT result = m_model->item(name.lVal, &link);
    if (FAILED(result)) return result;
    // What the model does not see as a link is an element without the
    // anchor interface.
    *element = static_cast<IHTMLElement*>(new ElementDouble(std::move(link), nullptr));
    return result;
  }

 private:
  IUnknown* find(REFIID iid) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IHTMLElementCollection) {
      return static_cast<IHTMLElementCollection*>(this);
    }
    return nullptr;
  }
  std::unique_ptr<ElementCollection> m_model;
};

}  // namespace

int liveDoubles() { return g_liveDoubles; }

void failCall(const std::string& method, HRESULT result) { failures()[method] = result; }
void clearFailures() {
  failures().clear();
  calls().clear();
}
int callCount(const std::string& method) {
  const auto found = calls().find(method);
  return found == calls().end() ? 0 : found->second;
}

CountedObject::CountedObject() { ++g_liveDoubles; }
CountedObject::~CountedObject() { --g_liveDoubles; }

HRESULT CountedObject::queryDouble(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  IUnknown* found = find(iid);
  *out = found;
  if (found == nullptr) return E_NOINTERFACE;
  found->AddRef();
  return S_OK;
}

ULONG CountedObject::releaseDouble() {
  const LONG count = --m_refCount;
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

// ------------------------------------------------------------ PlainObject

IUnknown* PlainObject::find(REFIID iid) {
  return iid == IID_IUnknown || iid == IID_IDispatch ? static_cast<IDispatch*>(this) : nullptr;
}

// ---------------------------------------------------- FakeConnectionPoint

IUnknown* FakeConnectionPoint::find(REFIID iid) {
  return iid == IID_IUnknown || iid == IID_IConnectionPoint ? static_cast<IConnectionPoint*>(this)
                                                            : nullptr;
}

STDMETHODIMP FakeConnectionPoint::GetConnectionInterface(IID* iid) {
  if (iid == nullptr) return E_POINTER;
  *iid = DIID_DWebBrowserEvents2;
  return S_OK;
}

STDMETHODIMP FakeConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  ++adviseCalls;
  GLINTMARK_FAULT("IConnectionPoint::Advise");
  if (sink == nullptr || cookie == nullptr) return E_POINTER;
  *cookie = m_nextCookie++;
  m_sinks.emplace_back(*cookie, ComPtr<IUnknown>(sink));
  return S_OK;
}

STDMETHODIMP FakeConnectionPoint::Unadvise(DWORD cookie) {
  ++unadviseCalls;
  lastUnadvisedCookie = cookie;
  GLINTMARK_FAULT("IConnectionPoint::Unadvise");
  for (auto i = m_sinks.begin(); i != m_sinks.end(); ++i) {
    if (i->first == cookie) {
      m_sinks.erase(i);  // releases the sink
      return S_OK;
    }
  }
  return CONNECT_E_NOCONNECTION;
}

HRESULT FakeConnectionPoint::fire(DISPID dispId, DISPPARAMS& params) {
  HRESULT result = S_OK;
  // A sink may unadvise while it handles the event: deliver to a copy.
  const auto sinks = m_sinks;
  for (const auto& entry : sinks) {
    ComPtr<IDispatch> dispatch;
    result = entry.second->QueryInterface(IID_IDispatch, dispatch.putVoid());
    if (FAILED(result)) continue;
    result = dispatch->Invoke(dispId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                              nullptr, nullptr, nullptr);
  }
  return result;
}

HRESULT FakeConnectionPoint::fireDocumentComplete(IDispatch* source, const wchar_t* url) {
  // The browser passes the URL as a VARIANT* by reference.
  VARIANT urlValue;
  VariantInit(&urlValue);
  urlValue.vt = VT_BSTR;
  UniqueBstr text(SysAllocString(url));
  urlValue.bstrVal = text.get();
  VARIANTARG arguments[2];
  VariantInit(&arguments[0]);
  arguments[0].vt = VT_VARIANT | VT_BYREF;
  arguments[0].pvarVal = &urlValue;
  VariantInit(&arguments[1]);
  arguments[1].vt = VT_DISPATCH;
  arguments[1].pdispVal = source;
  DISPPARAMS params = {arguments, nullptr, 2, 0};
  return fire(DISPID_DOCUMENTCOMPLETE, params);
}

HRESULT FakeConnectionPoint::fireOnQuit() {
  DISPPARAMS params = {nullptr, nullptr, 0, 0};
  return fire(DISPID_ONQUIT, params);
}

// ------------------------------------------------------------ FakeBrowser

FakeBrowser::FakeBrowser(bool offersEvents)
    : m_offersEvents(offersEvents), m_events(makeDouble<FakeConnectionPoint>()) {}

FakeBrowser::~FakeBrowser() = default;

IUnknown* FakeBrowser::find(REFIID iid) {
  if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IWebBrowser2 ||
      iid == IID_IWebBrowserApp || iid == IID_IWebBrowser) {
    return static_cast<IWebBrowser2*>(this);
  }
  if (iid == IID_IConnectionPointContainer && m_offersEvents) {
    return static_cast<IConnectionPointContainer*>(this);
  }
  return nullptr;
}

STDMETHODIMP FakeBrowser::get_Document(IDispatch** document) {
  GLINTMARK_FAULT("IWebBrowser2::get_Document");
  if (document == nullptr) return E_POINTER;
  return m_document.copyTo(document);
}

STDMETHODIMP FakeBrowser::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
  GLINTMARK_FAULT("IConnectionPointContainer::FindConnectionPoint");
  if (point == nullptr) return E_POINTER;
  *point = nullptr;
  if (iid != DIID_DWebBrowserEvents2) return CONNECT_E_NOCONNECTION;
  *point = m_events.get();
  m_events->AddRef();
  return S_OK;
}

// --------------------------------------------------------- DocumentDouble

IUnknown* DocumentDouble::find(REFIID iid) {
  if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IHTMLDocument ||
      iid == IID_IHTMLDocument2) {
    return static_cast<IHTMLDocument2*>(this);
  }
  return nullptr;
}

#define GLINTMARK_STRING_PROPERTY(method, modelCall)     \
  STDMETHODIMP DocumentDouble::method(BSTR* text) {      \
    GLINTMARK_FAULT("IHTMLDocument2::" #method);         \
    if (text == nullptr) return E_POINTER;               \
    WideText value;                                      \
    const HRESULT result = m_model->modelCall(&value);   \
    *text = toBstr(value);                               \
    return result;                                       \
  }
GLINTMARK_STRING_PROPERTY(get_title, title)
GLINTMARK_STRING_PROPERTY(get_URL, url)
GLINTMARK_STRING_PROPERTY(get_referrer, referrer)
#undef GLINTMARK_STRING_PROPERTY

STDMETHODIMP DocumentDouble::get_body(IHTMLElement** body) {
  GLINTMARK_FAULT("IHTMLDocument2::get_body");
  if (body == nullptr) return E_POINTER;
  *body = nullptr;
  std::unique_ptr<BodyElement> model;
  const HRESULT result = m_model->body(&model);
  if (FAILED(result)) return result;
  // A frameset's body is an element, but not a body element.
  *body = new ElementDouble(nullptr, std::move(model));
  return result;
}

STDMETHODIMP DocumentDouble::get_all(IHTMLElementCollection** all) {
  GLINTMARK_FAULT("IHTMLDocument2::get_all");
  if (all == nullptr) return E_POINTER;
  *all = nullptr;
  std::unique_ptr<ElementCollection> model;
  const HRESULT result = m_model->all(&model);
  if (SUCCEEDED(result) && model) *all = new CollectionDouble(std::move(model));
  return result;
}

}  // namespace glintmark::bho::testing
