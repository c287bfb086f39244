// The body text: walking it, flattening nodes into it, and its index, with
// the mapping from positions to the text nodes that hold them.
#include "html/text_index.h"

#include <algorithm>

namespace glintmark::html {

namespace {

// Walks the body text of the nodes from `first` up to `last` (exclusive) in
// document order, calling text(node) for each body text node and separator()
// at each separator. point(parent, child) is asked at every boundary between
// nodes so that callers can locate a point of the tree in the text.
template <typename Text, typename Separator, typename Point>
void walkBodyText(Node* first, Node* last, Text text, Separator separator, Point point) {
  Node* node = first;
  while (node && node != last) {
    point(node->parent(), node);
    bool descend = false;
    if (node->isText()) {
      text(node);
    } else if (node->isElement()) {
      const std::uint8_t classes = DocumentAccess::classes(*node);
      if (classes & elementClass::lineBreak) {
        separator();
      } else if (!(classes & elementClass::hiddenText)) {
        if (classes & elementClass::block) separator();
        descend = node->firstChild() != nullptr;
        if (!descend) {
          point(node, nullptr);
          if (classes & elementClass::block) separator();
        }
      }
    }
    if (descend) {
      node = node->firstChild();
      continue;
    }
    while (!node->nextSibling() && node->parent() && node != last) {
      // Leaving the parent: its content ends here.
      Node* parent = node->parent();
      if (parent == first->parent()) {
        node = nullptr;
        break;
      }
      point(parent, nullptr);
      if (hasClass(*parent, elementClass::block)) separator();
      node = parent;
    }
    if (node) node = node->nextSibling();
  }
  if (first && first->parent()) point(first->parent(), last);
}

// The text appended whole, then folded in place; true when full folding
// lengthens some of it.
bool appendFolded(std::u16string& folded, std::u16string_view text) {
  const std::size_t from = folded.size();
  folded.append(text);
  return foldText(folded.data() + from, folded.data() + folded.size());
}

}  // namespace

std::u16string HtmlDocument::bodyText() const {
  std::u16string text;
  const Node* top = body();
  if (!top || !top->firstChild()) return text;
  walkBodyText(
      top->firstChild(), nullptr, [&](Node* node) { text.append(node->text()); },
      [&] { text.push_back(u'\n'); }, [](const Node*, const Node*) {});
  return text;
}

void flattenSiblings(Node* first, Node* last, Flattened& out) {
  if (!first) return;
  walkBodyText(
      first, last,
      [&](Node* node) {
        out.textNodes.emplace_back(node, out.folded.size());
        appendFolded(out.folded, node->text());
      },
      [&] { out.folded.push_back(separatorChar); }, [](const Node*, const Node*) {});
}

// --- Building -------------------------------------------------------------

void TextIndex::unindexAll() {
  for (Node* node = m_first; node; node = next(node)) {
    node->m_indexed = false;
    node->m_segment = 0;
  }
  join(nullptr, nullptr);
}

std::size_t TextIndex::rebuild(HtmlDocument& document, const Node* pointParent,
                               const Node* pointChild) {
  unindexAll();
  m_segmentStarts.clear();
  m_segmentNodes.clear();
  m_folded.clear();
  m_lengthens = false;
  // Room for all the text and a separator or two per element, so that the
  // index is built without reallocating.
  m_folded.reserve(DocumentAccess::textUnits(document) + DocumentAccess::nodeCount(document));
  m_valid = false;  // until complete: running out of memory leaves it invalid
  ++m_build;
  std::size_t pointPosition = 0;
  bool pointFound = false;
  const Node* top = document.body();
  if (!top || !top->firstChild()) {
    m_valid = true;
    return 0;
  }
  walkBodyText(
      top->firstChild(), nullptr,
      [&](Node* node) {
        if (node->text().empty()) return;
        link(*node, m_folded.size(), m_last);
        m_segmentStarts.push_back(m_folded.size());
        m_segmentNodes.push_back(node);
        node->m_segment = static_cast<std::uint32_t>(m_segmentNodes.size());
        if (appendFolded(m_folded, node->text())) m_lengthens = true;
      },
      [&] { m_folded.push_back(separatorChar); },
      [&](const Node* parent, const Node* child) {
        if (!pointFound && pointParent && parent == pointParent && child == pointChild) {
          pointFound = true;
          pointPosition = m_folded.size();
        }
      });
  m_valid = true;
  if (pointParent && !pointFound) {
    // The point lies in text that is not body text, or outside the body:
    // place it at the next text node after it, or at the end.
    const Node* after = pointChild ? pointChild : nextInOrder(pointParent, nullptr, true);
    for (const Node* n = after; n; n = nextInOrder(n, nullptr)) {
      if (n->isText() && n->text().size() && indexed(*n)) return positionOf(n);
    }
    return m_folded.size();
  }
  return pointPosition;
}

void TextIndex::release() {
  // The text nodes stay linked and marked: marking them off would walk
  // every one of them, and the next rebuild walks that list anyway.
  std::u16string().swap(m_folded);
  std::vector<std::size_t>().swap(m_segmentStarts);
  std::vector<Node*>().swap(m_segmentNodes);
  m_full = {};
  m_fullBuild = 0;
  m_valid = false;
}

const unicode::ExpandedFold& TextIndex::fullFold() {
  if (m_fullBuild != m_build) {
    m_full.build(m_folded);
    m_fullBuild = m_build;
  }
  return m_full;
}

void ensureIndex(HtmlDocument& document) { DocumentAccess::index(document).ensure(document); }

void releaseIndex(const HtmlDocument& document) { DocumentAccess::index(document).release(); }

// --- Positions to nodes ---------------------------------------------------

// The walk starts from the later of the node the cursor found last and the
// node holding the start of the indexed text node p lies in (the segment
// table says which without touching a node), so that a pass through the text
// steps over a few pieces of one text node at most.
Node* TextIndex::locateFrom(std::size_t p, Cursor& cursor) const {
  Node* const finger = cursor.finger;
  const bool fingerUsable = finger && indexed(*finger) && positionOf(finger) <= p;
  Node* node = nullptr;
  const std::size_t entry = segmentAt(p, cursor.segmentHint);
  if (fingerUsable && (entry == npos || positionOf(finger) >= m_segmentStarts[entry])) {
    node = finger;
  } else if (entry != npos && indexed(*m_segmentNodes[entry])) {
    node = m_segmentNodes[entry];
    if (fingerUsable && positionOf(finger) > positionOf(node)) node = finger;
  } else if (fingerUsable) {
    node = finger;
  }
  if (!node) node = m_first;
  if (!node) return nullptr;
  while (positionOf(node) > p && previous(node)) node = previous(node);
  while (positionOf(node) + textLength(node) <= p && next(node)) node = next(node);
  cursor.finger = node;
  return node;
}

// A pass through the text asks for ever later positions: the search steps
// forward from the hint through the next few positions (read in order, which
// the cache fetches ahead), then gallops: O(log distance), not O(log n).
std::size_t TextIndex::segmentAt(std::size_t p, std::size_t& hint) const {
  const std::vector<std::size_t>& starts = m_segmentStarts;
  const std::size_t count = starts.size();
  std::size_t low = 0, high = count;  // the answer + 1 lies in [low, high]
  if (hint < count && starts[hint] <= p) {
    low = hint + 1;
    for (const std::size_t stop = std::min(count, low + 16); low < stop && starts[low] <= p;) ++low;
    if (low < count && starts[low] <= p) {
      std::size_t step = 1;
      while (low + step <= count && starts[low + step - 1] <= p) {
        low += step;
        step *= 2;
      }
      high = std::min(count, low + step - 1);
    } else {
      high = low;
    }
  } else if (hint < count) {
    high = hint;
  }
  // The first entry after p in [low, high).
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    if (starts[middle] > p) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  if (low == 0) return npos;
  hint = low - 1;
  return low - 1;
}

TextPoint TextIndex::startPoint(std::size_t p, Cursor& cursor) const {
  Node* node = locate(p, cursor);
  if (!node) return {};
  if (positionOf(node) > p) return {node, 0};
  if (p < positionOf(node) + textLength(node)) return {node, p - positionOf(node)};
  return {};
}

TextPoint TextIndex::endPoint(std::size_t q, Cursor& cursor) const {
  Node* node = locate(q, cursor);
  if (!node) return {};
  if (positionOf(node) >= q) {
    if (Node* before = previous(node)) return {before, textLength(before)};
    return {node, 0};
  }
  return {node, std::min(q - positionOf(node), textLength(node))};
}

std::u16string TextIndex::originalText(std::size_t from, std::size_t to, Cursor& cursor) const {
  std::u16string text(to - from, u'\n');
  for (Node* node = locate(from, cursor); node && positionOf(node) < to; node = next(node)) {
    const std::u16string_view nodeText = node->text();
    for (std::size_t i = 0; i < nodeText.size(); ++i) {
      const std::size_t at = positionOf(node) + i;
      if (at >= from && at < to) text[at - from] = nodeText[i];
    }
  }
  return text;
}

// --- Following the edits --------------------------------------------------

bool TextIndex::carryOver(const Flattened& removed, const Flattened& inserted, Cursor& cursor,
                          std::size_t* end) {
  Node* firstRemoved = nullptr;
  Node* lastRemoved = nullptr;
  std::size_t firstRemovedOffset = 0;
  for (auto& [node, offset] : removed.textNodes) {
    if (!indexed(*node)) continue;
    if (!firstRemoved) {
      firstRemoved = node;
      firstRemovedOffset = offset;
    }
    lastRemoved = node;
  }
  if (!m_valid || !firstRemoved || removed.folded != inserted.folded) return false;

  const std::size_t base = positionOf(firstRemoved) - firstRemovedOffset;
  Node* before = previous(firstRemoved);
  Node* behind = next(lastRemoved);
  for (Node* node = firstRemoved; node != behind; node = next(node)) {
    node->m_indexed = false;
    if (const std::uint32_t segment = node->m_segment) {
      // The inserted node holding this position takes the entry over.
      for (auto& [insertedNode, offset] : inserted.textNodes) {
        if (base + offset <= positionOf(node) &&
            positionOf(node) < base + offset + textLength(insertedNode)) {
          m_segmentNodes[segment - 1] = insertedNode;
          insertedNode->m_segment = segment;
          break;
        }
      }
      node->m_segment = 0;
    }
  }
  join(before, behind);
  Node* last = before;
  for (auto& [node, offset] : inserted.textNodes) {
    if (textLength(node) == 0) continue;
    link(*node, base + offset, last);
    last = node;
  }
  cursor.finger = last;
  *end = base + inserted.folded.size();
  return true;
}

}  // namespace glintmark::html
