// Serialising the tree as HTML5.
#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>

#include "core/ascii.h"
#include "core/utf.h"
#include "html/charset.h"
#include "html/html_internal.h"
#include "html/script_data.h"
#include "html/vectors.h"

namespace glintmark::html {

namespace {

// Elements after whose start tag a parser drops one leading newline: a text
// starting with a newline needs one more to survive a round trip.
bool dropsLeadingNewline(std::string_view tag) {
  return tag == "pre" || tag == "textarea" || tag == "listing";
}

// An end tag of `tag` at `at` that would end the element's raw text.
bool endsRawTextAt(std::u16string_view text, std::size_t at, std::string_view tag) {
  return at + 2 < text.size() && text[at] == u'<' && text[at + 1] == u'/' && tagNameAt(text, at + 2, tag);
}

// Markup goes to one of two outputs, each with room(bytes) (where up to that
// many bytes may be written next), done(end) (what was written ends there)
// and put (a character or a run of them):
// - StringOut appends to a string (the markup of a node, a range's htmlText);
// - StreamOut fills a buffer of its own and hands it to the caller's writer
//   whenever it is full (a whole page, which need never be whole in memory).
class StringOut {
 public:
  explicit StringOut(std::string& out) : m_out(out) {}
  static constexpr bool declareUtf8 = false;
  char* room(std::size_t bytes) {
    m_size = m_out.size();
    m_out.resize(m_size + bytes);
    return m_out.data() + m_size;
  }
  void done(char* end) { m_out.resize(static_cast<std::size_t>(end - m_out.data())); }
  void put(char c) { m_out += c; }
  void put(std::string_view text) { m_out += text; }

 private:
  std::string& m_out;
  std::size_t m_size = 0;
};

class StreamOut {
 public:
  static constexpr std::size_t capacity = 64 * 1024;
  explicit StreamOut(const std::function<bool(std::string_view)>& write)
      : m_write(write), m_buffer(new char[capacity]), m_next(m_buffer.get()), m_end(m_next + capacity) {}
  // Whether charset declarations are written as UTF-8's (Charsets::declareUtf8).
  bool declareUtf8 = false;
  // bytes: at most capacity.
  char* room(std::size_t bytes) {
    if (static_cast<std::size_t>(m_end - m_next) < bytes) flush();
    return m_next;
  }
  void done(char* end) { m_next = end; }
  void put(char c) {
    if (m_next == m_end) flush();
    *m_next++ = c;
  }
  void put(std::string_view text) {
    if (text.empty()) return;  // its data may be null, which memcpy must not see
    if (text.size() > static_cast<std::size_t>(m_end - m_next)) {
      flush();
      if (text.size() > capacity) {
        hand(text);
        return;
      }
    }
    std::memcpy(m_next, text.data(), text.size());
    m_next += text.size();
  }
  // Hands on what is buffered; false once the writer has refused anything.
  bool flush() {
    hand({m_buffer.get(), static_cast<std::size_t>(m_next - m_buffer.get())});
    m_next = m_buffer.get();
    return !m_failed;
  }

 private:
  void hand(std::string_view bytes) {
    if (!m_failed && !bytes.empty() && !m_write(bytes)) m_failed = true;
  }

