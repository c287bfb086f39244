#include "tools/glintmark/page_run.h"

#include <charconv>
#include <new>
#include <sstream>

#include "core/report_json.h"
#include "core/utf.h"
#include "html/charset.h"
#include "html/html_document.h"
#include "tools/glintmark/files.h"

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

PageOutcome runPage(PageInput input, const HighlightOptions& options, PageSession& session,
                    const CodePage& codePage) {
  // The original's reading is pinned by a byte-order mark unless it was
  // UTF-8 found by its declaration or by its bytes, which hold for the
  // written page just the same.
  std::size_t bomLength = 0;
  const bool markNeeded = html::chooseCharset(input.bytes, "", &bomLength) != "UTF-8" || bomLength > 0;
  html::ParseOptions parse;
  parse.url = toUtf16(input.url);
  parse.referrer = toUtf16(input.referrer);
  PageOutcome outcome;
  outcome.document = html::parseHtml(input.bytes, parse, &outcome.error);
  if (!outcome.document) return outcome;
  // The tree holds all the page says: its bytes go before the pass adds to it.
  std::string().swap(input.bytes);
  {
    const std::unique_ptr<Browser> browser = outcome.document->browser();
    outcome.result = HighlightPage(browser.get(), options, session, codePage, &outcome.report);
  }
  // The pass goes on past a call that ran out of memory, as it does past any
  // failure of the browser's; the page it leaves is then only partly marked,
  // and the tool fails as it does when memory runs out anywhere else.
  if (outcome.document->ranOutOfMemory()) throw std::bad_alloc();
  outcome.byteOrderMark = markNeeded;
  return outcome;
}

bool writePage(const PageOutcome& outcome, const std::function<bool(std::string_view)>& write) {
  if (outcome.byteOrderMark && !write("\xEF\xBB\xBF")) return false;
  // The page is written in UTF-8, and its charset declarations say so.
  return outcome.document->serialize(write, html::HtmlDocument::Charsets::declareUtf8);
}

bool writePageFile(const PageOutcome& outcome, AtomicFile& file, std::string* error) {
  if (!file.open(error)) return false;
  writePage(outcome, [&file](std::string_view bytes) { return file.write(bytes); });
  return file.commit(error);
}

std::string savedTextFromArgument(std::string_view utf8, const CodePage& codePage) {
  std::string text = codePage.toNarrow(toUtf16(utf8));
  lowerInPlace(codePage, text);
  return text;
}

nlohmann::json reportJson(const PageOutcome& outcome, const PageSession& session,
                          const CodePage& codePage) {
  return nlohmann::json::parse(glintmark::reportJson(outcome.result, outcome.report, session, codePage));
}

std::string reportText(const nlohmann::json& report, std::string_view indent) {
  const auto quoted = [](const nlohmann::json& text) {
    return text.is_null() ? std::string("(none)") : "\"" + printable(text.get<std::string>()) + "\"";
  };
  std::ostringstream out;
  out << indent << "result " << report["result"].get<std::string>() << ", source "
      << report["source"].get<std::string>() << ", text " << quoted(report["searchText"])
      << (report["fromTitle"].get<bool>() ? " (title words)" : "") << "\n";
  out << indent << "keywords:";
  if (report["keywords"].empty()) out << " (none)";
  for (const nlohmann::json& keyword : report["keywords"]) {
    out << " " << printable(keyword["word"].get<std::string>()) << " " << keyword["colour"].get<std::string>()
        << " x" << keyword["spans"].get<int>() << ";";
  }
  out << "\n"
      << indent << "tooltips " << report["tooltips"].get<int>() << ", saved search text "
      << quoted(report["savedSearchText"]) << "\n";
  return out.str();
}

}  // namespace glintmark::tool
