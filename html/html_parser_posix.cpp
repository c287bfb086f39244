// parseHtml on Linux: the page converted to UTF-8 and parsed by gumbo, as a
// browser parses it, then copied into our own tree.
#include <gumbo.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "core/ascii.h"
#include "html/arena.h"
#include "html/charset.h"
#include "html/html_internal.h"
#include "html/html_parser_input.h"

namespace glintmark::html {

namespace {

// gumbo's time per tag grows with the depth of its stack of open elements
// (it scans the stack for scopes): a page nested deeper is refused rather
// than read for minutes. Chromium stops nesting the elements it builds at
// the same depth.
constexpr std::size_t maxNesting = 512;
// gumbo checks each attribute of a tag against all those before it.
constexpr std::size_t maxAttributes = 512;
// Formatting elements (b, font...) that an enclosing element closed are
// reopened by text after it, each time: a few hundred left open around many
// blocks make a tree far larger than the page. The tree stays within a few
// times the elements of a page of the same size.
std::size_t maxRebuilt(std::size_t bytes) { return 100000 + bytes / 16; }
// Parses of one page while the renamed tags are checked (see
// html_parser_input.h); ordinary pages need one.
constexpr int maxParses = 8;

// gumbo's static name of a tag it knows, with its classes, worked out once
// per tag.
struct KnownTag {
  std::string_view name;
  std::uint8_t classes;
};

const KnownTag& knownTag(GumboTag tag) {
  static const std::vector<KnownTag> tags = [] {
    std::vector<KnownTag> all;
    for (int t = 0; t < GUMBO_TAG_LAST; ++t) {
      const std::string_view name = gumbo_normalized_tagname(static_cast<GumboTag>(t));
      all.push_back({name, classifyElement(name)});
    }
    return all;
  }();
  return tags[static_cast<std::size_t>(tag)];
}

// An SVG or MathML element is never void nor raw text, whatever its name: a
// parser reads `<svg><style>` content as markup and a serialiser escapes it.
std::uint8_t namespaced(std::uint8_t classes, const GumboElement& element) {
  if (element.tag_namespace == GUMBO_NAMESPACE_HTML) return classes;
  return classes & static_cast<std::uint8_t>(~(elementClass::voidElement | elementClass::rawText));
}

// The element's name: gumbo's own static names for the tags it knows, else
// the name as written, lowercased and stored once in the document.
template <typename Restore>
void setElementName(HtmlDocument& document, Node& node, const GumboElement& element, Restore&& restored) {
  if (element.tag != GUMBO_TAG_UNKNOWN && element.tag_namespace != GUMBO_NAMESPACE_SVG) {
    const KnownTag& known = knownTag(element.tag);
    DocumentAccess::setStaticName(node, known.name, namespaced(known.classes, element));
    return;
  }
  GumboStringPiece piece = element.original_tag;
  if (piece.data && piece.length) gumbo_tag_from_original_text(&piece);
  if (element.tag_namespace == GUMBO_NAMESPACE_SVG && piece.data && piece.length) {
    if (const char* adjusted = gumbo_normalize_svg_tagname(&piece)) {
      DocumentAccess::setStaticName(node, adjusted, namespaced(classifyElement(adjusted), element));
      return;
    }
  }
  if (element.tag != GUMBO_TAG_UNKNOWN) {
    const KnownTag& known = knownTag(element.tag);
    DocumentAccess::setStaticName(node, known.name, namespaced(known.classes, element));
    return;
  }
  if (!piece.data) {
    DocumentAccess::setStaticName(node, "unknown", 0);
    return;
  }
  DocumentAccess::setTagName(document, node,
                             restored(lowerAscii(std::string_view(piece.data, piece.length)), element.original_tag));
}

std::string attributeName(const GumboAttribute& attribute) {
  switch (attribute.attr_namespace) {
    case GUMBO_ATTR_NAMESPACE_XLINK: return std::string("xlink:") + attribute.name;
    case GUMBO_ATTR_NAMESPACE_XML: return std::string("xml:") + attribute.name;
    case GUMBO_ATTR_NAMESPACE_XMLNS:
      return std::string(attribute.name) == "xmlns" ? "xmlns" : std::string("xmlns:") + attribute.name;
    default: return attribute.name;
  }
}

// A tag of the page given to gumbo under another name: a start tag, or a
// select end tag.
struct Renamed {
  enum class Kind : std::uint8_t { noscriptInHead, noscriptInBody, isindex, select, selectEnd };
  std::size_t at;       // its "<"
  Kind kind;
  std::size_t content;  // noscript: where its raw text starts and ends; select end: its select's "<"
  std::size_t end;      // select end that is a start tag: see MarkupScan::SelectEnd
  bool isStartTag() const { return kind == Kind::selectEnd && end != 0; }
  bool operator<(const Renamed& other) const { return at < other.at; }
};

bool isNoscript(Renamed::Kind kind) {
  return kind == Renamed::Kind::noscriptInHead || kind == Renamed::Kind::noscriptInBody;
}

bool startsWithLower(std::string_view text, std::size_t at, std::string_view lowerName) {
  if (at + lowerName.size() > text.size()) return false;
  for (std::size_t i = 0; i < lowerName.size(); ++i) {
    char c = text[at + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lowerName[i]) return false;
  }
  return true;
}

// Text read as raw text is, as a tokenizer gives it: line breaks as line
// feeds, NUL as U+FFFD.
std::string rawText(std::string_view source) {
  std::string text;
  text.reserve(source.size());
  for (std::size_t i = 0; i < source.size(); ++i) {
    const char c = source[i];
    if (c == '\r') {
      text += '\n';
      if (i + 1 < source.size() && source[i + 1] == '\n') ++i;
    } else if (c == '\0') {
      text += "\xEF\xBF\xBD";
    } else {
      text += c;
    }
  }
  return text;
}

// The page as gumbo is given it: the original with the renamed tags.
class GumboInput {
 public:
  // `isindexEnds`: the "</isindex" end tags to rename along with the start
  // tags, to "</acronym", when the page names no acronym (else none).
  // `reopened`: see MarkupScan, given with their select's rename.
  GumboInput(std::string_view original, std::vector<std::size_t> isindexEnds,
             std::vector<MarkupScan::Reopened> reopened, std::vector<MarkupScan::EndTags> endTags)
      : m_original(original),
        m_isindexEnds(std::move(isindexEnds)),
        m_reopened(std::move(reopened)),
        m_endTags(std::move(endTags)) {}

