#include "core/report_json.h"

#include <cstdio>

#include "core/utf.h"

namespace glintmark {
namespace {

void appendJsonString(std::string& out, std::string_view utf8) {
  out += '"';
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  out += '"';
}

void appendJsonText(std::string& out, const std::optional<std::string>& narrow, const CodePage& codePage) {
  if (!narrow) {
    out += "null";
    return;
  }
  // The narrow text is the code page's; JSON wants valid UTF-8.
  appendJsonString(out, toUtf8(codePage.toWide(*narrow)));
}

}  // namespace

std::string reportJson(HResult result, const PageReport& report, const PageSession& session,
                       const CodePage& codePage) {
  std::string out = "{\"result\":";
  appendJsonString(out, hresultText(result));
  out += ",\"source\":";
  appendJsonString(out, sourceName(report.source));
  out += ",\"searchText\":";
  appendJsonText(out, report.text, codePage);
  out += ",\"fromTitle\":";
  out += report.fromTitle ? "true" : "false";
  out += ",\"keywords\":[";
  for (std::size_t i = 0; i < report.keywords.size(); ++i) {
    const PageReport::Keyword& keyword = report.keywords[i];
    if (i) out += ',';
    out += "{\"word\":";
    appendJsonText(out, keyword.word, codePage);
    out += ",\"colour\":";
    appendJsonString(out, keyword.colour);
    out += ",\"spans\":" + std::to_string(keyword.spans) + "}";
  }
  out += "],\"tooltips\":" + std::to_string(report.tooltips);
  out += ",\"savedSearchText\":";
  appendJsonText(out, session.m_savedSearchText, codePage);
  out += '}';
  return out;
}

}  // namespace glintmark
