// TextIndex (internal to html/): the index of a document's body text, and
// the mapping from positions in that text to points of the tree.
//
// The index holds the body text case-folded, a separator (separatorChar) at
// each block boundary and <br>, and the text nodes it came from, linked in
// order, each with its position; a table of where each text node started,
// kept pointing at the node that holds that position since, finds the node of
// a position without walking the list from its start. Ranges read the text
// and ask for nodes; the edits of the tree tell the index what they did to
// text nodes (a split, nodes replaced by others holding the same text), so
// that highlighting never re-indexes. Any other change invalidates it, and
// the next range call rebuilds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/unicode.h"
#include "html/html_internal.h"

namespace glintmark::html {

// A point of the tree in the body text: a text node and an offset in it.
struct TextPoint {
  Node* node = nullptr;  // a text node, or nullptr when the body has no text
  std::size_t offset = 0;
  std::size_t position() const;
};

// A flattening of nodes into body text: the folded text with separators, and
// each text node met with its position.
struct Flattened {
  std::u16string folded;
  std::vector<std::pair<Node*, std::size_t>> textNodes;
};
// Flattens the node list (siblings `first` up to but not including `last`),
// and their descendants.
void flattenSiblings(Node* first, Node* last, Flattened& out);

class TextIndex {
 public:
  static constexpr std::size_t npos = ~std::size_t{0};

  // Where a range resolved a position last: the text node and the segment.
  // Each range keeps its own; a pass through the text asks for ever later
  // positions, and the next search starts from there.
  struct Cursor {
    Node* finger = nullptr;
    std::size_t segmentHint = npos;
  };

  // A text node's place in the index (read only while it is indexed).
  static bool indexed(const Node& node) { return node.m_indexed; }
  static std::size_t positionOf(const Node* node) { return node->m_textPart.indexPos; }
  static std::size_t textLength(const Node* node) { return node->m_textPart.length; }
  static Node* next(const Node* node) { return node->m_textPart.nextIndexed; }
  static Node* previous(const Node* node) { return node->m_textPart.prevIndexed; }

  bool valid() const { return m_valid; }
  void invalidate() { m_valid = false; }
  // Counts the rebuilds: positions of an earlier build are stale.
  std::uint64_t build() const { return m_build; }
  // The body text, case-folded, separators as separatorChar.
  const std::u16string& folded() const { return m_folded; }
  // Whether full folding lengthens some of the folded text; then searches
  // run over fullFold(), written out by the first of them for this build.
  bool lengthens() const { return m_lengthens; }
  const unicode::ExpandedFold& fullFold();

  // Rebuilds the index when a change invalidated it.
  void ensure(HtmlDocument& document) {
    if (!m_valid) rebuild(document, nullptr, nullptr);
  }
  // Rebuilds the index and returns the position of the point before `child`
  // in `parent` (child nullptr: the end of parent's content).
  std::size_t rebuildFindingPoint(HtmlDocument& document, const Node* parent, const Node* child) {
    return rebuild(document, parent, child);
  }
  // Gives the memory back; the next range call rebuilds the index.
  void release();

  // --- Positions to nodes --------------------------------------------------

  // The last segment starting at or before p (npos: none), `hint` the one
  // found last and updated.
  std::size_t segmentAt(std::size_t p, std::size_t& hint) const;
  Node* segmentNode(std::size_t entry) const { return m_segmentNodes[entry]; }
  // The indexed text node that holds position p, or else the first one after
  // it, or the last one when none follows; nullptr when there is none.
  Node* locate(std::size_t p, Cursor& cursor) const;
  // A start position lies in the node holding the character at it; an end
  // position in the node holding the character before it.
  TextPoint startPoint(std::size_t p, Cursor& cursor) const;
  TextPoint endPoint(std::size_t q, Cursor& cursor) const;
  // The body text between two positions, separators as '\n'.
  std::u16string originalText(std::size_t from, std::size_t to, Cursor& cursor) const;

  // --- Following the edits of the tree -------------------------------------

  // Text node `node` was cut at `offset`, `rest` holding what followed: rest
  // joins the index after it.
  void splitNode(Node& node, std::size_t offset, Node& rest) {
    if (indexed(node)) link(rest, positionOf(&node) + offset, &node);
  }
  // The nodes `removed` were replaced by `inserted`. When both hold the same
  // text, the inserted text nodes take the removed ones' places, the index
  // stands, and *end is the position after the inserted text (the cursor on
  // the last node inserted); false, the index untouched, when it cannot
  // stand.
  bool carryOver(const Flattened& removed, const Flattened& inserted, Cursor& cursor,
                 std::size_t* end);

 private:
  std::size_t rebuild(HtmlDocument& document, const Node* pointParent, const Node* pointChild);
  // The list of text nodes in body-text order, spliced here only.
  // link: `node` is indexed at `position` and joins the list right after
  // `previous` (nullptr: at its start).
  void link(Node& node, std::size_t position, Node* previous);
  // join: the list goes straight from `before` to `behind` (nullptr: its
  // start, its end), leaving out whatever lay between them.
  void join(Node* before, Node* behind);
  // Takes every text node out of the list, which is left empty.
  void unindexAll();
  // locate when the cursor's node does not hold p.
  Node* locateFrom(std::size_t p, Cursor& cursor) const;

  bool m_valid = false;
  std::uint64_t m_build = 0;
  std::u16string m_folded;
  Node* m_first = nullptr;  // the indexed text nodes, linked in order
  Node* m_last = nullptr;
  // The text nodes as indexed, by position, each entry kept pointing at the
  // node that holds its position: where a search for a position starts.
  // The positions have an array of their own, so that a search reads only
  // them, eight to a cache line.
  std::vector<std::size_t> m_segmentStarts;
  std::vector<Node*> m_segmentNodes;
  bool m_lengthens = false;
  std::uint64_t m_fullBuild = 0;
  unicode::ExpandedFold m_full;
};

inline std::size_t TextPoint::position() const { return TextIndex::positionOf(node) + offset; }

// Mostly the node found last holds it (a match's end, after its start).
inline Node* TextIndex::locate(std::size_t p, Cursor& cursor) const {
  Node* const finger = cursor.finger;
  if (finger && indexed(*finger) && positionOf(finger) <= p &&
      p < positionOf(finger) + textLength(finger)) {
    return finger;
  }
  return locateFrom(p, cursor);
}

inline void TextIndex::link(Node& node, std::size_t position, Node* previous) {
  Node* const after = previous ? next(previous) : m_first;
  node.m_indexed = true;
  node.m_textPart.indexPos = position;
  node.m_textPart.prevIndexed = previous;
  node.m_textPart.nextIndexed = after;
  (previous ? previous->m_textPart.nextIndexed : m_first) = &node;
  (after ? after->m_textPart.prevIndexed : m_last) = &node;
}

inline void TextIndex::join(Node* before, Node* behind) {
  (before ? before->m_textPart.nextIndexed : m_first) = behind;
  (behind ? behind->m_textPart.prevIndexed : m_last) = before;
}

}  // namespace glintmark::html