  std::string_view original() const { return m_original; }
  std::string_view text() const { return m_copied ? std::string_view(m_text) : m_original; }
  const std::vector<Renamed>& renamed() const { return m_renamed; }

  // Renames these tags (sorted by place), and no others.
  void rename(std::vector<Renamed> tags) {
    m_renamed = std::move(tags);
    m_copied = !m_renamed.empty() || !m_isindexEnds.empty() || !m_endTags.empty();
    m_splices.clear();
    if (!m_copied) return;
    m_text.assign(m_original);
    for (std::size_t at : m_isindexEnds) renameIsindex(at + 2);
    for (Renamed& tag : m_renamed) {
      if (tag.kind == Renamed::Kind::selectEnd && startsWithLower(m_original, tag.at, "</applet")) {
        m_text[tag.at + 7] = 'z';  // "</applez": closes nothing in gumbo either
        continue;
      }
      if (tag.isStartTag()) {
        m_splices.push_back({tag.at, tag.end, selectEndTag});
        continue;
      }
      if (tag.kind == Renamed::Kind::select || tag.kind == Renamed::Kind::selectEnd) {
        // gumbo reads an applet's content with the body's rules, as browsers
        // now read a select's.
        const std::size_t name = tag.at + (tag.kind == Renamed::Kind::select ? 1 : 2);
        for (std::size_t j = 0; j < 6; ++j) m_text[name + j] = withCaseOf(m_original[name + j], "applet"[j]);
        continue;
      }
      if (!isNoscript(tag.kind)) {
        if (m_isindexEnds.empty()) {
          m_text[tag.at + 7] = '_';  // "<isinde_": an element gumbo does not know
        } else {
          renameIsindex(tag.at + 1);
        }
        continue;
      }
      const bool head = tag.kind == Renamed::Kind::noscriptInHead;
      std::memcpy(m_text.data() + tag.at, head ? "<noframes" : "<noembed ", 9);
      tag.content = startTagEnd(m_original, tag.at);
      if (tag.content == std::string_view::npos) tag.content = m_original.size();
      tag.end = rawTextEnd(m_original, tag.content, "noscript");
      // Its raw text hides nothing from gumbo that could end it early.
      std::replace(m_text.begin() + static_cast<std::ptrdiff_t>(tag.content),
                   m_text.begin() + static_cast<std::ptrdiff_t>(tag.end), '<', ' ');
      if (tag.end < m_original.size()) std::memcpy(m_text.data() + tag.end, head ? "</noframes" : "</noembed ", 10);
    }
    if (!m_reopened.empty() || !m_endTags.empty()) {
      // Those that a select's rename brings, while it is renamed.
      std::vector<std::size_t> selects;
      for (const Renamed& tag : m_renamed) {
        if (tag.kind == Renamed::Kind::select) selects.push_back(tag.at);
      }
      for (const MarkupScan::EndTags& tags : m_endTags) {
        if (tags.select != std::string_view::npos && !std::binary_search(selects.begin(), selects.end(), tags.select)) {
          continue;
        }
        m_splices.push_back({tags.at, tags.at, tags.tags});
      }
      for (const MarkupScan::Reopened& tag : m_reopened) {
        if (!std::binary_search(selects.begin(), selects.end(), tag.select)) continue;
        m_splices.push_back({tag.at, tag.end, m_original.substr(tag.from, tag.to - tag.from)});
      }
      // At one place: a select's end tag, then end tags, then the elements
      // reopened.
      std::stable_sort(m_splices.begin(), m_splices.end(),
                       [](const Splice& a, const Splice& b) { return a.at < b.at; });
    }
    if (!m_splices.empty()) splice();
  }

