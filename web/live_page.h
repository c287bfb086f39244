// LivePage: a page of the browser the engine runs in, as the page pass sees
// it through core/document.h.
//
// The JavaScript side walks the page's body once and hands over what the
// pass needs to know of it: the tree of elements, text and other nodes (a
// stream of PageOp records), their text, the addresses of the links, and the
// title, URL and referrer. From that LivePage builds a copy of the body in
// the HTML document model of html/, whose text ranges search and split
// it by exactly the rules `glintmark highlight` follows. Each change the
// highlighting makes to the copy (a text node split, an element split in
// two, a span made, a node moved) is handed through the module's imports
// (web/dom_imports.js) as it is made; the JavaScript side writes the changes
// down and makes them to the page's own nodes, in the same order, once the
// pass is over, so that the page ends as the same tree as the copy, node for
// node. Nodes are known on both sides by number: the walk numbers the
// page's nodes in document order from 1 (the body), and every node made
// later gets the next number.
//
// Links are not copied: the link views ask the page for nothing, they read
// the addresses handed over and set titles through an import.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/document.h"
#include "html/html_document.h"

namespace glintmark::web {

// The records of the page's body, each a kind followed by its operands (all
// 32-bit): an element's name and a text node's text are (offset, length) in
// the page's text buffer, in UTF-16 units.
enum class PageOp : std::int32_t {
  element = 1,  // offset, length of its lowercase name; its children follow
  end = 2,      // the element opened last is complete
  text = 3,     // offset, length of its text
  other = 4,    // a comment or any other node: kept only for its place
};

// What the walk of a page found, besides the body's records.
struct PageFacts {
  enum class Body { none, body, frameset };
  Body body = Body::body;
  std::u16string url, referrer, title;
  // Each link's address (the `href` property; empty when it has none).
  std::vector<std::u16string> links;
};

class LivePage final : private html::TreeObserver {
 public:
  // Builds the copy of the body from the records and `text`. Throws
  // std::invalid_argument when the records do not describe a tree (an
  // operand out of the text, an end without an element).
  LivePage(std::span<const std::int32_t> ops, std::u16string_view text, PageFacts facts);
  ~LivePage() override;

  // The browser whose document is this page.
  std::unique_ptr<Browser> browser();

 private:
  friend class LiveDocument;
  friend class LiveLinks;
  void splitText(const html::Node& node, std::size_t offset, const html::Node& rest) override;
  void newElement(const html::Node& element, const html::Node* original) override;
  void inserted(const html::Node& parent, const html::Node& child, const html::Node* before) override;
  std::uint32_t idOf(const html::Node* node) const;
  std::uint32_t number(const html::Node* node);

  std::unique_ptr<html::HtmlDocument> m_copy;
  PageFacts m_facts;
  std::uint32_t m_nextId = 1;
  bool m_adrift = false;
  // The element made from markup last: the next one with its name and
  // attribute list is a copy of it.
  std::uint32_t m_lastMade = 0;
  std::span<const html::Attribute> m_lastMadeAttributes;
  std::string_view m_lastMadeName;  // a change of the copy could not be made to the page
};

}  // namespace glintmark::web
