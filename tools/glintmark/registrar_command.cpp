// glintmark registrar: runs a registration script against an in-memory
// registry and shows the registry that results, so a script's effect can be
// seen before it touches a real registry.
//
//   glintmark registrar resources/Sheenpad.rgs --define MODULE='C:\PROGRA~1\Sheenpad.dll'
//   glintmark registrar script.rgs --unregister --registry before.reg -o after.reg
//
// The output is a REGEDIT4 file whose second line, a comment, holds the
// result code; with -o it goes to that file (written whole or not at all) and
// only the result line is printed. The script, the definitions and the .reg
// files are text in the ANSI code page (windows-1252 unless --codepage says
// otherwise). Exit status: 0 when the script succeeded, 1 when it failed
// (the registry is still shown as the failing run left it), 2 for bad
// arguments or unreadable input.
#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "core/code_page.h"
#include "registry/memory_registry.h"
#include "registry/reg_file.h"
#include "registrar/script_registrar.h"
#include "tools/glintmark/command.h"
#include "tools/glintmark/files.h"

namespace glintmark::tool {
namespace {

struct RegistrarOptions {
  std::string script;
  bool unregister = false;
  std::vector<std::string> defines;
  std::string registryFile;
  std::string output;
  unsigned codePage = 1252;
};

std::string describe(HResult result) {
  const char* name = nullptr;
  switch (result) {
    case hr::ok: name = "S_OK"; break;
    case hr::fail: name = "E_FAIL"; break;
    case hr::outOfMemory: name = "E_OUTOFMEMORY"; break;
    case hr::dispException: name = "DISP_E_EXCEPTION"; break;
    case hr::pointer: name = "E_POINTER"; break;
    default: break;
  }
  return name == nullptr ? hresultText(result) : hresultText(result) + " " + name;
}

int fail(int status, const std::string& message) {
  std::cerr << "glintmark registrar: " << message << "\n";
  return status;
}

int runRegistrar(const RegistrarOptions& options) {
  const std::unique_ptr<CodePage> codePage = makeCodePage(options.codePage);
  if (codePage == nullptr) {
    return fail(exitUsage, "code page " + std::to_string(options.codePage) + " is not available");
  }
  std::string error;
  if (!options.output.empty() && !checkOutputTarget(options.output, &error)) {
    return fail(exitUsage, "cannot write " + error);
  }
  const std::optional<std::string> script = readInputFile(options.script, &error);
  if (!script) return fail(exitUsage, "cannot read " + error);
  // The interpreter reads a zero-terminated text: a NUL inside the file would
  // silently end the script there.
  if (const std::size_t nul = script->find('\0'); nul != std::string::npos) {
    const auto line =
        std::count(script->begin(), script->begin() + static_cast<std::ptrdiff_t>(nul), '\n') + 1;
    return fail(exitUsage, options.script + ":" + std::to_string(line) +
                               ": a NUL byte; a registration script is text");
  }
  reg::MemoryRegistry registry(*codePage);
  if (!options.registryFile.empty()) {
    const std::optional<std::string> state = readInputFile(options.registryFile, &error);
    if (!state) return fail(exitUsage, "cannot read " + error);
    const reg::RegFileResult loaded = reg::readRegFile(*state, registry);
    if (!loaded.ok) {
      std::cerr << "glintmark registrar: " << options.registryFile << ":" << loaded.line << ": "
                << loaded.message << "\n";
      return exitUsage;
    }
  }
  ScriptRegistrar registrar(registry, *codePage);
  for (const std::string& define : options.defines) {
    const std::size_t equals = define.find('=');
    if (equals == std::string::npos || equals == 0) {
      std::cerr << "glintmark registrar: --define needs NAME=TEXT, got " << define << "\n";
      return exitUsage;
    }
    if (failed(registrar.defineReplacement(codePage->toWide(define.substr(0, equals)),
                                           codePage->toWide(define.substr(equals + 1))))) {
      std::cerr << "glintmark registrar: out of memory\n";
      return exitFailure;
    }
  }
  const HResult result = registrar.runRegistrationScript(
      script->c_str(), options.unregister ? ScriptMode::unregistering : ScriptMode::registering);
  // The script's name is escaped: a line break in it would end the comment
  // and put the rest of the name into the .reg file as content.
  const std::string resultLine = "; " + std::string(options.unregister ? "unregister" : "register") +
                                 " " + printable(options.script) + ": " + describe(result);

  std::string output = reg::writeRegFile(registry);
  // The result as a comment right after the header keeps the output loadable.
  output.insert(output.find("\r\n") + 2, resultLine + "\r\n");
  if (options.output.empty()) {
    std::cout << output << std::flush;
  } else {
    if (!writeFileAtomically(options.output, output, &error)) {
      return fail(exitFailure, "cannot write " + error);
    }
    std::cout << resultLine.substr(2) << "\n";
  }
  return succeeded(result) ? exitOk : exitFailure;
}

const CommandRegistration registrarCommand{
    "registrar",
    "Run a registration script against an in-memory registry and print the result as a .reg file",
    [](CLI::App& command) -> CommandRunner {
      auto options = std::make_shared<RegistrarOptions>();
      command.add_option("SCRIPT", options->script, "registration script (.rgs)")->required();
      command.add_flag("--unregister", options->unregister, "run in unregister mode");
      command.add_option("--define", options->defines, "replacement for %NAME%, as NAME=TEXT");
      command.add_option("--registry", options->registryFile,
                         "REGEDIT4 file to start from (default: an empty registry)");
      command.add_option("-o,--output", options->output, "write the resulting .reg file here");
      addCodePageOption(command, options->codePage,
                        "ANSI code page of the texts: 1252, 932 or 65001 (UTF-8) (default 1252)");
      // The spelling of earlier versions, still taken but no longer shown.
      addCodePageOption(command, options->codePage, "", "--code-page")->group("");
      return [options] { return runRegistrar(*options); };
    }};

}  // namespace
}  // namespace glintmark::tool