  // The renamed tag whose start tag gumbo's element came from, if any.
  const Renamed* find(const GumboElement& element) const {
    const std::size_t at = offset(element.original_tag.data);
    if (at == std::string_view::npos || m_renamed.empty()) return nullptr;
    const auto it = std::lower_bound(m_renamed.begin(), m_renamed.end(), Renamed{at, {}, 0, 0});
    // A select end tag makes no element (an input's comes from the input).
    return it != m_renamed.end() && it->at == at && it->kind != Renamed::Kind::selectEnd ? &*it : nullptr;
  }

  // Text of gumbo's tree, from the source `piece`, as the page has it: an
  // end tag renamed in text (in a script, a comment, a value) named isindex.
  std::string restored(std::string_view text, const GumboStringPiece& piece) const {
    std::string out(text);
    const std::size_t at = offset(piece.data);
    if (m_isindexEnds.empty() || at == std::string_view::npos) return out;
    const auto it = std::lower_bound(m_isindexEnds.begin(), m_isindexEnds.end(), at);
    if (it == m_isindexEnds.end() || *it >= end(piece)) return out;
    for (std::size_t i = 0; i + 7 <= out.size(); ++i) {
      if (!startsWithLower(out, i, "acronym")) continue;
      for (std::size_t j = 0; j < 7; ++j) out[i + j] = withCaseOf(out[i + j], "isindex"[j]);
    }
    return out;
  }
  bool renamesEnds() const { return !m_isindexEnds.empty(); }

  // Where `data` lies in the page (as a place in the text gumbo read), or
  // npos when it lies in neither or in text given in place of the page's.
  std::size_t offset(const char* data) const {
    const std::string_view text = this->text();
    if (!data || data < text.data() || data >= text.data() + text.size()) return std::string_view::npos;
    return toPage(static_cast<std::size_t>(data - text.data()), false);
  }
  // Where the source `piece` ends in the page.
  std::size_t end(const GumboStringPiece& piece) const {
    return toPage(static_cast<std::size_t>(piece.data + piece.length - text().data()), true);
  }

 private:
  // Text given to gumbo in place of the page's bytes [at, end): "</applet>"
  // for a start tag that closes a select, tags a select left open (see
  // MarkupScan::reopened). The text gumbo reads then differs in length
  // from the page, and its places are mapped back to the page's.
  struct Splice {
    std::size_t at, end;
    std::string_view with;
    std::size_t textAt = 0;  // where `with` starts in the text gumbo reads
  };
  static constexpr std::string_view selectEndTag = "</applet>";

  void splice() {
    std::string text;
    text.reserve(m_text.size() + m_splices.size() * selectEndTag.size());
    std::size_t done = 0;
    for (Splice& splice : m_splices) {
      text.append(m_text, done, splice.at - done);
      splice.textAt = text.size();
      text += splice.with;
      done = splice.end;
    }
    text.append(m_text, done);
    m_text = std::move(text);
  }

