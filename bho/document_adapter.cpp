// The core/document.h operations over the browser's COM interfaces.
#include "bho/document_adapter.h"

#include <mshtml.h>

#include <new>
#include <string>

namespace glintmark::bho {
namespace {

// A BSTR with the given text; throws std::bad_alloc when none can be made.
UniqueBstr makeBstr(BstrMaker make, std::u16string_view text) {
  UniqueBstr result(make(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size())));
  if (!result) throw std::bad_alloc();
  return result;
}

// Calls a getter of a string property and hands its text out as a WideText;
// the BSTR is freed whatever the call answered. A null BSTR gives no text.
template <typename Call>
HResult readString(WideText* out, Call&& call) {
  out->reset();
  UniqueBstr text;
  const HRESULT result = call(text.put());
  if (SUCCEEDED(result) && text) {
    *out = std::u16string(reinterpret_cast<const char16_t*>(text.get()), SysStringLen(text.get()));
  }
  return result;
}

class ComTextRange final : public TextRange {
 public:
  ComTextRange(ComPtr<IHTMLTxtRange> range, BstrMaker makeBstr)
      : m_range(std::move(range)), m_makeBstr(makeBstr) {}

  HResult findText(std::u16string_view text, std::int32_t count, std::int32_t flags,
                   bool* found) override {
    *found = false;
    UniqueBstr needle = makeBstr(m_makeBstr, text);
    VARIANT_BOOL matched = VARIANT_FALSE;
    const HRESULT result = m_range->findText(needle.get(), count, flags, &matched);
    *found = SUCCEEDED(result) && matched != VARIANT_FALSE;
    return result;
  }

  HResult htmlText(WideText* html) override {
    return readString(html, [&](BSTR* out) { return m_range->get_htmlText(out); });
  }

  HResult pasteHtml(std::u16string_view html) override {
    return m_range->pasteHTML(makeBstr(m_makeBstr, html).get());
  }

  HResult moveStart(std::u16string_view unit, std::int32_t count, std::int32_t* moved) override {
    return move(unit, count, moved, &IHTMLTxtRange::moveStart);
  }
  HResult moveEnd(std::u16string_view unit, std::int32_t count, std::int32_t* moved) override {
    return move(unit, count, moved, &IHTMLTxtRange::moveEnd);
  }

  HResult duplicate(std::unique_ptr<TextRange>* copy) override {
    copy->reset();
    ComPtr<IHTMLTxtRange> duplicated;
    const HRESULT result = m_range->duplicate(duplicated.put());
    if (SUCCEEDED(result) && duplicated) {
      *copy = std::make_unique<ComTextRange>(std::move(duplicated), m_makeBstr);
    }
    return result;
  }

  HResult compareEndPoints(std::u16string_view how, TextRange& other, std::int32_t* result) override {
    *result = 0;
    // Both ranges come from this adapter: the page pass compares a range with
    // its own duplicate.
    auto* otherRange = dynamic_cast<ComTextRange*>(&other);
    if (otherRange == nullptr) return hr::invalidArg;
    UniqueBstr comparison = makeBstr(m_makeBstr, how);
    LONG order = 0;
    const HRESULT call = m_range->compareEndPoints(comparison.get(), otherRange->m_range.get(), &order);
    if (SUCCEEDED(call)) *result = order;
    return call;
  }

 private:
  using MoveMethod = HRESULT (STDMETHODCALLTYPE IHTMLTxtRange::*)(BSTR, LONG, LONG*);
  HResult move(std::u16string_view unit, std::int32_t count, std::int32_t* moved, MoveMethod method) {
    if (moved != nullptr) *moved = 0;
    UniqueBstr unitName = makeBstr(m_makeBstr, unit);
    LONG actual = 0;
    const HRESULT result = (m_range.get()->*method)(unitName.get(), count, &actual);
    if (moved != nullptr && SUCCEEDED(result)) *moved = actual;
    return result;
  }

  ComPtr<IHTMLTxtRange> m_range;
  BstrMaker m_makeBstr;
};

class ComBody final : public BodyElement {
 public:
  ComBody(ComPtr<IHTMLBodyElement> body, BstrMaker makeBstr) : m_body(std::move(body)), m_makeBstr(makeBstr) {}

  HResult createTextRange(std::unique_ptr<TextRange>* range) override {
    range->reset();
    ComPtr<IHTMLTxtRange> created;
    const HRESULT result = m_body->createTextRange(created.put());
    if (SUCCEEDED(result) && created) *range = std::make_unique<ComTextRange>(std::move(created), m_makeBstr);
    return result;
  }

