// glintmark: runs the product's logic on real inputs from the command line.
#include <exception>
#include <iostream>
#include <map>

#include "tools/glintmark/command.h"

namespace glintmark::tool {

std::vector<CommandInfo>& commands() {
  static std::vector<CommandInfo> all;
  return all;
}

}  // namespace glintmark::tool

int main(int argc, char** argv) {
  using namespace glintmark::tool;
  CLI::App app{"glintmark: search keyword highlighting, link tooltips and registration scripts"};
  app.require_subcommand(1);
  std::map<CLI::App*, CommandRunner> runners;
  for (const CommandInfo& info : commands()) {
    CLI::App* command = app.add_subcommand(info.name, info.description);
    runners[command] = info.setup(*command);
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? exitOk : exitUsage;
  }
  try {
    for (auto& [command, runner] : runners) {
      if (command->parsed()) return runner();
    }
  } catch (const std::exception& error) {
    std::cerr << "glintmark: " << error.what() << "\n";
    return exitFailure;
  }
  return exitUsage;
}