  // The page's place of the text's place `at`; one in text given in place
  // of the page's is npos, or the place of what it replaced when
  // `inGiven`.
  std::size_t toPage(std::size_t at, bool inGiven) const {
    if (m_splices.empty()) return at;
    auto it = std::upper_bound(m_splices.begin(), m_splices.end(), at,
                               [](std::size_t at, const Splice& splice) { return at < splice.textAt; });
    if (it == m_splices.begin()) return at;
    --it;
    if (at < it->textAt + it->with.size()) return inGiven ? it->at : std::string_view::npos;
    return it->end + (at - it->textAt - it->with.size());
  }

  // "isindex" at `at` becomes "acronym" in the same case (both are seven letters).
  void renameIsindex(std::size_t at) {
    for (std::size_t j = 0; j < 7; ++j) m_text[at + j] = withCaseOf(m_original[at + j], "acronym"[j]);
  }
  static char withCaseOf(char model, char lower) {
    return model >= 'A' && model <= 'Z' ? static_cast<char>(lower - 'a' + 'A') : lower;
  }

  std::string_view m_original;
  std::vector<std::size_t> m_isindexEnds;
  std::string m_text;
  bool m_copied = false;
  std::vector<Renamed> m_renamed;
  std::vector<MarkupScan::Reopened> m_reopened;
  std::vector<MarkupScan::EndTags> m_endTags;
  std::vector<Splice> m_splices;
};

// Checks gumbo's tree against the renamed tags: each must have become an
// element where a browser would put it, and no noscript or isindex start tag
// may have been read as gumbo alone reads it. Gives the tags to rename in
// the next parse, or nothing when this parse stands.
class RenameCheck {
 public:
  explicit RenameCheck(const GumboInput& input) : m_input(input), m_found(input.renamed().size()) {}

  std::optional<std::vector<Renamed>> run(const GumboNode* document) {
    std::vector<const GumboNode*> pending{document};
    while (!pending.empty()) {
      const GumboNode* node = pending.back();
      pending.pop_back();
      const GumboVector* children = nullptr;
      if (node->type == GUMBO_NODE_DOCUMENT) children = &node->v.document.children;
      if (node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE) {
        visit(node);
        children = &node->v.element.children;
        const GumboVector& attributes = node->v.element.attributes;
        for (unsigned i = 0; i < attributes.length; ++i) {
          coverText(static_cast<const GumboAttribute*>(attributes.data[i])->original_value);
        }
      } else if (node->type != GUMBO_NODE_DOCUMENT) {
        coverText(node->v.text.original_text);
      }
      // Reversed, so that the head is seen before the body.
      for (unsigned i = children ? children->length : 0; i-- > 0;) {
        pending.push_back(static_cast<const GumboNode*>(children->data[i]));
      }
    }
    std::vector<Renamed> next;
    bool changed = !m_added.empty();
    // The select start tags that were no tags: their end tags go with them
    // (one written as "</applet" in place of a select start tag would hide
    // that select).
    std::vector<std::size_t> droppedSelects;
    for (std::size_t i = 0; i < m_found.size(); ++i) {
      const Renamed& tag = m_input.renamed()[i];
      if (tag.kind == Renamed::Kind::select && (m_found[i] == Found::no || m_found[i] == Found::inText)) {
        droppedSelects.push_back(tag.at);
      }
    }
    for (std::size_t i = 0; i < m_found.size(); ++i) {
      Renamed tag = m_input.renamed()[i];
      // A select end tag makes no element of its own: it stands unless read
      // as text or its select went.
      const bool standing = m_found[i] == Found::no && tag.kind == Renamed::Kind::selectEnd &&
                            !std::binary_search(droppedSelects.begin(), droppedSelects.end(), tag.content);
      if (!standing && (m_found[i] == Found::no || m_found[i] == Found::inText)) {
        changed = true;  // not a tag (in a comment, an attribute...) or dropped
        continue;
      }
      if (m_found[i] == Found::wrongKind) {
        tag.kind = tag.kind == Renamed::Kind::noscriptInHead ? Renamed::Kind::noscriptInBody
                                                            : Renamed::Kind::noscriptInHead;
        changed = true;
      }
      next.push_back(tag);
    }
    if (!changed) return std::nullopt;
    next.insert(next.end(), m_added.begin(), m_added.end());
    std::sort(next.begin(), next.end());
    next.erase(std::unique(next.begin(), next.end(),
                           [](const Renamed& a, const Renamed& b) { return a.at == b.at; }),
               next.end());
    return next;
  }

