// Choosing a page's charset from its bytes.
#include "html/charset.h"

#include <algorithm>

#include "core/ascii.h"
#include "html/html_internal.h"

namespace glintmark::html {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

std::string lowerTrimmed(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  std::string out;
  for (char c : text) out += lowerAscii(c);
  return out;
}

}  // namespace

std::optional<std::pair<std::size_t, std::size_t>> charsetInContent(std::string_view content) {
  std::string text;  // lowercased, same positions
  for (char c : content) text += lowerAscii(c);
  for (std::size_t at = text.find("charset"); at != std::string::npos;
       at = text.find("charset", at + 1)) {
    std::size_t i = at + 7;
    while (i < text.size() && isSpace(text[i])) ++i;
    if (i >= text.size() || text[i] != '=') continue;
    ++i;
    while (i < text.size() && isSpace(text[i])) ++i;
    if (i < text.size() && (text[i] == '"' || text[i] == '\'')) {
      const char quote = text[i++];
      const std::size_t end = text.find(quote, i);
      if (end == std::string::npos) return std::nullopt;
      return std::make_pair(i, end - i);
    }
    std::size_t end = i;
    while (end < text.size() && !isSpace(text[end]) && text[end] != ';') ++end;
    return std::make_pair(i, end - i);
  }
  return std::nullopt;
}

