// What `glintmark highlight` and `glintmark session` share: one page pass over
// an HTML file, its report, and the careful file handling around it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "core/code_page.h"
#include "core/highlight_options.h"
#include "core/page_pass.h"
#include "html/html_document.h"
#include "tools/glintmark/files.h"

namespace glintmark::tool {

// parseOptionsWord: the stored options word as the settings keep it, written
// in decimal or as 0x-hexadecimal (0 to 0xFFFFFFFF; bits 4-31 are ignored by
// the pass). None for anything else.
std::optional<std::uint32_t> parseOptionsWord(std::string_view text);

// One page: its bytes and where it came from (URLs in UTF-8).
struct PageInput {
  std::string bytes;
  std::string url;
  std::string referrer;
};

struct PageOutcome {
  HResult result = hr::ok;
  PageReport report;
  // The page after the pass, ready to be written (writePage); none when the
  // page was refused (too deeply nested to read in bounded time), with the
  // reason in `error`.
  std::unique_ptr<html::HtmlDocument> document;
  std::string error;
  bool byteOrderMark = false;  // the written page starts with one
};

// runPage: parses the page and runs one pass with `session`. The page's bytes
// are let go once parsed. The page is written in UTF-8 and says so: writePage
// writes every charset declaration that names another encoding as "utf-8"
// (the tree keeps them as read), and a UTF-8 byte-order mark leads the page
// when it was read in another encoding or began with a mark, so that a
// browser reads the written page with the text of the original.
PageOutcome runPage(PageInput input, const HighlightOptions& options, PageSession& session,
                    const CodePage& codePage);

// writePage: the page as it is written, handed to `write` in pieces as it is
// serialised (the whole page is never in memory at once); false when a
// write returned false. writePageFile: the same into `file` (opened,
// written and committed here), whole or not at all; *error says why it
// failed.
bool writePage(const PageOutcome& outcome, const std::function<bool(std::string_view)>& write);
bool writePageFile(const PageOutcome& outcome, AtomicFile& file, std::string* error);

// The saved search text given on the command line (UTF-8), as the pass keeps
// it: in the code page, lowercased.
std::string savedTextFromArgument(std::string_view utf8, const CodePage& codePage);

// The report of one pass (core/report_json.h) as a JSON value, for the
// commands to add to and print.
nlohmann::json reportJson(const PageOutcome& outcome, const PageSession& session,
                          const CodePage& codePage);

// A few lines for people, each starting with `indent`.
std::string reportText(const nlohmann::json& report, std::string_view indent);

}  // namespace glintmark::tool