 private:
  enum class Found : std::uint8_t { no, yes, wrongKind, inText };

  // A select tag whose new name gumbo read as text was none.
  void coverText(const GumboStringPiece& piece) {
    const std::size_t from = m_input.offset(piece.data);
    if (from == std::string_view::npos) return;
    const std::vector<Renamed>& renamed = m_input.renamed();
    for (auto it = std::lower_bound(renamed.begin(), renamed.end(), Renamed{from, {}, 0, 0});
         it != renamed.end() && it->at < m_input.end(piece); ++it) {
      if (it->kind == Renamed::Kind::select || it->kind == Renamed::Kind::selectEnd) {
        m_found[static_cast<std::size_t>(it - renamed.begin())] = Found::inText;
      }
    }
  }

  void visit(const GumboNode* node) {
    const GumboElement& element = node->v.element;
    if (element.tag == GUMBO_TAG_HEAD) m_head = &element;
    const std::size_t at = m_input.offset(element.original_tag.data);
    if (at == std::string_view::npos) return;
    const std::string_view original = m_input.original();
    if (const Renamed* tag = m_input.find(element)) {
      Found& found = m_found[static_cast<std::size_t>(tag - m_input.renamed().data())];
      if (found == Found::inText) return;
      // A noscript in SVG or MathML is an ordinary element (an isindex is
      // one anywhere).
      if (isNoscript(tag->kind) && element.tag_namespace != GUMBO_NAMESPACE_HTML) return;
      found = Found::yes;
      if (isNoscript(tag->kind) && tag->kind != kindFor(node, at)) found = Found::wrongKind;
      return;
    }
    if (element.tag == GUMBO_TAG_NOSCRIPT && element.tag_namespace == GUMBO_NAMESPACE_HTML &&
        startsWithLower(original, at, "<noscript")) {
      m_added.push_back({at, kindFor(node, at), 0, 0});
    } else if (startsWithLower(original, at, "<isindex")) {
      // gumbo's expansion of isindex: its elements all come from that tag.
      m_added.push_back({at, Renamed::Kind::isindex, 0, 0});
    }
  }

  // Where a browser with scripting on puts a noscript element at `at`,
  // judged from where gumbo put it: in the head when gumbo put it there
  // while the head was open; in the body when gumbo put it after the head's
  // end tag, or elsewhere, except as the first child of a body that only it
  // began (a noembed start tag closes an open head; a noscript does not).
  Renamed::Kind kindFor(const GumboNode* node, std::size_t at) const {
    const GumboNode* parent = node->parent;
    const bool headOpen = !m_head || !m_head->original_end_tag.length ||
                          m_input.offset(m_head->original_end_tag.data) > at;
    if (parent && parent->type == GUMBO_NODE_ELEMENT && parent->v.element.tag == GUMBO_TAG_HEAD) {
      return headOpen ? Renamed::Kind::noscriptInHead : Renamed::Kind::noscriptInBody;
    }
    if (headOpen && parent && parent->type == GUMBO_NODE_ELEMENT && parent->v.element.tag == GUMBO_TAG_BODY &&
        !parent->v.element.original_tag.length && parent->v.element.children.length &&
        parent->v.element.children.data[0] == node) {
      return Renamed::Kind::noscriptInHead;
    }
    return Renamed::Kind::noscriptInBody;
  }

  const GumboInput& m_input;
  std::vector<Found> m_found;
  std::vector<Renamed> m_added;
  const GumboElement* m_head = nullptr;
};

class TreeCopier {
 public:
  // `pool` holds gumbo's tree, and is draining: each gumbo node is released
  // once copied, so that gumbo's memory goes back as ours grows.
  TreeCopier(HtmlDocument& document, const GumboInput& input, const Placeholders& placeholders,
             SizeClassPool& pool)
      : m_document(document), m_input(input), m_placeholders(placeholders), m_pool(pool) {}

