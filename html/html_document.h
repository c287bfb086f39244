// HtmlDocument: a mutable HTML document of our own, with the browser's text
// ranges over its body text, seen by the page pass through core/document.h.
// The glintmark tool, the benchmarks and the tests run the pass on real pages
// through it; the browser engine runs it on a copy of the live page.
//
// What this header offers:
// - parseHtml (a page's bytes, charset detected, parsed by gumbo on Linux)
//   and parseSimpleHtml (our own parser for well-formed UTF-8 markup);
// - HtmlDocument: building and changing the tree, serialising it as HTML5
//   in UTF-8 (whole, or in pieces to a writer), the body text;
// - browser() and document(): the core/document.h views (title, URL,
//   referrer, links, text ranges with findText, htmlText, pasteHtml, wrap,
//   moveStart/moveEnd, duplicate, compareEndPoints), which must not outlive
//   the document;
// - TreeObserver: each change highlighting makes, so that another tree can
//   follow it;
// - foldChar, foldText, findFolded: the text ranges' case folding and scan.
//
// docs/html-model.md describes the behaviour in full: which text is body
// text, how ranges cut elements, how the index survives highlighting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/document.h"
#include "core/unicode.h"
#include "core/utf.h"
#include "html/arena.h"

namespace glintmark::html {

enum class NodeKind : std::uint8_t { document, element, text, comment };

// An attribute of an element. Both views point into the document's memory
// and stay valid as long as the document.
struct Attribute {
  std::string_view name;   // lowercase, UTF-8
  std::string_view value;  // UTF-8
};

class HtmlDocument;
class Node;
class TextIndex;

// TreeObserver: told of each change that highlighting makes to the tree, so
// that another tree can be kept in step with it. The browser engine keeps its
// copy of a live page this way: the pass runs on the copy, and the page's own
// DOM gets the same splits and moves, node for node, never markup.
//
// Only a range's wrap (what highlighting does) can be followed: while an
// observer is set, pasteHtml fails (E_FAIL) and leaves the tree alone.
class TreeObserver {
 public:
  virtual ~TreeObserver() = default;
  // Text node `node` was cut at `offset`; `rest`, a new node holding what
  // followed, now follows it.
  virtual void splitText(const Node& node, std::size_t offset, const Node& rest) = 0;
  // `element` is a new, unattached element: a shallow copy of `original`
  // (its name and attributes), or, when `original` is nullptr, one made from
  // markup with the name and attributes it has.
  virtual void newElement(const Node& element, const Node* original) = 0;
  // `child` (new, or moved from where it was) is now among `parent`'s
  // children, before `before` (nullptr: last).
  virtual void inserted(const Node& parent, const Node& child, const Node* before) = 0;
};

// A node of the tree. Read it through the accessors; change it only through
// HtmlDocument, which keeps the text index in step. Nodes live in their
// document's arena: what they hold (names, attribute lists, text) are views
// into it, so a node costs no allocation of its own and none is freed before
// the document goes.
class Node {
 public:
  NodeKind kind() const { return m_kind; }
  bool isElement() const { return m_kind == NodeKind::element; }
  bool isText() const { return m_kind == NodeKind::text; }
  bool is(std::string_view tagName) const { return isElement() && m_element.name == tagName; }
  // Tag name of an element (lowercase), or the text of a comment (UTF-8).
  std::string_view name() const { return m_kind == NodeKind::text ? std::string_view() : m_element.name; }
  Node* parent() const { return m_parent; }
  Node* firstChild() const { return m_first; }
  Node* lastChild() const { return m_last; }
  Node* previousSibling() const { return m_prev; }
  Node* nextSibling() const { return m_next; }
  std::span<const Attribute> attributes() const {
    if (m_kind == NodeKind::text) return {};
    return {m_element.attributes, m_element.attributeCount};
  }
  // The attribute's value, or nullptr when the element has none by that name.
  const std::string_view* attribute(std::string_view name) const;
  // A text node's text (valid as long as the document).
  std::u16string_view text() const {
    if (m_kind != NodeKind::text) return {};
    return {m_textPart.text, m_textPart.length};
  }
  // A number the document's owner gave the node (HtmlDocument::setNumber),
  // 0 until then; a shallow copy of an element starts with its original's.
  std::uint32_t number() const { return m_kind == NodeKind::text ? m_textPart.number : m_element.number; }

