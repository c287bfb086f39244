// Our own parser for well-formed markup: the fragments that pasteHtml gets
// (a span around markup that this model wrote itself) and the pages that
// tests build on every platform, without gumbo.
#include <algorithm>
#include <cstdint>
#include <unordered_map>

#include "core/ascii.h"
#include "html/html_internal.h"

namespace glintmark::html {

namespace {

struct NamedReference {
  std::string_view name;
  char32_t codePoint;
};

// The character references that turn up in hand-written markup.
constexpr NamedReference namedReferences[] = {
    {"amp", U'&'},       {"lt", U'<'},        {"gt", U'>'},        {"quot", U'"'},
    {"apos", U'\''},     {"nbsp", 0xA0},      {"copy", 0xA9},      {"reg", 0xAE},
    {"trade", 0x2122},   {"hellip", 0x2026},  {"mdash", 0x2014},   {"ndash", 0x2013},
    {"lsquo", 0x2018},   {"rsquo", 0x2019},   {"ldquo", 0x201C},   {"rdquo", 0x201D},
    {"laquo", 0xAB},     {"raquo", 0xBB},     {"middot", 0xB7},    {"bull", 0x2022},
    {"euro", 0x20AC},    {"pound", 0xA3},     {"yen", 0xA5},       {"cent", 0xA2},
    {"sect", 0xA7},      {"para", 0xB6},      {"deg", 0xB0},       {"plusmn", 0xB1},
    {"times", 0xD7},     {"divide", 0xF7},    {"frac12", 0xBD},    {"frac14", 0xBC},
    {"frac34", 0xBE},    {"iexcl", 0xA1},     {"iquest", 0xBF},    {"shy", 0xAD},
    {"szlig", 0xDF},     {"Auml", 0xC4},      {"Ouml", 0xD6},      {"Uuml", 0xDC},
    {"auml", 0xE4},      {"ouml", 0xF6},      {"uuml", 0xFC},      {"Eacute", 0xC9},
    {"eacute", 0xE9},    {"Egrave", 0xC8},    {"egrave", 0xE8},    {"ecirc", 0xEA},
    {"euml", 0xEB},      {"Agrave", 0xC0},    {"agrave", 0xE0},    {"Aacute", 0xC1},
    {"aacute", 0xE1},    {"acirc", 0xE2},     {"atilde", 0xE3},    {"aring", 0xE5},
    {"aelig", 0xE6},     {"Ccedil", 0xC7},    {"ccedil", 0xE7},    {"iacute", 0xED},
    {"igrave", 0xEC},    {"icirc", 0xEE},     {"iuml", 0xEF},      {"Ntilde", 0xD1},
    {"ntilde", 0xF1},    {"Oacute", 0xD3},    {"oacute", 0xF3},    {"ograve", 0xF2},
    {"ocirc", 0xF4},     {"otilde", 0xF5},    {"oslash", 0xF8},    {"uacute", 0xFA},
    {"ugrave", 0xF9},    {"ucirc", 0xFB},     {"yacute", 0xFD},    {"yuml", 0xFF},
};

// Windows-1252 meanings of the numeric references 0x80-0x9F, as browsers
// read them.
constexpr char16_t windows1252High[32] = {
    0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

void appendCodePointUtf8(std::string& out, char32_t c) {
  std::u16string units;
  if (c < 0x10000) {
    units.push_back(static_cast<char16_t>(c));
  } else {
    units.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
    units.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
  }
  appendUtf8(out, units);
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// Decodes the reference at text[at] (which is '&'); returns the characters
// consumed, 0 when it is not a reference.
std::size_t decodeReference(std::string_view text, std::size_t at, bool inAttribute,
                            std::string& out) {
  std::size_t i = at + 1;
  if (i < text.size() && text[i] == '#') {
    ++i;
    const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
    if (hex) ++i;
    const std::size_t digitsStart = i;
    std::uint32_t value = 0;
    while (i < text.size()) {
      const char c = text[i];
      const int digit = hex ? hexDigitValue(c) : isAsciiDigit(c) ? c - '0' : -1;
      if (digit < 0) break;
      value = std::min<std::uint32_t>(value * (hex ? 16 : 10) + digit, 0x110000);
      ++i;
    }
    if (i == digitsStart) return 0;
    if (i < text.size() && text[i] == ';') ++i;
    char32_t c = value;
    if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c >= 0x80 && c <= 0x9F) c = windows1252High[c - 0x80];
    appendCodePointUtf8(out, c);
    return i - at;
  }
  std::size_t end = i;
  while (end < text.size() && isAsciiAlnum(text[end])) ++end;
  const std::string_view name = text.substr(i, end - i);
  const bool terminated = end < text.size() && text[end] == ';';
  for (const NamedReference& reference : namedReferences) {
    if (reference.name != name) continue;
    if (!terminated) {
      // Only the oldest references work without ';', and not inside an
      // attribute value where "&amp=" is part of a query string.
      const bool legacy = name == "amp" || name == "lt" || name == "gt" || name == "quot" ||
                          name == "nbsp" || name == "copy" || name == "reg";
      const bool followedByEquals = end < text.size() && text[end] == '=';
      if (!legacy || (inAttribute && followedByEquals)) return 0;
    }
    appendCodePointUtf8(out, reference.codePoint);
    return end - at + (terminated ? 1 : 0);
  }
  return 0;
}

// Implicitly closed when a sibling of the kind starts (well-formed input
// rarely relies on it, but lists and tables written by hand do).
bool closesOpenElement(std::string_view open, std::string_view starting) {
  if (open == "p") return isBlockElement(starting) && starting != "td" && starting != "th";
  if (open == "li") return starting == "li";
  if (open == "dt" || open == "dd") return starting == "dt" || starting == "dd";
  if (open == "option") return starting == "option" || starting == "optgroup";
  if (open == "td" || open == "th") return starting == "td" || starting == "th" || starting == "tr";
  if (open == "tr") return starting == "tr";
  return false;
}

class FragmentParser {
 public:
  FragmentParser(HtmlDocument& document, std::string_view text, std::vector<Node*>& out)
      : m_document(document), m_text(text), m_out(out) {}

  void run() {
    while (m_at < m_text.size()) {
      const std::size_t lt = m_text.find('<', m_at);
      if (lt == std::string_view::npos) {
        appendText(m_text.substr(m_at), true);
        break;
      }
      if (lt > m_at) appendText(m_text.substr(m_at, lt - m_at), true);
      m_at = lt;
      if (!markup()) {
        appendText("<", false);
        ++m_at;
      }
    }
  }

  std::string doctypeName;
  bool sawDoctype = false;

 private:
  void append(Node* node) {
    if (m_open.empty()) {
      m_out.push_back(node);
    } else {
      DocumentAccess::link(m_open.back(), node, nullptr);
    }
  }

  void appendText(std::string_view raw, bool decode) {
    if (raw.empty()) return;
    if (!decode || raw.find('&') == std::string_view::npos) {
      append(m_document.createText(raw));
    } else {
      append(m_document.createText(decodeCharacterReferences(raw, false)));
    }
  }

  bool startsWithIgnoringCase(std::size_t at, std::string_view prefix) const {
    if (at + prefix.size() > m_text.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
      if (lowerAscii(m_text[at + i]) != prefix[i]) return false;
    }
    return true;
  }

  // One construct starting at '<'; false when the '<' is plain text.
  bool markup() {
    const std::size_t next = m_at + 1;
    if (next >= m_text.size()) return false;
    if (m_text.compare(m_at, 4, "<!--") == 0) {
      comment();
      return true;
    }
    if (m_text[next] == '!' || m_text[next] == '?') {
      const std::size_t gt = std::min(m_text.find('>', m_at), m_text.size());
      if (startsWithIgnoringCase(m_at, "<!doctype")) {
        sawDoctype = true;
        std::string_view rest = m_text.substr(m_at + 9, gt - m_at - 9);
        while (!rest.empty() && isSpace(rest.front())) rest.remove_prefix(1);
        std::size_t n = 0;
        while (n < rest.size() && !isSpace(rest[n])) ++n;
        doctypeName.clear();
        for (char c : rest.substr(0, n)) doctypeName += lowerAscii(c);
      }
      m_at = gt < m_text.size() ? gt + 1 : gt;
      return true;
    }
    if (m_text[next] == '/') {
      if (next + 1 < m_text.size() && isAsciiAlpha(m_text[next + 1])) {
        endTag();
        return true;
      }
      // "</>" and "</ ..." are dropped, as browsers do.
      const std::size_t gt = std::min(m_text.find('>', m_at), m_text.size());
      m_at = gt < m_text.size() ? gt + 1 : gt;
      return true;
    }
    if (!isAsciiAlpha(m_text[next])) return false;
    startTag();
    return true;
  }

  void comment() {
    std::size_t from = m_at + 4;
    // "<!-->" and "<!--->" are empty comments.
    std::size_t end;
    if (m_text.compare(from, 1, ">") == 0) {
      end = from;
      m_at = from + 1;
    } else if (m_text.compare(from, 2, "->") == 0) {
      end = from;
      m_at = from + 2;
    } else {
      end = m_text.find("-->", from);
      if (end == std::string_view::npos) end = m_text.size();
      m_at = std::min(end + 3, m_text.size());
    }
    append(m_document.createComment(m_text.substr(from, end - from)));
  }

  std::string readName() {
    std::string name;
    while (m_at < m_text.size() && !isSpace(m_text[m_at]) && m_text[m_at] != '>' &&
           m_text[m_at] != '/') {
      name += lowerAscii(m_text[m_at++]);
    }
    return name;
  }

  void skipSpace() {
    while (m_at < m_text.size() && isSpace(m_text[m_at])) ++m_at;
  }

  void endTag() {
    m_at += 2;
    const std::string name = readName();
    const std::size_t gt = std::min(m_text.find('>', m_at), m_text.size());
    m_at = gt < m_text.size() ? gt + 1 : gt;
    // An end tag of no open element is dropped at once, so that stray end
    // tags cost nothing however deep the nesting.
    if (!isOpen(name)) return;
    while (!m_open.empty()) {
      const bool matches = m_open.back()->name() == name;
      pop();
      if (matches) return;
    }
  }

  void startTag() {
    ++m_at;
    const std::string name = readName();
    Node* element = m_document.createElement(name);
    bool selfClosing = false;
    while (m_at < m_text.size()) {
      skipSpace();
      if (m_at >= m_text.size()) break;
      if (m_text[m_at] == '>') {
        ++m_at;
        break;
      }
      if (m_text[m_at] == '/') {
        ++m_at;
        if (m_at < m_text.size() && m_text[m_at] == '>') {
          selfClosing = true;
          ++m_at;
          break;
        }
        continue;
      }
      std::string attributeName;
      while (m_at < m_text.size() && !isSpace(m_text[m_at]) && m_text[m_at] != '>' &&
             m_text[m_at] != '/' && (m_text[m_at] != '=' || attributeName.empty())) {
        attributeName += lowerAscii(m_text[m_at++]);
      }
      skipSpace();
      std::string_view raw;
      if (m_at < m_text.size() && m_text[m_at] == '=') {
        ++m_at;
        skipSpace();
        if (m_at < m_text.size() && (m_text[m_at] == '"' || m_text[m_at] == '\'')) {
          const char quote = m_text[m_at++];
          const std::size_t end = std::min(m_text.find(quote, m_at), m_text.size());
          raw = m_text.substr(m_at, end - m_at);
          m_at = std::min(end + 1, m_text.size());
        } else {
          const std::size_t start = m_at;
          while (m_at < m_text.size() && !isSpace(m_text[m_at]) && m_text[m_at] != '>') ++m_at;
          raw = m_text.substr(start, m_at - start);
        }
      }
      std::string decoded;
      if (raw.find('&') != std::string_view::npos) decoded = decodeCharacterReferences(raw, true);
      const std::string_view value = decoded.empty() ? raw : std::string_view(decoded);
      const bool repeated = std::any_of(m_attributes.begin(), m_attributes.end(),
                                        [&](const Attribute& a) { return a.name == attributeName; });
      if (!repeated) {
        m_attributes.push_back({DocumentAccess::internName(m_document, attributeName),
                                DocumentAccess::store(m_document, value)});
      }
    }
    if (!m_attributes.empty()) {
      DocumentAccess::setAttributes(m_document, *element, m_attributes);
      m_attributes.clear();
    }
    while (!m_open.empty() && closesOpenElement(m_open.back()->name(), name)) pop();
    append(element);
    const std::uint8_t classes = DocumentAccess::classes(*element);
    if ((classes & elementClass::voidElement) || selfClosing) return;
    if ((classes & elementClass::rawText) || name == "textarea" || name == "title") {
      rawContent(element, name);
      return;
    }
    push(element);
  }

  // Open elements are counted by name only once they nest deeper than a
  // fragment does: a scan of a few open elements costs less than a map.
  static constexpr std::size_t countingDepth = 32;

  void push(Node* element) {
    m_open.push_back(element);
    if (m_counting) {
      ++m_openCounts[element->name()];
    } else if (m_open.size() > countingDepth) {
      m_counting = true;
      for (const Node* open : m_open) ++m_openCounts[open->name()];
    }
  }

  bool isOpen(std::string_view name) const {
    if (!m_counting) {
      return std::any_of(m_open.begin(), m_open.end(), [&](const Node* n) { return n->name() == name; });
    }
    const auto open = m_openCounts.find(name);
    return open != m_openCounts.end() && open->second != 0;
  }

  void pop() {
    if (m_counting) --m_openCounts[m_open.back()->name()];
    m_open.pop_back();
  }

  // The content of a raw text element runs to its end tag.
  void rawContent(Node* element, const std::string& name) {
    std::size_t end = m_text.size();
    std::size_t after = m_text.size();
    if (name != "plaintext") {
      for (std::size_t at = m_text.find("</", m_at); at != std::string_view::npos;
           at = m_text.find("</", at + 1)) {
        if (!startsWithIgnoringCase(at + 2, name)) continue;
        const std::size_t k = at + 2 + name.size();
        if (k < m_text.size() && !isSpace(m_text[k]) && m_text[k] != '>' && m_text[k] != '/') {
          continue;
        }
        end = at;
        const std::size_t gt = m_text.find('>', k);
        after = gt == std::string_view::npos ? m_text.size() : gt + 1;
        break;
      }
    }
    const std::string_view content = m_text.substr(m_at, end - m_at);
    if (!content.empty()) {
      const bool decode = name == "textarea" || name == "title";
      DocumentAccess::link(
          element,
          m_document.createText(decode ? decodeCharacterReferences(content, false)
                                       : std::string(content)),
          nullptr);
    }
    m_at = after;
  }

  HtmlDocument& m_document;
  std::string_view m_text;
  std::vector<Node*>& m_out;
  std::vector<Node*> m_open;
  std::unordered_map<std::string_view, std::size_t> m_openCounts;  // open elements by name
  bool m_counting = false;  // whether m_openCounts is kept
  std::vector<Attribute> m_attributes;  // the start tag's, before they are stored
  std::size_t m_at = 0;
};

bool isHeadElement(const Node* node) {
  return node->is("title") || node->is("meta") || node->is("link") || node->is("base") ||
         node->is("style");
}

bool isBlankText(const Node* node) {
  if (!node->isText()) return false;
  for (char16_t c : node->text()) {
    if (c != u' ' && c != u'\t' && c != u'\n' && c != u'\r' && c != u'\f') return false;
  }
  return true;
}

void moveChildren(Node* from, Node* to) {
  while (Node* child = from->firstChild()) DocumentAccess::link(to, child, nullptr);
}

void copyAttributes(HtmlDocument& document, const Node* from, Node* to) {
  std::vector<Attribute> merged(to->attributes().begin(), to->attributes().end());
  for (const Attribute& attribute : from->attributes()) {
    if (!to->attribute(attribute.name)) merged.push_back(attribute);
  }
  DocumentAccess::setAttributes(document, *to, merged);
}

}  // namespace

std::string decodeCharacterReferences(std::string_view text, bool inAttribute) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t amp = text.find('&', i);
    if (amp == std::string_view::npos) {
      out.append(text.substr(i));
      break;
    }
    out.append(text.substr(i, amp - i));
    const std::size_t used = decodeReference(text, amp, inAttribute, out);
    if (used == 0) {
      out += '&';
      i = amp + 1;
    } else {
      i = amp + used;
    }
  }
  return out;
}