  void copyChildren(const GumboNode* from, Node* to) {
    // Explicit stack: pages nest deeper than the call stack allows.
    std::vector<std::pair<const GumboNode*, Node*>> pending;
    pushChildren(from, to, pending);
    while (!pending.empty()) {
      auto [gumboNode, parent] = pending.back();
      pending.pop_back();
      const Renamed* renamed = nullptr;
      Node* node = copyNode(gumboNode, renamed);
      if (node) {
        DocumentAccess::link(parent, node, nullptr);
        if (renamed && isNoscript(renamed->kind)) {
          // Its raw text, from the page itself (gumbo read it hidden).
          const std::string text =
              rawText(m_input.original().substr(renamed->content, renamed->end - renamed->content));
          if (!text.empty()) {
            DocumentAccess::link(
                node, m_document.createText(m_placeholders.active() ? m_placeholders.restore(text) : text), nullptr);
          }
          releaseChildren(gumboNode);
        } else if (node->isElement()) {
          pushChildren(gumboNode, node, pending);
        }
      }
      release(gumboNode);
    }
  }

 private:
  static void pushChildren(const GumboNode* from, Node* to,
                           std::vector<std::pair<const GumboNode*, Node*>>& pending) {
    const GumboVector* children = nullptr;
    if (from->type == GUMBO_NODE_DOCUMENT) {
      children = &from->v.document.children;
    } else if (from->type == GUMBO_NODE_ELEMENT || from->type == GUMBO_NODE_TEMPLATE) {
      children = &from->v.element.children;
    }
    if (!children) return;
    // Reversed, so that the stack hands them out in document order.
    for (unsigned i = children->length; i-- > 0;) {
      pending.emplace_back(static_cast<const GumboNode*>(children->data[i]), to);
    }
  }

  Node* copyNode(const GumboNode* from, const Renamed*& renamed) {
    switch (from->type) {
      case GUMBO_NODE_ELEMENT:
      case GUMBO_NODE_TEMPLATE: {
        const GumboElement& element = from->v.element;
        Node* node = DocumentAccess::newNode(m_document, NodeKind::element);
        renamed = m_input.renamed().empty() ? nullptr : m_input.find(element);
        if (renamed && isNoscript(renamed->kind) && element.tag_namespace != GUMBO_NAMESPACE_HTML) {
          renamed = nullptr;
        }
        if (!renamed) {
          setElementName(m_document, *node, element,
                         [this](std::string_view text, const GumboStringPiece& piece) { return restored(text, piece); });
        } else if (isNoscript(renamed->kind)) {
          const KnownTag& known = knownTag(GUMBO_TAG_NOSCRIPT);
          DocumentAccess::setStaticName(*node, known.name, known.classes);
        } else if (renamed->kind == Renamed::Kind::select) {
          const KnownTag& known = knownTag(GUMBO_TAG_SELECT);
          DocumentAccess::setStaticName(*node, known.name, namespaced(known.classes, element));
        } else {
          DocumentAccess::setTagName(m_document, *node, "isindex");
        }
        m_attributes.clear();
        for (unsigned i = 0; i < element.attributes.length; ++i) {
          const auto* attribute = static_cast<const GumboAttribute*>(element.attributes.data[i]);
          m_attributes.push_back(
              {attribute->attr_namespace == GUMBO_ATTR_NAMESPACE_NONE && !restoring()
                   ? DocumentAccess::internName(m_document, attribute->name)
                   : DocumentAccess::internName(m_document,
                                                restored(attributeName(*attribute), attribute->original_name)),
               restoring() ? DocumentAccess::store(m_document, restored(attribute->value, attribute->original_value))
                           : DocumentAccess::store(m_document, attribute->value)});
        }
        if (!m_attributes.empty()) DocumentAccess::setAttributes(m_document, *node, m_attributes);
        return node;
      }
      case GUMBO_NODE_TEXT:
      case GUMBO_NODE_WHITESPACE:
      case GUMBO_NODE_CDATA:
        if (restoring()) return m_document.createText(restored(from->v.text.text, from->v.text.original_text));
        return m_document.createText(std::string_view(from->v.text.text));
      case GUMBO_NODE_COMMENT:
        if (restoring()) return m_document.createComment(restored(from->v.text.text, from->v.text.original_text));
        return m_document.createComment(from->v.text.text);
      default:
        return nullptr;
    }
  }

