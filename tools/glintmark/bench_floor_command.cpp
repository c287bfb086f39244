// glintmark bench-floor: the least work any highlighter of a page must do,
// for the highlighting benchmark (bench/bench-highlight.sh) to measure
// `glintmark highlight` against: read the file, parse it, index its body text
// (one folded string), scan it once per keyword counting the matches,
// serialise the page and write it. No spans are made.
//
//   glintmark bench-floor page.html -o out.html snow leopard
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "core/utf.h"
#include "html/html_document.h"
#include "tools/glintmark/command.h"
#include "tools/glintmark/files.h"
#include "tools/glintmark/page_run.h"

namespace glintmark::tool {
namespace {

struct FloorArguments {
  std::string page;
  std::string output;
  std::vector<std::string> keywords;
};

// Folded as the text ranges fold their index.
std::u16string folded(std::u16string text) {
  html::foldText(text.data(), text.data() + text.size());
  return text;
}

int runFloor(const FloorArguments& arguments) {
  std::string error;
  std::optional<std::string> bytes = readInputFile(arguments.page, &error);
  if (!bytes) {
    std::cerr << "glintmark bench-floor: cannot read the page: " << error << "\n";
    return exitUsage;
  }
  const std::unique_ptr<html::HtmlDocument> document = html::parseHtml(*bytes);
  bytes.reset();  // as `glintmark highlight` does: the tree holds it all
  const std::u16string text = folded(document->bodyText());
  std::size_t total = 0;
  for (const std::string& keyword : arguments.keywords) {
    const std::u16string needle = folded(toUtf16(keyword));
    std::size_t matches = 0;
    // Scanned as the text ranges scan it.
    for (std::size_t at = html::findFolded(text, needle, 0); at != std::u16string::npos;
         at = html::findFolded(text, needle, at + needle.size())) {
      ++matches;
    }
    std::cout << keyword << " " << matches << "\n";
    total += matches;
  }
  std::cout << "total " << total << "\n";
  // Written as `glintmark highlight` writes: serialised into the file.
  AtomicFile file(arguments.output);
  const bool opened = file.open(&error);
  if (opened) document->serialize([&file](std::string_view bytes) { return file.write(bytes); });
  if (!opened || !file.commit(&error)) {
    std::cerr << "glintmark bench-floor: cannot write the page: " << error << "\n";
    return exitFailure;
  }
  return exitOk;
}

const CommandRegistration benchFloor{
    "bench-floor", "Benchmark aid: parse, index, scan once per keyword, serialise (no highlighting)",
    [](CLI::App& command) -> CommandRunner {
      auto arguments = std::make_shared<FloorArguments>();
      command.add_option("PAGE", arguments->page, "the HTML file")->required();
      command.add_option("-o,--output", arguments->output, "where the serialised page goes")->required();
      command.add_option("KEYWORD", arguments->keywords, "the words to count")->required();
      return [arguments] { return runFloor(*arguments); };
    }};

}  // namespace
}  // namespace glintmark::tool