 private:
  friend class HtmlDocument;
  friend class TextIndex;
  friend struct DocumentAccess;
  // What an element (or a comment, or the document) holds.
  struct ElementPart {
    std::string_view name;
    const Attribute* attributes;
    std::uint32_t attributeCount;
    std::uint32_t number;  // in what would be padding
  };
  // What a text node holds: its text and its place in the text index.
  struct TextPart {
    const char16_t* text;
    std::uint32_t length;
    std::uint32_t number;  // in what would be padding
    std::size_t indexPos;  // position of the text in the body text
    Node* prevIndexed;     // the indexed text nodes in order
    Node* nextIndexed;
  };
  NodeKind m_kind = NodeKind::element;
  bool m_indexed = false;  // a text node with a place in the text index
  std::uint8_t m_classes = 0;  // an element's classifyElement bits
  std::uint32_t m_segment = 0;  // 1 + its entry in the index's segments, or 0
  Node* m_parent = nullptr;
  Node* m_first = nullptr;
  Node* m_last = nullptr;
  Node* m_prev = nullptr;
  Node* m_next = nullptr;
  // A node is one or the other, never both: a million nodes make the
  // difference worth a union (88 bytes a node instead of 112).
  union {
    ElementPart m_element{};
    TextPart m_textPart;
  };
};

struct ParseOptions {
  // The page's charset as the caller knows it (e.g. from an HTTP header);
  // empty: detect. A byte-order mark still wins.
  std::string charset;
  std::u16string url;
  std::u16string referrer;
};

class HtmlDocument {
 public:
  // An empty page: <html><head></head><body></body></html>.
  static std::unique_ptr<HtmlDocument> create();
  HtmlDocument(const HtmlDocument&) = delete;
  HtmlDocument& operator=(const HtmlDocument&) = delete;
  ~HtmlDocument();

  // The document node (parent of the doctype-less tree) and its parts.
  Node* root() { return m_root; }
  const Node* root() const { return m_root; }
  Node* documentElement() const;  // <html>
  Node* head() const;
  Node* body() const;  // <body> or <frameset>, nullptr when there is none

  // Building. New nodes are unattached until appended. Text is UTF-8 or
  // UTF-16; invalid UTF-8 becomes U+FFFD.
  Node* createElement(std::string_view tagName);
  Node* createText(std::string_view utf8);
  Node* createText(std::u16string_view text);
  Node* createComment(std::string_view utf8);
  // Appends child (unattached or moved from elsewhere) as parent's last child.
  void appendChild(Node* parent, Node* child);
  // Inserts child before `before` (nullptr: at the end) among parent's children.
  void insertBefore(Node* parent, Node* child, Node* before);
  void removeChild(Node* child);
  void setAttribute(Node* element, std::string_view name, std::string_view value);
  // Replaces the element's content with the markup, parsed by our fragment
  // parser (the one pasteHtml uses).
  void setInnerHtml(Node* element, std::string_view utf8);
  void setDoctype(std::string name, std::string publicId = {}, std::string systemId = {});
  bool hasDoctype() const { return m_hasDoctype; }
  // Gives a node of this document a number of the caller's choosing (the
  // browser engine numbers its copy's nodes after the page's). Changes
  // nothing else, and no generation.
  void setNumber(const Node* node, std::uint32_t number) {
    Node* n = const_cast<Node*>(node);
    (n->m_kind == NodeKind::text ? n->m_textPart.number : n->m_element.number) = number;
  }
  // The observer of highlighting's changes (nullptr: none); see TreeObserver.
  void setObserver(TreeObserver* observer) { m_observer = observer; }
  TreeObserver* observer() const { return m_observer; }

  // The caller's view of where the page came from.
  void setUrl(std::u16string url) {
    m_url = std::move(url);
    ++m_generation;
  }
  void setReferrer(std::u16string referrer) { m_referrer = std::move(referrer); }
  // Whether a call through the browser's views ran out of memory. Such a call
  // answers E_OUTOFMEMORY, as the browser's own would, and the page pass goes
  // on without it; a program that writes the page out asks here, so that it
  // never passes off a page the pass could only partly mark as the result.
  bool ranOutOfMemory() const { return m_ranOutOfMemory; }
  const std::u16string& url() const { return m_url; }
  const std::u16string& referrer() const { return m_referrer; }
  // The title as a browser shows it; setTitle replaces the <title> text (a
  // <title> is created in the head when there is none).
  std::u16string title() const;
  void setTitle(std::u16string_view title);

