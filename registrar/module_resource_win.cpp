#include <windows.h>

#include "registrar/module_resource.h"

namespace glintmark {

HResult loadModuleResource(const std::string& modulePath, unsigned id, const std::string& type,
                           std::string* bytes) {
  bytes->clear();
  HMODULE module = LoadLibraryExA(modulePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return fromWin32(GetLastError());
  HResult result = hr::ok;
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type.c_str());
  HGLOBAL loaded = found == nullptr ? nullptr : LoadResource(module, found);
  const void* data = loaded == nullptr ? nullptr : LockResource(loaded);
  if (data == nullptr) {
    result = fromWin32(GetLastError());
  } else {
    bytes->assign(static_cast<const char*>(data), SizeofResource(module, found));
  }
  FreeLibrary(module);
  return result;
}

}  // namespace glintmark
