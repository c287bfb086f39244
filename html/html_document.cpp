// The tree of the HTML document model and its building operations (the body
// text and its index are in text_index.cpp).
#include <algorithm>
#include <new>
#include <type_traits>

#include "core/ascii.h"
#include "html/html_internal.h"
#include "html/text_index.h"
#include "html/url_resolve.h"

namespace glintmark::html {

namespace {

Node* firstChildNamed(const Node* parent, std::string_view tag) {
  if (!parent) return nullptr;
  for (Node* child = parent->firstChild(); child; child = child->nextSibling()) {
    if (child->is(tag)) return child;
  }
  return nullptr;
}

bool isAsciiSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

}  // namespace

// --- Node -----------------------------------------------------------------

const std::string_view* Node::attribute(std::string_view name) const {
  for (const Attribute& attribute : attributes()) {
    if (attribute.name == name) return &attribute.value;
  }
  return nullptr;
}

// --- Tree links -----------------------------------------------------------

void DocumentAccess::unlink(Node* child) {
  Node* parent = child->m_parent;
  if (!parent) return;
  (child->m_prev ? child->m_prev->m_next : parent->m_first) = child->m_next;
  (child->m_next ? child->m_next->m_prev : parent->m_last) = child->m_prev;
  child->m_parent = child->m_prev = child->m_next = nullptr;
}

void DocumentAccess::link(Node* parent, Node* child, Node* before) {
  unlink(child);
  child->m_parent = parent;
  child->m_next = before;
  child->m_prev = before ? before->m_prev : parent->m_last;
  (child->m_prev ? child->m_prev->m_next : parent->m_first) = child;
  (before ? before->m_prev : parent->m_last) = child;
}

Node* nextInOrder(const Node* node, const Node* scope, bool skipChildren) {
  if (!skipChildren && node->firstChild()) return node->firstChild();
  while (node && node != scope) {
    if (node->nextSibling()) return node->nextSibling();
    node = node->parent();
  }
  return nullptr;
}

bool insideHiddenText(const Node* node, const Node* scope) {
  for (const Node* n = node; n; n = n->parent()) {
    if (hasClass(*n, elementClass::hiddenText)) return true;
    if (n == scope) break;
  }
  return false;
}

// --- HtmlDocument ---------------------------------------------------------

HtmlDocument::HtmlDocument() : m_index(std::make_unique<TextIndex>()) {
  m_root = newNode(NodeKind::document);
}

HtmlDocument::~HtmlDocument() = default;

std::unique_ptr<HtmlDocument> HtmlDocument::create() {
  std::unique_ptr<HtmlDocument> document(new HtmlDocument());
  Node* html = document->createElement("html");
  document->appendChild(document->m_root, html);
  document->appendChild(html, document->createElement("head"));
  document->appendChild(html, document->createElement("body"));
  return document;
}

Node* HtmlDocument::newNode(NodeKind kind) {
  // Node holds only views and pointers: the arena never runs its destructor.
  static_assert(std::is_trivially_destructible_v<Node>);
  static_assert(sizeof(void*) != 8 || sizeof(Node) <= 88);
  void* memory;
  if (m_spareNodes) {
    memory = m_spareNodes;
    m_spareNodes = m_spareNodes->m_next;
  } else {
    memory = m_arena.allocate(sizeof(Node), alignof(Node));
    ++m_nodeCount;
  }
  Node* node = new (memory) Node();
  if (kind == NodeKind::text) node->m_textPart = {};
  ++m_generation;
  node->m_kind = kind;
  return node;
}

std::pair<std::string_view, std::uint8_t> HtmlDocument::internTagName(std::string_view lowercaseName) {
  const auto found = m_tagNames.find(lowercaseName);
  if (found != m_tagNames.end()) return *found;
  return *m_tagNames.emplace(m_arena.copy(lowercaseName), classifyElement(lowercaseName)).first;
}

void HtmlDocument::setTagName(Node* element, std::string_view lowercaseName) {
  const auto [name, classes] = internTagName(lowercaseName);
  element->m_element.name = name;
  element->m_classes = classes;
}

std::string_view HtmlDocument::storeValue(std::string_view value) {
  if (value != m_lastValue) m_lastValue = m_arena.copy(value);
  return m_lastValue;
}

void HtmlDocument::setText(Node* node, std::u16string_view text) {
  char16_t* units = m_arena.allocateArray<char16_t>(text.size());
  std::copy(text.begin(), text.end(), units);
  DocumentAccess::setText(*node, units, text.size());
  m_textUnits += text.size();
}

void DocumentAccess::setAttributes(HtmlDocument& d, Node& n, std::span<const Attribute> attributes) {
  // Lists never change in place, so elements with the same attributes as
  // the last list stored (every highlight span of a keyword) share it.
  const std::span<const Attribute> last = d.m_lastAttributes;
  const bool same = std::equal(last.begin(), last.end(), attributes.begin(), attributes.end(),
                               [](const Attribute& a, const Attribute& b) {
                                 return a.name == b.name && a.value == b.value;
                               });
  if (!same) {
    Attribute* list = d.m_arena.allocateArray<Attribute>(attributes.size());
    std::copy(attributes.begin(), attributes.end(), list);
    d.m_lastAttributes = {list, attributes.size()};
  }
  n.m_element.attributes = d.m_lastAttributes.data();
  n.m_element.attributeCount = static_cast<std::uint32_t>(attributes.size());
}

Node* HtmlDocument::documentElement() const { return firstChildNamed(m_root, "html"); }

Node* HtmlDocument::head() const { return firstChildNamed(documentElement(), "head"); }

Node* HtmlDocument::body() const {
  Node* html = documentElement();
  if (!html) return nullptr;
  for (Node* child = html->firstChild(); child; child = child->nextSibling()) {
    if (child->is("body") || child->is("frameset")) return child;
  }
  return nullptr;
}

Node* HtmlDocument::createElement(std::string_view tagName) {
  Node* node = newNode(NodeKind::element);
  setTagName(node, lowerAscii(tagName));
  return node;
}

Node* HtmlDocument::createText(std::string_view utf8) {
  Node* node = newNode(NodeKind::text);
  // UTF-8 never takes fewer units in UTF-16 than it has bytes: convert into
  // room for the worst case, then give back what was not used.
  char16_t* units = m_arena.allocateArray<char16_t>(utf8.size());
  const std::size_t length = convertUtf8(utf8, units);
  m_arena.shrinkLast(units, utf8.size() * sizeof(char16_t), length * sizeof(char16_t));
  DocumentAccess::setText(*node, units, length);
  m_textUnits += length;
  return node;
}

Node* HtmlDocument::createText(std::u16string_view text) {
  Node* node = newNode(NodeKind::text);
  setText(node, text);
  return node;
}

Node* HtmlDocument::createComment(std::string_view utf8) {
  Node* node = newNode(NodeKind::comment);
  node->m_element.name = m_arena.copy(utf8);
  return node;
}

void HtmlDocument::appendChild(Node* parent, Node* child) { insertBefore(parent, child, nullptr); }

void HtmlDocument::insertBefore(Node* parent, Node* child, Node* before) {
  if (!parent || !child || child == parent || (before && before->m_parent != parent)) return;
  // A node cannot become its own descendant.
  for (const Node* n = parent; n; n = n->m_parent) {
    if (n == child) return;
  }
  DocumentAccess::link(parent, child, before);
  m_index->invalidate();
  ++m_generation;
}

void HtmlDocument::removeChild(Node* child) {
  if (!child) return;
  DocumentAccess::unlink(child);
  m_index->invalidate();
  ++m_generation;
}

void HtmlDocument::setAttribute(Node* element, std::string_view name, std::string_view value) {
  if (!element || !element->isElement()) return;
  const std::string key = lowerAscii(name);
  if (element->is("base")) ++m_generation;
  // A new list every time: lists are shared by the halves of split elements
  // and never change in place.
  const std::span<const Attribute> old = element->attributes();
  const bool present = element->attribute(key) != nullptr;
  Attribute* list = m_arena.allocateArray<Attribute>(old.size() + (present ? 0 : 1));
  std::copy(old.begin(), old.end(), list);
  const std::string_view stored = storeValue(value);
  if (present) {
    for (std::size_t i = 0; i < old.size(); ++i) {
      if (list[i].name == key) list[i].value = stored;
    }
  } else {
    list[old.size()] = {m_arena.copy(key), stored};
  }
  element->m_element.attributes = list;
  element->m_element.attributeCount = static_cast<std::uint32_t>(old.size() + (present ? 0 : 1));
}

void HtmlDocument::setInnerHtml(Node* element, std::string_view utf8) {
  if (!element) return;
  while (element->m_first) DocumentAccess::unlink(element->m_first);
  std::vector<Node*> nodes;
  parseFragment(*this, utf8, nodes);
  for (Node* node : nodes) DocumentAccess::link(element, node, nullptr);
  m_index->invalidate();
}

void HtmlDocument::setDoctype(std::string name, std::string publicId, std::string systemId) {
  DocumentAccess::setDoctype(*this, true, std::move(name), std::move(publicId), std::move(systemId));
}

std::u16string HtmlDocument::title() const {
  const Node* element = nullptr;
  for (const Node* n = m_root; n; n = nextInOrder(n, m_root, n->is("svg") || n->is("math"))) {
    if (n->is("title")) {
      element = n;
      break;
    }
  }
  std::u16string text;
  if (!element) return text;
  for (const Node* child = element->firstChild(); child; child = child->nextSibling()) {
    if (child->isText()) text.append(child->text());
  }
  // White space collapsed and trimmed, as the browser reports a title.
  std::u16string collapsed;
  for (char16_t c : text) {
    if (isAsciiSpace(c)) {
      if (!collapsed.empty() && collapsed.back() != u' ') collapsed.push_back(u' ');
    } else {
      collapsed.push_back(c);
    }
  }
  if (!collapsed.empty() && collapsed.back() == u' ') collapsed.pop_back();
  return collapsed;
}

void HtmlDocument::setTitle(std::u16string_view title) {
  Node* element = nullptr;
  for (Node* n = m_root; n; n = nextInOrder(n, m_root, n->is("svg") || n->is("math"))) {
    if (n->is("title")) {
      element = n;
      break;
    }
  }
  if (!element) {
    Node* parent = head();
    if (!parent) parent = documentElement();
    if (!parent) return;
    element = createElement("title");
    appendChild(parent, element);
  }
  while (element->m_first) DocumentAccess::unlink(element->m_first);
  appendChild(element, createText(title));
}

std::vector<Node*> HtmlDocument::elementsByTagName(std::string_view tagName) const {
  const std::string tag = lowerAscii(tagName);
  std::vector<Node*> found;
  for (Node* n = m_root; n; n = nextInOrder(n, m_root)) {
    if (n->isElement() && (tag == "*" || n->name() == tag)) found.push_back(n);
  }
  return found;
}

std::string HtmlDocument::baseUrl() const {
  if (m_baseGeneration != m_generation) {
    std::string base = toUtf8(m_url);
    // A browser takes the first HTML <base> in the document: one inside SVG or
    // MathML is another element, and a template's content is not in the
    // document. (The model keeps no namespaces, so an HTML <base> under
    // foreignObject is skipped with its SVG ancestor.)
    for (const Node* n = m_root; n; n = nextInOrder(n, m_root, n->is("svg") || n->is("math") || n->is("template"))) {
      if (n->is("base") && n->attribute("href")) {
        base = resolveUrl(base, *n->attribute("href"));
        break;
      }
    }
    m_base = std::move(base);
    m_baseGeneration = m_generation;
  }
  return m_base;
}

std::u16string HtmlDocument::resolvedHref(const Node* element) const {
  const std::string_view* href = element ? element->attribute("href") : nullptr;
  // SVG's <a> may name its target the older way.
  if (!href && element) href = element->attribute("xlink:href");
  if (!href) return {};
  return toUtf16(resolveUrl(baseUrl(), *href));
}

void DocumentAccess::invalidate(const HtmlDocument& d) { d.m_index->invalidate(); }

}  // namespace glintmark::html
