// The browser and its document, as the page pass and the link tooltips see
// them.
//
// These are the few operations that the page pass calls on the browser's
// document object model, each answering an HResult as the browser's COM
// interfaces do. Two implementations exist: the COM adapter in bho/, a thin
// layer over IWebBrowser2, IHTMLDocument2, IHTMLElementCollection,
// IHTMLAnchorElement/IHTMLElement, IHTMLBodyElement and IHTMLTxtRange; and the
// HTML document model in html/, over real pages, used by the command-line
// tool, the benchmarks and the tests.
//
// Conventions that stand for the COM ones:
// - An out parameter is a std::unique_ptr or std::optional that the callee
//   resets first; ownership of what it returns passes to the caller (the COM
//   adapter releases the interface in its destructor).
// - "Succeeded with no object" (a null out pointer after S_OK) is a reset
//   unique_ptr after a succeeded HResult. The page pass needs this where it
//   queries a result for a further interface: a document that does not offer
//   IHTMLDocument2, a body that is not an IHTMLBodyElement (a frameset), a
//   `tags` result that is not a collection, an item that is not both an anchor
//   and an element.
// - A string that the call "gives no string for" (a null BSTR) is an empty
//   std::optional; the empty string is a present, empty one.
// - Memory running out while an implementation makes what it hands on (a
//   string built for the browser, a copy of one the browser gave) is not the
//   document's failure: std::bad_alloc leaves the call, and the page pass
//   ends with E_OUTOFMEMORY. What the document itself answers, its own
//   E_OUTOFMEMORY included, is an HResult like any other.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/hresult.h"

namespace glintmark {

using WideText = std::optional<std::u16string>;

// IHTMLTxtRange.
class TextRange {
 public:
  virtual ~TextRange() = default;
  // findText: searches `text` within the range; flags 2 = whole words only;
  // count 0 = forward to the end of the range. On a match the range covers it
  // and *found is true.
  virtual HResult findText(std::u16string_view text, std::int32_t count, std::int32_t flags,
                           bool* found) = 0;
  // get_htmlText: the HTML of the range.
  virtual HResult htmlText(WideText* html) = 0;
  // pasteHTML: the range's content replaced by the parsed markup.
  virtual HResult pasteHtml(std::u16string_view html) = 0;
  // moveStart / moveEnd: unit "Character" or "Textedit", count units forward.
  virtual HResult moveStart(std::u16string_view unit, std::int32_t count, std::int32_t* moved) = 0;
  virtual HResult moveEnd(std::u16string_view unit, std::int32_t count, std::int32_t* moved) = 0;

  // wrap: puts what the range covers into a new element made from
  // `startTag` (a lone start tag, such as `<span style="...">`), splitting
  // partly covered elements at the range's ends, and leaves the range where
  // the paste would: the tree pasteHTML(startTag + htmlText + end tag) would
  // make, without parsing the text again. Optional: a model without it answers
  // E_NOTIMPL (the default; IHTMLTxtRange has no such method) and the page
  // pass pastes that markup instead.
  virtual HResult wrap(std::u16string_view startTag) {
    (void)startTag;
    return hr::notImplemented;
  }

  // Optional, used only to prove that a search loop makes progress; a model
  // that does not offer them answers E_NOTIMPL (the defaults below) and the
  // page pass then relies on moveStart alone.
  // duplicate: a new range over the same extent (IHTMLTxtRange::duplicate).
  virtual HResult duplicate(std::unique_ptr<TextRange>* copy) {
    copy->reset();
    return hr::notImplemented;
  }
  // compareEndPoints: how is "StartToStart", "StartToEnd", "EndToStart" or
  // "EndToEnd"; *result is -1, 0 or 1 as this range's end point lies before,
  // at or after `other`'s (IHTMLTxtRange::compareEndPoints). `other` comes
  // from the same document model.
  virtual HResult compareEndPoints(std::u16string_view how, TextRange& other,
                                   std::int32_t* result) {
    (void)how;
    (void)other;
    *result = 0;
    return hr::notImplemented;
  }
};

// IHTMLBodyElement.
class BodyElement {
 public:
  virtual ~BodyElement() = default;
  // createTextRange: a range over the whole body text (may succeed with none).
  virtual HResult createTextRange(std::unique_ptr<TextRange>* range) = 0;
};

// An `a` element seen through IHTMLAnchorElement and IHTMLElement together.
class LinkElement {
 public:
  virtual ~LinkElement() = default;
  virtual HResult href(WideText* target) = 0;                 // IHTMLAnchorElement::get_href
  virtual HResult putTitle(std::u16string_view title) = 0;    // IHTMLElement::put_title
};

// IHTMLElementCollection.
class ElementCollection {
 public:
  virtual ~ElementCollection() = default;
  // tags("a"): the sub-collection of elements with that tag name.
  virtual HResult tags(std::u16string_view tagName, std::unique_ptr<ElementCollection>* result) = 0;
  virtual HResult length(std::int32_t* count) = 0;
  // item(index): the element at index, succeeded with none when it is not an
  // element with both the anchor and the element interface.
  virtual HResult item(std::int32_t index, std::unique_ptr<LinkElement>* element) = 0;
};

// IHTMLDocument2.
class Document {
 public:
  virtual ~Document() = default;
  virtual HResult title(WideText* title) = 0;
  virtual HResult url(WideText* url) = 0;
  virtual HResult referrer(WideText* referrer) = 0;
  // get_body, queried for IHTMLBodyElement: succeeded with none for a body
  // that is not a body element (a frameset document).
  virtual HResult body(std::unique_ptr<BodyElement>* body) = 0;
  // get_all: every element of the document (may succeed with none).
  virtual HResult all(std::unique_ptr<ElementCollection>* all) = 0;
};

// IWebBrowser2, for the browser or frame whose document completed.
class Browser {
 public:
  virtual ~Browser() = default;
  // get_Document, queried for IHTMLDocument2: succeeded with none when the
  // document does not offer it.
  virtual HResult document(std::unique_ptr<Document>* document) = 0;
};

}  // namespace glintmark