  const std::function<bool(std::string_view)>& m_write;
  std::unique_ptr<char[]> m_buffer;
  char* m_next;
  char* m_end;
  bool m_failed = false;
};

// What text needs escaped in markup (& < >; no-break space is told apart
// among the non-ASCII units) and in attribute values (& "; the lead byte of
// a no-break space). A carriage return is written as a reference in both: a
// parser reads a raw one as a line feed.
constexpr auto textSpecials = [] {
  std::array<bool, 128> table{};
  table['&'] = table['<'] = table['>'] = table['\r'] = true;
  return table;
}();
constexpr auto attributeSpecials = [] {
  std::array<bool, 256> table{};
  table['&'] = table['"'] = table['\r'] = table[0xC2] = true;
  return table;
}();

// One unit of writeText (two for a surrogate pair, `i` left at the second).
template <bool escape>
[[gnu::always_inline]] inline void writeUnit(char*& p, std::u16string_view text, std::size_t& i) {
  const char16_t c = text[i];
  if (escape && c < 0x80 && textSpecials[c]) {
    const std::string_view reference = c == u'&'   ? "&amp;"
                                       : c == u'<' ? "&lt;"
                                       : c == u'>' ? "&gt;"
                                                   : "&#13;";
    std::memcpy(p, reference.data(), reference.size());
    p += reference.size();
  } else if (escape && c == 0xA0) {
    std::memcpy(p, "&nbsp;", 6);
    p += 6;
  } else {
    putUtf8(p, text, i);
  }
}

// UTF-16 text as UTF-8, escaped for markup when `escape` (& < > and no-break
// space as references), in one pass; a lone surrogate becomes U+FFFD.
template <bool escape, typename Out>
void writeText(Out& out, std::u16string_view text) {
  // In blocks, each given room for its worst case (&nbsp; for each unit).
  constexpr std::size_t block = 1024;
  for (std::size_t from = 0; from < text.size();) {
    std::size_t to = std::min(text.size(), from + block);
    // A surrogate pair is never cut in two.
    if (to < text.size() && text[to - 1] >= 0xD800 && text[to - 1] <= 0xDBFF) ++to;
    char* p = out.room(6 * (to - from));
    for (std::size_t i = from; i < to;) {
      if (i + 8 <= to) {
        // Eight units of plain ASCII (nothing to escape) are eight bytes.
        const vectors::Units units = vectors::load(text.data() + i);
        vectors::Mask special = units >= vectors::splat(0x80);
        if (escape) {
          special |= (units == vectors::splat(u'&')) | (units == vectors::splat(u'<')) |
                     (units == vectors::splat(u'>')) | (units == vectors::splat(u'\r'));
        }
        if (!vectors::any(special)) {
          vectors::storeBytes(p, units);
          p += 8;
          i += 8;
          continue;
        }
      }
      // Else up to eight units one by one.
      for (const std::size_t stop = std::min(to, i + 8); i < stop; ++i) {
        writeUnit<escape>(p, text, i);
      }
    }
    out.done(p);
    from = to;
  }
}

// Raw text as written, except that an end tag of the enclosing element that
// would end it early (only possible in text built through the API: a parsed
// element's text never holds one) is broken up by a backslash.
template <typename Out>
void writeRawText(Out& out, std::u16string_view text, std::string_view tag) {
  std::size_t from = 0;
  const auto breakAt = [&](std::size_t at) {
    writeText<false>(out, text.substr(from, at + 1 - from));
    out.put('\\');
    from = at + 1;
  };
  if (tag == "script") {
    scriptEnds(text, [&](std::size_t at) {
      breakAt(at);
      return true;
    });
  } else {
    for (std::size_t i = text.find(u"</"); i != std::u16string_view::npos; i = text.find(u"</", i + 1)) {
      if (endsRawTextAt(text, i, tag)) breakAt(i);
    }
  }
  writeText<false>(out, text.substr(from));
}

template <typename Out>
void writeComment(Out& out, std::string_view text) {
  out.put("<!--");
  // A "-->" inside (only possible in a comment built through the API) would
  // end the comment early.
  std::size_t from = 0;
  for (std::size_t at = text.find("--", from); at != std::string_view::npos; at = text.find("--", from)) {
    const bool closes = text.substr(at + 2, 1) == ">" || text.substr(at + 2, 2) == "!>";
    out.put(text.substr(from, at + 1 - from));
    if (closes) out.put(' ');
    from = at + 1;
  }
  out.put(text.substr(from));
  out.put("-->");
}

// The first char at or after `from` that attributeSpecials marks, or the
// value's size: sixteen chars at a time, then one by one.
std::size_t nextAttributeSpecial(std::string_view value, std::size_t from) {
  std::size_t i = from;
  for (; i + 16 <= value.size(); i += 16) {
    const vectors::Chars chars = vectors::loadChars(value.data() + i);
    if (vectors::any((chars == vectors::splatChar('&')) | (chars == vectors::splatChar('"')) |
                     (chars == vectors::splatChar('\r')) | (chars == vectors::splatChar(0xC2)))) {
      break;
    }
  }
  while (i < value.size() && !attributeSpecials[static_cast<unsigned char>(value[i])]) ++i;
  return i;
}

template <typename Out>
void writeAttributeValue(Out& out, std::string_view value) {
  // Runs without anything to escape are written whole.
  std::size_t from = 0;
  for (std::size_t i = nextAttributeSpecial(value, 0); i < value.size();
       i = nextAttributeSpecial(value, i + 1)) {
    const char c = value[i];
    std::string_view replacement;
    if (c == '&') {
      replacement = "&amp;";
    } else if (c == '"') {
      replacement = "&quot;";
    } else if (c == '\r') {
      replacement = "&#13;";
    } else if (i + 1 < value.size() && value[i + 1] == '\xA0') {
      replacement = "&nbsp;";
    } else {
      continue;
    }
    out.put(value.substr(from, i - from));
    out.put(replacement);
    if (c == '\xC2') ++i;
    from = i + 1;
  }
  out.put(value.substr(from));
}

// A meta element's charset declaration as it must read in a page written
// in UTF-8: the name of the attribute to write with `value` instead of its
// own, or empty when the declaration stands (none, or it names UTF-8). A
// charset attribute is the declaration when there is one; else the charset
// in a content attribute.
std::string_view utf8Declaration(const Node& meta, std::string& value) {
  if (const std::string_view* charset = meta.attribute("charset")) {
    if (canonicalCharset(*charset) == "UTF-8") return {};
    value = "utf-8";
    return "charset";
  }
  const std::string_view* content = meta.attribute("content");
  if (!content) return {};
  const auto label = charsetInContent(*content);
  if (!label || canonicalCharset(content->substr(label->first, label->second)) == "UTF-8") return {};
  value.assign(*content);
  value.replace(label->first, label->second, "utf-8");
  return "content";
}

template <typename Out>
void writeStartTag(Out& out, const Node& element) {
  std::string relabelled;
  std::string_view relabel;
  if (out.declareUtf8 && element.is("meta")) relabel = utf8Declaration(element, relabelled);
  out.put('<');
  out.put(element.name());
  for (const Attribute& attribute : element.attributes()) {
    out.put(' ');
    out.put(attribute.name);
    out.put("=\"");
    writeAttributeValue(out, !relabel.empty() && attribute.name == relabel ? relabelled : attribute.value);
    out.put('"');
  }
  out.put('>');
}

template <typename Out>
void writeEndTag(Out& out, const Node& element) {
  if (hasClass(element, elementClass::voidElement)) return;
  out.put("</");
  out.put(element.name());
  out.put('>');
}

template <typename Out>
void enterNode(Out& out, const Node& node) {
  switch (node.kind()) {
    case NodeKind::element:
      writeStartTag(out, node);
      if (node.firstChild() && node.firstChild()->isText() && !node.firstChild()->text().empty() &&
          node.firstChild()->text()[0] == u'\n' && dropsLeadingNewline(node.name())) {
        out.put('\n');
      }
      break;
    case NodeKind::text: {
      const Node* parent = node.parent();
      if (parent && hasClass(*parent, elementClass::rawText)) {
        writeRawText(out, node.text(), parent->name());
      } else {
        writeText<true>(out, node.text());
      }
      break;
    }
    case NodeKind::comment:
      writeComment(out, node.name());
      break;
    case NodeKind::document:
      break;
  }
}

// Writes the node and its descendants; true when the markup had to end there:
// nothing ends a <plaintext> (a parser reads all that follows its start tag
// as its text), so nothing is written after its content, not even end tags.
template <typename Out>
bool writeNode(Out& out, const Node& top) {
  const Node* node = &top;
  while (node) {
    // The nodes written next, fetched while this one is written: nodes made
    // after the page was read (the spans of a highlighted page) lie apart
    // from their neighbours in memory.
    __builtin_prefetch(node->firstChild());
    __builtin_prefetch(node->nextSibling());
    enterNode(out, *node);
    const bool descend = !hasClass(*node, elementClass::voidElement);
    if (descend && node->firstChild()) {
      node = node->firstChild();
      continue;
    }
    // Leave this node and every ancestor whose last child it closes.
    while (true) {
      if (node->is("plaintext") && hasClass(*node, elementClass::rawText)) return true;
      if (node->isElement()) writeEndTag(out, *node);
      if (node == &top) return false;
      if (node->nextSibling()) {
        node = node->nextSibling();
        break;
      }
      node = node->parent();
    }
  }
  return false;
}

template <typename Out>
void writeDocument(Out& out, const HtmlDocument& document, bool hasDoctype, const std::string& name,
                   const std::string& publicId, const std::string& systemId) {
  if (hasDoctype) {
    out.put("<!DOCTYPE ");
    out.put(name.empty() ? std::string_view("html") : std::string_view(name));
    if (!publicId.empty()) {
      out.put(" PUBLIC \"");
      out.put(publicId);
      out.put('"');
      if (!systemId.empty()) {
        out.put(" \"");
        out.put(systemId);
        out.put('"');
      }
    } else if (!systemId.empty()) {
      out.put(" SYSTEM \"");
      out.put(systemId);
      out.put('"');
    }
    out.put('>');
  }
  for (const Node* child = document.root()->firstChild(); child; child = child->nextSibling()) {
    if (writeNode(out, *child)) return;
  }
}

}  // namespace

void escapeText(std::string& out, std::u16string_view text) {
  StringOut to(out);
  writeText<true>(to, text);
}

void escapeAttribute(std::string& out, std::string_view value) {
  StringOut to(out);
  writeAttributeValue(to, value);
}

void appendStartTag(std::string& out, const Node& element) {
  StringOut to(out);
  writeStartTag(to, element);
}

void appendEndTag(std::string& out, const Node& element) {
  StringOut to(out);
  writeEndTag(to, element);
}

void serializeNode(std::string& out, const Node& top) {
  StringOut to(out);
  writeNode(to, top);
}

std::string HtmlDocument::serialize() const {
  releaseIndex(*this);
  std::string out;
  // Reserved once, so that the page is never copied while it grows.
  out.reserve(m_markupBytes ? m_markupBytes + m_markupBytes / 16 + 4096
                            : m_textUnits + m_nodeCount * 16);
  StringOut to(out);
  writeDocument(to, *this, m_hasDoctype, m_doctypeName, m_doctypePublic, m_doctypeSystem);
  return out;
}

bool HtmlDocument::serialize(const std::function<bool(std::string_view)>& write,
                             Charsets charsets) const {
  releaseIndex(*this);
  StreamOut to(write);
  to.declareUtf8 = charsets == Charsets::declareUtf8;
  writeDocument(to, *this, m_hasDoctype, m_doctypeName, m_doctypePublic, m_doctypeSystem);
  return to.flush();
}

std::string HtmlDocument::serialize(const Node* node) const {
  std::string out;
  if (node) serializeNode(out, *node);
  return out;
}

}  // namespace glintmark::html