namespace {

// The value after "charset" in a content attribute ("text/html; charset=x").
std::string charsetFromContent(std::string_view content) {
  const auto span = charsetInContent(content);
  return span ? lowerTrimmed(content.substr(span->first, span->second)) : std::string();
}

// Reads one attribute at text[i]; false at the end of the tag.
bool readAttribute(std::string_view text, std::size_t& i, std::string& name, std::string& value) {
  name.clear();
  value.clear();
  while (i < text.size() && (isSpace(text[i]) || text[i] == '/')) ++i;
  if (i >= text.size() || text[i] == '>') return false;
  while (i < text.size() && !isSpace(text[i]) && text[i] != '=' && text[i] != '>' &&
         text[i] != '/') {
    name += lowerAscii(text[i++]);
  }
  while (i < text.size() && isSpace(text[i])) ++i;
  if (i >= text.size() || text[i] != '=') return true;
  ++i;
  while (i < text.size() && isSpace(text[i])) ++i;
  if (i < text.size() && (text[i] == '"' || text[i] == '\'')) {
    const char quote = text[i++];
    const std::size_t end = std::min(text.find(quote, i), text.size());
    value = std::string(text.substr(i, end - i));
    i = std::min(end + 1, text.size());
  } else {
    while (i < text.size() && !isSpace(text[i]) && text[i] != '>') value += text[i++];
  }
  return true;
}

// Every label of the WHATWG Encoding Standard and the encoding it names
// (upper case, as the converter below knows them). Labels outside this table
// name nothing in a browser: UTF-7, UCS-2, UTF-32 and the EBCDIC code pages
// among them, which could turn bytes that a browser shows as text into markup.
struct LabelRow {
  std::string_view label;
  std::string_view encoding;
};
constexpr LabelRow kLabels[] = {
    {"unicode-1-1-utf-8", "UTF-8"}, {"utf-8", "UTF-8"}, {"utf8", "UTF-8"},
    {"866", "IBM866"}, {"cp866", "IBM866"}, {"csibm866", "IBM866"}, {"ibm866", "IBM866"},
    {"csisolatin2", "ISO-8859-2"}, {"iso-8859-2", "ISO-8859-2"}, {"iso-ir-101", "ISO-8859-2"},
    {"iso8859-2", "ISO-8859-2"}, {"iso88592", "ISO-8859-2"}, {"iso_8859-2", "ISO-8859-2"},
    {"iso_8859-2:1987", "ISO-8859-2"}, {"l2", "ISO-8859-2"}, {"latin2", "ISO-8859-2"},
    {"csisolatin3", "ISO-8859-3"}, {"iso-8859-3", "ISO-8859-3"}, {"iso-ir-109", "ISO-8859-3"},
    {"iso8859-3", "ISO-8859-3"}, {"iso88593", "ISO-8859-3"}, {"iso_8859-3", "ISO-8859-3"},
    {"iso_8859-3:1988", "ISO-8859-3"}, {"l3", "ISO-8859-3"}, {"latin3", "ISO-8859-3"},
    {"csisolatin4", "ISO-8859-4"}, {"iso-8859-4", "ISO-8859-4"}, {"iso-ir-110", "ISO-8859-4"},
    {"iso8859-4", "ISO-8859-4"}, {"iso88594", "ISO-8859-4"}, {"iso_8859-4", "ISO-8859-4"},
    {"iso_8859-4:1988", "ISO-8859-4"}, {"l4", "ISO-8859-4"}, {"latin4", "ISO-8859-4"},
    {"csisolatincyrillic", "ISO-8859-5"}, {"cyrillic", "ISO-8859-5"}, {"iso-8859-5", "ISO-8859-5"},
    {"iso-ir-144", "ISO-8859-5"}, {"iso8859-5", "ISO-8859-5"}, {"iso88595", "ISO-8859-5"},
    {"iso_8859-5", "ISO-8859-5"}, {"iso_8859-5:1988", "ISO-8859-5"},
    {"arabic", "ISO-8859-6"}, {"asmo-708", "ISO-8859-6"}, {"csiso88596e", "ISO-8859-6"},
    {"csiso88596i", "ISO-8859-6"}, {"csisolatinarabic", "ISO-8859-6"}, {"ecma-114", "ISO-8859-6"},
    {"iso-8859-6", "ISO-8859-6"}, {"iso-8859-6-e", "ISO-8859-6"}, {"iso-8859-6-i", "ISO-8859-6"},
    {"iso-ir-127", "ISO-8859-6"}, {"iso8859-6", "ISO-8859-6"}, {"iso88596", "ISO-8859-6"},
    {"iso_8859-6", "ISO-8859-6"}, {"iso_8859-6:1987", "ISO-8859-6"},
    {"csisolatingreek", "ISO-8859-7"}, {"ecma-118", "ISO-8859-7"}, {"elot_928", "ISO-8859-7"},
    {"greek", "ISO-8859-7"}, {"greek8", "ISO-8859-7"}, {"iso-8859-7", "ISO-8859-7"},
    {"iso-ir-126", "ISO-8859-7"}, {"iso8859-7", "ISO-8859-7"}, {"iso88597", "ISO-8859-7"},
    {"iso_8859-7", "ISO-8859-7"}, {"iso_8859-7:1987", "ISO-8859-7"}, {"sun_eu_greek", "ISO-8859-7"},
    {"csiso88598e", "ISO-8859-8"}, {"csisolatinhebrew", "ISO-8859-8"}, {"hebrew", "ISO-8859-8"},
    {"iso-8859-8", "ISO-8859-8"}, {"iso-8859-8-e", "ISO-8859-8"}, {"iso-ir-138", "ISO-8859-8"},
    {"iso8859-8", "ISO-8859-8"}, {"iso88598", "ISO-8859-8"}, {"iso_8859-8", "ISO-8859-8"},
    {"iso_8859-8:1988", "ISO-8859-8"}, {"visual", "ISO-8859-8"},
    {"csiso88598i", "ISO-8859-8-I"}, {"iso-8859-8-i", "ISO-8859-8-I"}, {"logical", "ISO-8859-8-I"},
    {"csisolatin6", "ISO-8859-10"}, {"iso-8859-10", "ISO-8859-10"}, {"iso-ir-157", "ISO-8859-10"},
    {"iso8859-10", "ISO-8859-10"}, {"iso885910", "ISO-8859-10"}, {"l6", "ISO-8859-10"},
    {"latin6", "ISO-8859-10"},
    {"iso-8859-13", "ISO-8859-13"}, {"iso8859-13", "ISO-8859-13"}, {"iso885913", "ISO-8859-13"},
    {"iso-8859-14", "ISO-8859-14"}, {"iso8859-14", "ISO-8859-14"}, {"iso885914", "ISO-8859-14"},
    {"csisolatin9", "ISO-8859-15"}, {"iso-8859-15", "ISO-8859-15"}, {"iso8859-15", "ISO-8859-15"},
    {"iso885915", "ISO-8859-15"}, {"iso_8859-15", "ISO-8859-15"}, {"l9", "ISO-8859-15"},
    {"iso-8859-16", "ISO-8859-16"},
    {"cskoi8r", "KOI8-R"}, {"koi", "KOI8-R"}, {"koi8", "KOI8-R"}, {"koi8-r", "KOI8-R"},
    {"koi8_r", "KOI8-R"}, {"koi8-u", "KOI8-U"},
    {"csmacintosh", "MACINTOSH"}, {"mac", "MACINTOSH"}, {"macintosh", "MACINTOSH"},
    {"x-mac-roman", "MACINTOSH"},
    {"dos-874", "WINDOWS-874"}, {"iso-8859-11", "WINDOWS-874"}, {"iso8859-11", "WINDOWS-874"},
    {"iso885911", "WINDOWS-874"}, {"tis-620", "WINDOWS-874"}, {"windows-874", "WINDOWS-874"},
    {"cp1250", "WINDOWS-1250"}, {"windows-1250", "WINDOWS-1250"}, {"x-cp1250", "WINDOWS-1250"},
    {"cp1251", "WINDOWS-1251"}, {"windows-1251", "WINDOWS-1251"}, {"x-cp1251", "WINDOWS-1251"},
    {"ansi_x3.4-1968", "WINDOWS-1252"}, {"ascii", "WINDOWS-1252"}, {"cp1252", "WINDOWS-1252"},
    {"cp819", "WINDOWS-1252"}, {"csisolatin1", "WINDOWS-1252"}, {"ibm819", "WINDOWS-1252"},
    {"iso-8859-1", "WINDOWS-1252"}, {"iso-ir-100", "WINDOWS-1252"}, {"iso8859-1", "WINDOWS-1252"},
    {"iso88591", "WINDOWS-1252"}, {"iso_8859-1", "WINDOWS-1252"},
    {"iso_8859-1:1987", "WINDOWS-1252"}, {"l1", "WINDOWS-1252"}, {"latin1", "WINDOWS-1252"},
    {"us-ascii", "WINDOWS-1252"}, {"windows-1252", "WINDOWS-1252"}, {"x-cp1252", "WINDOWS-1252"},
    {"cp1253", "WINDOWS-1253"}, {"windows-1253", "WINDOWS-1253"}, {"x-cp1253", "WINDOWS-1253"},
    {"cp1254", "WINDOWS-1254"}, {"csisolatin5", "WINDOWS-1254"}, {"iso-8859-9", "WINDOWS-1254"},
    {"iso-ir-148", "WINDOWS-1254"}, {"iso8859-9", "WINDOWS-1254"}, {"iso88599", "WINDOWS-1254"},
    {"iso_8859-9", "WINDOWS-1254"}, {"iso_8859-9:1989", "WINDOWS-1254"}, {"l5", "WINDOWS-1254"},
    {"latin5", "WINDOWS-1254"}, {"windows-1254", "WINDOWS-1254"}, {"x-cp1254", "WINDOWS-1254"},
    {"cp1255", "WINDOWS-1255"}, {"windows-1255", "WINDOWS-1255"}, {"x-cp1255", "WINDOWS-1255"},
    {"cp1256", "WINDOWS-1256"}, {"windows-1256", "WINDOWS-1256"}, {"x-cp1256", "WINDOWS-1256"},
    {"cp1257", "WINDOWS-1257"}, {"windows-1257", "WINDOWS-1257"}, {"x-cp1257", "WINDOWS-1257"},
    {"cp1258", "WINDOWS-1258"}, {"windows-1258", "WINDOWS-1258"}, {"x-cp1258", "WINDOWS-1258"},
    {"x-mac-cyrillic", "X-MAC-CYRILLIC"}, {"x-mac-ukrainian", "X-MAC-CYRILLIC"},
    {"chinese", "GBK"}, {"csgb2312", "GBK"}, {"csiso58gb231280", "GBK"}, {"gb2312", "GBK"},
    {"gb_2312", "GBK"}, {"gb_2312-80", "GBK"}, {"gbk", "GBK"}, {"iso-ir-58", "GBK"},
    {"x-gbk", "GBK"}, {"gb18030", "GB18030"},
    {"big5", "BIG5"}, {"big5-hkscs", "BIG5"}, {"cn-big5", "BIG5"}, {"csbig5", "BIG5"},
    {"x-x-big5", "BIG5"},
    {"cseucpkdfmtjapanese", "EUC-JP"}, {"euc-jp", "EUC-JP"}, {"x-euc-jp", "EUC-JP"},
    {"csiso2022jp", "ISO-2022-JP"}, {"iso-2022-jp", "ISO-2022-JP"},
    {"csshiftjis", "SHIFT_JIS"}, {"ms932", "SHIFT_JIS"}, {"ms_kanji", "SHIFT_JIS"},
    {"shift-jis", "SHIFT_JIS"}, {"shift_jis", "SHIFT_JIS"}, {"sjis", "SHIFT_JIS"},
    {"windows-31j", "SHIFT_JIS"}, {"x-sjis", "SHIFT_JIS"},
    {"cseuckr", "EUC-KR"}, {"csksc56011987", "EUC-KR"}, {"euc-kr", "EUC-KR"},
    {"iso-ir-149", "EUC-KR"}, {"korean", "EUC-KR"}, {"ks_c_5601-1987", "EUC-KR"},
    {"ks_c_5601-1989", "EUC-KR"}, {"ksc5601", "EUC-KR"}, {"ksc_5601", "EUC-KR"},
    {"windows-949", "EUC-KR"},
    // Encodings whose escape sequences once hid markup from filters: a browser
    // reads a page in them as one U+FFFD.
    {"csiso2022kr", "REPLACEMENT"}, {"hz-gb-2312", "REPLACEMENT"}, {"iso-2022-cn", "REPLACEMENT"},
    {"iso-2022-cn-ext", "REPLACEMENT"}, {"iso-2022-kr", "REPLACEMENT"},
    {"utf-16be", "UTF-16BE"}, {"utf-16", "UTF-16LE"}, {"utf-16le", "UTF-16LE"},
    {"x-user-defined", "X-USER-DEFINED"},
};

}  // namespace

