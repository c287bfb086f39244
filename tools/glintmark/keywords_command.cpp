// glintmark keywords: the search text and keyword list of URLs, or the title
// words of a page, computed the way the page pass computes them.
//
//   glintmark keywords 'https://s.example/search?hl=en&q=new+york&start=10'
//   glintmark keywords --json URL...
//   glintmark keywords --title 'Example Domain' --page-url https://example.com/
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "core/code_page.h"
#include "core/keywords.h"
#include "core/search_query.h"
#include "core/utf.h"
#include "tools/glintmark/command.h"
#include "tools/glintmark/files.h"

namespace glintmark::tool {
namespace {

class Keywords {
 public:
  explicit Keywords(const CodePage& codePage) : m_cp(codePage) {}

  // Narrow text as the page pass gets it: converted to the code page, lowercased.
  std::string lowered(const std::string& utf8) const {
    std::string narrow = m_cp.toNarrow(toUtf16(utf8));
    lowerInPlace(m_cp, narrow);
    return narrow;
  }
  std::string shown(std::string_view narrow) const { return toUtf8(m_cp.toWide(narrow)); }

  std::vector<std::string> shownWords(const KeywordList& list) const {
    std::vector<std::string> words;
    for (const std::string& w : list.words) words.push_back(shown(w));
    return words;
  }

  // The URL is searched the way a referrer is: any URL may carry a search text.
  nlohmann::ordered_json url(const std::string& url) const {
    std::string buffer = lowered(url);
    const std::optional<std::string_view> text = extractSearchText(buffer.data(), m_cp);
    // The search text always ends at a terminator: the end of the buffer or the cut "&".
    const KeywordList list = text ? splitKeywords(text->data(), false, nullptr, m_cp) : KeywordList{};
    return {{"url", url},
            {"searchText", text ? nlohmann::ordered_json(shown(*text)) : nlohmann::ordered_json(nullptr)},
            {"keywords", shownWords(list)}};
  }

  // Title-word mode. The page URL is shortened as the page pass leaves it: a
  // URL holding "?" or "&" is searched, and a value found there is cut at its "&".
  nlohmann::ordered_json title(const std::string& title, const std::optional<std::string>& pageUrl) const {
    const std::string narrowTitle = lowered(title);
    std::string buffer = pageUrl ? lowered(*pageUrl) : std::string();
    if (findInText(m_cp, buffer, "?") != std::string_view::npos ||
        findInText(m_cp, buffer, "&") != std::string_view::npos) {
      (void)extractSearchText(buffer.data(), m_cp);
    }
    const KeywordList list =
        splitKeywords(narrowTitle.c_str(), true, buffer.empty() ? nullptr : buffer.c_str(), m_cp);
    return {{"title", title},
            {"pageUrl", pageUrl ? nlohmann::ordered_json(*pageUrl) : nlohmann::ordered_json(nullptr)},
            {"fromTitle", list.fromTitle},
            {"keywords", shownWords(list)}};
  }

 private:
  const CodePage& m_cp;
};

std::string joined(const nlohmann::ordered_json& words) {
  if (words.empty()) return "none";
  std::string out;
  for (const auto& w : words) out += (out.empty() ? "" : ", ") + w.get<std::string>();
  return out;
}

void print(const nlohmann::ordered_json& result, bool json) {
  if (json) {
    std::cout << result.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
    return;
  }
  const auto text = [](const nlohmann::ordered_json& value) { return printable(value.get<std::string>()); };
  if (result.contains("url")) {
    std::cout << text(result["url"]) << "\n  search text: "
              << (result["searchText"].is_null() ? "none" : "\"" + text(result["searchText"]) + "\"")
              << "\n";
  } else {
    std::cout << "title: " << text(result["title"]) << "\n  page URL: "
              << (result["pageUrl"].is_null() ? "none" : text(result["pageUrl"])) << "\n";
  }
  std::cout << "  keywords: " << printable(joined(result["keywords"])) << "\n";
}

const CommandRegistration registration{
    "keywords", "Print the search text and keywords of URLs, or the title words of a page",
    [](CLI::App& command) -> CommandRunner {
      struct Options {
        std::vector<std::string> urls;
        std::optional<std::string> title;
        std::optional<std::string> pageUrl;
        unsigned codePage = 0;
        bool json = false;
      };
      auto options = std::make_shared<Options>();
      auto* urls = command.add_option("urls", options->urls, "URLs, each searched as a referrer is");
      auto* title = command.add_option("--title", options->title, "Run title-word mode on this page title");
      command.add_option("--page-url", options->pageUrl, "The page URL for title-word mode")->needs(title);
      title->excludes(urls);
      addCodePageOption(command, options->codePage, "the ANSI code page: 1252, 932 or 65001 (UTF-8, as in the browser engine; default 1252)");
      command.add_flag("--json", options->json, "One JSON object per line");
      return [options] {
        std::unique_ptr<CodePage> chosen;
        if (options->codePage != 0) {
          chosen = makeCodePage(options->codePage);
          if (!chosen) {
            std::cerr << "glintmark keywords: code page " << options->codePage << " is not available\n";
            return exitUsage;
          }
        }
        const Keywords keywords(chosen ? *chosen : ansiCodePage());
        if (options->title) {
          print(keywords.title(*options->title, options->pageUrl), options->json);
          return exitOk;
        }
        if (options->urls.empty()) {
          std::cerr << "glintmark keywords: give one or more URLs, or --title TEXT\n";
          return exitUsage;
        }
        for (const std::string& url : options->urls) print(keywords.url(url), options->json);
        return exitOk;
      };
    }};

}  // namespace
}  // namespace glintmark::tool
