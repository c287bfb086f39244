#include "web/live_page.h"

#include <new>
#include <stdexcept>

#include "core/guarded.h"
#include "core/utf.h"
#include "web/dom_imports.h"

namespace glintmark::web {

using html::Node;

namespace {

class LiveLink final : public LinkElement {
 public:
  LiveLink(const std::u16string& href, std::uint32_t index) : m_href(href), m_index(index) {}
  HResult href(WideText* target) override {
    if (!target) return hr::pointer;
    return guarded([&] {
      *target = m_href;
      return hr::ok;
    });
  }
  HResult putTitle(std::u16string_view title) override {
    glintmark_dom_set_title(m_index, title.data(), title.size());
    return hr::ok;
  }

 private:
  const std::u16string& m_href;
  std::uint32_t m_index;
};

bool isLinkTag(std::u16string_view name) {
  return name.size() == 1 && (name[0] == u'a' || name[0] == u'A');
}

}  // namespace

// document.all, as far as the pass asks it: tags("a") and its links. The
// page's other elements are never asked for one by one.
class LiveLinks final : public ElementCollection {
 public:
  LiveLinks(const PageFacts& facts, bool links) : m_facts(facts), m_links(links) {}
  HResult tags(std::u16string_view tagName, std::unique_ptr<ElementCollection>* result) override {
    if (!result) return hr::pointer;
    result->reset();
    return guarded([&] {
      *result = std::make_unique<LiveLinks>(m_facts, isLinkTag(tagName));
      return hr::ok;
    });
  }
  HResult length(std::int32_t* count) override {
    if (!count) return hr::pointer;
    *count = m_links ? static_cast<std::int32_t>(m_facts.links.size()) : 0;
    return hr::ok;
  }
  HResult item(std::int32_t index, std::unique_ptr<LinkElement>* element) override {
    if (!element) return hr::pointer;
    element->reset();
    if (!m_links || index < 0 || static_cast<std::size_t>(index) >= m_facts.links.size()) return hr::ok;
    return guarded([&] {
      *element = std::make_unique<LiveLink>(m_facts.links[static_cast<std::size_t>(index)],
                                            static_cast<std::uint32_t>(index));
      return hr::ok;
    });
  }

 private:
  const PageFacts& m_facts;
  bool m_links;
};

class LiveDocument final : public Document {
 public:
  explicit LiveDocument(LivePage& page) : m_page(page) {}
  HResult title(WideText* title) override { return text(title, m_page.m_facts.title); }
  HResult url(WideText* url) override { return text(url, m_page.m_facts.url); }
  HResult referrer(WideText* referrer) override { return text(referrer, m_page.m_facts.referrer); }
  HResult body(std::unique_ptr<BodyElement>* body) override {
    if (!body) return hr::pointer;
    body->reset();
    // A frameset, or a document with no body at all, offers no body element.
    if (m_page.m_facts.body != BodyKind::body) return hr::ok;
    std::unique_ptr<Document> copy = m_page.m_copy->document();
    return copy->body(body);
  }
  HResult all(std::unique_ptr<ElementCollection>* all) override {
    if (!all) return hr::pointer;
    all->reset();
    return guarded([&] {
      *all = std::make_unique<LiveLinks>(m_page.m_facts, false);
      return hr::ok;
    });
  }

 private:
  static HResult text(WideText* out, const std::u16string& value) {
    if (!out) return hr::pointer;
    return guarded([&] {
      *out = value;
      return hr::ok;
    });
  }
  LivePage& m_page;
};

namespace {

class LiveBrowser final : public Browser {
 public:
  explicit LiveBrowser(LivePage& page) : m_page(page) {}
  HResult document(std::unique_ptr<Document>* document) override {
    if (!document) return hr::pointer;
    document->reset();
    return guarded([&] {
      *document = std::make_unique<LiveDocument>(m_page);
      return hr::ok;
    });
  }

