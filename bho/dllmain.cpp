// The library's entry point: the load-time refusal in the shell process, the
// server state's set-up at process attach and its tear-down at detach.
#include <windows.h>

#include "bho/server.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  try {
    switch (reason) {
      case DLL_PROCESS_ATTACH:
        return glintmark::bho::processAttach(instance) ? TRUE : FALSE;
      case DLL_PROCESS_DETACH:
        glintmark::bho::processDetach();
        return TRUE;
      default:
        return TRUE;
    }
  } catch (...) {
    // Nothing may leave the loader's call; a load that cannot set itself up
    // is refused.
    return reason == DLL_PROCESS_ATTACH ? FALSE : TRUE;
  }
}
