// The tree between a text range's two points: its markup, wrapping it in an
// element, pasting markup in its place.
#include "html/text_range_edits.h"


namespace glintmark::html {

namespace {

std::size_t depthOf(const Node* node) {
  std::size_t depth = 0;
  for (; node; node = node->parent()) ++depth;
  return depth;
}

Node* commonAncestor(Node* a, Node* b) {
  std::size_t da = depthOf(a), db = depthOf(b);
  for (; da > db; --da) a = a->parent();
  for (; db > da; --db) b = b->parent();
  while (a != b) {
    a = a->parent();
    b = b->parent();
  }
  return a;
}

// The node itself and its ancestors below `top`, innermost first.
std::vector<Node*> chainBelow(Node* node, const Node* top) {
  std::vector<Node*> chain;
  for (; node && node != top; node = node->parent()) chain.push_back(node);
  return chain;
}

// Text as htmlText gives it, escaped straight into UTF-16: & < > and no-break
// space as references, a lone surrogate as U+FFFD (what the round trip
// through UTF-8 of the general case makes of it).
void escapeWide(std::u16string& out, std::u16string_view text) {
  out.reserve(out.size() + text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    switch (c) {
      case u'&': out += u"&amp;"; continue;
      case u'<': out += u"&lt;"; continue;
      case u'>': out += u"&gt;"; continue;
      case u'\xA0': out += u"&nbsp;"; continue;
      default: break;
    }
    if (isHighSurrogate(c) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
      out += c;
      out += text[++i];
    } else {
      out += (c >= 0xD800 && c <= 0xDFFF) ? char16_t{0xFFFD} : c;
    }
  }
}

// The markup between two points, elements cut by either point closed and
// reopened around it, as DOM Range cloning gives it.
void serializeBetween(const TextPoint& a, const TextPoint& b, std::string& out) {
  if (a.node == b.node) {
    escapeText(out, a.node->text().substr(a.offset, b.offset - a.offset));
    return;
  }
  Node* top = commonAncestor(a.node, b.node);
  const std::vector<Node*> left = chainBelow(a.node, top);
  const std::vector<Node*> right = chainBelow(b.node, top);
  for (std::size_t level = left.size(); level-- > 1;) appendStartTag(out, *left[level]);
  escapeText(out, a.node->text().substr(a.offset));
  for (std::size_t level = 1; level < left.size(); ++level) {
    for (Node* s = left[level - 1]->nextSibling(); s; s = s->nextSibling()) serializeNode(out, *s);
    appendEndTag(out, *left[level]);
  }
  for (Node* s = left.back()->nextSibling(); s && s != right.back(); s = s->nextSibling()) {
    serializeNode(out, *s);
  }
  for (std::size_t level = right.size(); level-- > 1;) {
    appendStartTag(out, *right[level]);
    for (Node* s = right[level]->firstChild(); s && s != right[level - 1]; s = s->nextSibling()) {
      serializeNode(out, *s);
    }
  }
  escapeText(out, b.node->text().substr(0, b.offset));
  for (std::size_t level = 1; level < right.size(); ++level) appendEndTag(out, *right[level]);
}

// Splits text node `node` at offset; the new node holds the rest and
// follows it, and joins the index's list of text nodes after it.
Node* splitText(HtmlDocument& document, TextIndex& index, Node* node, std::size_t offset) {
  Node* rest = DocumentAccess::newNode(document, NodeKind::text);
  const std::u16string_view text = node->text();
  DocumentAccess::setText(*rest, text.data() + offset, text.size() - offset);
  DocumentAccess::setText(*node, text.data(), offset);
  DocumentAccess::link(node->parent(), rest, node->nextSibling());
  index.splitNode(*node, offset, *rest);
  if (TreeObserver* observer = document.observer()) observer->splitText(*node, offset, *rest);
  return rest;
}

// Splits the tree at the point up to `top`, so that the point becomes a
// place between two children of `top`; returns the child after it (nullptr:
// the end). Elements are split only where the point lies inside their
// content, never leaving an empty half behind.
Node* splitUpTo(HtmlDocument& document, TextIndex& index, const TextPoint& point, Node* top) {
  Node* parent = point.node->parent();
  Node* child;
  if (point.offset == 0) {
    child = point.node;
  } else if (point.offset >= TextIndex::textLength(point.node)) {
    child = point.node->nextSibling();
  } else {
    child = splitText(document, index, point.node, point.offset);
  }
  while (parent != top) {
    Node* grandParent = parent->parent();
    if (child == parent->firstChild()) {
      child = parent;
    } else if (!child) {
      child = parent->nextSibling();
    } else {
      TreeObserver* const observer = document.observer();
      Node* clone = DocumentAccess::newNode(document, NodeKind::element);
      DocumentAccess::copyNameAndAttributes(*clone, *parent);
      if (observer) observer->newElement(*clone, parent);
      DocumentAccess::link(grandParent, clone, parent->nextSibling());
      if (observer) observer->inserted(*grandParent, *clone, clone->nextSibling());
      while (child) {
        Node* next = child->nextSibling();
        DocumentAccess::link(clone, child, nullptr);
        if (observer) observer->inserted(*clone, *child, nullptr);
        child = next;
      }
      child = clone;
    }
    parent = grandParent;
  }
  return child;
}

}  // namespace

void markupBetween(const TextPoint& a, const TextPoint& b, WideText* html) {
  if (a.node && a.node == b.node) {
    // A match inside one text node, the usual case: no markup but its text.
    std::u16string wide;
    if (a.offset < b.offset) escapeWide(wide, a.node->text().substr(a.offset, b.offset - a.offset));
    *html = std::move(wide);
  } else {
    std::string out;
    if (a.node && a.position() < b.position()) serializeBetween(a, b, out);
    *html = toUtf16(out);
  }
}

const Node* RangeEdits::elementFromTag(std::u16string_view startTag) {
  if (m_wrapper.element && equalUnits(startTag, m_wrapper.tag)) return m_wrapper.element;
  m_wrapper.element = nullptr;
  std::string utf8;
  appendUtf8(utf8, startTag);
  std::vector<Node*> nodes;
  parseFragment(m_document, utf8, nodes);
  if (nodes.size() != 1 || !nodes[0]->isElement() || nodes[0]->firstChild()) return nullptr;
  m_wrapper.tag.assign(startTag);
  m_wrapper.element = nodes[0];
  return m_wrapper.element;
}

std::size_t RangeEdits::surround(const TextPoint& a, const TextPoint& b, const Node& wrapper,
                                 std::size_t markupUnits) {
  const std::size_t end = b.position();
  Siblings covered;
  coveredSiblings(a, b, covered);
  TreeObserver* const observer = m_document.observer();
  Node* span = DocumentAccess::newNode(m_document, NodeKind::element);
  DocumentAccess::copyNameAndAttributes(*span, wrapper);
  if (observer) observer->newElement(*span, nullptr);
  DocumentAccess::link(covered.container, span, covered.first);
  if (observer) observer->inserted(*covered.container, *span, covered.first);
  for (Node* node = covered.first; node != covered.after;) {
    Node* next = node->nextSibling();
    DocumentAccess::link(span, node, nullptr);
    if (observer) observer->inserted(*span, *node, nullptr);
    node = next;
  }
  DocumentAccess::addMarkupBytes(m_document, markupUnits);
  return end;
}

bool RangeEdits::paste(const TextPoint& a, const TextPoint& b, std::u16string_view markup,
                       TextIndex::Cursor& cursor, std::size_t* after) {
  Siblings covered;
  if (!coveredSiblings(a, b, covered)) return false;
  replaceSiblings(covered, markup);
  if (!m_index.carryOver(m_buffers.removed, m_buffers.inserted, cursor, after)) {
    *after = m_index.rebuildFindingPoint(m_document, covered.container, covered.after);
  }
  recycleRemoved();
  return true;
}

// The siblings between the points, splitting the tree at them; false when
// there is no body.
bool RangeEdits::coveredSiblings(const TextPoint& a, const TextPoint& b, Siblings& covered) {
  if (!a.node) {
    // A body without text: the markup goes at its end.
    covered.container = m_document.body();
    return covered.container != nullptr;
  }
  covered.container = a.node == b.node ? a.node->parent() : commonAncestor(a.node, b.node);
  // The end first: splitting there leaves the start's node and offset alone.
  covered.after = splitUpTo(m_document, m_index, b, covered.container);
  covered.first = a.position() == b.position() ? covered.after
                                                : splitUpTo(m_document, m_index, a, covered.container);
  return true;
}

// Takes the siblings out of the tree and puts the parsed markup in their
// place, keeping the body text of both (m_buffers.removed, .inserted).
void RangeEdits::replaceSiblings(const Siblings& covered, std::u16string_view markup) {
  Flattened& removed = m_buffers.removed;
  Flattened& inserted = m_buffers.inserted;
  std::vector<Node*>& fragment = m_buffers.fragment;
  std::string& utf8 = m_buffers.utf8;
  removed.folded.clear();
  removed.textNodes.clear();
  inserted.folded.clear();
  inserted.textNodes.clear();
  fragment.clear();
  if (covered.first != covered.after) flattenSiblings(covered.first, covered.after, removed);
  utf8.clear();
  appendUtf8(utf8, markup);
  parseFragment(m_document, utf8, fragment);
  DocumentAccess::addMarkupBytes(m_document, utf8.size());
  for (Node* node : fragment) flattenSiblings(node, nullptr, inserted);

  for (Node* node = covered.first; node != covered.after;) {
    Node* next = node->nextSibling();
    DocumentAccess::unlink(node);
    node = next;
  }
  for (Node* node : fragment) DocumentAccess::link(covered.container, node, covered.after);
}

// The text nodes taken out whole are nobody's now: the next text nodes made
// reuse them, so that highlighting does not leave one dead node per match
// behind.
void RangeEdits::recycleRemoved() {
  for (auto& [node, offset] : m_buffers.removed.textNodes) {
    if (!node->parent()) DocumentAccess::recycleText(m_document, node);
  }
}

}  // namespace glintmark::html
