// Text encodings, element classes and case folding of the HTML document model.
#include <algorithm>
#include <array>

#include "host/html/html_internal.h"

namespace glintmark::html {

namespace {

constexpr char16_t replacementChar = u'\xFFFD';

void appendCodePoint(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

// Decodes one UTF-8 sequence at text[i]; returns its length (at least 1) and
// the code point, or replacementChar for an invalid sequence.
std::size_t decodeUtf8(std::string_view text, std::size_t i, char32_t& c) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b0 = byte(i);
  if (b0 < 0x80) {
    c = b0;
    return 1;
  }
  std::size_t length;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2, min = 0x80, c = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3, min = 0x800, c = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4, min = 0x10000, c = b0 & 0x07;
  } else {
    c = replacementChar;
    return 1;
  }
  for (std::size_t k = 1; k < length; ++k) {
    if (i + k >= text.size() || (byte(i + k) & 0xC0) != 0x80) {
      c = replacementChar;
      return k;
    }
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = replacementChar;
  return length;
}

bool inList(std::string_view tag, const std::string_view* begin, const std::string_view* end) {
  return std::find(begin, end, tag) != end;
}

}  // namespace

void appendUtf16(std::u16string& out, std::string_view utf8) {
  for (std::size_t i = 0; i < utf8.size();) {
    const unsigned char b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    char32_t c;
    i += decodeUtf8(utf8, i, c);
    appendCodePoint(out, c);
  }
}

std::size_t convertUtf8(std::string_view utf8, char16_t* out) {
  char16_t* const start = out;
  for (std::size_t i = 0; i < utf8.size();) {
    const unsigned char b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      *out++ = b;
      ++i;
      continue;
    }
    char32_t c;
    i += decodeUtf8(utf8, i, c);
    // Four bytes make at most two units, fewer bytes at most one.
    if (c < 0x10000) {
      *out++ = static_cast<char16_t>(c);
    } else {
      c -= 0x10000;
      *out++ = static_cast<char16_t>(0xD800 + (c >> 10));
      *out++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    }
  }
  return static_cast<std::size_t>(out - start);
}

std::u16string toUtf16(std::string_view utf8) {
  std::u16string out;
  appendUtf16(out, utf8);
  return out;
}

void appendUtf8(std::string& out, std::u16string_view text) {
  // Written through a pointer in blocks, each given room for its worst case
  // (three bytes a unit) and cut back to what was written: a push_back per
  // byte was a tenth of a highlighting run. Blocks keep the room asked for
  // beyond the string's reserve small.
  constexpr std::size_t block = 4096;
  for (std::size_t from = 0; from < text.size();) {
    std::size_t to = std::min(text.size(), from + block);
    // A surrogate pair is never cut in two.
    if (to < text.size() && text[to - 1] >= 0xD800 && text[to - 1] <= 0xDBFF) ++to;
    const std::size_t size = out.size();
    out.resize(size + 3 * (to - from) + 1);
    char* const start = out.data() + size;
    char* p = start;
    for (std::size_t i = from; i < to; ++i) {
      char32_t c = text[i];
      if (c < 0x80) {
        *p++ = static_cast<char>(c);
        continue;
      }
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
          text[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        ++i;
      } else if (c >= 0xD800 && c <= 0xDFFF) {
        c = replacementChar;
      }
      if (c < 0x800) {
        *p++ = static_cast<char>(0xC0 | (c >> 6));
      } else if (c < 0x10000) {
        *p++ = static_cast<char>(0xE0 | (c >> 12));
        *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      } else {
        *p++ = static_cast<char>(0xF0 | (c >> 18));
        *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      }
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    out.resize(size + static_cast<std::size_t>(p - start));
    from = to;
  }
}

std::string toUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  appendUtf8(out, text);
  return out;
}

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

bool isValidUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    char32_t c;
    const std::size_t n = decodeUtf8(bytes, i, c);
    if (c == replacementChar) {
      // U+FFFD itself, correctly encoded, is valid.
      if (bytes.substr(i, n) != "\xEF\xBF\xBD") return false;
    }
    i += n;
  }
  return true;
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
  // browser that reads the page.
  static constexpr std::string_view tags[] = {
      "script", "style",  "noscript", "template", "textarea", "select",   "option",
      "title",  "iframe", "noembed",  "noframes", "datalist", "optgroup", "head",
      "svg",    "math"};
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
    if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
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

bool isWordChar(char16_t c) {
  if (c < 0x80) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
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