std::string canonicalCharset(std::string_view label) {
  const std::string name = lowerTrimmed(label);
  for (const LabelRow& row : kLabels) {
    if (row.label == name) return std::string(row.encoding);
  }
  return {};
}

namespace {

// The encoding a <meta> declares, as the prescan takes it: UTF-16 labels mean
// UTF-8 (the bytes that held the declaration were ASCII) and x-user-defined
// means windows-1252. Empty for a label that names no encoding.
std::string declaredEncoding(std::string_view label) {
  const std::string name = canonicalCharset(label);
  if (name == "UTF-16LE" || name == "UTF-16BE") return "UTF-8";
  if (name == "X-USER-DEFINED") return "WINDOWS-1252";
  return name;
}

}  // namespace

std::string byteOrderMark(std::string_view bytes, std::size_t* length) {
  *length = 0;
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    *length = 3;
    return "UTF-8";
  }
  if (bytes.substr(0, 2) == "\xFF\xFE") {
    *length = 2;
    return "UTF-16LE";
  }
  if (bytes.substr(0, 2) == "\xFE\xFF") {
    *length = 2;
    return "UTF-16BE";
  }
  return {};
}

namespace {

bool startsWithLower(std::string_view text, std::size_t at, std::string_view name) {
  if (at + name.size() > text.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (lowerAscii(text[at + i]) != name[i]) return false;
  }
  return true;
}

// The encoding label of an XML declaration that starts the page.
std::string xmlDeclarationLabel(std::string_view text) {
  if (text.substr(0, 5) != "<?xml") return {};
  const std::string_view declaration = text.substr(0, text.find('>'));
  std::size_t i = declaration.find("encoding");
  if (i == std::string_view::npos) return {};
  i += 8;
  while (i < declaration.size() && isSpace(declaration[i])) ++i;
  if (i >= declaration.size() || declaration[i] != '=') return {};
  ++i;
  while (i < declaration.size() && isSpace(declaration[i])) ++i;
  if (i >= declaration.size() || (declaration[i] != '"' && declaration[i] != '\'')) return {};
  const std::size_t end = declaration.find(declaration[i], i + 1);
  if (end == std::string_view::npos) return {};
  return lowerTrimmed(declaration.substr(i + 1, end - i - 1));
}

bool isHeadTag(std::string_view name) {
  for (std::string_view head : {"script", "noscript", "style", "link", "meta", "object", "title", "base"}) {
    if (name == head) return true;
  }
  return false;
}

}  // namespace

