// The browser, document, collection, link and body views of core/document.h
// over an HtmlDocument.
#include "core/ascii.h"
#include "html/html_internal.h"

namespace glintmark::html {

namespace {

std::string lowercaseTag(std::u16string_view tagName) {
  std::string tag;
  for (char16_t c : tagName) {
    c = lowerAscii(c);
    if (c >= 0x80) return {};  // no element has such a name
    tag += static_cast<char>(c);
  }
  return tag;
}

class HtmlLinkElement final : public LinkElement {
 public:
  HtmlLinkElement(HtmlDocument& document, Node* element) : m_document(document), m_element(element) {}

  HResult href(WideText* target) override {
    if (!target) return hr::pointer;
    return viewGuarded(m_document, [&] {
      *target = m_document.resolvedHref(m_element);
      return hr::ok;
    });
  }

  HResult putTitle(std::u16string_view title) override {
    return viewGuarded(m_document, [&] {
      m_document.setAttribute(m_element, "title", toUtf8(title));
      return hr::ok;
    });
  }

 private:
  HtmlDocument& m_document;
  Node* m_element;
};

class HtmlElementCollection final : public ElementCollection {
 public:
  HtmlElementCollection(HtmlDocument& document, std::vector<Node*> elements)
      : m_document(document), m_elements(std::move(elements)) {}

  HResult tags(std::u16string_view tagName, std::unique_ptr<ElementCollection>* result) override {
    if (!result) return hr::pointer;
    result->reset();
    return viewGuarded(m_document, [&] {
      const std::string tag = lowercaseTag(tagName);
      std::vector<Node*> matching;
      for (Node* element : m_elements) {
        if (!tag.empty() && element->name() == tag) matching.push_back(element);
      }
      *result = std::make_unique<HtmlElementCollection>(m_document, std::move(matching));
      return hr::ok;
    });
  }

  HResult length(std::int32_t* count) override {
    if (!count) return hr::pointer;
    *count = static_cast<std::int32_t>(m_elements.size());
    return hr::ok;
  }

  HResult item(std::int32_t index, std::unique_ptr<LinkElement>* element) override {
    if (!element) return hr::pointer;
    element->reset();
    // Out of range is "no element", as the browser's collections answer.
    if (index < 0 || static_cast<std::size_t>(index) >= m_elements.size()) return hr::ok;
    Node* node = m_elements[static_cast<std::size_t>(index)];
    return viewGuarded(m_document, [&] {
      if (node->is("a")) *element = std::make_unique<HtmlLinkElement>(m_document, node);
      return hr::ok;
    });
  }

 private:
  HtmlDocument& m_document;
  std::vector<Node*> m_elements;
};

class HtmlBodyElement final : public BodyElement {
 public:
  explicit HtmlBodyElement(HtmlDocument& document) : m_document(document) {}

  HResult createTextRange(std::unique_ptr<TextRange>* range) override {
    if (!range) return hr::pointer;
    range->reset();
    return viewGuarded(m_document, [&] {
      *range = makeTextRange(m_document);
      return hr::ok;
    });
  }

 private:
  HtmlDocument& m_document;
};

class HtmlDocumentView final : public Document {
 public:
  explicit HtmlDocumentView(HtmlDocument& document) : m_document(document) {}

  HResult title(WideText* title) override {
    if (!title) return hr::pointer;
    return viewGuarded(m_document, [&] {
      *title = m_document.title();
      return hr::ok;
    });
  }

  HResult url(WideText* url) override {
    if (!url) return hr::pointer;
    return viewGuarded(m_document, [&] {
      *url = m_document.url();
      return hr::ok;
    });
  }

  HResult referrer(WideText* referrer) override {
    if (!referrer) return hr::pointer;
    return viewGuarded(m_document, [&] {
      *referrer = m_document.referrer();
      return hr::ok;
    });
  }

  HResult body(std::unique_ptr<BodyElement>* body) override {
    if (!body) return hr::pointer;
    body->reset();
    const Node* element = m_document.body();
    return viewGuarded(m_document, [&] {
      if (element && element->is("body")) *body = std::make_unique<HtmlBodyElement>(m_document);
      return hr::ok;
    });
  }

  HResult all(std::unique_ptr<ElementCollection>* all) override {
    if (!all) return hr::pointer;
    all->reset();
    return viewGuarded(m_document, [&] {
      *all = std::make_unique<HtmlElementCollection>(m_document, m_document.elementsByTagName("*"));
      return hr::ok;
    });
  }

 private:
  HtmlDocument& m_document;
};

class HtmlBrowser final : public Browser {
 public:
  explicit HtmlBrowser(HtmlDocument& document) : m_document(document) {}

  HResult document(std::unique_ptr<Document>* document) override {
    if (!document) return hr::pointer;
    document->reset();
    return viewGuarded(m_document, [&] {
      *document = std::make_unique<HtmlDocumentView>(m_document);
      return hr::ok;
    });
  }

 private:
  HtmlDocument& m_document;
};

}  // namespace

std::unique_ptr<Browser> HtmlDocument::browser() { return std::make_unique<HtmlBrowser>(*this); }

std::unique_ptr<Document> HtmlDocument::document() {
  return std::make_unique<HtmlDocumentView>(*this);
}

}  // namespace glintmark::html