std::size_t estimateNestingDepth(std::string_view markup) {
  std::size_t depth = 0, deepest = 0;
  for (std::size_t at = markup.find('<'); at != std::string_view::npos; at = markup.find('<', at + 1)) {
    const bool endTag = at + 1 < markup.size() && markup[at + 1] == '/';
    std::size_t i = at + 1 + (endTag ? 1 : 0);
    if (i >= markup.size() || !isAsciiAlpha(markup[i])) continue;
    char buffer[16];
    std::size_t length = 0;
    while (i < markup.size() && isAsciiAlnum(markup[i]) && length < sizeof buffer) {
      buffer[length++] = lowerAscii(markup[i++]);
    }
    const std::string_view name(buffer, length);
    if (endTag) {
      if (depth) --depth;
      continue;
    }
    // Void elements and those a sibling closes do not nest.
    if (isVoidElement(name) || name == "p" || name == "li" || name == "td" || name == "th" ||
        name == "tr" || name == "option" || name == "dt" || name == "dd") {
      continue;
    }
    deepest = std::max(deepest, ++depth);
  }
  return deepest;
}

void parseFragment(HtmlDocument& document, std::string_view utf8, std::vector<Node*>& out) {
  FragmentParser parser(document, utf8, out);
  parser.run();
}