  // The gumbo nodes below `node`, which are not copied: a block left in
  // use would keep its whole chunk from the document.
  void releaseChildren(const GumboNode* node) {
    std::vector<const GumboNode*> pending;
    const auto push = [&](const GumboNode* parent) {
      if (parent->type != GUMBO_NODE_ELEMENT && parent->type != GUMBO_NODE_TEMPLATE) return;
      const GumboVector& children = parent->v.element.children;
      for (unsigned i = 0; i < children.length; ++i) pending.push_back(static_cast<const GumboNode*>(children.data[i]));
    };
    push(node);
    while (!pending.empty()) {
      const GumboNode* child = pending.back();
      pending.pop_back();
      push(child);
      release(child);
    }
  }

  // The gumbo node's own blocks (its children are released as they are
  // copied), as gumbo itself frees a node.
  void release(const GumboNode* node) {
    switch (node->type) {
      case GUMBO_NODE_ELEMENT:
      case GUMBO_NODE_TEMPLATE: {
        const GumboElement& element = node->v.element;
        for (unsigned i = 0; i < element.attributes.length; ++i) {
          auto* attribute = static_cast<GumboAttribute*>(element.attributes.data[i]);
          m_pool.release(const_cast<char*>(attribute->name));
          m_pool.release(const_cast<char*>(attribute->value));
          m_pool.release(attribute);
        }
        m_pool.release(element.attributes.data);
        m_pool.release(element.children.data);
        break;
      }
      case GUMBO_NODE_TEXT:
      case GUMBO_NODE_WHITESPACE:
      case GUMBO_NODE_CDATA:
      case GUMBO_NODE_COMMENT:
        m_pool.release(const_cast<char*>(node->v.text.text));
        break;
      default:
        return;  // the document node stays until the pool goes
    }
    m_pool.release(const_cast<GumboNode*>(node));
  }

  // Text of gumbo's tree as the page has it: what gumbo was given in place
  // of the page's own (see GumboInput and Placeholders) put back.
  bool restoring() const { return m_placeholders.active() || m_input.renamesEnds(); }
  std::string restored(std::string_view text, const GumboStringPiece& piece) const {
    std::string out = m_input.restored(text, piece);
    return m_placeholders.active() ? m_placeholders.restore(out) : out;
  }