  // The whole document as HTML5, UTF-8. The body-text index is given back
  // first (ranges rebuild it when next used): a page is mostly serialised
  // when its work is done, and the index is a second copy of its text.
  std::string serialize() const;
  // The same, handed to `write` in pieces (up to 64 KB each, in order) as it
  // is made, so that the page need never be whole in memory: a writer that
  // returns false stops it, and serialize returns false. With
  // Charsets::declareUtf8, every charset declaration (a meta charset
  // attribute, or the charset in the content of a meta http-equiv
  // Content-Type) that names another encoding than UTF-8 is written as
  // "utf-8": the bytes written are UTF-8, and a declaration must never claim
  // another encoding for them. The tree itself is left as it is.
  enum class Charsets { asTheyAre, declareUtf8 };
  bool serialize(const std::function<bool(std::string_view)>& write,
                 Charsets charsets = Charsets::asTheyAre) const;
  // The markup of one node and its descendants.
  std::string serialize(const Node* node) const;
  // The body text as text ranges see it, with '\n' at each separator (the
  // start and the end of every block element, every <br>).
  std::u16string bodyText() const;
  // The `a` elements of the document, in document order.
  std::vector<Node*> elementsByTagName(std::string_view tagName) const;
  // The href of an element resolved as the href property gives it.
  std::u16string resolvedHref(const Node* element) const;

  // The views of core/document.h over this document (they must not outlive it).
  std::unique_ptr<Browser> browser();
  std::unique_ptr<Document> document();

 private:
  friend struct DocumentAccess;
  HtmlDocument();

  Node* newNode(NodeKind kind);
  // The stored name and its classifyElement bits.
  std::pair<std::string_view, std::uint8_t> internTagName(std::string_view lowercaseName);
  void setTagName(Node* element, std::string_view lowercaseName);
  std::string_view storeValue(std::string_view value);
  void setText(Node* node, std::u16string_view text);

  Arena m_arena;  // every node ever made, with its names, attributes and text
  std::size_t m_nodeCount = 0;
  Node* m_spareNodes = nullptr;  // detached nodes to reuse, linked by m_next
  std::size_t m_textUnits = 0;  // the text of all text nodes made, in UTF-16 units
  std::size_t m_markupBytes = 0;  // see DocumentAccess::markupBytes
  // Interned tag names: each name is stored once however many elements bear it.
  std::unordered_map<std::string_view, std::uint8_t> m_tagNames;
  // The attribute value set last: the highlighting pastes the same style on
  // every span of a keyword, and it is stored once.
  std::string_view m_lastValue;
  std::span<const Attribute> m_lastAttributes;  // the attribute list stored last
  Node* m_root = nullptr;
  TreeObserver* m_observer = nullptr;
  bool m_hasDoctype = false;
  bool m_ranOutOfMemory = false;
  std::string m_doctypeName, m_doctypePublic, m_doctypeSystem;
  std::u16string m_url, m_referrer;

  // The body-text index (html/text_index.h, internal to the model),
  // rebuilt lazily when a change invalidated it.
  std::unique_ptr<TextIndex> m_index;

  // The base address for links (the document URL, or the first <base href>),
  // cached per tree generation: the link tooltips ask for every link's href,
  // and finding <base> walks the whole document. The generation changes with
  // every new node, move, removal, URL and <base> attribute change.
  std::string baseUrl() const;
  std::uint64_t m_generation = 0;
  mutable std::uint64_t m_baseGeneration = ~std::uint64_t{0};
  mutable std::string m_base;
};

// parseHtml: a page's bytes as a document. Returns nullptr only when the
// caller's charset is unknown or the page is refused (nested too deep, or
// its noscript tags could not be settled in a few parses), with the reason
// in *error when given. url and referrer come from options.
std::unique_ptr<HtmlDocument> parseHtml(std::string_view bytes, const ParseOptions& options = {},
                                        std::string* error = nullptr);

// Text helpers for callers of the model (toUtf16 and toUtf8 come from
// core/utf.h).
// foldChar: one UTF-16 unit as findText compares it: folded one for one
// (unicode::foldUnit: every script's case), white space and no-break space
// as ' '. Never changes the length of a text.
char16_t foldChar(char16_t c);
// foldText: foldChar over a whole text in place (ASCII folded inline, a
// surrogate pair folded as one character). True when some unit folded
// lengthens when folded in full (unicode::lengthens: "ß" compares as "ss").
bool foldText(char16_t* begin, char16_t* end);
// findFolded: the first place at or after `from` where `needle` (empty: none)
// stands in `text`, comparing units exactly, or npos; the scan of the
// keyword search, which looks at eight places at a time.
std::size_t findFolded(std::u16string_view text, std::u16string_view needle, std::size_t from);

// parseSimpleHtml: well-formed UTF-8 markup (a whole page or only the body's
// content) parsed by our own parser on every platform. Elements missing from
// a whole page (html, head, body) are added; a <frameset> stands for the body.
std::unique_ptr<HtmlDocument> parseSimpleHtml(std::string_view utf8);

}  // namespace glintmark::html
