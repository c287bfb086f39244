#include <windows.h>
#include <shellapi.h>

#include "settings/help_launcher.h"
#include "settings/help_launcher_win.h"
#include "win/unique_handle.h"

namespace glintmark {
namespace {

ShellOpenFunction shellOpenFunction = ShellExecuteA;

// Starts the browser's command line as a new process with CreateProcessA (no
// separate application name, so the command's own first token names the
// program, quoted or not, as the shell does with such commands), asking for a
// normally shown window (STARTF_USESHOWWINDOW with SW_SHOWNORMAL). The
// process's handles are closed at once: nothing waits for the browser.
void startCommandLine(char (&commandLine)[commandLineSize]) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process{};
  if (CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &process)) {
    const UniqueKernelHandle thread(process.hThread);
    const UniqueKernelHandle started(process.hProcess);
  }
}

}  // namespace

ShellOpenFunction setShellOpenFunction(ShellOpenFunction shellOpen) {
  const ShellOpenFunction previous = shellOpenFunction;
  shellOpenFunction = shellOpen ? shellOpen : ShellExecuteA;
  return previous;
}

bool SystemClassesRoot::readDefaultValue(const char* key, char (&value)[registryStringSize]) {
  UniqueHkey opened;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_QUERY_VALUE, opened.put()) != ERROR_SUCCESS) {
    return false;
  }
  LONG size = static_cast<LONG>(registryStringSize);
  // RegQueryValueA reads the default value, "" for a key without one, and
  // fails with ERROR_MORE_DATA when the value needs more than 260 bytes.
  return RegQueryValueA(opened.get(), nullptr, value, &size) == ERROR_SUCCESS;
}

void openHelpPage(const char* address) {
  if (address == nullptr) return;
  // Show command 0 (SW_HIDE): the shell hands the address to the browser.
  const auto result = reinterpret_cast<INT_PTR>(
      shellOpenFunction(nullptr, "open", address, nullptr, nullptr, SW_HIDE));
  if (result > 32) return;
  SystemClassesRoot classesRoot;
  char commandLine[commandLineSize];
  if (buildBrowserCommandLine(classesRoot, address, commandLine)) startCommandLine(commandLine);
}

}  // namespace glintmark
