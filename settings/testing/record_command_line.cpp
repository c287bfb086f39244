// A stand-in browser for the help launcher's tests: writes the command line it
// was started with, byte for byte, to the file named by the environment
// variable GLINTMARK_RECORD_FILE, then exits.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main() {
  char path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("GLINTMARK_RECORD_FILE", path, sizeof path);
  if (length == 0 || length >= sizeof path) return 2;
  // Written under another name and renamed, so a reader never sees half of it.
  char partial[MAX_PATH + 8];
  std::snprintf(partial, sizeof partial, "%s.part", path);
  std::FILE* file = std::fopen(partial, "wb");
  if (file == nullptr) return 1;
  const char* commandLine = GetCommandLineA();
  std::fwrite(commandLine, 1, std::strlen(commandLine), file);
  std::fclose(file);
  return MoveFileExA(partial, path, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
