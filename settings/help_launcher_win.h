// The Windows launcher's seam: tests replace the shell step to reach the
// registry fallback, since Wine's shell accepts every address.
#pragma once

#include <windows.h>

#include "settings/help_launcher.h"

namespace glintmark {

// The signature of ShellExecuteA.
using ShellOpenFunction = HINSTANCE(WINAPI*)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);

// Makes openHelpPage call shellOpen instead of ShellExecuteA (null restores
// ShellExecuteA) and returns the one it replaces. For tests only.
ShellOpenFunction setShellOpenFunction(ShellOpenFunction shellOpen);

// The real registry reads of the fallback: RegOpenKeyExA with KEY_QUERY_VALUE,
// RegQueryValueA into 260 bytes, RegCloseKey.
class SystemClassesRoot final : public ClassesRoot {
 public:
  bool readDefaultValue(const char* key, char (&value)[registryStringSize]) override;
};

}  // namespace glintmark