std::unique_ptr<HtmlDocument> parseSimpleHtml(std::string_view utf8) {
  if (utf8.substr(0, 3) == "\xEF\xBB\xBF") utf8.remove_prefix(3);
  std::unique_ptr<HtmlDocument> document = HtmlDocument::create();
  std::vector<Node*> nodes;
  FragmentParser parser(*document, utf8, nodes);
  parser.run();
  if (parser.sawDoctype) document->setDoctype(parser.doctypeName);

  Node* html = document->documentElement();
  Node* head = document->head();
  Node* body = document->body();
  // The page's own html element lends its attributes and its children.
  std::vector<Node*> content;
  for (Node* node : nodes) {
    if (node->is("html")) {
      copyAttributes(*document, node, html);
      for (Node* child = node->firstChild(); child; child = child->nextSibling()) {
        content.push_back(child);
      }
    } else {
      content.push_back(node);
    }
  }
  bool inBody = false;
  for (Node* node : content) {
    if (node->is("head")) {
      copyAttributes(*document, node, head);
      moveChildren(node, head);
    } else if (node->is("body")) {
      copyAttributes(*document, node, body);
      moveChildren(node, body);
      inBody = true;
    } else if (node->is("frameset")) {
      DocumentAccess::link(html, node, body);
      DocumentAccess::unlink(body);
      body = node;
      inBody = true;
    } else if (!inBody && isHeadElement(node)) {
      DocumentAccess::link(head, node, nullptr);
    } else if (!inBody && (isBlankText(node) || node->kind() == NodeKind::comment)) {
      // White space and comments between the parts of the page stay out of
      // the body.
      continue;
    } else {
      DocumentAccess::link(body, node, nullptr);
      inBody = true;
    }
  }
  DocumentAccess::invalidate(*document);
  return document;
}

}  // namespace glintmark::html