std::string prescanMetaCharset(std::string_view text) {
  const std::string xml = xmlDeclarationLabel(text);
  if (!declaredEncoding(xml).empty()) return xml;
  constexpr std::size_t checkedAnyway = 1024;
  bool inHead = true;
  std::size_t i = 0;
  std::string tag, name, value;
  while (i < text.size() && (inHead || i < checkedAnyway)) {
    const std::size_t lt = text.find('<', i);
    if (lt == std::string_view::npos || lt + 1 >= text.size()) break;
    if (!inHead && lt >= checkedAnyway) break;  // the text before it took the scan that far
    i = lt;
    const char next = text[i + 1];
    if (text.compare(i, 4, "<!--") == 0) {
      // "<!-->" and "<!--->" are whole comments.
      std::size_t end = text.compare(i + 4, 1, ">") == 0    ? i + 5
                        : text.compare(i + 4, 2, "->") == 0 ? i + 6
                                                            : std::string_view::npos;
      for (std::size_t at = text.find("--", i + 4); end == std::string_view::npos && at != std::string_view::npos;
           at = text.find("--", at + 1)) {
        if (text.compare(at + 2, 1, ">") == 0) end = at + 3;
        if (text.compare(at + 2, 2, "!>") == 0) end = at + 4;
      }
      if (end == std::string_view::npos) break;
      i = end;
      continue;
    }
    const bool endTag = next == '/';
    const std::size_t nameAt = i + (endTag ? 2 : 1);
    if (next == '!' || next == '?' || (endTag && nameAt < text.size() && !isAsciiAlpha(text[nameAt]))) {
      const std::size_t gt = text.find('>', i + 1);  // a bogus comment
      if (gt == std::string_view::npos) break;
      i = gt + 1;
      continue;
    }
    if (nameAt >= text.size() || !isAsciiAlpha(text[nameAt])) {
      ++i;
      continue;
    }
    tag.clear();
    std::size_t k = nameAt;
    while (k < text.size() && !isSpace(text[k]) && text[k] != '>' && text[k] != '/') tag += lowerAscii(text[k++]);
    i = k;
    std::string charset, content;
    bool hasCharset = false, hasContent = false, contentTypePragma = false;
    while (readAttribute(text, i, name, value)) {
      if (name == "charset" && !hasCharset) {
        hasCharset = true;
        charset = lowerTrimmed(value);
      }
      if (name == "http-equiv" && lowerTrimmed(value) == "content-type") contentTypePragma = true;
      if (name == "content" && !hasContent) {
        hasContent = true;
        content = value;
      }
    }
    if (i >= text.size()) break;  // a tag cut by the end of the page
    ++i;                          // its ">"
    if (endTag) {
      if (!isHeadTag(tag)) inHead = false;
      continue;
    }
    if (!isHeadTag(tag) && tag != "html" && tag != "head") inHead = false;
    if (tag == "meta") {
      // A charset attribute settles the element, even with a label that
      // names nothing; a declaration that names nothing is passed over.
      if (!hasCharset && contentTypePragma) charset = charsetFromContent(content);
      if (!declaredEncoding(charset).empty()) return charset;
    } else if (tag == "plaintext") {
      break;
    } else if (tag == "script" || tag == "style" || tag == "title" || tag == "textarea" || tag == "xmp" ||
               tag == "iframe" || tag == "noembed" || tag == "noframes" || tag == "noscript") {
      // Raw text: nothing in it is a tag.
      std::size_t end = i;
      for (end = text.find("</", end); end != std::string_view::npos; end = text.find("</", end + 1)) {
        const std::size_t after = end + 2 + tag.size();
        if (startsWithLower(text, end + 2, tag) &&
            (after >= text.size() || isSpace(text[after]) || text[after] == '/' || text[after] == '>')) {
          break;
        }
      }
      if (end == std::string_view::npos) break;
      i = end;
    }
  }
  return {};
}

