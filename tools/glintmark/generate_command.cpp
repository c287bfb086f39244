// glintmark generate-page: writes a deterministic test page of a given size
// (the page generator of the HTML document model), for benchmarks.
//
//   glintmark generate-page 10M -o page.html [--seed 2] [--shape dense]
//   glintmark generate-page --keywords     # the words the pages are rich in
#include <cstdint>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "host/html/page_generator.h"
#include "tools/glintmark/command.h"

namespace glintmark::tool {
namespace {

struct GenerateArguments {
  std::string size;
  std::string output;
  std::uint32_t seed = 1;
  std::string shape = "text";
  bool keywords = false;
};

// "100K", "1M", "10MB", "2048": a byte count (K and M are binary).
std::optional<std::size_t> parseSize(std::string text) {
  std::size_t unit = 1;
  if (text.size() > 1 && (text.back() == 'B' || text.back() == 'b')) text.pop_back();
  if (!text.empty() && (text.back() == 'K' || text.back() == 'k')) {
    unit = 1024;
    text.pop_back();
  } else if (!text.empty() && (text.back() == 'M' || text.back() == 'm')) {
    unit = 1024 * 1024;
    text.pop_back();
  }
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(std::stoul(text)) * unit;
}

int runGenerate(const GenerateArguments& arguments) {
  if (arguments.keywords) {
    for (const std::string& keyword : html::generatedPageKeywords()) std::cout << keyword << "\n";
    return exitOk;
  }
  const std::optional<std::size_t> size = parseSize(arguments.size);
  if (!size || *size > (std::size_t{1} << 30)) {
    std::cerr << "glintmark generate-page: SIZE must be a byte count up to 1G such as 100K, 1M "
                 "or 10M, not \""
              << arguments.size << "\"\n";
    return exitUsage;
  }
  if (arguments.shape != "text" && arguments.shape != "dense") {
    std::cerr << "glintmark generate-page: --shape is text or dense, not \"" << arguments.shape
              << "\"\n";
    return exitUsage;
  }
  const std::string page = html::generatePage(
      *size, arguments.seed, arguments.shape == "dense" ? html::PageShape::dense : html::PageShape::text);
  if (arguments.output.empty()) {
    std::cout << page;
    return std::cout ? exitOk : exitFailure;
  }
  std::ofstream file(arguments.output, std::ios::binary | std::ios::trunc);
  file << page;
  file.close();
  if (!file) {
    std::cerr << "glintmark generate-page: cannot write " << arguments.output << "\n";
    return exitFailure;
  }
  return exitOk;
}

const CommandRegistration generatePage{
    "generate-page", "Write a deterministic test page of about SIZE bytes",
    [](CLI::App& command) -> CommandRunner {
      auto arguments = std::make_shared<GenerateArguments>();
      command.add_option("SIZE", arguments->size, "the page's size: 100K, 1M, 10M, or bytes");
      command.add_option("-o,--output", arguments->output, "the file to write (default: stdout)");
      command.add_option("--seed", arguments->seed, "another seed gives another page");
      command.add_option("--shape", arguments->shape,
                         "text (the default: text-rich, many matches) or dense (tag upon tag, "
                         "few matches)");
      command.add_flag("--keywords", arguments->keywords, "print the keywords the pages are rich in");
      return [arguments] {
        if (!arguments->keywords && arguments->size.empty()) {
          std::cerr << "glintmark generate-page: SIZE is required\n";
          return exitUsage;
        }
        return runGenerate(*arguments);
      };
    }};

}  // namespace
}  // namespace glintmark::tool
