// The scan of a page for the tags gumbo must be given renamed (see
// html_parser_input.h), and its estimate of the page's nesting.
#include "html/html_parser_input.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <list>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "html/script_data.h"

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
                "template", "tfoot", "th", "thead", "tr", "track", "ul", "wbr", "svg", "math",
                "foreignobject", "desc", "title", "mi", "mo", "mn", "ms", "mtext", "annotation-xml"});
}

// SVG and MathML elements whose content holds HTML.
bool isIntegrationPoint(std::string_view n) {
  return in(n, {"foreignobject", "desc", "title", "mi", "mo", "mn", "ms", "mtext", "annotation-xml"});
}

// Elements that end the scope in which an end tag finds its element (select
// among them since browsers parse its content with the body's rules).
bool isScopeMarker(std::string_view n) {
  return in(n, {"applet", "caption", "html", "table", "td", "th", "marquee", "object", "template", "select"}) ||
         isIntegrationPoint(n);
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

// Elements that put a marker in the list of active formatting elements.
bool isFormattingMarker(std::string_view n) {
  return in(n, {"applet", "caption", "marquee", "object", "td", "th", "template"});
}

// The stack of open elements as the scan counts it, with the list of active
// formatting elements that a tree builder reopens.
class Nesting {
 public:
  std::size_t deepest = 0;
  std::size_t rebuilt = 0;
  // Formatting elements that a select left open: a browser, whose select
  // puts no marker in the list, opens them again after it; gumbo, whose
  // renamed select does, has forgotten them. Each one reopened: its start
  // tag's place and the "<" of that select.
  struct Lost {
    std::size_t select;
    std::size_t from, to;  // its start tag
  };
  std::vector<Lost> reopened;
  // The selects closed since the scan last took them (their "<").
  std::vector<std::size_t> closedSelects;
  // The last end tag was that of one left open by this select (its "<"),
  // after it closed: a browser drops the end tag and forgets the element.
  std::size_t endedLost = std::string_view::npos;

  // `attributes`: the tag's attributes as written, which tell formatting
  // elements of one name apart (written differently, the same attributes
  // count as others: more elements, never fewer). [from, to): the tag.
  void start(std::string_view name, std::string_view attributes, std::size_t from = 0, std::size_t to = 0) {
    // An "a" or "nobr" still active is closed first.
    if (name == "a" || name == "nobr") {
      if (lastActive(name) != m_active.end()) end(name);
    }
    // Blocks close an open paragraph (one not behind a scope marker or a
    // button); a heading closes a heading just opened.
    if (in(name, {"address", "article", "aside", "blockquote", "center", "details", "dialog", "dir", "div", "dl",
                  "fieldset", "figcaption", "figure", "footer", "header", "hgroup", "main", "menu", "nav", "ol",
                  "p", "search", "section", "summary", "ul", "h1", "h2", "h3", "h4", "h5", "h6", "pre",
                  "listing", "form", "hr", "li", "dd", "dt"}) &&
        isOpen("p")) {
      for (std::size_t i = m_open.size(); i-- > 0;) {
        const std::string_view open = m_open[i].name;
        if (open == "p") {
          popTo(i);
          break;
        }
        if (isScopeMarker(open) || open == "button") break;
      }
    }
    if (in(name, {"h1", "h2", "h3", "h4", "h5", "h6"}) && in(top(), {"h1", "h2", "h3", "h4", "h5", "h6"})) {
      popTo(m_open.size() - 1);
    }
    if (isVoid(name)) {
      // Those read as in the head (link, meta...) reopen nothing.
      if (in(name, {"area", "br", "embed", "img", "keygen", "wbr", "input"})) reconstruct();
      return;
    }
    // Table parts outside a table are dropped; inside one, they close what
    // is open in its innermost cell, row or table (a select among them).
    if (in(name, {"td", "th", "tr", "tbody", "thead", "tfoot", "caption", "colgroup"})) {
      if (!isOpen("table")) return;
      for (std::size_t i = m_open.size(); i-- > 0;) {
        if (in(m_open[i].name, {"td", "th", "tr", "tbody", "thead", "tfoot", "caption", "table", "template", "html"})) {
          popTo(i + 1);
          break;
        }
      }
    }
    // A list item closes the open one of its kind, below any inline or
    // address, div and p elements.
    if (in(name, {"li", "dd", "dt"})) {
      for (std::size_t i = m_open.size(); i-- > 0;) {
        const std::string_view open = m_open[i].name;
        if (name == "li" ? open == "li" : in(open, {"dd", "dt"})) {
          popTo(i);
          break;
        }
        if (isSpecial(open) && !in(open, {"address", "div", "p"})) break;
      }
    }
    if (!m_open.empty()) {
      // Elements their next sibling closes.
      const std::string_view top = m_open.back().name;
      if ((top == name && in(name, {"p", "li", "option", "optgroup", "tr", "dt", "dd", "rb", "rt", "rp"})) ||
          (in(top, {"td", "th"}) && in(name, {"td", "th", "tr"})) || (in(top, {"dt", "dd"}) && in(name, {"dt", "dd"}))) {
        popTo(m_open.size() - 1);
      }
    }
    if (!isSpecial(name) || in(name, {"applet", "marquee", "object", "select", "button"})) reconstruct();
    if (isFormatting(name)) {
      // At most three alike after the last marker: the earliest goes.
      int alike = 0;
      for (auto it = m_active.end(); it != m_active.begin();) {
        --it;
        if (it->marker) break;
        if (it->name == name && it->attributes == attributes && ++alike == 3) {
          forget(it);
          break;
        }
      }
      push(name, activate(name, attributes, false));
      m_active.back().from = from;
      m_active.back().to = to;
    } else if (isFormattingMarker(name)) {
      push(name, activate(name, {}, true));
    } else {
      push(name, 0, name == "select" ? from : npos);
    }
  }

  // `floor`: the elements below it are not HTML (an integration point and
  // the SVG or MathML around it), which an HTML end tag never closes, but
  // for a template's or a table part's.
  void end(std::string_view name, std::size_t floor = 0) {
    if (in(name, {"template", "table", "tbody", "thead", "tfoot", "tr", "td", "th", "caption"})) floor = 0;
    endedLost = npos;
    if (isFormatting(name)) {
      // One that an enclosing element closed is no longer reopened.
      const auto active = lastActive(name);
      if (active != m_active.end() && !active->open) {
        endedLost = active->lostIn;
        forget(active);
        return;
      }
    }
    // An end tag of nothing open (the usual stray one) costs no walk.
    if (!isOpen(name)) return;
    for (std::size_t i = m_open.size(); i-- > floor;) {
      const std::string_view open = m_open[i].name;
      if (open == name) {
        // Closed by its end tag, a formatting element is not reopened.
        if (isFormatting(name)) forget(m_open[i].active);
        if (isFormatting(name) && i + 1 != m_open.size()) {
          // The adoption agency takes the element out and keeps what it held.
          --m_counts[m_open[i].name];
          m_open.erase(m_open.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
          popTo(i);
        }
        return;
      }
      // A table part's end tag closes the cells open in its table; a
      // template's closes all it holds.
      if (name == "template") continue;
      if (in(name, {"table", "tbody", "thead", "tfoot", "tr", "td", "th", "caption"})
              ? in(open, {"html", "table", "template"})
              : isScopeMarker(open)) {
        return;
      }
      if (!isSpecial(name) && !isFormatting(name) && isSpecial(open)) return;
    }
  }

  // Text reopens the formatting elements closed since the last marker.
  void text() { reconstruct(); }

  // `select`: a select's "<".
  void push(std::string_view name, std::uint64_t active = 0, std::size_t select = npos) {
    m_open.push_back({std::string(name), active, select, m_lastId});
    ++m_counts[m_open.back().name];
    deepest = std::max(deepest, m_open.size());
  }

  // Whether an element of that name is open, by a count of the open
  // elements of each name kept as the stack changes (see popTo).
  bool isOpen(std::string_view name) const {
    const auto it = m_counts.find(std::string(name));
    return it != m_counts.end() && it->second > 0;
  }
  std::size_t size() const { return m_open.size(); }
  // The topmost open element of that name above `floor` elements, or npos.
  std::size_t find(std::string_view name, std::size_t floor) const {
    for (std::size_t i = m_open.size(); i-- > floor;) {
      if (m_open[i].name == name) return i;
    }
    return std::string_view::npos;
  }
  std::string_view top() const { return m_open.empty() ? std::string_view() : m_open.back().name; }
  // The topmost open element of that name when no scope marker stands above
  // it, or npos.
  std::size_t inScope(std::string_view name) const {
    for (std::size_t i = m_open.size(); i-- > 0;) {
      if (m_open[i].name == name) return i;
      if (isScopeMarker(m_open[i].name)) break;
    }
    return std::string_view::npos;
  }
  void popTo(std::size_t size) {
    while (m_open.size() > size) {
      Open& open = m_open.back();
      --m_counts[open.name];
      const auto found = m_byId.find(open.active);
      if (found != m_byId.end()) {
        if (found->second->marker) {
          // The marker and everything after it.
          for (auto it = found->second; it != m_active.end();) it = forget(it);
        } else {
          found->second->open = false;
        }
      }
      if (open.select != npos) {
        closedSelects.push_back(open.select);
        // The formatting elements opened since the select.
        for (auto it = m_active.rbegin(); it != m_active.rend() && it->id > open.since; ++it) {
          if (!it->marker && it->lostIn == npos) it->lostIn = open.select;
        }
      }
      m_open.pop_back();
    }
  }

 private:
  static constexpr std::size_t npos = std::string_view::npos;
  struct Open {
    std::string name;  // names are short: no allocation each
    std::uint64_t active;  // its entry in the list of formatting elements, or 0
    std::size_t select;    // a select's "<", else npos
    std::uint64_t since;   // the last entry of the list when it opened
  };
  struct Active {
    std::uint64_t id;
    std::string name, attributes;
    bool marker;
    bool open;
    std::size_t from = 0, to = 0;  // its start tag
    std::size_t lostIn = npos;     // the select that left it open, if one did
  };
  using ActiveList = std::list<Active>;

  std::uint64_t activate(std::string_view name, std::string_view attributes, bool marker) {
    m_active.push_back({++m_lastId, std::string(name), std::string(attributes), marker, true});
    m_byId.emplace(m_lastId, std::prev(m_active.end()));
    return m_lastId;
  }

  ActiveList::iterator forget(std::uint64_t id) {
    const auto found = m_byId.find(id);
    return found == m_byId.end() ? m_active.end() : forget(found->second);
  }
  ActiveList::iterator forget(ActiveList::iterator it) {
    m_byId.erase(it->id);
    return m_active.erase(it);
  }

  // The last formatting element of that name after the last marker.
  ActiveList::iterator lastActive(std::string_view name) {
    for (auto it = m_active.end(); it != m_active.begin();) {
      --it;
      if (it->marker) break;
      if (it->name == name) return it;
    }
    return m_active.end();
  }

  // The entries after the last marker or open one are opened again, in order.
  void reconstruct() {
    if (m_active.empty() || m_active.back().marker || m_active.back().open) return;
    auto it = std::prev(m_active.end());
    while (it != m_active.begin()) {
      const auto before = std::prev(it);
      if (before->marker || before->open) break;
      it = before;
    }
    for (; it != m_active.end(); ++it) {
      it->open = true;
      push(it->name, it->id);
      ++rebuilt;
      if (it->lostIn != npos) {
        reopened.push_back({it->lostIn, it->from, it->to});
        it->lostIn = npos;  // a new element, in gumbo's list too
      }
    }
  }

  std::vector<Open> m_open;
  std::unordered_map<std::string, std::size_t> m_counts;
  ActiveList m_active;
  std::unordered_map<std::uint64_t, ActiveList::iterator> m_byId;
  std::uint64_t m_lastId = 0;
};

// Follows a tokenizer through the tag at `at` (its "<"), start or end tag:
// calls onAttribute with each attribute's name as written and gives where
// the tag ends (just after its ">"), or npos when the page ends first.
template <typename OnAttribute>
std::size_t walkTag(std::string_view s, std::size_t at, OnAttribute&& onAttribute) {
  std::size_t i = at + 1;
  if (i < s.size() && s[i] == '/') ++i;
  while (i < s.size() && !isSpace(s[i]) && s[i] != '/' && s[i] != '>') ++i;  // the name
  while (i < s.size()) {
    if (s[i] == '>') return i + 1;
    if (isSpace(s[i]) || s[i] == '/') {
      ++i;
      continue;
    }
    // A name (whose first character may be "="), then perhaps "=" and a
    // value; a quote matters only where a value starts.
    const std::size_t name = i++;
    while (i < s.size() && !isSpace(s[i]) && s[i] != '/' && s[i] != '>' && s[i] != '=') ++i;
    onAttribute(s.substr(name, i - name));
    while (i < s.size() && isSpace(s[i])) ++i;
    if (i >= s.size() || s[i] != '=') continue;
    ++i;
    while (i < s.size() && isSpace(s[i])) ++i;
    if (i < s.size() && (s[i] == '"' || s[i] == '\'')) {
      const std::size_t close = s.find(s[i], i + 1);
      if (close == std::string_view::npos) return close;
      i = close + 1;
    } else {
      while (i < s.size() && !isSpace(s[i]) && s[i] != '>') ++i;
    }
  }
  return std::string_view::npos;
}

// The characters gumbo replaces, numbered: C0 controls but NUL and
// whitespace, DEL and the C1 controls, U+FDD0..U+FDEF and the last two code
// points of each plane.
constexpr int replacedCount = 126;

int replacedIndex(char32_t c) {
  if (c >= 0x01 && c <= 0x08) return static_cast<int>(c - 0x01);
  if (c == 0x0B) return 8;
  if (c >= 0x0E && c <= 0x1F) return static_cast<int>(9 + c - 0x0E);
  if (c >= 0x7F && c <= 0x9F) return static_cast<int>(27 + c - 0x7F);
  if (c >= 0xFDD0 && c <= 0xFDEF) return static_cast<int>(60 + c - 0xFDD0);
  if ((c & 0xFFFE) == 0xFFFE && c <= 0x10FFFF) return static_cast<int>(92 + 2 * (c >> 16) + (c & 1));
  return -1;
}

char32_t replacedCharacter(int index) {
  if (index < 8) return static_cast<char32_t>(0x01 + index);
  if (index == 8) return 0x0B;
  if (index < 27) return static_cast<char32_t>(0x0E + index - 9);
  if (index < 60) return static_cast<char32_t>(0x7F + index - 27);
  if (index < 92) return static_cast<char32_t>(0xFDD0 + index - 60);
  return static_cast<char32_t>((static_cast<char32_t>(index - 92) / 2) << 16 | 0xFFFE | ((index - 92) & 1));
}

// The character whose UTF-8 starts at `at`, and its length; length 0 for a
// byte that starts no valid sequence.
std::size_t decodeUtf8(std::string_view s, std::size_t at, char32_t& c) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) {
    c = lead;
    return 1;
  }
  const std::size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  if (length == 0 || at + length > s.size()) return 0;
  c = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    c = c << 6 | (byte(at + i) & 0x3F);
  }
  const bool shortest = length == 2 || (length == 3 && c >= 0x800) || (length == 4 && c >= 0x10000);
  if (!shortest || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return 0;
  return length;
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Placeholders come from blocks of 128 private-use characters from U+F0000.
constexpr char32_t privateUse = 0xF0000;
constexpr std::size_t blockCount = 1024;

}  // namespace

