// glintmark highlight: one page pass over an HTML file, as the browser runs it
// when the page completes.
//
//   glintmark highlight page.html --url https://site.example/a.html
//       --referrer 'https://engine.example/search?q=new+york' -o out.html --json
#include <iostream>
#include <memory>
#include <string>

#include "tools/glintmark/command.h"
#include "tools/glintmark/files.h"
#include "tools/glintmark/page_run.h"

namespace glintmark::tool {
namespace {

struct HighlightArguments {
  std::string page;
  std::string url;
  std::string referrer;
  std::string options = std::to_string(defaultOptionsWord);
  std::optional<std::string> saved;
  unsigned codePage = 1252;
  std::string output;
  bool json = false;
};

int fail(int status, const std::string& message) {
  std::cerr << "glintmark highlight: " << printable(message) << "\n";
  return status;
}

int runHighlight(const HighlightArguments& arguments) {
  const std::optional<std::uint32_t> word = parseOptionsWord(arguments.options);
  if (!word) {
    return fail(exitUsage, "bad option word '" + arguments.options +
                               "' (a number such as 13 or 0xD: bit 0 intelligently, 1 search "
                               "results, 2 returned documents, 3 link tooltips)");
  }
  const std::unique_ptr<CodePage> codePage = makeCodePage(arguments.codePage);
  if (!codePage) {
    return fail(exitUsage, "code page " + std::to_string(arguments.codePage) + " is not available");
  }
  std::string error;
  // A target that cannot be written is refused before any work is done.
  if (!arguments.output.empty() && !checkOutputTarget(arguments.output, &error)) {
    return fail(exitUsage, "cannot write the page: " + error);
  }
  std::optional<std::string> bytes = readInputFile(arguments.page, &error);
  if (!bytes) return fail(exitUsage, "cannot read the page: " + error);

  PageSession session;
  if (arguments.saved) session.m_savedSearchText = savedTextFromArgument(*arguments.saved, *codePage);
  const PageOutcome outcome = runPage({std::move(*bytes), arguments.url, arguments.referrer},
                                      optionsFromWord(*word), session, *codePage);
  if (!outcome.document) return fail(exitUsage, "cannot read the page: " + outcome.error);
  const nlohmann::json report = reportJson(outcome, session, *codePage);

  if (!arguments.output.empty()) {
    AtomicFile file(arguments.output);
    if (!writePageFile(outcome, file, &error)) {
      return fail(exitFailure, "cannot write the page: " + error);
    }
  } else if (!arguments.json) {
    writePage(outcome, [](std::string_view bytes) {
      return static_cast<bool>(std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size())));
    });
  }
  // The report goes where the page does not.
  if (arguments.json) {
    std::cout << report.dump(2) << "\n";
  } else {
    (arguments.output.empty() ? std::cerr : std::cout) << reportText(report, "");
  }
  return failed(outcome.result) ? exitFailure : exitOk;
}

const CommandRegistration highlight{
    "highlight", "Run the page pass on an HTML page: keyword spans and link tooltips",
    [](CLI::App& command) -> CommandRunner {
      auto arguments = std::make_shared<HighlightArguments>();
      command.add_option("PAGE", arguments->page, "the HTML file")->required();
      command.add_option("--url", arguments->url, "the page's own address")->required();
      command.add_option("--referrer", arguments->referrer, "the address of the page that led here");
      command.add_option("--options", arguments->options,
                         "the stored options word (default 13: intelligently, returned documents, "
                         "link tooltips)");
      command.add_option("--saved", arguments->saved,
                         "the search text saved from an earlier page of the window");
      addCodePageOption(command, arguments->codePage, "the ANSI code page: 1252, 932 or 65001 (UTF-8, as in the browser engine; default 1252)");
      command.add_option("-o,--output", arguments->output,
                         "write the page here (default: standard output, unless --json)");
      command.add_flag("--json", arguments->json, "print the report as JSON on standard output");
      return [arguments] { return runHighlight(*arguments); };
    }};

}  // namespace
}  // namespace glintmark::tool
