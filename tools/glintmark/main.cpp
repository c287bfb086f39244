// glintmark: runs the product's logic on real inputs from the command line.
#include <exception>
#include <iostream>
#include <map>
#include <new>
#include <string>

#include "tools/glintmark/command.h"
#include "tools/glintmark/files.h"

namespace glintmark::tool {

std::vector<CommandInfo>& commands() {
  static std::vector<CommandInfo> all;
  return all;
}

}  // namespace glintmark::tool

namespace {

using namespace glintmark::tool;

int run(CLI::App& app, std::map<CLI::App*, CommandRunner>& runners, int argc, char** argv,
        std::string* commandName) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? exitOk : exitUsage;
  }
  try {
    for (auto& [command, runner] : runners) {
      if (!command->parsed()) continue;
      *commandName = command->get_name();
      return runner();
    }
  } catch (const std::bad_alloc&) {
    std::cerr << "glintmark: out of memory; nothing more was written\n";
    return exitFailure;
  } catch (const std::exception& error) {
    std::cerr << "glintmark: " << error.what() << "\n";
    return exitFailure;
  }
  return exitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  installStandardOutput();
  CLI::App app{"glintmark: search keyword highlighting, link tooltips and registration scripts"};
  app.require_subcommand(1);
  std::map<CLI::App*, CommandRunner> runners;
  for (const CommandInfo& info : commands()) {
    CLI::App* command = app.add_subcommand(info.name, info.description);
    runners[command] = info.setup(*command);
  }
  std::string commandName;
  const int status = run(app, runners, argc, argv, &commandName);
  // Output that never arrived is a failure of every command, whatever it decided.
  std::string error;
  if (!finishStandardOutput(&error)) {
    std::cerr << "glintmark" << (commandName.empty() ? "" : " " + commandName)
              << ": cannot write to standard output: " << error << "\n";
    return status == exitOk ? exitFailure : status;
  }
  return status;
}