std::optional<std::string> Placeholders::protect(std::string_view s) {
  bool replaced = false;
  std::vector<bool> used(blockCount);
  for (std::size_t i = 0; i < s.size();) {
    // Only ASCII controls and sequences led by C2, EF, F0..F4 can be
    // replaced or private-use characters: others are stepped over.
    const auto lead = static_cast<unsigned char>(s[i]);
    if (lead < 0x80) {
      if (lead < 0x20 || lead == 0x7F) replaced = replaced || replacedIndex(lead) >= 0;
      ++i;
      continue;
    }
    if (lead > 0xC2 && lead < 0xEF) {
      i += lead < 0xE0 ? 2 : 3;
      continue;
    }
    char32_t c;
    const std::size_t length = decodeUtf8(s, i, c);
    if (length == 0) {
      ++i;
      continue;
    }
    if (replacedIndex(c) >= 0) replaced = true;
    if (c >= privateUse) used[(c - privateUse) / 128] = true;
    i += length;
  }
  if (!replaced) return std::nullopt;
  const auto unused = std::find(used.begin(), used.end(), false);
  if (unused == used.end()) return std::nullopt;
  m_base = privateUse + static_cast<char32_t>(unused - used.begin()) * 128;
  std::string out;
  out.reserve(s.size() + s.size() / 8);
  for (std::size_t i = 0; i < s.size();) {
    char32_t c;
    const std::size_t length = decodeUtf8(s, i, c);
    const int index = length ? replacedIndex(c) : -1;
    if (index < 0) {
      out.append(s.substr(i, length ? length : 1));
    } else {
      appendUtf8(out, m_base + static_cast<char32_t>(index));
    }
    i += length ? length : 1;
  }
  return out;
}

