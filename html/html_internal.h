// Internals shared by the files of the HTML document model: text encodings,
// the element classes that parsing, serialising and indexing agree on, the
// fragment parser, and the privileged access to a document's tree. The body
// text index has a header of its own (text_index.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "core/guarded.h"
#include "core/utf.h"
#include "html/arena.h"
#include "html/html_document.h"

namespace glintmark::html {

// --- Text encodings -------------------------------------------------------

// UTF-8 and UTF-16 come from core/utf.h.
// UTF-16 bytes (little- or big-endian) to UTF-8; an odd last byte becomes U+FFFD.
std::string utf16BytesToUtf8(std::string_view bytes, bool bigEndian);

// --- Element classes ------------------------------------------------------

bool isVoidElement(std::string_view tag);
// Elements whose content is raw text when serialised (no escaping).
bool isRawTextElement(std::string_view tag);
// Elements whose text is not body text (nor are their descendants').
bool isHiddenTextElement(std::string_view tag);
// Elements that separate the body text at their start and end.
bool isBlockElement(std::string_view tag);
// br (and the like): one separator, no content.
bool isLineBreakElement(std::string_view tag);

// The classes above as bits, worked out once per tag name and kept in each
// element: the index walk and the serialiser ask them of every element.
namespace elementClass {
inline constexpr std::uint8_t voidElement = 1, rawText = 2, hiddenText = 4, block = 8, lineBreak = 16;
}
std::uint8_t classifyElement(std::string_view tag);
inline bool hasClass(const Node& node, std::uint8_t bits);

// --- Case folding and words ------------------------------------------------

// The separator in the folded body text; no folded text character equals it.
inline constexpr char16_t separatorChar = u'\xFFFF';
// Word characters of whole-word searches: letters, marks and digits of
// every script (unicode::isWordChar).
bool isWordChar(char32_t c);
inline bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
// Whether two runs of units are the same (char_traits<char16_t> compares
// unit by unit; memcmp does not).
inline bool equalUnits(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0;
}

// --- Fragment parsing -----------------------------------------------------

// Parses markup (UTF-8) into new unattached nodes of `document`, appended in
// order to `out`. Handles start and end tags with attributes, void and
// self-closing elements, raw text elements, comments, character references
// (numeric and the common named ones); tolerant of stray end tags and
// unclosed elements.
void parseFragment(HtmlDocument& document, std::string_view utf8, std::vector<Node*>& out);
// A rough count of how deep the markup's elements nest (start tags less end
// tags, void and sibling-closed elements not counted), in one linear scan.
std::size_t estimateNestingDepth(std::string_view markup);
// Decodes character references in text (also used for attribute values).
std::string decodeCharacterReferences(std::string_view text, bool inAttribute);

// --- Serialising ----------------------------------------------------------

void escapeText(std::string& out, std::u16string_view text);
void escapeAttribute(std::string& out, std::string_view value);
void appendStartTag(std::string& out, const Node& element);
void appendEndTag(std::string& out, const Node& element);
// The node and its descendants as markup.
void serializeNode(std::string& out, const Node& node);

// --- Privileged access ----------------------------------------------------

class TextIndex;

struct DocumentAccess {
  static Node* newNode(HtmlDocument& d, NodeKind kind) { return d.newNode(kind); }
  static Arena& arena(HtmlDocument& d) { return d.m_arena; }
  // A detached text node that nothing refers to any more, for newNode to
  // hand out again.
  static void recycleText(HtmlDocument& d, Node* n) {
    n->m_kind = NodeKind::comment;  // no longer text, should anyone look
    n->m_element = {};
    n->m_next = d.m_spareNodes;
    d.m_spareNodes = n;
  }
  static std::size_t nodeCount(const HtmlDocument& d) { return d.m_nodeCount; }
  static std::size_t textUnits(const HtmlDocument& d) { return d.m_textUnits; }
  // Changes with every new node and every move or removal through the API.
  static std::uint64_t generation(const HtmlDocument& d) { return d.m_generation; }
  // What the markup of the document is expected to take when serialised:
  // the bytes it was parsed from and the markup pasted since (0: not known,
  // and not counted).
  static std::size_t& markupBytes(HtmlDocument& d) { return d.m_markupBytes; }
  static void addMarkupBytes(HtmlDocument& d, std::size_t bytes) {
    if (d.m_markupBytes) d.m_markupBytes += bytes;
  }
  // The body text index (text_index.h), a cache: changed in a const
  // document too.
  static TextIndex& index(const HtmlDocument& d) { return *d.m_index; }
  // A text node's text: a view into the document's arena.
  static void setText(Node& n, const char16_t* text, std::size_t length) {
    n.m_textPart.text = text;
    n.m_textPart.length = static_cast<std::uint32_t>(length);
  }
  static void setText(HtmlDocument& d, Node& n, std::u16string_view text) { d.setText(&n, text); }
  // A tag name (lowercase) stored once per document.
  static void setTagName(HtmlDocument& d, Node& n, std::string_view lowercaseName) {
    d.setTagName(&n, lowercaseName);
  }
  static std::uint8_t classes(const Node& n) { return n.m_classes; }
  // An attribute name, stored once per document.
  static std::string_view internName(HtmlDocument& d, std::string_view name) {
    return d.internTagName(name).first;
  }
  // A name that outlives every document (a parser's static table).
  // `classes` are classifyElement(name).
  static void setStaticName(Node& n, std::string_view name, std::uint8_t classes) {
    n.m_element.name = name;
    n.m_classes = classes;
  }
  // Another node's name and attributes: attribute lists are never changed in
  // place, so the two share them.
  static void copyNameAndAttributes(Node& to, const Node& from) {
    to.m_element = from.m_element;
    to.m_classes = from.m_classes;
  }
  // A text in the document's memory (attribute names and values).
  static std::string_view store(HtmlDocument& d, std::string_view text) { return d.storeValue(text); }
  // Sets the element's attribute list to a copy of `attributes`, whose views
  // must already lie in the document's memory.
  static void setAttributes(HtmlDocument& d, Node& n, std::span<const Attribute> attributes);
  static void setDoctype(HtmlDocument& d, bool has, std::string name, std::string publicId,
                         std::string systemId) {
    d.m_hasDoctype = has;
    d.m_doctypeName = std::move(name);
    d.m_doctypePublic = std::move(publicId);
    d.m_doctypeSystem = std::move(systemId);
  }
  // The tree changed behind the document's back: the index is rebuilt when
  // next used.
  static void invalidate(const HtmlDocument& d);
  static void noteOutOfMemory(HtmlDocument& d) { d.m_ranOutOfMemory = true; }
  // Tree links without touching the index.
  static void link(Node* parent, Node* child, Node* before);
  static void unlink(Node* child);
};

inline bool hasClass(const Node& node, std::uint8_t bits) {
  return node.isElement() && (DocumentAccess::classes(node) & bits) != 0;
}

// The next node in document order within `scope` (not entering `node`'s
// children when skipChildren), or nullptr after the last.
Node* nextInOrder(const Node* node, const Node* scope, bool skipChildren = false);

// Whether `node` lies inside an element whose text is not body text, up to
// and including `scope`.
bool insideHiddenText(const Node* node, const Node* scope);

// viewGuarded: runs the body of a browser view's method over `document` as
// guarded does, and remembers on the document when it ran out of memory.
template <typename Body>
HResult viewGuarded(HtmlDocument& document, Body&& body) noexcept {
  const HResult result = guarded(body);
  if (result == hr::outOfMemory) DocumentAccess::noteOutOfMemory(document);
  return result;
}

// Makes sure the document's index is current, rebuilding it (and the marks
// on the text nodes it lists) when a change invalidated it.
void ensureIndex(HtmlDocument& document);
// Gives the index's memory back (serialising does, on a const document); the
// next range operation rebuilds it.
void releaseIndex(const HtmlDocument& document);

// The views of core/document.h.
std::unique_ptr<TextRange> makeTextRange(HtmlDocument& document);

}  // namespace glintmark::html
