// Subcommands of the glintmark tool register themselves here, one file each,
// so adding a command never touches main.cpp.
//
//   static const CommandRegistration keywords{
//       "keywords", "Print the search text and keywords of URLs",
//       [](CLI::App& command) -> CommandRunner { ... return [=] { return 0; }; }};
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

namespace glintmark::tool {

// Runs a parsed command; returns the process exit status.
using CommandRunner = std::function<int()>;
// Declares a command's options on its CLI11 subcommand and returns its runner.
using CommandSetup = std::function<CommandRunner(CLI::App& command)>;

struct CommandInfo {
  std::string name;
  std::string description;
  CommandSetup setup;
};

std::vector<CommandInfo>& commands();

struct CommandRegistration {
  CommandRegistration(std::string name, std::string description, CommandSetup setup) {
    commands().push_back({std::move(name), std::move(description), std::move(setup)});
  }
};

// --codepage: the ANSI code page of a page pass or a script, one of the two
// that the product serves (1252 Western, 932 Japanese), checked the same way
// by every command.
inline CLI::Option* addCodePageOption(CLI::App& command, unsigned& codePage, const std::string& help,
                                      const std::string& names = "--codepage") {
  return command.add_option(names, codePage, help)->check(CLI::IsMember({1252u, 932u, 65001u}));
}

// Exit statuses shared by every command.
inline constexpr int exitOk = 0;
inline constexpr int exitFailure = 1;  // the operation ran and reported a failure
inline constexpr int exitUsage = 2;    // bad arguments or unreadable input

}  // namespace glintmark::tool