std::string Placeholders::restore(std::string_view s) const {
  std::string out;
  out.reserve(s.size());
  std::size_t done = 0;
  // Placeholders are four bytes that start with F3 or F4.
  for (std::size_t at = s.find_first_of("\xF3\xF4"); at != std::string_view::npos;
       at = s.find_first_of("\xF3\xF4", at + 1)) {
    char32_t c;
    if (decodeUtf8(s, at, c) != 4 || c < m_base || c >= m_base + replacedCount) continue;
    out.append(s.substr(done, at - done));
    appendUtf8(out, replacedCharacter(static_cast<int>(c - m_base)));
    done = at + 4;
    at += 3;
  }
  out.append(s.substr(done));
  return out;
}

std::size_t commentEnd(std::string_view s, std::size_t from) {
  for (std::size_t at = s.find("--", from); at != std::string_view::npos; at = s.find("--", at + 1)) {
    if (s.compare(at + 2, 1, ">") == 0) return at + 3;
    if (s.compare(at + 2, 2, "!>") == 0) return at + 4;
  }
  return std::string_view::npos;
}

std::size_t startTagEnd(std::string_view s, std::size_t at) {
  return walkTag(s, at, [](std::string_view) {});
}

namespace {

// Where a script's text that starts at `from` ends, as rawTextEnd, with a
// "<script" inside "<!--" hiding the next "</script".
std::size_t scriptEnd(std::string_view s, std::size_t from) {
  std::size_t end = s.size();
  scriptEnds(s.substr(from), [&](std::size_t at) {
    end = from + at;
    return false;
  });
  return end;
}

}  // namespace

