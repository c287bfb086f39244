// The in-process server: the class table, its load-time set-up and unload,
// and the helpers of self-registration. The four exported entry points
// (DllCanUnloadNow, DllGetClassObject, DllRegisterServer, DllUnregisterServer)
// are defined in server.cpp; DllMain (dllmain.cpp) calls processAttach and
// processDetach.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace glintmark::bho {

// processAttach: refuses the load (false) when the host executable's path,
// lowercased in the ANSI code page, contains "explorer.exe"; otherwise
// remembers the module handle, loads the option flags once, sets up the
// server state and switches off the thread notifications.
bool processAttach(HINSTANCE instance);

// processDetach: releases the class table's reference to each cached class
// factory, then tears down the server state (locks, clean-up list). Does
// nothing after a refused attach.
void processDetach();

// isShellHostPath: whether an executable path names the Windows shell: it
// contains "explorer.exe" in any mixture of case, wherever it stands. The path
// is lowercased in the ANSI code page and searched at character boundaries.
//   isShellHostPath("C:\\WINDOWS\\Explorer.EXE") == true
//   isShellHostPath("C:\\Program Files\\Internet Explorer\\iexplore.exe") == false
bool isShellHostPath(std::string path);

// doubleSingleQuotes: the text as a quoted token of the registration script
// holds it, every "'" written twice.
//   doubleSingleQuotes("C:\\it's\\a.dll") == "C:\\it''s\\a.dll"
std::string doubleSingleQuotes(std::string_view text);

// typeLibraryBeside: the path of the ".tlb" file beside a module: its file
// name's extension replaced by ".tlb", or ".tlb" appended when the file name
// has none. A dot in a folder name is not an extension.
//   typeLibraryBeside("C:\\x\\Sheenpad.dll") == "C:\\x\\Sheenpad.tlb"
std::wstring typeLibraryBeside(std::wstring_view path);

// helpDirectoryOf: the path up to and including its last "\", "/" or ":";
// empty when it has none.
//   helpDirectoryOf("C:\\x\\Sheenpad.dll") == "C:\\x\\"
std::wstring helpDirectoryOf(std::wstring_view path);

}  // namespace glintmark::bho
