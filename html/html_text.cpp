// Text encodings, element classes and case folding of the HTML document model.
#include <algorithm>
#include <array>
#include <cstring>

#include "core/ascii.h"
#include "core/unicode.h"
#include "html/html_internal.h"
#include "html/vectors.h"

namespace glintmark::html {

namespace {

constexpr char16_t replacementChar = u'\xFFFD';

bool inList(std::string_view tag, const std::string_view* begin, const std::string_view* end) {
  return std::find(begin, end, tag) != end;
}

}  // namespace

std::string utf16BytesToUtf8(std::string_view bytes, bool bigEndian) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
    units.push_back(static_cast<char16_t>(bigEndian ? (b0 << 8) | b1 : (b1 << 8) | b0));
  }
  std::string out = toUtf8(units);
  if (bytes.size() % 2) out += "\xEF\xBF\xBD";
  return out;
}

bool isVoidElement(std::string_view tag) {
  static constexpr std::string_view tags[] = {
      "area", "base", "basefont", "bgsound", "br",   "col",   "embed",  "frame", "hr",
      "img",  "input", "keygen",  "link",    "meta", "param", "source", "track", "wbr"};
  return inList(tag, std::begin(tags), std::end(tags));
}

bool isRawTextElement(std::string_view tag) {
  static constexpr std::string_view tags[] = {"script",  "style",    "xmp",       "iframe",
                                              "noembed", "noframes", "plaintext", "noscript"};
  return inList(tag, std::begin(tags), std::end(tags));
}

bool isHiddenTextElement(std::string_view tag) {
  // svg and math hold foreign content: their text is not the page's HTML
  // text, and an HTML span put there would be moved out of them by the next
  // browser that reads the page. xmp and plaintext hold raw text, as script
  // does: a span written into them would be read back as text.
  static constexpr std::string_view tags[] = {
      "script", "style",  "noscript", "template", "textarea", "select",   "option",
      "title",  "iframe", "noembed",  "noframes", "datalist", "optgroup", "head",
      "svg",    "math",   "xmp",      "plaintext"};
  return inList(tag, std::begin(tags), std::end(tags));
}

bool isBlockElement(std::string_view tag) {
  static constexpr std::string_view tags[] = {
      "address", "article", "aside",      "blockquote", "body",     "caption",  "center",
      "dd",      "details", "dialog",     "dir",        "div",      "dl",       "dt",
      "fieldset", "figcaption", "figure", "footer",     "form",     "frameset", "h1",
      "h2",      "h3",      "h4",         "h5",         "h6",       "header",   "hgroup",
      "hr",      "html",    "legend",     "li",         "listing",  "main",     "menu",
      "nav",     "ol",      "p",          "plaintext",  "pre",      "section",  "summary",
      "table",   "tbody",   "td",         "tfoot",      "th",       "thead",    "tr",
      "ul",      "xmp"};
  return inList(tag, std::begin(tags), std::end(tags));
}

bool isLineBreakElement(std::string_view tag) { return tag == "br"; }

std::uint8_t classifyElement(std::string_view tag) {
  std::uint8_t classes = 0;
  if (isVoidElement(tag)) classes |= elementClass::voidElement;
  if (isRawTextElement(tag)) classes |= elementClass::rawText;
  if (isHiddenTextElement(tag)) classes |= elementClass::hiddenText;
  if (isBlockElement(tag)) classes |= elementClass::block;
  if (isLineBreakElement(tag)) classes |= elementClass::lineBreak;
  return classes;
}

char16_t foldChar(char16_t c) {
  if (c < 0x80) {
    if (isAsciiUpper(c)) return lowerAscii(c);
    if (c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f' || c == u'\v') return u' ';
    return c;
  }
  if (c == 0xA0) return u' ';
  if (c == separatorChar) return replacementChar;
  return unicode::foldUnit(c);
}

namespace {

char16_t foldAscii(char16_t c) {
  if (isAsciiUpper(c)) return lowerAscii(c);
  if (c >= u'\t' && c <= u'\r') return u' ';
  return c;
}

// The unit at c (from 0x80 up) folded, a surrogate pair as its character;
// returns the last unit it folded.
char16_t* foldWide(char16_t* c, char16_t* end, bool& lengthens) {
  if (*c >= 0xD800 && *c <= 0xDBFF && c + 1 != end && c[1] >= 0xDC00 && c[1] <= 0xDFFF) {
    const char32_t folded =
        unicode::foldSimple(0x10000 + ((char32_t(c[0]) - 0xD800) << 10) + (c[1] - 0xDC00)) - 0x10000;
    c[0] = static_cast<char16_t>(0xD800 + (folded >> 10));
    c[1] = static_cast<char16_t>(0xDC00 + (folded & 0x3FF));
    return c + 1;
  }
  *c = foldChar(*c);
  lengthens |= unicode::lengthens(*c);
  return c;
}

}  // namespace

// Eight units at a time while they are ASCII, the usual case; one at a time
// through the tables where they are not.
bool foldText(char16_t* begin, char16_t* end) {
  using vectors::splat;
  bool lengthens = false;
  char16_t* c = begin;
  while (end - c >= 8) {
    vectors::Units units = vectors::load(c);
    if (!vectors::any(units >= splat(0x80))) {
      const auto upper = reinterpret_cast<vectors::Units>((units >= splat(u'A')) & (units <= splat(u'Z')));
      const auto space = reinterpret_cast<vectors::Units>((units >= splat(u'\t')) & (units <= splat(u'\r')));
      units += upper & splat(32);
      units = (units & ~space) | (space & splat(u' '));
      std::memcpy(c, &units, sizeof units);
      c += 8;
      continue;
    }
    for (char16_t* const stop = c + 8; c < stop; ++c) {
      if (*c < 0x80) {
        *c = foldAscii(*c);
      } else {
        c = foldWide(c, end, lengthens);
      }
    }
  }
  for (; c < end; ++c) {
    if (*c < 0x80) {
      *c = foldAscii(*c);
    } else {
      c = foldWide(c, end, lengthens);
    }
  }
  return lengthens;
}

namespace {

bool sameUnits(const char16_t* a, std::u16string_view b) {
  return std::memcmp(a, b.data(), b.size() * sizeof(char16_t)) == 0;
}

}  // namespace

// The keyword's first two units are looked for eight places at a time, so
// that only places holding both stop the scan.
std::size_t findFolded(std::u16string_view text, std::u16string_view needle, std::size_t from) {
  if (needle.empty() || needle.size() > text.size()) return std::u16string_view::npos;
  const std::size_t last = text.size() - needle.size();  // the last place a match can start
  std::size_t i = from;
  if (needle.size() >= 2) {
    const vectors::Units first = vectors::splat(needle[0]), second = vectors::splat(needle[1]);
    // Reads units i .. i + 8, all within the text while i + 7 <= last.
    for (; i + 7 <= last; i += 8) {
      const vectors::Mask both = (vectors::load(text.data() + i) == first) &
                                 (vectors::load(text.data() + i + 1) == second);
      if (vectors::any(both)) {
        // Some place of the eight may start a match.
        for (const std::size_t stop = i + 8; i < stop; ++i) {
          if (text[i] == needle[0] && sameUnits(text.data() + i, needle)) return i;
        }
        i -= 8;
      }
    }
  }
  for (; i <= last; ++i) {
    if (text[i] == needle[0] && sameUnits(text.data() + i, needle)) return i;
  }
  return std::u16string_view::npos;
}

bool isWordChar(char32_t c) { return unicode::isWordChar(c); }

}  // namespace glintmark::html