std::size_t rawTextEnd(std::string_view s, std::size_t from, std::string_view tag) {
  for (std::size_t at = s.find("</", from); at != std::string_view::npos; at = s.find("</", at + 1)) {
    if (startsWithName(s, at + 2, tag) && endsName(s, at + 2 + tag.size())) return at;
  }
  return s.size();
}

MarkupScan scanMarkup(std::string_view s, const MarkupLimits& limits) {
  MarkupScan scan;
  Nesting nesting;
  bool inHead = true;
  std::size_t foreignBase = 0;  // the stack's size outside the svg or math element, when in one
  bool foreign = false;
  // HTML content inside SVG or MathML: for each integration point that
  // holds it, the foreign content's base and the stack's size with the
  // point on top. Annotation-xml elements that hold HTML (by their
  // encoding), by their place on the stack.
  bool svg = false;  // the foreign content is SVG (else MathML, whose svg elements are MathML too)
  struct Holder {
    std::size_t base, size;
    bool svg;
  };
  std::vector<Holder> holders;
  std::vector<std::size_t> htmlAnnotations;
  const auto atIntegrationPoint = [&] {
    const std::string_view top = nesting.top();
    if (top != "annotation-xml") return isIntegrationPoint(top) && svg == in(top, {"foreignobject", "desc", "title"});
    if (svg) return false;
    while (!htmlAnnotations.empty() && htmlAnnotations.back() >= nesting.size()) htmlAnnotations.pop_back();
    return !htmlAnnotations.empty() && htmlAnnotations.back() == nesting.size() - 1;
  };
  // Back in foreign content once the HTML inside an integration point closed.
  const auto leftHtml = [&] {
    while (!foreign && !holders.empty() && nesting.size() <= holders.back().size) {
      if (nesting.size() > holders.back().base) {
        foreign = true;
        foreignBase = holders.back().base;
        svg = holders.back().svg;
      }
      holders.pop_back();
    }
  };
  // A tag that leaves SVG or MathML: the foreign elements close up to one
  // that holds HTML, and the tag is read as in HTML content.
  // `ends`, if given, gets the end tags of the elements closed.
  const auto breakOut = [&](std::string* ends) {
    while (nesting.size() > foreignBase && !atIntegrationPoint()) {
      if (ends) *ends += "</" + std::string(nesting.top()) + ">";
      nesting.popTo(nesting.size() - 1);
    }
    foreign = nesting.size() > foreignBase;
    if (foreign) {
      holders.push_back({foreignBase, nesting.size(), svg});
      foreign = false;
    }
  };
  std::string name, mangled;
  std::size_t textFrom = 0;  // where the text before the next markup starts
  bool plaintext = false;    // the page ends in a plaintext element
  std::size_t afterPre = std::string_view::npos;  // just after the last pre or listing start tag
  // gumbo is given again, at `at`, the start tags of the formatting
  // elements a select left open that the scan just reopened.
  const auto reopenAt = [&](std::size_t at) {
    for (const Nesting::Lost& lost : nesting.reopened) scan.reopened.push_back({at, at, lost.from, lost.to, lost.select});
    nesting.reopened.clear();
  };
  // Selects that the tag at `at` closed other than as their own end: gumbo
  // is given an applet end tag before it, since the renamed select's marker
  // in the list of formatting elements would outlive it otherwise.
  const auto closedAt = [&](std::size_t at) {
    for (std::size_t select : nesting.closedSelects) {
      const bool given = !scan.selectEnds.empty() && scan.selectEnds.back().at == at &&
                         scan.selectEnds.back().select == select;
      if (!given) scan.selectEnds.push_back({at, select, at});
    }
    nesting.closedSelects.clear();
  };
  const auto sawMarkup = [&](std::size_t at) {
    // A line feed just after a pre or listing start tag is dropped: it is
    // no text.
    std::size_t from = textFrom;
    if (from == afterPre && from < at && (s[from] == '\r' || s[from] == '\n')) {
      from += s.compare(from, 2, "\r\n") == 0 ? 2 : 1;
    }
    // Text reopens formatting elements, except in SVG or MathML outside
    // their elements that hold HTML.
    if (at > from && (!foreign || atIntegrationPoint())) {
      const std::size_t size = nesting.size();
      nesting.text();
      if (foreign && nesting.size() > size) {
        // The elements reopened in an integration point are HTML.
        holders.push_back({foreignBase, size, svg});
        foreign = false;
      }
      reopenAt(from);
    }
  };
  // Select start tags, and the open selects among them by their place on
  // the stack (an entry goes stale once the stack drops below it).
  struct Select {
    std::size_t index, tag;
  };
  std::vector<Select> openSelects;
  // The select a select start or end tag would close: one in scope.
  const auto openSelect = [&]() -> const Select* {
    const std::size_t index = nesting.inScope("select");
    while (!openSelects.empty() && openSelects.back().index > index) openSelects.pop_back();
    if (index == std::string_view::npos || openSelects.empty() || openSelects.back().index != index) return nullptr;
    return &openSelects.back();
  };
  std::vector<std::string_view> attributes;
  std::unordered_set<std::string> distinct;
  // Where the tag at `at` ends; counts its attributes.
  const auto walk = [&](std::size_t at) {
    attributes.clear();
    const std::size_t end = walkTag(s, at, [&](std::string_view attribute) { attributes.push_back(attribute); });
    std::size_t count = attributes.size();
    if (count > limits.attributes) {
      distinct.clear();
      for (std::string_view attribute : attributes) {
        std::string lowercase(attribute);
        std::transform(lowercase.begin(), lowercase.end(), lowercase.begin(), lowered);
        distinct.insert(std::move(lowercase));
      }
      count = distinct.size();
    }
    scan.attributes = std::max(scan.attributes, count);
    return end;
  };
  // Every "<isindex" is a guess (the parser's check drops those that were
  // not tags): gumbo's expansion of one cannot be told from its tree.
  for (std::size_t at = s.find('<'); at != std::string_view::npos; at = s.find('<', at + 1)) {
    if (startsWithName(s, at + 1, "noscript")) scan.mentioned = true;
    if (startsWithName(s, at + 1, "isindex") && endsName(s, at + 8)) {
      scan.mentioned = true;
      scan.isindexes.push_back(at);
    }
    if (s.compare(at + 1, 1, "/") == 0 && startsWithName(s, at + 2, "isindex") && endsName(s, at + 9)) {
      scan.mentioned = true;
      scan.isindexEnds.push_back(at);
    }
  }
  if (!scan.isindexes.empty() || !scan.isindexEnds.empty()) {
    scan.acronymFree = true;
    for (std::size_t at = 0; at + 7 <= s.size() && scan.acronymFree; ++at) {
      if (startsWithName(s, at, "acronym")) scan.acronymFree = false;
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
      sawMarkup(at);
      at = textFrom = end;
      at = s.find('<', at);
      continue;
    }
    if (next == '?' || (next == '/' && at + 2 < s.size() && !isAlpha(s[at + 2]) && s[at + 2] != '>')) {
      sawMarkup(at);
      const std::size_t close = s.find('>', at + 1);
      if (close == std::string_view::npos) break;
      textFrom = close + 1;
      at = s.find('<', close + 1);
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
    // An HTML element named as an SVG or MathML integration point is none:
    // it goes on the stack under a name no tag has.
    const auto htmlName = [&]() -> std::string_view {
      if (!isIntegrationPoint(name)) return name;
      mangled = "html " + name;
      return mangled;
    };
    const std::size_t tagEnd = walk(at);
    if (tagEnd == std::string_view::npos || scan.attributes > limits.attributes) break;
    sawMarkup(at);
    textFrom = tagEnd;
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
      if (foreign && (name == "p" || name == "br")) {
        // gumbo leaves SVG and MathML open at these end tags, and is given
        // the end tags of what a browser closes there before them.
        std::string ends;
        breakOut(&ends);
        if (!ends.empty()) scan.endTags.push_back({at, std::move(ends)});
      }
      // In SVG or MathML, an end tag closes the foreign element of its
      // name; else it is read as in HTML content.
      const std::size_t open = foreign ? nesting.find(name, foreignBase) : std::string_view::npos;
      if (open != std::string_view::npos) {
        nesting.popTo(open);
        foreign = nesting.size() > foreignBase;
      } else {
        // An applet end tag inside a select is dropped; gumbo would close
        // the renamed select with it, and is given it renamed too.
        if (name == "select" || name == "applet") {
          if (const Select* open = openSelect()) scan.selectEnds.push_back({at, scan.selects[open->tag]});
        }
        if (name == "br") {
          // Read as a br start tag, which reopens formatting elements.
          nesting.start(name, {});
          reopenAt(at);
        } else {
          nesting.end(htmlName(), holders.empty() ? 0 : holders.back().size);
          if (nesting.endedLost != std::string_view::npos) {
            scan.reopened.push_back({at, tagEnd, 0, 0, nesting.endedLost});  // gumbo is not given it
          }
        }
        foreign = foreign && nesting.size() > foreignBase;
        leftHtml();
      }
      closedAt(at);
      at = s.find('<', tagEnd);
      continue;
    }
    const bool selfClosing = tagEnd >= 2 && s[tagEnd - 2] == '/';
    std::size_t resume = tagEnd;
    const auto fontBreaksOut = [&] {
      // A font with one of these attributes leaves foreign content too.
      return std::any_of(attributes.begin(), attributes.end(), [](std::string_view attribute) {
        std::string lowercase(attribute);
        std::transform(lowercase.begin(), lowercase.end(), lowercase.begin(), lowered);
        return in(lowercase, {"color", "face", "size"});
      });
    };
    if (foreign && (breaksOutOfForeign(name) || (name == "font" && fontBreaksOut()))) breakOut(nullptr);
    if (foreign && ((atIntegrationPoint() && (nesting.top() == "annotation-xml" ||
                                               !in(nesting.top(), {"mi", "mo", "mn", "ms", "mtext"}) ||
                                               !in(name, {"mglyph", "malignmark"}))) ||
                    (name == "svg" && !svg && nesting.top() == "annotation-xml"))) {
      // A start tag there is read as in HTML content.
      holders.push_back({foreignBase, nesting.size(), svg});
      foreign = false;
    }
    if (!in(name, {"html", "head", "base", "basefont", "bgsound", "link", "meta", "noframes", "script",
                   "style", "template", "title", "noscript"})) {
      inHead = false;
    }
    if (foreign) {
      if (!selfClosing) nesting.push(name);
      if (!selfClosing && name == "annotation-xml") {
        std::string attributes(s.substr(i, tagEnd - i));
        std::transform(attributes.begin(), attributes.end(), attributes.begin(), lowered);
        if (attributes.find("text/html") != std::string::npos ||
            attributes.find("application/xhtml+xml") != std::string::npos) {
          htmlAnnotations.push_back(nesting.size() - 1);
        }
      }
    } else if (name == "svg" || name == "math") {
      nesting.text();
      if (!selfClosing) {
        foreignBase = nesting.size();
        nesting.push(name);
        foreign = true;
        svg = name == "svg";
      }
    } else if (name == "plaintext") {
      plaintext = true;
      break;
    } else if (in(name, {"script", "style", "xmp", "iframe", "noembed", "noframes", "title", "textarea",
                         "noscript"})) {
      if (name == "noscript") scan.noscripts.push_back({at, inHead});
      if (name == "xmp") nesting.text();
      const std::size_t end = name == "script" ? scriptEnd(s, tagEnd) : rawTextEnd(s, tagEnd, name);
      resume = end == s.size() ? end : walk(end + 1);
      if (resume == std::string_view::npos) break;
      textFrom = resume;
    } else if (const Select* open = in(name, {"select", "input"}) ? openSelect() : nullptr) {
      // Either closes the open select; a select start tag is then dropped.
      scan.selectEnds.push_back({at, scan.selects[open->tag], name == "select" ? tagEnd : at});
      nesting.popTo(open->index);
      if (name == "input") nesting.start(name, {});
    } else {
      if (const Select* select = in(name, {"option", "optgroup"}) ? openSelect() : nullptr) {
        // In a select, these close the paragraphs, list items and options
        // (an option not its optgroup) open above them; gumbo closes only an
        // option, and is given the end tags of the others.
        std::string ends;
        while (nesting.size() > select->index + 1 &&
               in(nesting.top(), {"dd", "dt", "li", "optgroup", "option", "p", "rb", "rp", "rt", "rtc"}) &&
               !(name == "option" && nesting.top() == "optgroup")) {
          ends += "</" + std::string(nesting.top()) + ">";
          nesting.popTo(nesting.size() - 1);
        }
        if (!ends.empty()) scan.endTags.push_back({at, std::move(ends), scan.selects[select->tag]});
      }
      nesting.start(htmlName(), s.substr(i, tagEnd - 1 - i), at, tagEnd);
      if (name == "pre" || name == "listing") afterPre = tagEnd;
      if (name == "select") {
        while (!openSelects.empty() && openSelects.back().index >= nesting.size() - 1) openSelects.pop_back();
        openSelects.push_back({nesting.size() - 1, scan.selects.size()});
        scan.selects.push_back(at);
      }
    }
    closedAt(at);
    reopenAt(at);
    leftHtml();
    if (nesting.deepest > limits.depth || nesting.rebuilt > limits.rebuilt ||
        scan.attributes > limits.attributes) {
      break;  // refused: the rest does not matter
    }
    at = s.find('<', resume);
  }
  if (textFrom < s.size() && !foreign) {
    nesting.text();
    if (!plaintext) reopenAt(textFrom);  // not in a plaintext's text
  }
  scan.depth = nesting.deepest;
  scan.rebuilt = nesting.rebuilt;
  return scan;
}

}  // namespace glintmark::html
