// Serialising the tree as HTML5.
#include <cctype>

#include "host/html/html_internal.h"

namespace glintmark::html {

namespace {

// Elements after whose start tag a parser drops one leading newline: a text
// starting with a newline needs one more to survive a round trip.
bool dropsLeadingNewline(std::string_view tag) {
  return tag == "pre" || tag == "textarea" || tag == "listing";
}

bool startsWithEndTagOf(std::u16string_view text, std::size_t at, std::string_view tag) {
  if (at + 2 + tag.size() > text.size() || text[at] != u'<' || text[at + 1] != u'/') return false;
  for (std::size_t i = 0; i < tag.size(); ++i) {
    const char16_t c = text[at + 2 + i];
    if (c >= 0x80 || std::tolower(static_cast<unsigned char>(c)) != tag[i]) return false;
  }
  return true;
}

// Raw text as written, except that an end tag of the enclosing element (only
// possible in text built through the API) is broken up so that it cannot end
// the element early.
void appendRawText(std::string& out, std::u16string_view text, std::string_view tag) {
  std::size_t from = 0;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (startsWithEndTagOf(text, i, tag)) {
      appendUtf8(out, text.substr(from, i + 1 - from));
      out += '\\';
      from = i + 1;
    }
  }
  appendUtf8(out, text.substr(from));
}

void appendComment(std::string& out, std::string_view text) {
  out += "<!--";
  // A "-->" inside (only possible in a comment built through the API) would
  // end the comment early.
  std::size_t from = 0;
  for (std::size_t at = text.find("--", from); at != std::string_view::npos; at = text.find("--", from)) {
    const bool closes = text.substr(at + 2, 1) == ">" || text.substr(at + 2, 2) == "!>";
    out.append(text.substr(from, at + 1 - from));
    if (closes) out += ' ';
    from = at + 1;
  }
  out.append(text.substr(from));
  out += "-->";
}

void enterNode(std::string& out, const Node& node) {
  switch (node.kind()) {
    case NodeKind::element:
      appendStartTag(out, node);
      if (dropsLeadingNewline(node.name()) && node.firstChild() && node.firstChild()->isText() &&
          !node.firstChild()->text().empty() && node.firstChild()->text()[0] == u'\n') {
        out += '\n';
      }
      break;
    case NodeKind::text: {
      const Node* parent = node.parent();
      if (parent && hasClass(*parent, elementClass::rawText)) {
        appendRawText(out, node.text(), parent->name());
      } else {
        escapeText(out, node.text());
      }
      break;
    }
    case NodeKind::comment:
      appendComment(out, node.name());
      break;
    case NodeKind::document:
      break;
  }
}

void leaveNode(std::string& out, const Node& node) {
  if (node.isElement()) appendEndTag(out, node);
}

}  // namespace

void escapeText(std::string& out, std::u16string_view text) {
  std::size_t from = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char* replacement = nullptr;
    switch (text[i]) {
      case u'&': replacement = "&amp;"; break;
      case u'<': replacement = "&lt;"; break;
      case u'>': replacement = "&gt;"; break;
      case u'\xA0': replacement = "&nbsp;"; break;
      default: continue;
    }
    appendUtf8(out, text.substr(from, i - from));
    out += replacement;
    from = i + 1;
  }
  appendUtf8(out, text.substr(from));
}

void escapeAttribute(std::string& out, std::string_view value) {
  // Runs without anything to escape are appended whole.
  std::size_t from = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    const char* replacement;
    if (c == '&') {
      replacement = "&amp;";
    } else if (c == '"') {
      replacement = "&quot;";
    } else if (c == '\xC2' && i + 1 < value.size() && value[i + 1] == '\xA0') {
      replacement = "&nbsp;";
    } else {
      continue;
    }
    out.append(value.substr(from, i - from));
    out += replacement;
    if (c == '\xC2') ++i;
    from = i + 1;
  }
  out.append(value.substr(from));
}

void appendStartTag(std::string& out, const Node& element) {
  out += '<';
  out += element.name();
  for (const Attribute& attribute : element.attributes()) {
    out += ' ';
    out += attribute.name;
    out += "=\"";
    escapeAttribute(out, attribute.value);
    out += '"';
  }
  out += '>';
}

void appendEndTag(std::string& out, const Node& element) {
  if (hasClass(element, elementClass::voidElement)) return;
  out += "</";
  out += element.name();
  out += '>';
}

void serializeNode(std::string& out, const Node& top) {
  const Node* node = &top;
  while (node) {
    enterNode(out, *node);
    const bool descend = !hasClass(*node, elementClass::voidElement);
    if (descend && node->firstChild()) {
      node = node->firstChild();
      continue;
    }
    // Leave this node and every ancestor whose last child it closes.
    while (true) {
      leaveNode(out, *node);
      if (node == &top) return;
      if (node->nextSibling()) {
        node = node->nextSibling();
        break;
      }
      node = node->parent();
    }
  }
}

std::string HtmlDocument::serialize() const {
  releaseIndex(*this);
  std::string out;
  // Reserved once, so that the page is never copied while it grows.
  out.reserve(m_markupBytes ? m_markupBytes + m_markupBytes / 16 + 4096
                            : m_textUnits + m_nodeCount * 16);
  if (m_hasDoctype) {
    out += "<!DOCTYPE ";
    out += m_doctypeName.empty() ? "html" : m_doctypeName;
    if (!m_doctypePublic.empty()) {
      out += " PUBLIC \"" + m_doctypePublic + "\"";
      if (!m_doctypeSystem.empty()) out += " \"" + m_doctypeSystem + "\"";
    } else if (!m_doctypeSystem.empty()) {
      out += " SYSTEM \"" + m_doctypeSystem + "\"";
    }
    out += '>';
  }
  for (const Node* child = m_root->firstChild(); child; child = child->nextSibling()) {
    serializeNode(out, *child);
  }
  return out;
}

std::string HtmlDocument::serialize(const Node* node) const {
  std::string out;
  if (node) serializeNode(out, *node);
  return out;
}

}  // namespace glintmark::html
