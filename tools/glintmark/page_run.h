// What `glintmark highlight` and `glintmark session` share: one page pass over
// an HTML file, its report, and the careful file handling around it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "core/code_page.h"
#include "core/highlight_options.h"
#include "core/page_pass.h"

namespace glintmark::tool {

// parseOptionsWord: the stored options word as the settings keep it, written
// in decimal or as 0x-hexadecimal (0 to 0xFFFFFFFF; bits 4-31 are ignored by
// the pass). None for anything else.
std::optional<std::uint32_t> parseOptionsWord(std::string_view text);

// The code page by its number ("1252", "932"); nullptr for an unknown one.
std::unique_ptr<CodePage> codePageByName(std::string_view number);

// readFile: the whole file, or none with the reason in *error.
std::optional<std::string> readFile(const std::filesystem::path& path, std::string* error);

// writeFileAtomically: writes a temporary file beside `path` and renames it
// over `path`, so a reader never sees a half-written page. On failure the
// temporary file is removed, `path` is untouched and *error says why.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, std::string* error);

// One page: its bytes and where it came from (URLs in UTF-8).
struct PageInput {
  std::string bytes;
  std::string url;
  std::string referrer;
};

struct PageOutcome {
  HResult result = hr::ok;
  PageReport report;
  std::string html;  // the page after the pass, UTF-8
};

// runPage: parses the page, runs one pass with `session` and serialises it.
PageOutcome runPage(const PageInput& input, const HighlightOptions& options, PageSession& session,
                    const CodePage& codePage);

// The saved search text given on the command line (UTF-8), as the pass keeps
// it: in the code page, lowercased.
std::string savedTextFromArgument(std::string_view utf8, const CodePage& codePage);

// The report of one pass: {"result", "source", "searchText", "fromTitle",
// "keywords": [{"word", "colour", "spans"}], "tooltips", "savedSearchText"}.
nlohmann::json reportJson(const PageOutcome& outcome, const PageSession& session,
                          const CodePage& codePage);

// A few lines for people, each starting with `indent`.
std::string reportText(const nlohmann::json& report, std::string_view indent);

// "0x80004005"
std::string hresultText(HResult result);

}  // namespace glintmark::tool
