// Text ranges over the body text: the TextRange of core/document.h, which
// keeps a range's two positions and hands its work to the index (positions
// to nodes), the search and the edits.
//
// A range is a pair of positions in the indexed body text. The operations
// turn them into points of the tree on demand: a start position into the
// text node that holds the character at it, an end position into the text
// node that holds the character before it, so that a range never reaches
// into neighbouring elements it does not cover.
#include <algorithm>
#include <cstring>
#include <typeinfo>

#include "html/html_internal.h"
#include "html/text_index.h"
#include "html/text_range_edits.h"
#include "html/text_search.h"

namespace glintmark::html {

namespace {

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

class HtmlTextRange final : public TextRange {
 public:
  explicit HtmlTextRange(HtmlDocument& document)
      : m_document(document), m_index(DocumentAccess::index(document)), m_edits(document, m_index) {
    m_index.ensure(document);
    m_end = m_index.folded().size();
  }
  // A range over [start, end) that starts with none of another range's
  // buffers and caches (the page pass copies a range at every match only to
  // compare end points).
  HtmlTextRange(HtmlDocument& document, std::size_t start, std::size_t end)
      : m_document(document),
        m_index(DocumentAccess::index(document)),
        m_edits(document, m_index),
        m_start(start),
        m_end(end) {}
  HtmlTextRange(const HtmlTextRange&) = delete;
  HtmlTextRange& operator=(const HtmlTextRange&) = delete;

  HResult findText(std::u16string_view text, std::int32_t count, std::int32_t flags,
                   bool* found) override {
    if (!found) return hr::pointer;
    *found = false;
    return viewGuarded(m_document, [&] {
      sync();
      *found =
          m_search.find(m_index, m_cursor, text, count, flags, m_start, m_end, &m_start, &m_end);
      return hr::ok;
    });
  }

  HResult htmlText(WideText* html) override {
    if (!html) return hr::pointer;
    html->reset();
    return viewGuarded(m_document, [&] {
      sync();
      TextPoint a, b;
      points(a, b);
      markupBetween(a, b, html);
      return hr::ok;
    });
  }

  HResult pasteHtml(std::u16string_view markup) override {
    return viewGuarded(m_document, [&] {
      sync();
      // Markup parsed into new nodes cannot be followed node for node.
      if (m_document.observer()) return hr::fail;
      TextPoint a, b;
      points(a, b);
      const std::size_t start = m_start;
      std::size_t after;
      if (!m_edits.paste(a, b, markup, m_cursor, &after)) return hr::fail;
      leaveOnLastCharacter(start, after);
      return hr::ok;
    });
  }

  HResult wrap(std::u16string_view startTag) override {
    return viewGuarded(m_document, [&] {
      sync();
      const Node* wrapper = m_edits.elementFromTag(startTag);
      if (!wrapper) return hr::invalidArg;
      TextPoint a, b;
      points(a, b);
      // The markup a paste of the same result would have taken: the start
      // tag, the text and "</name>".
      const std::size_t markupUnits = startTag.size() + wrapper->name().size() + 3;
      leaveOnLastCharacter(m_start, m_edits.surround(a, b, *wrapper, markupUnits));
      return hr::ok;
    });
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
  // Brings the index up to date and keeps the range inside the text.
  void sync() {
    m_index.ensure(m_document);
    const std::size_t size = m_index.folded().size();
    m_end = std::min(m_end, size);
    m_start = std::min(m_start, m_end);
  }

  // Where a paste or a wrap leaves the range: collapsed before the last
  // character of the new text [start, after), still on the new element, or
  // at `after` when it holds no text. The page pass moves on by one character
  // before its next search, which then begins right behind the new element:
  // a match that follows the last one without a gap ("RIVER" in one element,
  // "river" in the next; "newnew") is found too.
  void leaveOnLastCharacter(std::size_t start, std::size_t after) {
    const std::u16string& text = m_index.folded();
    std::size_t last = after;
    if (after > start && after <= text.size()) {
      last = after - 1;
      if (last > start && isLowSurrogate(text[last]) && isHighSurrogate(text[last - 1])) --last;
    }
    m_start = m_end = last;
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
    a = m_index.startPoint(m_start, m_cursor);
    b = m_index.endPoint(m_end, m_cursor);
    if (!a.node) a = b;
    if (!b.node) b = a;
    if (a.node && (m_start == m_end || a.position() > b.position())) b = a;
    m_pointA = a;
    m_pointB = b;
    m_pointsStart = m_start;
    m_pointsEnd = m_end;
    m_pointsGeneration = generation;
  }

  HResult move(std::u16string_view unit, std::int32_t count, std::int32_t* moved, bool start) {
    if (!moved) return hr::pointer;
    *moved = 0;
    sync();
    const std::u16string& text = m_index.folded();
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
  TextIndex& m_index;
  TextIndex::Cursor m_cursor;  // where this range resolved a position last
  TextSearch m_search;
  RangeEdits m_edits;
  // What points() found last, for which range and which state of the tree.
  TextPoint m_pointA, m_pointB;
  std::size_t m_pointsStart = 0, m_pointsEnd = 0;
  std::uint64_t m_pointsGeneration = ~std::uint64_t{0};
  std::size_t m_start = 0;
  std::size_t m_end = 0;
};

}  // namespace

std::unique_ptr<TextRange> makeTextRange(HtmlDocument& document) {
  return std::make_unique<HtmlTextRange>(document);
}

}  // namespace glintmark::html