 private:
  LivePage& m_page;
};

}  // namespace

LivePage::LivePage(std::span<const std::int32_t> ops, std::u16string_view text, PageFacts facts)
    : m_copy(html::HtmlDocument::create()), m_facts(std::move(facts)) {
  html::HtmlDocument& copy = *m_copy;
  Node* const body = copy.body();
  number(body);
  const auto operand = [&](std::size_t& i) {
    if (i >= ops.size()) throw std::invalid_argument("the page's records end inside a record");
    return ops[i++];
  };
  const auto textAt = [&](std::int32_t offset, std::int32_t length) {
    if (offset < 0 || length < 0 || static_cast<std::size_t>(offset) > text.size() ||
        static_cast<std::size_t>(length) > text.size() - static_cast<std::size_t>(offset)) {
      throw std::invalid_argument("a record of the page lies outside its text");
    }
    return text.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
  };
  std::vector<Node*> open{body};
  for (std::size_t i = 0; i < ops.size();) {
    const auto op = static_cast<PageOp>(operand(i));
    Node* node = nullptr;
    switch (op) {
      case PageOp::element: {
        const std::int32_t offset = operand(i);
        const std::u16string_view name = textAt(offset, operand(i));
        node = copy.createElement(toUtf8(name));
        break;
      }
      case PageOp::end:
        if (open.size() == 1) throw std::invalid_argument("the page's records close the body");
        open.pop_back();
        continue;
      case PageOp::text: {
        const std::int32_t offset = operand(i);
        node = copy.createText(textAt(offset, operand(i)));
        break;
      }
      case PageOp::other:
        node = copy.createComment("");
        break;
      default:
        throw std::invalid_argument("the page's records hold an unknown kind");
    }
    copy.appendChild(open.back(), node);
    number(node);
    if (op == PageOp::element) open.push_back(node);
  }
  copy.setObserver(this);
}

LivePage::~LivePage() { m_copy->setObserver(nullptr); }

std::unique_ptr<Browser> LivePage::browser() { return std::make_unique<LiveBrowser>(*this); }

std::uint32_t LivePage::number(const Node* node) {
  const std::uint32_t id = m_nextId++;
  m_copy->setNumber(node, id);
  return id;
}

std::uint32_t LivePage::idOf(const Node* node) const { return node ? node->number() : 0; }

void LivePage::splitText(const Node& node, std::size_t offset, const Node& rest) {
  const std::uint32_t id = number(&rest);
  if (m_adrift) return;
  glintmark_dom_split_text(idOf(&node), static_cast<std::uint32_t>(offset), id);
}

void LivePage::newElement(const Node& element, const Node* original) {
  const std::uint32_t id = number(&element);
  if (m_adrift) return;
  if (original) {
    glintmark_dom_clone(idOf(original), id);
    return;
  }
  // Every span of a keyword shares its attribute list: the page copies the
  // last one made rather than build each anew.
  const std::span<const html::Attribute> list = element.attributes();
  if (m_lastMade && list.data() == m_lastMadeAttributes.data() &&
      list.size() == m_lastMadeAttributes.size() && element.name() == m_lastMadeName) {
    glintmark_dom_clone(m_lastMade, id);
    return;
  }
  m_lastMade = id;
  m_lastMadeAttributes = list;
  m_lastMadeName = element.name();
  std::string attributes;
  try {
    for (const html::Attribute& attribute : element.attributes()) {
      attributes.append(attribute.name).push_back('\0');
      attributes.append(attribute.value).push_back('\0');
    }
  } catch (...) {
    m_adrift = true;
    throw;
  }
  const std::string_view name = element.name();
  glintmark_dom_create(id, name.data(), name.size(), attributes.data(), attributes.size());
}

void LivePage::inserted(const Node& parent, const Node& child, const Node* before) {
  if (m_adrift) return;
  glintmark_dom_insert(idOf(&parent), idOf(&child), idOf(before));
}

}  // namespace glintmark::web
