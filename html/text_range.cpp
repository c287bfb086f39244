// Text ranges over the body text: search, the range's markup, and pasting
// markup in its place with DOM-Range-like splitting of partly covered
// elements.
//
// A range is a pair of positions in the indexed body text. The operations
// turn them into points of the tree on demand: a start position into the
// text node that holds the character at it, an end position into the text
// node that holds the character before it, so that a range never reaches
// into neighbouring elements it does not cover.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <typeinfo>

#include "html/html_internal.h"

namespace glintmark::html {

namespace {

struct TextPoint {
  Node* node = nullptr;  // a text node, or nullptr when the body has no text
  std::size_t offset = 0;
  std::size_t position() const { return DocumentAccess::indexPos(*node) + offset; }
};

std::size_t textLength(const Node* node) { return DocumentAccess::textLength(*node); }
std::size_t positionOf(Node* node) { return DocumentAccess::indexPos(*node); }
Node* nextIndexed(Node* node) { return DocumentAccess::nextIndexed(*node); }
Node* prevIndexed(Node* node) { return DocumentAccess::prevIndexed(*node); }

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

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

bool equalsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  // Mostly the names come in the case they are compared with.
  if (std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0) return true;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    // Else the same letter in the other case, or a difference.
    const char16_t x = a[i] | 0x20;
    if (x != (b[i] | 0x20) || x < u'a' || x > u'z') return false;
  }
  return true;
}

