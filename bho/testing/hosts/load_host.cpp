// A host program for the shell-refusal tests: loads the library named on its
// command line and exits with 0 when the load succeeded, 1 when it failed.
// The tests run copies of it under names such as Explorer.EXE.
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  HMODULE library = LoadLibraryA(argv[1]);
  if (library == nullptr) return 1;
  FreeLibrary(library);
  return 0;
}
