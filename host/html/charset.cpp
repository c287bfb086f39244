// Choosing a page's charset from its bytes.
#include "host/html/charset.h"

#include <algorithm>

#include "host/html/html_internal.h"

namespace glintmark::html {

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

std::string lowerTrimmed(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  std::string out;
  for (char c : text) out += lower(c);
  return out;
}

// The value after "charset" in a content attribute ("text/html; charset=x").
std::string charsetFromContent(std::string_view content) {
  const std::string text = lowerTrimmed(content);
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
      if (end == std::string::npos) return {};
      return text.substr(i, end - i);
    }
    std::size_t end = i;
    while (end < text.size() && !isSpace(text[end]) && text[end] != ';') ++end;
    return text.substr(i, end - i);
  }
  return {};
}

// Reads one attribute at text[i]; false at the end of the tag.
bool readAttribute(std::string_view text, std::size_t& i, std::string& name, std::string& value) {
  name.clear();
  value.clear();
  while (i < text.size() && (isSpace(text[i]) || text[i] == '/')) ++i;
  if (i >= text.size() || text[i] == '>') return false;
  while (i < text.size() && !isSpace(text[i]) && text[i] != '=' && text[i] != '>' &&
         text[i] != '/') {
    name += lower(text[i++]);
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

std::string prescanMetaCharset(std::string_view bytes) {
  const std::string_view text = bytes.substr(0, 1024);
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t lt = text.find('<', i);
    if (lt == std::string_view::npos) break;
    i = lt;
    if (text.compare(i, 4, "<!--") == 0) {
      const std::size_t end = text.find("-->", i + 4);
      if (end == std::string_view::npos) break;
      i = end + 3;
      continue;
    }
    std::string tag;
    std::size_t k = i + 1;
    while (k < text.size() && !isSpace(text[k]) && text[k] != '>' && text[k] != '/') {
      tag += lower(text[k++]);
    }
    i = k;
    if (tag != "meta") {
      const std::size_t gt = text.find('>', i);
      if (gt == std::string_view::npos) break;
      i = gt + 1;
      continue;
    }
    std::string name, value, charset, content;
    bool contentTypePragma = false;
    while (readAttribute(text, i, name, value)) {
      if (name == "charset" && charset.empty()) charset = lowerTrimmed(value);
      if (name == "http-equiv" && lowerTrimmed(value) == "content-type") contentTypePragma = true;
      if (name == "content" && content.empty()) content = value;
    }
    if (!charset.empty()) return charset;
    if (contentTypePragma) {
      const std::string fromContent = charsetFromContent(content);
      if (!fromContent.empty()) return fromContent;
    }
  }
  return {};
}

std::string canonicalCharset(std::string_view label) {
  const std::string name = lowerTrimmed(label);
  if (name == "utf-8" || name == "utf8" || name == "unicode-1-1-utf-8") return "UTF-8";
  if (name == "latin1" || name == "iso-8859-1" || name == "iso8859-1" || name == "us-ascii" ||
      name == "ascii" || name == "l1" || name == "cp1252" || name == "windows-1252" ||
      name == "x-cp1252") {
    return "WINDOWS-1252";
  }
  if (name == "shift_jis" || name == "shift-jis" || name == "sjis" || name == "x-sjis" ||
      name == "ms_kanji" || name == "windows-31j" || name == "cp932") {
    return "SHIFT_JIS";
  }
  std::string upper;
  for (char c : name) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  return upper;
}

std::string chooseCharset(std::string_view bytes, std::string_view callerCharset,
                          std::size_t* bomLength) {
  const std::string bom = byteOrderMark(bytes, bomLength);
  if (!bom.empty()) return bom;
  if (!lowerTrimmed(callerCharset).empty()) return canonicalCharset(callerCharset);
  const std::string declared = prescanMetaCharset(bytes);
  if (!declared.empty()) {
    const std::string name = canonicalCharset(declared);
    if (name.rfind("UTF-16", 0) == 0) return "UTF-8";
    return name;
  }
  return isValidUtf8(bytes) ? "UTF-8" : "WINDOWS-1252";
}

}  // namespace glintmark::html
