// parseHtml on Linux: the page converted to UTF-8 and parsed by gumbo, as a
// browser parses it, then copied into our own tree.
#include <gumbo.h>

#include <memory>
#include <new>
#include <utility>

#include "core/ascii.h"
#include "html/arena.h"
#include "html/charset.h"
#include "html/html_internal.h"

namespace glintmark::html {

namespace {

constexpr std::size_t maxGumboNesting = 4096;

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

// The element's name: gumbo's own static names for the tags it knows, else
// the name as written, lowercased and stored once in the document.
void setElementName(HtmlDocument& document, Node& node, const GumboElement& element) {
  if (element.tag != GUMBO_TAG_UNKNOWN && element.tag_namespace != GUMBO_NAMESPACE_SVG) {
    const KnownTag& known = knownTag(element.tag);
    DocumentAccess::setStaticName(node, known.name, known.classes);
    return;
  }
  GumboStringPiece piece = element.original_tag;
  if (piece.data && piece.length) gumbo_tag_from_original_text(&piece);
  if (element.tag_namespace == GUMBO_NAMESPACE_SVG && piece.data && piece.length) {
    if (const char* adjusted = gumbo_normalize_svg_tagname(&piece)) {
      DocumentAccess::setStaticName(node, adjusted, classifyElement(adjusted));
      return;
    }
  }
  if (element.tag != GUMBO_TAG_UNKNOWN) {
    const KnownTag& known = knownTag(element.tag);
    DocumentAccess::setStaticName(node, known.name, known.classes);
    return;
  }
  if (!piece.data) {
    DocumentAccess::setStaticName(node, "unknown", 0);
    return;
  }
  DocumentAccess::setTagName(document, node, lowerAscii(std::string_view(piece.data, piece.length)));
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

struct NoscriptContent {
  Node* element;
  bool haveSource;
  std::string_view source;
};

class TreeCopier {
 public:
  // `pool` holds gumbo's tree, and is draining: each gumbo node is released
  // once copied, so that gumbo's memory goes back as ours grows.
  TreeCopier(HtmlDocument& document, std::string_view source, SizeClassPool& pool)
      : m_document(document), m_source(source), m_pool(pool) {}

  void copyChildren(const GumboNode* from, Node* to) {
    // Explicit stack: pages nest deeper than the call stack allows.
    std::vector<std::pair<const GumboNode*, Node*>> pending;
    pushChildren(from, to, pending);
    while (!pending.empty()) {
      auto [gumboNode, parent] = pending.back();
      pending.pop_back();
      Node* node = copyNode(gumboNode);
      if (node) {
        DocumentAccess::link(parent, node, nullptr);
        if (node->isElement()) pushChildren(gumboNode, node, pending);
      }
      release(gumboNode);
    }
  }

  // noscript content becomes the raw text it was written as: a browser with
  // scripting on shows none of it, and gumbo parsed it as elements.
  void flattenNoscript() {
    for (const NoscriptContent& content : m_noscripts) {
      std::string raw;
      if (content.haveSource) {
        raw = std::string(content.source);
      } else {
        for (const Node* child = content.element->firstChild(); child; child = child->nextSibling()) {
          serializeNode(raw, *child);
        }
      }
      while (Node* child = content.element->firstChild()) DocumentAccess::unlink(child);
      if (!raw.empty()) DocumentAccess::link(content.element, m_document.createText(raw), nullptr);
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

  Node* copyNode(const GumboNode* from) {
    switch (from->type) {
      case GUMBO_NODE_ELEMENT:
      case GUMBO_NODE_TEMPLATE: {
        const GumboElement& element = from->v.element;
        Node* node = DocumentAccess::newNode(m_document, NodeKind::element);
        setElementName(m_document, *node, element);
        m_attributes.clear();
        for (unsigned i = 0; i < element.attributes.length; ++i) {
          const auto* attribute = static_cast<const GumboAttribute*>(element.attributes.data[i]);
          m_attributes.push_back(
              {attribute->attr_namespace == GUMBO_ATTR_NAMESPACE_NONE
                   ? DocumentAccess::internName(m_document, attribute->name)
                   : DocumentAccess::internName(m_document, attributeName(*attribute)),
               DocumentAccess::store(m_document, attribute->value)});
        }
        if (!m_attributes.empty()) DocumentAccess::setAttributes(m_document, *node, m_attributes);
        if (element.tag == GUMBO_TAG_NOSCRIPT) m_noscripts.push_back(noscriptSource(node, element));
        return node;
      }
      case GUMBO_NODE_TEXT:
      case GUMBO_NODE_WHITESPACE:
      case GUMBO_NODE_CDATA:
        return m_document.createText(std::string_view(from->v.text.text));
      case GUMBO_NODE_COMMENT:
        return m_document.createComment(from->v.text.text);
      default:
        return nullptr;
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

  NoscriptContent noscriptSource(Node* node, const GumboElement& element) const {
    const char* begin = element.original_tag.data;
    const char* end = element.original_end_tag.data;
    const char* sourceBegin = m_source.data();
    const char* sourceEnd = m_source.data() + m_source.size();
    if (!begin || !end || !element.original_tag.length || !element.original_end_tag.length ||
        begin < sourceBegin || end > sourceEnd) {
      return {node, false, {}};
    }
    begin += element.original_tag.length;
    if (begin > end) return {node, false, {}};
    return {node, true, std::string_view(begin, static_cast<std::size_t>(end - begin))};
  }

  HtmlDocument& m_document;
  std::string_view m_source;
  SizeClassPool& m_pool;
  std::vector<NoscriptContent> m_noscripts;
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

  if (estimateNestingDepth(utf8) > maxGumboNesting) {
    // gumbo's time grows with the square of the nesting depth (100,000 nested
    // divs take a minute): such a page is read by our own linear parser.
    std::unique_ptr<HtmlDocument> document = parseSimpleHtml(utf8);
    document->setUrl(options.url);
    document->setReferrer(options.referrer);
    return document;
  }
  auto pool = std::make_unique<SizeClassPool>();
  GumboOptions gumboOptions = kGumboDefaultOptions;
  gumboOptions.max_errors = 0;  // the errors are not used; recording them costs memory
  gumboOptions.allocator = poolAllocate;
  gumboOptions.deallocator = poolRelease;
  gumboOptions.userdata = pool.get();
  const GumboOutput* output = gumbo_parse_with_options(&gumboOptions, utf8.data(), utf8.size());
  if (!output) throw std::bad_alloc();

  std::unique_ptr<HtmlDocument> document = HtmlDocument::create();
  // Replace the empty page with the parsed one.
  Node* root = document->root();
  while (Node* child = root->firstChild()) DocumentAccess::unlink(child);
  const GumboDocument& parsed = output->document->v.document;
  if (parsed.has_doctype) {
    DocumentAccess::setDoctype(*document, true, parsed.name, parsed.public_identifier,
                               parsed.system_identifier);
  }
  DocumentAccess::markupBytes(*document) = utf8.size();
  // gumbo's tree goes as it is copied: the two are never whole together, and
  // the chunks it leaves are filled with ours.
  pool->drain(&DocumentAccess::arena(*document));
  TreeCopier copier(*document, utf8, *pool);
  copier.copyChildren(output->document, root);
  output = nullptr;
  pool.reset();
  copier.flattenNoscript();
  DocumentAccess::invalidate(*document);
  document->setUrl(options.url);
  document->setReferrer(options.referrer);
  return document;
}

}  // namespace glintmark::html