namespace {

// How a legacy multibyte encoding parses the page's bytes: its two-byte
// characters, how many of them are those its language's text is mostly
// made of, and bytes it cannot read.
struct MultibyteFit {
  std::size_t pairs = 0, common = 0, lowTrails = 0;
  std::size_t inRuns = 0;  // pairs right after another: text in those languages runs on, Latin accents do not
  bool valid = true;
  double share() const { return pairs ? static_cast<double>(common) / static_cast<double>(pairs) : 0; }
};

bool within(unsigned char c, unsigned char low, unsigned char high) { return c >= low && c <= high; }

enum class Multibyte { shiftJis, eucJp, eucKr, big5, gbk };

MultibyteFit fit(std::string_view bytes, Multibyte encoding) {
  MultibyteFit result;
  for (std::size_t i = 0; i < bytes.size() && result.valid;) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    const unsigned char trail = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
    bool pair = false;
    bool common = false;
    std::size_t length = 2;
    switch (encoding) {
      case Multibyte::shiftJis:
        if (within(lead, 0xA1, 0xDF)) {
          length = 1;  // half-width katakana
          break;
        }
        pair = (within(lead, 0x81, 0x9F) || within(lead, 0xE0, 0xFC)) &&
               (within(trail, 0x40, 0x7E) || within(trail, 0x80, 0xFC));
        // Hiragana and katakana.
        common = (lead == 0x82 && within(trail, 0x9F, 0xF1)) || (lead == 0x83 && within(trail, 0x40, 0x96));
        break;
      case Multibyte::eucJp:
        if (lead == 0x8F) {
          length = 3;
          pair = within(trail, 0xA1, 0xFE) && i + 2 < bytes.size() &&
                 within(static_cast<unsigned char>(bytes[i + 2]), 0xA1, 0xFE);
          break;
        }
        pair = (within(lead, 0xA1, 0xFE) && within(trail, 0xA1, 0xFE)) || (lead == 0x8E && within(trail, 0xA1, 0xDF));
        common = (lead == 0xA4 && within(trail, 0xA1, 0xF3)) || (lead == 0xA5 && within(trail, 0xA1, 0xF6));
        break;
      case Multibyte::eucKr:
        pair = within(lead, 0x81, 0xFE) &&
               (within(trail, 0xA1, 0xFE) || within(trail, 0x41, 0x5A) || within(trail, 0x61, 0x7A) ||
                within(trail, 0x81, 0xA0));
        common = within(lead, 0xB0, 0xC8) && within(trail, 0xA1, 0xFE);  // Hangul syllables
        break;
      case Multibyte::big5:
        pair = within(lead, 0x81, 0xFE) && (within(trail, 0x40, 0x7E) || within(trail, 0xA1, 0xFE));
        common = within(lead, 0xA4, 0xF9);  // Chinese characters
        break;
      case Multibyte::gbk:
        pair = within(lead, 0x81, 0xFE) && (within(trail, 0x40, 0x7E) || within(trail, 0x80, 0xFE));
        common = within(lead, 0xB0, 0xF7) && within(trail, 0xA1, 0xFE);  // GB2312's Chinese characters
        break;
    }
    if (length == 1) {
      ++i;
      continue;
    }
    if (!pair) {
      result.valid = false;
      break;
    }
    ++result.pairs;
    if (i > 0 && static_cast<unsigned char>(bytes[i - 1]) >= 0x80) ++result.inRuns;
    if (common) ++result.common;
    if (trail < 0x80) ++result.lowTrails;
    i += length;
  }
  return result;
}

