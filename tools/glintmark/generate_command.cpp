// glintmark generate-page: writes a deterministic test page of a given size
// (the page generator of the HTML document model), for benchmarks.
//
//   glintmark generate-page 10M -o page.html [--seed 2] [--shape dense]
//   glintmark generate-page --keywords     # the words the pages are rich in
#include <charconv>
#include <cstdint>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "html/page_generator.h"
#include "tools/glintmark/command.h"
#include "tools/glintmark/files.h"

namespace glintmark::tool {
namespace {

struct GenerateArguments {
  std::string size;
  std::string output;
  std::uint32_t seed = 1;
  std::string shape = "text";
  bool keywords = false;
};

constexpr std::uint64_t kMaxSize = std::uint64_t{1} << 30;

// "2048", "100K", "10M", "1G" (an optional B after the unit: "10MB"; units
// are binary, 1K = 1024): a byte count of at most 1G. None for anything else.
std::optional<std::size_t> parseSize(std::string_view text) {
  if (text.size() > 1 && (text.back() == 'B' || text.back() == 'b')) text.remove_suffix(1);
  std::uint64_t unit = 1;
  if (!text.empty()) {
    switch (text.back()) {
      case 'K': case 'k': unit = std::uint64_t{1} << 10; break;
      case 'M': case 'm': unit = std::uint64_t{1} << 20; break;
      case 'G': case 'g': unit = std::uint64_t{1} << 30; break;
      default: break;
    }
    if (unit != 1) text.remove_suffix(1);
  }
  std::uint64_t count = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || count > kMaxSize / unit) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(count * unit);
}

int runGenerate(const GenerateArguments& arguments) {
  if (arguments.keywords) {
    for (const std::string& keyword : html::generatedPageKeywords()) std::cout << keyword << "\n";
    return exitOk;
  }
  const std::optional<std::size_t> size = parseSize(arguments.size);
  if (!size) {
    std::cerr << "glintmark generate-page: SIZE must be a byte count of at most 1G (1073741824 "
                 "bytes), plain or with a K, M or G suffix (1K = 1024 bytes), such as 100K, 10M "
                 "or 1G, not \""
              << printable(arguments.size) << "\"\n";
    return exitUsage;
  }
  std::string error;
  if (!arguments.output.empty() && !checkOutputTarget(arguments.output, &error)) {
    std::cerr << "glintmark generate-page: cannot write " << error << "\n";
    return exitUsage;
  }
  if (arguments.shape != "text" && arguments.shape != "dense" && arguments.shape != "links") {
    std::cerr << "glintmark generate-page: --shape is text, dense or links, not \"" << printable(arguments.shape)
              << "\"\n";
    return exitUsage;
  }
  const html::PageShape shape = arguments.shape == "dense" ? html::PageShape::dense
                                : arguments.shape == "links" ? html::PageShape::links
                                                             : html::PageShape::text;
  const std::string page = html::generatePage(*size, arguments.seed, shape);
  if (arguments.output.empty()) {
    std::cout << page;  // a failed write is reported when the command ends
    return exitOk;
  }
  if (!writeFileAtomically(arguments.output, page, &error)) {
    std::cerr << "glintmark generate-page: cannot write " << error << "\n";
    return exitFailure;
  }
  return exitOk;
}

const CommandRegistration generatePage{
    "generate-page", "Write a deterministic test page of about SIZE bytes",
    [](CLI::App& command) -> CommandRunner {
      auto arguments = std::make_shared<GenerateArguments>();
      command.add_option("SIZE", arguments->size,
                         "the page's size: bytes, or with a K, M or G suffix (100K, 10M; at most 1G)");
      command.add_option("-o,--output", arguments->output, "the file to write (default: stdout)");
      command.add_option("--seed", arguments->seed, "another seed gives another page");
      command.add_option("--shape", arguments->shape,
                         "text (the default: text-rich, many matches), dense (tag upon tag, "
                         "few matches) or links (dense, about 3 links per KB)");
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
