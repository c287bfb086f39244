// RangeEdits (internal to html/): the tree between a text range's two
// points: its markup, and the edits that put an element around it or markup
// in its place, splitting the elements the range cuts into, as DOM Range
// does. The edits keep the text index in step (a split text node joins it; a
// paste that keeps the text hands it over to the new nodes) and tell the
// document's TreeObserver of every change. Each range has its own, for the
// buffers it keeps from match to match.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/document.h"
#include "html/text_index.h"

namespace glintmark::html {

// The markup between two points (a before b), as htmlText gives it: elements
// cut by either point closed and reopened around it, as DOM Range cloning
// gives it.
void markupBetween(const TextPoint& a, const TextPoint& b, WideText* html);

class RangeEdits {
 public:
  RangeEdits(HtmlDocument& document, TextIndex& index) : m_document(document), m_index(index) {}
  RangeEdits(const RangeEdits&) = delete;
  RangeEdits& operator=(const RangeEdits&) = delete;

  // The element made from `startTag`, which surround puts in the tree as
  // copies; nullptr when the markup is not a lone start tag. The tag is
  // parsed once and kept: every match of a keyword is wrapped in the same
  // one.
  const Node* elementFromTag(std::u16string_view startTag);
  // Wrapping: a new element like `wrapper` takes the place of the nodes
  // between a and b and they move into it, keeping their identity; returns
  // the position after them. The text stays where it was in the body text,
  // so the index stands as it is. `markupUnits` is what a paste of the same
  // result would have added to the page's markup.
  std::size_t surround(const TextPoint& a, const TextPoint& b, const Node& wrapper,
                       std::size_t markupUnits);
  // Pasting: the nodes between a and b are replaced by the parsed markup;
  // *after is the position after it. When the markup keeps the text as it
  // was (the same text in other elements), the index is carried over to the
  // new text nodes (the cursor left on the last one); otherwise it is
  // rebuilt. False, the tree untouched, when the document has no body.
  bool paste(const TextPoint& a, const TextPoint& b, std::u16string_view markup,
             TextIndex::Cursor& cursor, std::size_t* after);

 private:
  // The children of `container` from `first` up to `after` (nullptr: its
  // end); an empty run when first == after.
  struct Siblings {
    Node* container = nullptr;
    Node* first = nullptr;
    Node* after = nullptr;
  };
  bool coveredSiblings(const TextPoint& a, const TextPoint& b, Siblings& covered);
  void replaceSiblings(const Siblings& covered, std::u16string_view markup);
  void recycleRemoved();

  HtmlDocument& m_document;
  TextIndex& m_index;
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
};

}  // namespace glintmark::html