  HtmlDocument& m_document;
  const GumboInput& m_input;
  const Placeholders& m_placeholders;
  SizeClassPool& m_pool;
  std::vector<Attribute> m_attributes;  // one element's, before they are stored
};

// gumbo's allocator hooks over a pool: gumbo's many small blocks come from
// large chunks, and the whole parse is given back at once, without walking
// its tree to free it node by node.
//
// gumbo does not check what its allocator returns: memory running out is
// thrown from here through gumbo's frames (the x86-64 ABI gives C
// code unwind tables, and Debian builds libgumbo with them). Nothing of the
// abandoned parse leaks: all of it lies in the pool.
void* poolAllocate(void* pool, std::size_t bytes) {
  void* block = static_cast<SizeClassPool*>(pool)->allocate(bytes);
  if (!block) throw std::bad_alloc();
  return block;
}

void poolRelease(void* pool, void* block) { static_cast<SizeClassPool*>(pool)->release(block); }

}  // namespace

std::unique_ptr<HtmlDocument> parseHtml(std::string_view bytes, const ParseOptions& options,
                                        std::string* error) {
  std::size_t bomLength = 0;
  const std::string charset = chooseCharset(bytes, options.charset, &bomLength);
  if (charset.empty()) {
    if (error) *error = "unknown charset \"" + options.charset + "\"";
    return nullptr;
  }
  bytes.remove_prefix(bomLength);
  std::string converted;
  std::string_view utf8 = bytes;
  if (charset == "UTF-16LE" || charset == "UTF-16BE") {
    converted = utf16BytesToUtf8(bytes, charset == "UTF-16BE");
    utf8 = converted;
  } else if (charset != "UTF-8") {
    std::optional<std::string> result = convertToUtf8(bytes, charset);
    if (!result && !options.charset.empty()) {
      if (error) *error = "charset \"" + options.charset + "\" is not available here";
      return nullptr;
    }
    // An encoding the converter lacks is read as if none were declared:
    // UTF-8 when the bytes are valid UTF-8, else windows-1252 (every
    // encoding browsers know keeps ASCII as it is, so no markup appears).
    if (!result && !isValidUtf8(bytes)) result = convertToUtf8(bytes, "WINDOWS-1252");
    if (result) {
      converted = std::move(*result);
      utf8 = converted;
    }
  }

  const std::size_t markupBytes = utf8.size();
  Placeholders placeholders;
  std::optional<std::string> protectedText = placeholders.protect(utf8);
  if (protectedText) utf8 = *protectedText;
  const MarkupScan scan = scanMarkup(utf8, {maxNesting, maxAttributes, maxRebuilt(utf8.size())});
  if (scan.depth > maxNesting) {
    if (error) *error = "the page nests elements more than " + std::to_string(maxNesting) + " deep";
    return nullptr;
  }
  if (scan.attributes > maxAttributes) {
    if (error) *error = "a tag of the page has more than " + std::to_string(maxAttributes) + " attributes";
    return nullptr;
  }
  if (scan.rebuilt > maxRebuilt(utf8.size())) {
    if (error) {
      *error = "the page's unclosed formatting elements would be reopened more than " +
               std::to_string(maxRebuilt(utf8.size())) + " times";
    }
    return nullptr;
  }
  GumboInput input(utf8, scan.acronymFree ? scan.isindexEnds : std::vector<std::size_t>(), scan.reopened,
                   scan.endTags);
  const bool renaming = scan.mentioned || !scan.selects.empty();
  if (renaming || !scan.endTags.empty()) {
    std::vector<Renamed> guessed;
    for (const MarkupScan::Tag& tag : scan.noscripts) {
      guessed.push_back({tag.at, tag.inHead ? Renamed::Kind::noscriptInHead : Renamed::Kind::noscriptInBody, 0, 0});
    }
    for (std::size_t at : scan.isindexes) guessed.push_back({at, Renamed::Kind::isindex, 0, 0});
    for (std::size_t at : scan.selects) guessed.push_back({at, Renamed::Kind::select, 0, 0});
    for (const MarkupScan::SelectEnd& tag : scan.selectEnds) {
      guessed.push_back({tag.at, Renamed::Kind::selectEnd, tag.select, tag.end});
    }
    std::sort(guessed.begin(), guessed.end());
    input.rename(std::move(guessed));
  }
  std::unique_ptr<SizeClassPool> pool;
  const GumboOutput* output = nullptr;
  for (int parse = 1;; ++parse) {
    pool = std::make_unique<SizeClassPool>();
    GumboOptions gumboOptions = kGumboDefaultOptions;
    gumboOptions.max_errors = 0;  // the errors are not used; recording them costs memory
    gumboOptions.allocator = poolAllocate;
    gumboOptions.deallocator = poolRelease;
    gumboOptions.userdata = pool.get();
    const std::string_view text = input.text();
    output = gumbo_parse_with_options(&gumboOptions, text.data(), text.size());
    if (!output) throw std::bad_alloc();
    if (!renaming) break;
    std::optional<std::vector<Renamed>> next = RenameCheck(input).run(output->document);
    if (!next) break;
    if (parse == maxParses) {
      if (error) *error = "the page's noscript, isindex and select tags could not be read as a browser reads them";
      return nullptr;
    }
    output = nullptr;
    pool.reset();
    input.rename(std::move(*next));
  }

  std::unique_ptr<HtmlDocument> document = HtmlDocument::create();
  // Replace the empty page with the parsed one.
  Node* root = document->root();
  while (Node* child = root->firstChild()) DocumentAccess::unlink(child);
  const GumboDocument& parsed = output->document->v.document;
  if (parsed.has_doctype) {
    const auto restored = [&](const char* text) {
      return placeholders.active() ? placeholders.restore(text) : std::string(text);
    };
    DocumentAccess::setDoctype(*document, true, restored(parsed.name), restored(parsed.public_identifier),
                               restored(parsed.system_identifier));
  }
  DocumentAccess::markupBytes(*document) = markupBytes;
  // gumbo's tree goes as it is copied: the two are never whole together, and
  // the chunks it leaves are filled with ours.
  pool->drain(&DocumentAccess::arena(*document));
  TreeCopier copier(*document, input, placeholders, *pool);
  copier.copyChildren(output->document, root);
  output = nullptr;
  pool.reset();
  DocumentAccess::invalidate(*document);
  document->setUrl(options.url);
  document->setReferrer(options.referrer);
  return document;
}

}  // namespace glintmark::html
