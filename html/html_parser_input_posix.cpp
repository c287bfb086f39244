// The scan of a page for the tags gumbo must be given renamed (see
// html_parser_input.h), and its estimate of the page's nesting.
#include "html/html_parser_input.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <unordered_map>

namespace glintmark::html {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }
bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char lowered(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool in(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool isVoid(std::string_view n) {
  return in(n, {"area", "base", "basefont", "bgsound", "br", "col", "embed", "frame", "hr", "img",
                "input", "keygen", "link", "meta", "param", "source", "track", "wbr"});
}

// Elements an end tag of another kind does not walk past.
bool isSpecial(std::string_view n) {
  return in(n, {"address", "applet", "area", "article", "aside", "base", "basefont", "bgsound",
                "blockquote", "body", "br", "button", "caption", "center", "col", "colgroup", "dd",
                "details", "dir", "div", "dl", "dt", "embed", "fieldset", "figcaption", "figure",
                "footer", "form", "frame", "frameset", "h1", "h2", "h3", "h4", "h5", "h6", "head",
                "header", "hgroup", "hr", "html", "iframe", "img", "input", "li", "link", "listing",
                "main", "marquee", "menu", "meta", "nav", "object", "ol", "p", "param", "pre",
                "search", "section", "select", "source", "summary", "table", "tbody", "td",
                "template", "tfoot", "th", "thead", "tr", "track", "ul", "wbr", "svg", "math"});
}

bool isScopeMarker(std::string_view n) {
  return in(n, {"applet", "caption", "html", "table", "td", "th", "marquee", "object", "template"});
}

bool isFormatting(std::string_view n) {
  return in(n, {"a", "b", "big", "code", "em", "font", "i", "nobr", "s", "small", "strike", "strong",
                "tt", "u"});
}

// Start tags that leave SVG or MathML content for HTML.
bool breaksOutOfForeign(std::string_view n) {
  return in(n, {"b", "big", "blockquote", "body", "br", "center", "code", "dd", "div", "dl", "dt",
                "em", "embed", "h1", "h2", "h3", "h4", "h5", "h6", "head", "hr", "i", "img", "li",
                "listing", "menu", "meta", "nobr", "ol", "p", "pre", "ruby", "s", "small", "span",
                "strong", "strike", "sub", "sup", "table", "tt", "u", "ul", "var"});
}

bool startsWithName(std::string_view text, std::size_t at, std::string_view name) {
  if (at + name.size() > text.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (lowered(text[at + i]) != name[i]) return false;
  }
  return true;
}

bool endsName(std::string_view text, std::size_t at) {
  return at < text.size() && (isSpace(text[at]) || text[at] == '/' || text[at] == '>');
}

// The stack of open elements as the scan counts it.
class Nesting {
 public:
  std::size_t deepest = 0;

  void start(std::string_view name) {
    if (isVoid(name)) return;
    // Table parts outside a table are dropped.
    if (in(name, {"td", "th", "tr", "tbody", "thead", "tfoot", "caption", "colgroup"}) &&
        std::find(m_open.begin(), m_open.end(), "table") == m_open.end()) {
      return;
    }
    // A list item closes the open one of its kind, below any inline or
    // address, div and p elements.
    if (in(name, {"li", "dd", "dt"})) {
      for (std::size_t i = m_open.size(); i-- > 0;) {
        const std::string_view open = m_open[i];
        if (name == "li" ? open == "li" : in(open, {"dd", "dt"})) {
          popTo(i);
          break;
        }
        if (isSpecial(open) && !in(open, {"address", "div", "p"})) break;
      }
    }
    if (!m_open.empty()) {
      // Elements their next sibling closes.
      const std::string_view top = m_open.back();
      if ((top == name && in(name, {"p", "li", "option", "optgroup", "tr", "dt", "dd", "rb", "rt", "rp"})) ||
          (in(top, {"td", "th"}) && in(name, {"td", "th", "tr"})) || (in(top, {"dt", "dd"}) && in(name, {"dt", "dd"}))) {
        popTo(m_open.size() - 1);
      }
    }
    push(name);
  }

  void end(std::string_view name) {
    // An end tag of nothing open (the usual stray one) costs no walk.
    if (!isOpen(name)) return;
    for (std::size_t i = m_open.size(); i-- > 0;) {
      const std::string_view open = m_open[i];
      if (open == name) {
        if (isFormatting(name) && i + 1 != m_open.size()) {
          // The adoption agency takes the element out and keeps what it held.
          --m_counts[m_open[i]];
          m_open.erase(m_open.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
          popTo(i);
        }
        return;
      }
      if (isScopeMarker(open)) return;
      if (!isSpecial(name) && !isFormatting(name) && isSpecial(open)) return;
    }
  }

  void push(std::string_view name) {
    m_open.emplace_back(name);
    ++m_counts[m_open.back()];
    deepest = std::max(deepest, m_open.size());
  }

  // Whether an element of that name is open, by a count of the open
  // elements of each name kept as the stack changes (see popTo).
  bool isOpen(std::string_view name) const {
    const auto it = m_counts.find(std::string(name));
    return it != m_counts.end() && it->second > 0;
  }
  std::size_t size() const { return m_open.size(); }
  std::string_view top() const { return m_open.empty() ? std::string_view() : m_open.back(); }
  void popTo(std::size_t size) {
    while (m_open.size() > size) {
      --m_counts[m_open.back()];
      m_open.pop_back();
    }
  }

 private:
  std::vector<std::string> m_open;  // names are short: no allocation each
  std::unordered_map<std::string, std::size_t> m_counts;
};

}  // namespace

std::size_t commentEnd(std::string_view s, std::size_t from) {
  for (std::size_t at = s.find("--", from); at != std::string_view::npos; at = s.find("--", at + 1)) {
    if (s.compare(at + 2, 1, ">") == 0) return at + 3;
    if (s.compare(at + 2, 2, "!>") == 0) return at + 4;
  }
  return std::string_view::npos;
}

std::size_t startTagEnd(std::string_view s, std::size_t at) {
  std::size_t i = at + 1;
  while (i < s.size() && !isSpace(s[i]) && s[i] != '/' && s[i] != '>') ++i;  // the name
  // Attributes: a quote matters only where a value starts (after "=").
  while (i < s.size()) {
    const char c = s[i];
    if (c == '>') return i + 1;
    if (c == '=') {
      ++i;
      while (i < s.size() && isSpace(s[i])) ++i;
      if (i < s.size() && (s[i] == '"' || s[i] == '\'')) {
        const std::size_t close = s.find(s[i], i + 1);
        if (close == std::string_view::npos) return std::string_view::npos;
        i = close + 1;
      }
      continue;
    }
    ++i;
  }
  return std::string_view::npos;
}

std::size_t rawTextEnd(std::string_view s, std::size_t from, std::string_view tag) {
  for (std::size_t at = s.find("</", from); at != std::string_view::npos; at = s.find("</", at + 1)) {
    if (startsWithName(s, at + 2, tag) && endsName(s, at + 2 + tag.size())) return at;
  }
  return s.size();
}

MarkupScan scanMarkup(std::string_view s, std::size_t maxDepth) {
  MarkupScan scan;
  Nesting nesting;
  bool inHead = true;
  std::size_t foreignBase = 0;  // the stack's size outside the svg or math element, when in one
  bool foreign = false;
  std::string name;
  // Every "<isindex" is a guess (the parser's check drops those that were
  // not tags): gumbo's expansion of one cannot be told from its tree.
  for (std::size_t at = s.find('<'); at != std::string_view::npos; at = s.find('<', at + 1)) {
    if (startsWithName(s, at + 1, "noscript")) scan.mentioned = true;
    if (startsWithName(s, at + 1, "isindex") && endsName(s, at + 8)) {
      scan.mentioned = true;
      scan.isindexes.push_back(at);
    }
  }
  for (std::size_t at = s.find('<'); at != std::string_view::npos && at + 1 < s.size();) {
    // Text before this tag leaves the head unless it is all spaces.
    const char next = s[at + 1];
    if (next == '!') {
      std::size_t end;
      if (s.compare(at, 4, "<!--") == 0) {
        if (s.compare(at + 4, 1, ">") == 0 || s.compare(at + 4, 2, "->") == 0) {
          end = s.find('>', at + 4) + 1;
        } else {
          const std::size_t close = commentEnd(s, at + 4);
          end = close == std::string_view::npos ? s.size() : close;
        }
      } else if (foreign && s.compare(at, 9, "<![CDATA[") == 0) {
        const std::size_t close = s.find("]]>", at + 9);
        end = close == std::string_view::npos ? s.size() : close + 3;
      } else {
        const std::size_t close = s.find('>', at + 2);
        end = close == std::string_view::npos ? s.size() : close + 1;
      }
      at = s.find('<', end);
      continue;
    }
    if (next == '?' || (next == '/' && at + 2 < s.size() && !isAlpha(s[at + 2]) && s[at + 2] != '>')) {
      const std::size_t close = s.find('>', at + 1);
      at = close == std::string_view::npos ? close : s.find('<', close + 1);
      continue;
    }
    const bool endTag = next == '/';
    const std::size_t nameAt = at + (endTag ? 2 : 1);
    if (nameAt >= s.size() || !isAlpha(s[nameAt])) {
      at = s.find('<', at + 1);
      continue;
    }
    name.clear();
    std::size_t i = nameAt;
    while (i < s.size() && !isSpace(s[i]) && s[i] != '/' && s[i] != '>') name += lowered(s[i++]);
    const std::size_t tagEnd = startTagEnd(s, at);
    if (tagEnd == std::string_view::npos) break;
    if (inHead) {
      // Text between the last tag and this one.
      const std::size_t before = s.rfind('>', at);
      for (std::size_t t = before == std::string_view::npos ? 0 : before + 1; t < at; ++t) {
        if (!isSpace(s[t])) {
          inHead = false;
          break;
        }
      }
    }
    if (endTag) {
      if (in(name, {"head", "body", "html", "br"})) inHead = false;
      if (foreign) {
        if (nesting.top() == name) nesting.popTo(nesting.size() - 1);
        if (nesting.size() <= foreignBase) foreign = false;
      } else {
        nesting.end(name);
      }
      at = s.find('<', tagEnd);
      continue;
    }
    const bool selfClosing = tagEnd >= 2 && s[tagEnd - 2] == '/';
    std::size_t resume = tagEnd;
    if (foreign && breaksOutOfForeign(name)) {
      nesting.popTo(foreignBase);
      foreign = false;
    }
    if (!in(name, {"html", "head", "base", "basefont", "bgsound", "link", "meta", "noframes", "script",
                   "style", "template", "title", "noscript"})) {
      inHead = false;
    }
    if (foreign) {
      if (!selfClosing) nesting.push(name);
    } else if (name == "svg" || name == "math") {
      if (!selfClosing) {
        foreignBase = nesting.size();
        nesting.push(name);
        foreign = true;
      }
    } else if (name == "plaintext") {
      break;
    } else if (in(name, {"script", "style", "xmp", "iframe", "noembed", "noframes", "title", "textarea",
                         "noscript"})) {
      if (name == "noscript") scan.noscripts.push_back({at, inHead});
      const std::size_t end = rawTextEnd(s, tagEnd, name);
      resume = end == s.size() ? end : startTagEnd(s, end + 1);
      if (resume == std::string_view::npos) break;
    } else {
      nesting.start(name);
    }
    if (nesting.deepest > maxDepth) break;  // refused: the rest does not matter
    at = s.find('<', resume);
  }
  scan.depth = nesting.deepest;
  return scan;
}

}  // namespace glintmark::html