// Whether two runs of units are the same (char_traits<char16_t> compares
// unit by unit; memcmp does not).
bool sameUnits(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0;
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

class HtmlTextRange final : public TextRange {
 public:
  explicit HtmlTextRange(HtmlDocument& document) : m_document(document) {
    ensureIndex(document);
    m_end = index().folded.size();
  }
  // A range over [start, end) that starts with none of another range's
  // buffers and caches (the page pass copies a range at every match only to
  // compare end points).
  HtmlTextRange(HtmlDocument& document, std::size_t start, std::size_t end)
      : m_document(document), m_start(start), m_end(end) {}
  HtmlTextRange(const HtmlTextRange&) = delete;
  HtmlTextRange& operator=(const HtmlTextRange&) = delete;

  HResult findText(std::u16string_view text, std::int32_t count, std::int32_t flags,
                   bool* found) override {
    if (!found) return hr::pointer;
    *found = false;
    return viewGuarded(m_document, [&] { return find(text, count, flags, found); });
  }

  HResult htmlText(WideText* html) override {
    if (!html) return hr::pointer;
    html->reset();
    return viewGuarded(m_document, [&] { return markupOf(html); });
  }

  HResult pasteHtml(std::u16string_view markup) override {
    return viewGuarded(m_document, [&] { return paste(markup); });
  }

  HResult wrap(std::u16string_view startTag) override {
    return viewGuarded(m_document, [&] { return wrapIn(startTag); });
  }

  HResult moveStart(std::u16string_view unit, std::int32_t count, std::int32_t* moved) override {
    return viewGuarded(m_document, [&] { return move(unit, count, moved, true); });
  }

  HResult moveEnd(std::u16string_view unit, std::int32_t count, std::int32_t* moved) override {
    return viewGuarded(m_document, [&] { return move(unit, count, moved, false); });
  }

  HResult duplicate(std::unique_ptr<TextRange>* copy) override {
    if (!copy) return hr::pointer;
    copy->reset();
    return viewGuarded(m_document, [&] {
      *copy = std::make_unique<HtmlTextRange>(m_document, m_start, m_end);
      return hr::ok;
    });
  }

  HResult compareEndPoints(std::u16string_view how, TextRange& other,
                           std::int32_t* result) override {
    if (!result) return hr::pointer;
    *result = 0;
    // The class is final: comparing types is enough, and cheaper than a cast
    // that searches the hierarchy (the pass compares at every match).
    if (typeid(other) != typeid(HtmlTextRange)) return hr::invalidArg;
    const auto* peer = static_cast<const HtmlTextRange*>(&other);
    if (&peer->m_document != &m_document) return hr::invalidArg;
    std::size_t mine, theirs;
    if (equalsIgnoringAsciiCase(how, u"StartToStart")) {
      mine = m_start, theirs = peer->m_start;
    } else if (equalsIgnoringAsciiCase(how, u"StartToEnd")) {
      mine = m_start, theirs = peer->m_end;
    } else if (equalsIgnoringAsciiCase(how, u"EndToStart")) {
      mine = m_end, theirs = peer->m_start;
    } else if (equalsIgnoringAsciiCase(how, u"EndToEnd")) {
      mine = m_end, theirs = peer->m_end;
    } else {
      return hr::invalidArg;
    }
    *result = mine < theirs ? -1 : mine > theirs ? 1 : 0;
    return hr::ok;
  }

 private:
  HResult find(std::u16string_view text, std::int32_t count, std::int32_t flags, bool* found) {
    *found = false;
    sync();
    HtmlDocument::TextIndex& idx = index();
    const std::u16string& folded = idx.folded;
    // The keyword folded as the text is, and written out in full where full
    // folding lengthens it ("ß" as "ss").
    std::u16string needle(text);
    if (foldText(needle.data(), needle.data() + needle.size())) {
      std::u16string full;
      for (const char16_t c : needle) {
        if (unicode::lengthens(c)) {
          full += unicode::lengthening(c);
        } else {
          full += c;
        }
      }
      needle = std::move(full);
    }
    std::size_t low = m_start, high = m_end;
    if (count > 0) {
      high = std::min(folded.size(), m_start + static_cast<std::size_t>(count));
    } else if (count < 0) {
      const std::size_t back = static_cast<std::size_t>(-static_cast<std::int64_t>(count));
      low = m_end > back ? m_end - back : 0;
    }
    if (needle.empty() || high < low) return hr::ok;
    // Whole words: no word character just before the match or just after
    // it, a surrogate pair read as its character.
    const auto wordBefore = [&](std::size_t at) {
      if (at == 0) return false;
      char32_t c = folded[at - 1];
      if (at >= 2 && isLowSurrogate(folded[at - 1]) && isHighSurrogate(folded[at - 2])) {
        c = 0x10000 + ((char32_t(folded[at - 2]) - 0xD800) << 10) + (c - 0xDC00);
      }
      return isWordChar(c);
    };
    const auto wordAt = [&](std::size_t at) {
      if (at >= folded.size()) return false;
      char32_t c = folded[at];
      if (isHighSurrogate(folded[at]) && at + 1 < folded.size() && isLowSurrogate(folded[at + 1])) {
        c = 0x10000 + ((c - 0xD800) << 10) + (char32_t(folded[at + 1]) - 0xDC00);
      }
      return isWordChar(c);
    };
    const auto acceptable = [&](std::size_t at, std::size_t end) {
      if ((flags & 2) && (wordBefore(at) || wordAt(end))) return false;
      return !(flags & 4) || originalText(at, end) == text;
    };
    std::size_t match = std::u16string_view::npos, matchEnd = 0;
    if (idx.lengthens) {
      // The search runs over the text folded in full; a match must begin
      // and end between characters of the page.
      if (idx.fullBuild != idx.build) {
        idx.full.build(folded);
        idx.fullBuild = idx.build;
      }
      const unicode::ExpandedFold& full = idx.full;
      const std::size_t fullLow = full.toFull(low);
      const std::u16string_view window = full.text().substr(0, full.toFull(high));
      const auto take = [&](std::size_t at) {
        const std::size_t start = full.fromFull(at), end = full.fromFull(at + needle.size());
        if (start == npos || end == npos || !acceptable(start, end)) return false;
        match = start;
        matchEnd = end;
        return true;
      };
      if (count >= 0) {
        for (std::size_t at = findFolded(window, needle, fullLow); at != npos && !take(at);
             at = findFolded(window, needle, at + 1)) {
        }
      } else {
        for (std::size_t at = window.rfind(needle); at != npos && at >= fullLow && !take(at);
             at = at == 0 ? npos : window.rfind(needle, at - 1)) {
        }
      }
    } else {
      if (high - low < needle.size()) return hr::ok;
      const std::u16string_view window = std::u16string_view(folded).substr(0, high);
      if (count >= 0) {
        for (std::size_t at = occurrence(needle, low, high); at != std::u16string_view::npos;
             at = occurrence(needle, at + 1, high)) {
          if (acceptable(at, at + needle.size())) {
            match = at;
            break;
          }
        }
      } else {
        for (std::size_t at = window.rfind(needle); at != std::u16string_view::npos && at >= low;
             at = at == 0 ? std::u16string_view::npos : window.rfind(needle, at - 1)) {
          if (acceptable(at, at + needle.size())) {
            match = at;
            break;
          }
        }
      }
      matchEnd = match + needle.size();
    }
    if (match == std::u16string_view::npos) return hr::ok;
    m_start = match;
    m_end = matchEnd;
    *found = true;
    warm(match);
    return hr::ok;
  }

  // Has the memory fetched that reading and wrapping the match at position p
  // touch: its text and the nodes around its text node. Fetched together,
  // their cache misses overlap instead of following one another.
  void warm(std::size_t p) {
    Node* const node = locate(p);
    if (!node) return;
    const std::size_t offset = p > positionOf(node) ? p - positionOf(node) : 0;
    if (offset < node->text().size()) __builtin_prefetch(node->text().data() + offset);
    __builtin_prefetch(node->parent());
    __builtin_prefetch(node->previousSibling());
    __builtin_prefetch(node->nextSibling());
  }

  // The first occurrence of `needle` (folded) at or after `from` that ends
  // by `high`, or npos. The pass asks for a keyword's occurrences in order:
  // each answer also looks for the one after it and has the memory of its
  // text node fetched, so that the cache misses of the next match overlap
  // the work on this one instead of following it.
  std::size_t occurrence(std::u16string_view needle, std::size_t from, std::size_t high) {
    const HtmlDocument::TextIndex& idx = index();
    const std::u16string_view folded = idx.folded;
    std::size_t at;
    if (m_ahead.build == idx.build && sameUnits(m_ahead.needle, needle) && m_ahead.from <= from &&
        (m_ahead.at == npos || from <= m_ahead.at)) {
      at = m_ahead.at;  // none lies between m_ahead.from and it
    } else {
      at = findFolded(folded, needle, from);
    }
    if (at == npos || at + needle.size() > high) return npos;
    if (m_ahead.build != idx.build) m_ahead.segment = npos;
    m_ahead.needle.assign(needle);
    m_ahead.build = idx.build;
    m_ahead.from = at + 1;
    m_ahead.at = findFolded(folded, needle, at + 1);
    if (m_ahead.at != npos) {
      // The search for its segment starts where the last one ended (the
      // segment of this occurrence, as a rule), and leaves the range's own
      // hint for locate().
      if (m_ahead.segment == npos) m_ahead.segment = m_segmentHint;
      const std::size_t entry = segmentAt(m_ahead.at, m_ahead.segment);
      if (entry != npos) prefetchNode(idx.segmentNodes[entry]);
    }
    return at;
  }

  static void prefetchNode(const Node* node) {
    __builtin_prefetch(node);
    __builtin_prefetch(reinterpret_cast<const char*>(node) + sizeof(Node) - 1);
  }

  HResult markupOf(WideText* html) {
    sync();
    TextPoint a, b;
    points(a, b);
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
    return hr::ok;
  }

  // The element made from `startTag`, which wrap puts in the tree as copies;
  // nullptr when the markup is not a lone start tag. The tag is parsed once
  // and kept: every match of a keyword is wrapped in the same one.
  const Node* elementFromTag(std::u16string_view startTag) {
    if (m_wrapper.element && sameUnits(startTag, m_wrapper.tag)) return m_wrapper.element;
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

  HResult wrapIn(std::u16string_view startTag) {
    sync();
    const Node* wrapper = elementFromTag(startTag);
    if (!wrapper) return hr::invalidArg;
    // The markup a paste of the same result would have taken: the start tag,
    // the text and "</name>".
    surround(*wrapper, startTag.size() + wrapper->name().size() + 3);
    return hr::ok;
  }

  // Wrapping: a new element like `wrapper` takes the covered nodes' place and
  // they move into it. The text stays where it was in the body text, so the
  // index stands as it is.
  void surround(const Node& wrapper, std::size_t markupUnits) {
    TextPoint a, b;
    points(a, b);
    const std::size_t end = b.position();
    Siblings covered;
    coveredSiblings(covered);
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
    if (std::size_t& bytes = DocumentAccess::markupBytes(m_document)) bytes += markupUnits;
    m_start = m_end = end;
  }

  // Pasting: the range's siblings are replaced by the parsed markup. When the
  // markup keeps the text as it was (the same text in other elements), the
  // index is carried over to the new text nodes; otherwise it is rebuilt.
  HResult paste(std::u16string_view markup) {
    sync();
    // Markup parsed into new nodes cannot be followed node for node.
    if (m_document.observer()) return hr::fail;
    Siblings covered;
    if (!coveredSiblings(covered)) return hr::fail;
    replaceSiblings(covered, markup);
    if (!carryIndexOver()) {
      m_start = m_end = positionOfPoint(m_document, covered.container, covered.after);
    }
    recycleRemoved();
    return hr::ok;
  }

  // The children of `container` from `first` up to `after` (nullptr: its
  // end); an empty run when first == after.
  struct Siblings {
    Node* container = nullptr;
    Node* first = nullptr;
    Node* after = nullptr;
  };

  // The siblings the range covers, splitting the tree at its ends; false
  // when there is no body.
  bool coveredSiblings(Siblings& covered) {
    TextPoint a, b;
    points(a, b);
    if (!a.node) {
      // A body without text: the markup goes at its end.
      covered.container = m_document.body();
      return covered.container != nullptr;
    }
    covered.container = a.node == b.node ? a.node->parent() : commonAncestor(a.node, b.node);
    // The end first: splitting there leaves the start's node and offset alone.
    covered.after = splitUpTo(b, covered.container);
    covered.first = a.position() == b.position() ? covered.after : splitUpTo(a, covered.container);
    return true;
  }

  // Takes the siblings out of the tree and puts the parsed markup in their
  // place, keeping the body text of both (m_buffers.removed, .inserted).
  void replaceSiblings(const Siblings& covered, std::u16string_view markup) {
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
    if (std::size_t& bytes = DocumentAccess::markupBytes(m_document)) bytes += utf8.size();
    for (Node* node : fragment) flattenSiblings(node, nullptr, inserted);

    for (Node* node = covered.first; node != covered.after;) {
      Node* next = node->nextSibling();
      DocumentAccess::unlink(node);
      node = next;
    }
    for (Node* node : fragment) DocumentAccess::link(covered.container, node, covered.after);
  }

  // When the pasted text is the text taken out, the inserted text nodes take
  // the places of the removed ones in the index, which stands, and the range
  // collapses behind them. False, the index untouched, when it cannot stand.
  bool carryIndexOver() {
    const Flattened& removed = m_buffers.removed;
    const Flattened& inserted = m_buffers.inserted;
    HtmlDocument::TextIndex& idx = index();
    Node* firstRemoved = nullptr;
    Node* lastRemoved = nullptr;
    std::size_t firstRemovedOffset = 0;
    for (auto& [node, offset] : removed.textNodes) {
      if (!DocumentAccess::indexed(*node)) continue;
      if (!firstRemoved) {
        firstRemoved = node;
        firstRemovedOffset = offset;
      }
      lastRemoved = node;
    }
    if (!idx.valid || !firstRemoved || removed.folded != inserted.folded) return false;

    const std::size_t base = positionOf(firstRemoved) - firstRemovedOffset;
    Node* before = prevIndexed(firstRemoved);
    Node* behind = nextIndexed(lastRemoved);
    for (Node* node = firstRemoved; node != behind; node = nextIndexed(node)) {
      DocumentAccess::indexed(*node) = false;
      if (const std::uint32_t segment = DocumentAccess::segment(*node)) {
        // The inserted node holding this position takes the entry over.
        for (auto& [insertedNode, offset] : inserted.textNodes) {
          if (base + offset <= positionOf(node) &&
              positionOf(node) < base + offset + textLength(insertedNode)) {
            idx.segmentNodes[segment - 1] = insertedNode;
            DocumentAccess::segment(*insertedNode) = segment;
            break;
          }
        }
        DocumentAccess::segment(*node) = 0;
      }
    }
    joinIndexed(idx, before, behind);
    Node* previous = before;
    for (auto& [node, offset] : inserted.textNodes) {
      if (textLength(node) == 0) continue;
      linkIndexed(idx, *node, base + offset, previous);
      previous = node;
    }
    m_finger = previous;
    m_start = m_end = base + inserted.folded.size();
    return true;
  }

  // The text nodes taken out whole are nobody's now: the next text nodes
  // made reuse them, so that highlighting does not leave one dead node per
  // match behind.
  void recycleRemoved() {
    for (auto& [node, offset] : m_buffers.removed.textNodes) {
      if (!node->parent()) DocumentAccess::recycleText(m_document, node);
    }
  }

  HtmlDocument::TextIndex& index() const { return DocumentAccess::index(m_document); }

  // Brings the index up to date and keeps the range inside the text.
  void sync() {
    ensureIndex(m_document);
    const std::size_t size = index().folded.size();
    m_end = std::min(m_end, size);
    m_start = std::min(m_start, m_end);
  }

  // The indexed text node that holds position p, or else the first one after
  // it, or the last one when none follows; nullptr when there is none. The
  // walk starts from the later of the node this range found last and the
  // node holding the start of the indexed text node p lies in (the segment
  // table says which without touching a node), so that a pass through the
  // text steps over a few pieces of one text node at most.
  Node* locate(std::size_t p) {
    const bool fingerUsable = m_finger && DocumentAccess::indexed(*m_finger) && positionOf(m_finger) <= p;
    // Mostly the node found last holds it (a match's end, after its start).
    if (fingerUsable && p < positionOf(m_finger) + textLength(m_finger)) return m_finger;
    const HtmlDocument::TextIndex& idx = index();
    Node* node = nullptr;
    const std::size_t entry = segmentAt(p, m_segmentHint);
    if (fingerUsable && (entry == npos || positionOf(m_finger) >= idx.segmentStarts[entry])) {
      node = m_finger;
    } else if (entry != npos && DocumentAccess::indexed(*idx.segmentNodes[entry])) {
      node = idx.segmentNodes[entry];
      if (fingerUsable && positionOf(m_finger) > positionOf(node)) node = m_finger;
    } else if (fingerUsable) {
      node = m_finger;
    }
    if (!node) node = idx.first;
    if (!node) return nullptr;
    while (positionOf(node) > p && prevIndexed(node)) node = prevIndexed(node);
    while (positionOf(node) + textLength(node) <= p && nextIndexed(node)) node = nextIndexed(node);
    m_finger = node;
    return node;
  }

  static constexpr std::size_t npos = ~std::size_t{0};

  // The last segment starting at or before p (npos: none), `hint` the one
  // found last and updated. A pass through the text asks for ever later
  // positions: the search steps forward from the hint through the next few
  // positions (read in order, which the cache fetches ahead), then gallops:
  // O(log distance), not O(log n).
  std::size_t segmentAt(std::size_t p, std::size_t& hint) {
    const std::vector<std::size_t>& starts = index().segmentStarts;
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

  // A start position lies in the node holding the character at it.
  TextPoint startPoint(std::size_t p) {
    Node* node = locate(p);
    if (!node) return {};
    if (positionOf(node) > p) return {node, 0};
    if (p < positionOf(node) + textLength(node)) return {node, p - positionOf(node)};
    return {};
  }

  // An end position lies in the node holding the character before it.
  TextPoint endPoint(std::size_t q) {
    Node* node = locate(q);
    if (!node) return {};
    if (positionOf(node) >= q) {
      if (Node* before = prevIndexed(node)) return {before, textLength(before)};
      return {node, 0};
    }
    return {node, std::min(q - positionOf(node), textLength(node))};
  }

  // The range's ends as points of the tree. htmlText and pasteHtml ask for
  // the same range one after the other: the points are kept until the range
  // or the tree changes.
  void points(TextPoint& a, TextPoint& b) {
    const std::uint64_t generation = DocumentAccess::generation(m_document);
    if (m_pointsGeneration == generation && m_pointsStart == m_start && m_pointsEnd == m_end) {
      a = m_pointA;
      b = m_pointB;
      return;
    }
    a = startPoint(m_start);
    b = endPoint(m_end);
    if (!a.node) a = b;
    if (!b.node) b = a;
    if (a.node && (m_start == m_end || a.position() > b.position())) b = a;
    m_pointA = a;
    m_pointB = b;
    m_pointsStart = m_start;
    m_pointsEnd = m_end;
    m_pointsGeneration = generation;
  }

  // The body text between two positions, separators as '\n' (for
  // case-sensitive matching).
  std::u16string originalText(std::size_t from, std::size_t to) {
    std::u16string text(to - from, u'\n');
    for (Node* node = locate(from); node && positionOf(node) < to; node = nextIndexed(node)) {
      const std::u16string_view nodeText = node->text();
      for (std::size_t i = 0; i < nodeText.size(); ++i) {
        const std::size_t at = positionOf(node) + i;
        if (at >= from && at < to) text[at - from] = nodeText[i];
      }
    }
    return text;
  }

  // Splits text node `node` at offset; the new node holds the rest and
  // follows it, and joins the index's list of text nodes after it.
  Node* splitText(Node* node, std::size_t offset) {
    Node* rest = DocumentAccess::newNode(m_document, NodeKind::text);
    const std::u16string_view text = node->text();
    DocumentAccess::setText(*rest, text.data() + offset, text.size() - offset);
    DocumentAccess::setText(*node, text.data(), offset);
    DocumentAccess::link(node->parent(), rest, node->nextSibling());
    if (DocumentAccess::indexed(*node)) linkIndexed(index(), *rest, positionOf(node) + offset, node);
    if (TreeObserver* observer = m_document.observer()) observer->splitText(*node, offset, *rest);
    return rest;
  }

  // Splits the tree at the point up to `top`, so that the point becomes a
  // place between two children of `top`; returns the child after it
  // (nullptr: the end). Elements are split only where the point lies inside
  // their content, never leaving an empty half behind.
  Node* splitUpTo(const TextPoint& point, Node* top) {
    Node* parent = point.node->parent();
    Node* child;
    if (point.offset == 0) {
      child = point.node;
    } else if (point.offset >= textLength(point.node)) {
      child = point.node->nextSibling();
    } else {
      child = splitText(point.node, point.offset);
    }
    while (parent != top) {
      Node* grandParent = parent->parent();
      if (child == parent->firstChild()) {
        child = parent;
      } else if (!child) {
        child = parent->nextSibling();
      } else {
        TreeObserver* const observer = m_document.observer();
        Node* clone = DocumentAccess::newNode(m_document, NodeKind::element);
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

  // The markup between two points, elements cut by either point closed and
  // reopened around it, as DOM Range cloning gives it.
  static void serializeBetween(const TextPoint& a, const TextPoint& b, std::string& out) {
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

  HResult move(std::u16string_view unit, std::int32_t count, std::int32_t* moved, bool start) {
    if (!moved) return hr::pointer;
    *moved = 0;
    sync();
    const std::u16string& text = index().folded;
    std::size_t& position = start ? m_start : m_end;
    if (equalsIgnoringAsciiCase(unit, u"textedit")) {
      const std::size_t target = count > 0 ? text.size() : count < 0 ? 0 : position;
      if (target != position) *moved = count > 0 ? 1 : -1;
      position = target;
    } else if (equalsIgnoringAsciiCase(unit, u"character")) {
      std::int32_t done = 0;
      while (done < count && position < text.size()) {
        ++position;
        if (position < text.size() && isLowSurrogate(text[position]) &&
            isHighSurrogate(text[position - 1])) {
          ++position;
        }
        ++done;
      }
      while (done > count && position > 0) {
        --position;
        if (position > 0 && isLowSurrogate(text[position]) && isHighSurrogate(text[position - 1])) {
          --position;
        }
        --done;
      }
      *moved = done;
    } else {
      return hr::invalidArg;
    }
    // A start moved past the end drags the end along, and the reverse.
    if (start && m_start > m_end) m_end = m_start;
    if (!start && m_end < m_start) m_start = m_end;
    return hr::ok;
  }

  HtmlDocument& m_document;
  Node* m_finger = nullptr;  // the text node this range resolved last
  std::size_t m_segmentHint = npos;  // the index segment it found last
  // What points() found last, for which range and which state of the tree.
  TextPoint m_pointA, m_pointB;
  std::size_t m_pointsStart = 0, m_pointsEnd = 0;
  std::uint64_t m_pointsGeneration = ~std::uint64_t{0};
  // Buffers of paste, kept from match to match.
  struct PasteBuffers {
    Flattened removed, inserted;
    std::vector<Node*> fragment;
    std::string utf8;
  } m_buffers;
  // The start tag wrapped in last and the element parsed from it.
  struct Wrapper {
    std::u16string tag;
    const Node* element = nullptr;
  } m_wrapper;
  // The occurrence after the one findText found last (occurrence()).
  struct Lookahead {
    std::u16string needle;
    std::uint64_t build = 0;  // 0: none (the index counts its builds from 1)
    std::size_t from = 0, at = npos;
    std::size_t segment = npos;  // the segment of `at`, once looked for
  } m_ahead;
  std::size_t m_start = 0;
  std::size_t m_end = 0;
};

}  // namespace

std::unique_ptr<TextRange> makeTextRange(HtmlDocument& document) {
  return std::make_unique<HtmlTextRange>(document);
}

}  // namespace glintmark::html
