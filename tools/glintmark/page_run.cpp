#include "tools/glintmark/page_run.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "host/html/html_document.h"
#include "host/html/html_internal.h"

namespace glintmark::tool {

std::optional<std::uint32_t> parseOptionsWord(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint32_t word = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), word, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return word;
}

std::unique_ptr<CodePage> codePageByName(std::string_view number) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (number.empty() || error != std::errc() || end != number.data() + number.size()) return nullptr;
  return makeCodePage(value);
}

std::optional<std::string> readFile(const std::filesystem::path& path, std::string* error) {
  std::error_code code;
  if (std::filesystem::is_directory(path, code)) {
    *error = path.string() + ": is a folder, not a file";
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path.string() + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) {
    *error = path.string() + ": read error";
    return std::nullopt;
  }
  return std::move(bytes).str();
}

bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, std::string* error) {
  const std::filesystem::path temporary =
      path.parent_path() / ("." + path.filename().string() + ".tmp" + std::to_string(::getpid()));
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) {
      *error = temporary.string() + ": " + std::strerror(errno);
      return false;
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      *error = temporary.string() + ": write error";
      std::filesystem::remove(temporary);
      return false;
    }
  }
  std::error_code code;
  std::filesystem::rename(temporary, path, code);
  if (code) {
    *error = path.string() + ": " + code.message();
    std::filesystem::remove(temporary, code);
    return false;
  }
  return true;
}

PageOutcome runPage(const PageInput& input, const HighlightOptions& options, PageSession& session,
                    const CodePage& codePage) {
  html::ParseOptions parse;
  parse.url = html::toUtf16(input.url);
  parse.referrer = html::toUtf16(input.referrer);
  const std::unique_ptr<html::HtmlDocument> document = html::parseHtml(input.bytes, parse);
  PageOutcome outcome;
  {
    const std::unique_ptr<Browser> browser = document->browser();
    outcome.result = HighlightPage(browser.get(), options, session, codePage, &outcome.report);
  }
  outcome.html = document->serialize();
  return outcome;
}

std::string savedTextFromArgument(std::string_view utf8, const CodePage& codePage) {
  std::string text = codePage.toNarrow(html::toUtf16(utf8));
  lowerInPlace(codePage, text);
  return text;
}

namespace {

// Narrow text of the code page as UTF-8, for reports.
std::string utf8Of(std::string_view narrow, const CodePage& codePage) {
  return html::toUtf8(codePage.toWide(narrow));
}

nlohmann::json textOrNull(const std::optional<std::string>& text, const CodePage& codePage) {
  return text ? nlohmann::json(utf8Of(*text, codePage)) : nlohmann::json(nullptr);
}

}  // namespace

nlohmann::json reportJson(const PageOutcome& outcome, const PageSession& session,
                          const CodePage& codePage) {
  const PageReport& report = outcome.report;
  nlohmann::json keywords = nlohmann::json::array();
  for (const PageReport::Keyword& keyword : report.keywords) {
    keywords.push_back({{"word", utf8Of(keyword.word, codePage)},
                        {"colour", std::string(keyword.colour)},
                        {"spans", keyword.spans}});
  }
  return {{"result", hresultText(outcome.result)},
          {"source", std::string(sourceName(report.source))},
          {"searchText", textOrNull(report.text, codePage)},
          {"fromTitle", report.fromTitle},
          {"keywords", keywords},
          {"tooltips", report.tooltips},
          {"savedSearchText", textOrNull(session.m_savedSearchText, codePage)}};
}

std::string reportText(const nlohmann::json& report, std::string_view indent) {
  const auto quoted = [](const nlohmann::json& text) {
    return text.is_null() ? std::string("(none)") : "\"" + text.get<std::string>() + "\"";
  };
  std::ostringstream out;
  out << indent << "result " << report["result"].get<std::string>() << ", source "
      << report["source"].get<std::string>() << ", text " << quoted(report["searchText"])
      << (report["fromTitle"].get<bool>() ? " (title words)" : "") << "\n";
  out << indent << "keywords:";
  if (report["keywords"].empty()) out << " (none)";
  for (const nlohmann::json& keyword : report["keywords"]) {
    out << " " << keyword["word"].get<std::string>() << " " << keyword["colour"].get<std::string>()
        << " x" << keyword["spans"].get<int>() << ";";
  }
  out << "\n"
      << indent << "tooltips " << report["tooltips"].get<int>() << ", saved search text "
      << quoted(report["savedSearchText"]) << "\n";
  return out.str();
}

std::string hresultText(HResult result) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(result));
  return text;
}

}  // namespace glintmark::tool
