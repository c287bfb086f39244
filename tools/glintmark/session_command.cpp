// glintmark session: a browsing session of one window, page after page, with
// the saved search text carried from one pass to the next as the window's
// Highlighter carries it.
//
// STEPS lists one page per line: FILE URL [REFERRER]. FILE is relative to the
// STEPS file's folder; blank lines and lines starting with '#' are skipped.
//
//   glintmark session examples/session.txt -d build/session
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tools/glintmark/command.h"
#include "tools/glintmark/files.h"
#include "tools/glintmark/page_run.h"

namespace glintmark::tool {
namespace {

namespace fs = std::filesystem;

struct SessionArguments {
  std::string steps;
  std::string outputFolder;
  std::string options = std::to_string(defaultOptionsWord);
  unsigned codePage = 1252;
  bool json = false;
};

struct Step {
  fs::path file;
  std::string url;
  std::string referrer;
};

int fail(int status, const std::string& message) {
  std::cerr << "glintmark session: " << printable(message) << "\n";
  return status;
}

// Reads and checks every step before any page runs, so a bad line or a
// missing file stops the session before anything is written. The pages are
// only checked here; each is read when its turn comes, so that a session
// needs the memory of its largest page, not of all of them.
bool readSteps(const fs::path& stepsFile, std::vector<Step>* steps, std::string* error) {
  const std::optional<std::string> text = readInputFile(stepsFile, error);
  if (!text) return false;
  std::istringstream lines(*text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string where = stepsFile.string() + ":" + std::to_string(number) + ": ";
    // A file name cannot hold one, and a URL cut there would not be the
    // URL the report shows.
    if (line.find('\0') != std::string::npos) {
      *error = where + "a NUL byte; a step's file name and URLs cannot hold one";
      return false;
    }
    std::istringstream fields(line);
    std::vector<std::string> words;
    for (std::string word; fields >> word;) words.push_back(word);
    if (words.empty() || words[0][0] == '#') continue;
    if (words.size() < 2 || words.size() > 3) {
      *error = where + "expected FILE URL [REFERRER], got " + std::to_string(words.size()) + " field(s)";
      return false;
    }
    Step step{stepsFile.parent_path() / words[0], words[1], words.size() == 3 ? words[2] : ""};
    if (!checkInputFile(step.file, error)) {
      *error = where + *error;
      return false;
    }
    steps->push_back(std::move(step));
  }
  if (steps->empty()) {
    *error = stepsFile.string() + ": no pages listed";
    return false;
  }
  return true;
}

// "03-result.html" for the third step's page result.html.
std::string outputName(std::size_t index, const fs::path& file) {
  char prefix[24];
  std::snprintf(prefix, sizeof prefix, "%02zu-", index + 1);
  return prefix + file.filename().string();
}

int runSession(const SessionArguments& arguments) {
  const std::optional<std::uint32_t> word = parseOptionsWord(arguments.options);
  if (!word) return fail(exitUsage, "bad option word '" + arguments.options + "'");
  const std::unique_ptr<CodePage> codePage = makeCodePage(arguments.codePage);
  if (!codePage) {
    return fail(exitUsage, "code page " + std::to_string(arguments.codePage) + " is not available");
  }
  std::vector<Step> steps;
  std::string error;
  if (!readSteps(arguments.steps, &steps, &error)) return fail(exitUsage, error);

  const fs::path folder = arguments.outputFolder;
  // Opened once, after every file the session writes is checked: all of
  // them go into this folder, whatever happens to its path meanwhile.
  OutputFolder output;
  if (!folder.empty()) {
    for (std::size_t i = 0; i <= steps.size(); ++i) {
      const fs::path file = folder / (i < steps.size() ? outputName(i, steps[i].file) : "report.json");
      if (!checkOutputTarget(file, &error)) return fail(exitUsage, error);
    }
    if (!output.open(folder, true, &error)) return fail(exitFailure, error);
  }

  const HighlightOptions options = optionsFromWord(*word);
  PageSession session;  // one window: the saved text lives as long as the session
  nlohmann::json reports = nlohmann::json::array();
  int status = exitOk;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Step& step = steps[i];
    std::optional<std::string> bytes = readInputFile(step.file, &error);
    if (!bytes) return fail(exitUsage, error);
    const PageOutcome outcome =
        runPage({std::move(*bytes), step.url, step.referrer}, options, session, *codePage);
    if (!outcome.document) {
      return fail(exitUsage, "cannot read " + step.file.string() + ": " + outcome.error);
    }
    nlohmann::json report = reportJson(outcome, session, *codePage);
    report["page"] = step.file.filename().string();
    report["url"] = step.url;
    report["referrer"] = step.referrer;
    if (!folder.empty()) {
      const std::string name = outputName(i, step.file);
      AtomicFile file(output, name);
      if (!writePageFile(outcome, file, &error)) return fail(exitFailure, error);
      report["output"] = (folder / name).string();
    }
    if (failed(outcome.result)) status = exitFailure;
    if (!arguments.json) {
      std::cout << "page " << i + 1 << ": " << printable(step.file.filename().string()) << "\n"
                << "  url " << printable(step.url) << "\n"
                << "  referrer " << (step.referrer.empty() ? "(none)" : printable(step.referrer)) << "\n"
                << reportText(report, "  ");
      if (report.contains("output")) {
        std::cout << "  written to " << printable(report["output"].get<std::string>()) << "\n";
      }
    }
    reports.push_back(std::move(report));
  }
  // URLs are the steps file's bytes as written: ones that are not UTF-8 are
  // shown with U+FFFD.
  const std::string json = reports.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  if (arguments.json) std::cout << json;
  if (!folder.empty() && !writeFileAtomically(output, "report.json", json, &error)) {
    return fail(exitFailure, error);
  }
  return status;
}

const CommandRegistration session{
    "session", "Run the page pass over a browsing session of one window (STEPS: FILE URL [REFERRER])",
    [](CLI::App& command) -> CommandRunner {
      auto arguments = std::make_shared<SessionArguments>();
      command.add_option("STEPS", arguments->steps, "the session: one page per line, FILE URL [REFERRER]")
          ->required();
      command.add_option("-d,--directory", arguments->outputFolder,
                         "write each highlighted page and report.json here");
      command.add_option("--options", arguments->options, "the stored options word (default 13)");
      addCodePageOption(command, arguments->codePage, "the ANSI code page: 1252, 932 or 65001 (UTF-8, as in the browser engine; default 1252)");
      command.add_flag("--json", arguments->json, "print the reports as one JSON array");
      return [arguments] { return runSession(*arguments); };
    }};

}  // namespace
}  // namespace glintmark::tool
