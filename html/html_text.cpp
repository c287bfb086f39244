// Text encodings, element classes and case folding of the HTML document model.
#include <algorithm>
#include <array>
#include <cstring>

#include "core/ascii.h"
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
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x130) return u'i';
    if (c == 0x178) return 0xFF;
    const bool evenUpper = (c <= 0x137) || (c >= 0x14A && c <= 0x177);
    const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (evenUpper && c % 2 == 0) return static_cast<char16_t>(c + 1);
    if (oddUpper && c % 2 == 1) return static_cast<char16_t>(c + 1);
    return c;
  }
  if (c >= 0x386 && c <= 0x3AB) {
    if (c == 0x386) return 0x3AC;
    if (c >= 0x388 && c <= 0x38A) return static_cast<char16_t>(c + 37);
    if (c == 0x38C) return 0x3CC;
    if (c == 0x38E || c == 0x38F) return static_cast<char16_t>(c + 63);
    if (c >= 0x391 && c != 0x3A2) return static_cast<char16_t>(c + 32);
    return c;
  }
  if (c == 0x3C2) return 0x3C3;  // final sigma matches sigma
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 32);
  if (c == separatorChar) return replacementChar;
  return c;
}

void foldText(char16_t* begin, char16_t* end) {
  for (char16_t* c = begin; c != end; ++c) {
    if (*c >= 0x80) {
      *c = foldChar(*c);
    } else if (isAsciiUpper(*c)) {
      *c = lowerAscii(*c);
    } else if (*c >= u'\t' && *c <= u'\r') {
      *c = u' ';
    }
  }
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

bool isWordChar(char16_t c) {
  if (c < 0x80) {
    return isAsciiAlnum(c);
  }
  if (c < 0xC0) return c == 0xAA || c == 0xB5 || c == 0xBA;
  if (c <= 0x2AF) return c != 0xD7 && c != 0xF7;
  if (c >= 0x300 && c <= 0x36F) return true;  // combining marks belong to their letter
  if (c >= 0x370 && c <= 0x52F) return c != 0x37E && c != 0x387;
  if (c >= 0x530 && c <= 0x1FFF) return true;
  if (c >= 0x3040 && c <= 0x30FF) return true;
  if (c >= 0x3400 && c <= 0x9FFF) return true;
  if (c >= 0xAC00 && c <= 0xD7AF) return true;
  if (c >= 0xD800 && c <= 0xDFFF) return true;  // letters beyond the BMP, mostly
  if (c >= 0xF900 && c <= 0xFAFF) return true;
  return (c >= 0xFF10 && c <= 0xFF19) || (c >= 0xFF21 && c <= 0xFF3A) ||
         (c >= 0xFF41 && c <= 0xFF5A);
}

}  // namespace glintmark::html