 private:
  ComPtr<IHTMLBodyElement> m_body;
  BstrMaker m_makeBstr;
};

class ComLink final : public LinkElement {
 public:
  ComLink(ComPtr<IHTMLAnchorElement> anchor, ComPtr<IHTMLElement> element, BstrMaker makeBstr)
      : m_anchor(std::move(anchor)), m_element(std::move(element)), m_makeBstr(makeBstr) {}

  HResult href(WideText* target) override {
    return readString(target, [&](BSTR* out) { return m_anchor->get_href(out); });
  }

  HResult putTitle(std::u16string_view title) override {
    return m_element->put_title(makeBstr(m_makeBstr, title).get());
  }

 private:
  ComPtr<IHTMLAnchorElement> m_anchor;
  ComPtr<IHTMLElement> m_element;
  BstrMaker m_makeBstr;
};

class ComCollection final : public ElementCollection {
 public:
  ComCollection(ComPtr<IHTMLElementCollection> collection, BstrMaker makeBstr)
      : m_collection(std::move(collection)), m_makeBstr(makeBstr) {}

  HResult tags(std::u16string_view tagName, std::unique_ptr<ElementCollection>* result) override {
    result->reset();
    // The variant borrows the BSTR; `name` frees it.
    UniqueBstr name = makeBstr(m_makeBstr, tagName);
    VARIANT tag;
    VariantInit(&tag);
    tag.vt = VT_BSTR;
    tag.bstrVal = name.get();
    ComPtr<IDispatch> found;
    const HRESULT call = m_collection->tags(tag, found.put());
    if (FAILED(call)) return call;
    if (auto collection = found.query<IHTMLElementCollection>()) {
      *result = std::make_unique<ComCollection>(std::move(collection), m_makeBstr);
    }
    return call;
  }

  HResult length(std::int32_t* count) override {
    LONG value = 0;
    const HRESULT result = m_collection->get_length(&value);
    *count = SUCCEEDED(result) ? value : 0;
    return result;
  }

  HResult item(std::int32_t index, std::unique_ptr<LinkElement>* element) override {
    element->reset();
    // Neither variant owns anything: no VariantClear needed.
    VARIANT name;
    VariantInit(&name);
    name.vt = VT_I4;
    name.lVal = index;
    VARIANT position;
    VariantInit(&position);
    ComPtr<IDispatch> found;
    const HRESULT call = m_collection->item(name, position, found.put());
    if (FAILED(call)) return call;
    auto anchor = found.query<IHTMLAnchorElement>();
    auto plain = found.query<IHTMLElement>();
    if (anchor && plain) *element = std::make_unique<ComLink>(std::move(anchor), std::move(plain), m_makeBstr);
    return call;
  }

 private:
  ComPtr<IHTMLElementCollection> m_collection;
  BstrMaker m_makeBstr;
};

class ComDocument final : public Document {
 public:
  ComDocument(ComPtr<IHTMLDocument2> document, BstrMaker makeBstr)
      : m_document(std::move(document)), m_makeBstr(makeBstr) {}

  HResult title(WideText* title) override {
    return readString(title, [&](BSTR* out) { return m_document->get_title(out); });
  }
  HResult url(WideText* url) override {
    return readString(url, [&](BSTR* out) { return m_document->get_URL(out); });
  }
  HResult referrer(WideText* referrer) override {
    return readString(referrer, [&](BSTR* out) { return m_document->get_referrer(out); });
  }

  HResult body(std::unique_ptr<BodyElement>* body) override {
    body->reset();
    ComPtr<IHTMLElement> element;
    const HRESULT call = m_document->get_body(element.put());
    if (FAILED(call)) return call;
    if (auto bodyElement = element.query<IHTMLBodyElement>()) {
      *body = std::make_unique<ComBody>(std::move(bodyElement), m_makeBstr);
    }
    return call;
  }

  HResult all(std::unique_ptr<ElementCollection>* all) override {
    all->reset();
    ComPtr<IHTMLElementCollection> collection;
    const HRESULT call = m_document->get_all(collection.put());
    if (SUCCEEDED(call) && collection) *all = std::make_unique<ComCollection>(std::move(collection), m_makeBstr);
    return call;
  }

 private:
  ComPtr<IHTMLDocument2> m_document;
  BstrMaker m_makeBstr;
};

}  // namespace

HResult ComBrowser::document(std::unique_ptr<Document>* document) {
  document->reset();
  if (!m_browser) return hr::ok;
  ComPtr<IDispatch> dispatch;
  const HRESULT call = m_browser->get_Document(dispatch.put());
  if (FAILED(call)) return call;
  if (auto htmlDocument = dispatch.query<IHTMLDocument2>()) {
    *document = std::make_unique<ComDocument>(std::move(htmlDocument), m_makeBstr);
  }
  return call;
}

}  // namespace glintmark::bho