// Cyrillic in windows-1251 or KOI8-R: letters are nearly all bytes from
// 0xC0, lower case (most of running text) in the upper half for
// windows-1251 and the lower half for KOI8-R.
std::string cyrillicEncoding(std::string_view bytes) {
  std::size_t ascii = 0, upper = 0, lower = 0, other = 0;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z')) {
      ++ascii;
    } else if (b >= 0xE0) {
      ++upper;
    } else if (b >= 0xC0) {
      ++lower;
    } else if (b >= 0x80) {
      ++other;
    }
  }
  const std::size_t letters = upper + lower;
  // Markup's names are ASCII letters: those of text must outnumber them.
  if (letters < 2 * ascii || letters < 8 * other) return {};
  if (upper >= 3 * lower) return "WINDOWS-1251";
  if (lower >= 3 * upper) return "KOI8-R";
  return {};
}

}  // namespace

std::string guessUndeclaredEncoding(std::string_view bytes) {
  // Each multibyte encoding must read every byte, and give the characters
  // of its language their usual share.
  const MultibyteFit shiftJis = fit(bytes, Multibyte::shiftJis);
  if (shiftJis.valid && shiftJis.share() >= 0.25) return "SHIFT_JIS";
  const MultibyteFit eucJp = fit(bytes, Multibyte::eucJp);
  if (eucJp.valid && eucJp.share() >= 0.25) return "EUC-JP";
  const auto runsOn = [](const MultibyteFit& fit) { return fit.inRuns * 3 >= fit.pairs; };
  const MultibyteFit eucKr = fit(bytes, Multibyte::eucKr);
  if (eucKr.valid && eucKr.share() >= 0.8 && runsOn(eucKr)) return "EUC-KR";
  // Big5 gives a good part of its characters a trail byte below 0x7F (not
  // all: Latin text, a letter after each accented one, would pass), GBK's
  // Chinese characters none.
  const MultibyteFit big5 = fit(bytes, Multibyte::big5);
  if (big5.valid && big5.share() >= 0.6 && runsOn(big5) && big5.lowTrails * 5 >= big5.pairs &&
      big5.lowTrails * 5 <= big5.pairs * 4) {
    return "BIG5";
  }
  const MultibyteFit gbk = fit(bytes, Multibyte::gbk);
  if (gbk.valid && gbk.share() >= 0.6 && runsOn(gbk)) return "GBK";
  const std::string cyrillic = cyrillicEncoding(bytes);
  return cyrillic.empty() ? "WINDOWS-1252" : cyrillic;
}

std::string chooseCharset(std::string_view bytes, std::string_view callerCharset,
                          std::size_t* bomLength) {
  const std::string bom = byteOrderMark(bytes, bomLength);
  if (!bom.empty()) return bom;
  if (!lowerTrimmed(callerCharset).empty()) return canonicalCharset(callerCharset);
  const std::string declared = declaredEncoding(prescanMetaCharset(bytes));
  if (!declared.empty()) return declared;
  return isValidUtf8(bytes) ? "UTF-8" : guessUndeclaredEncoding(bytes);
}

}  // namespace glintmark::html
