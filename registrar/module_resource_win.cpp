#include <windows.h>

#include "registrar/module_resource.h"
#include "win/unique_handle.h"

namespace glintmark {

HResult loadModuleResource(const std::string& modulePath, unsigned id, const std::string& type,
                           std::string* bytes) {
  bytes->clear();
  const UniqueHmodule module(LoadLibraryExA(modulePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (!module) return fromWin32(GetLastError());
  HRSRC found = FindResourceA(module.get(), MAKEINTRESOURCEA(id), type.c_str());
  HGLOBAL loaded = found == nullptr ? nullptr : LoadResource(module.get(), found);
  const void* data = loaded == nullptr ? nullptr : LockResource(loaded);
  if (data == nullptr) return fromWin32(GetLastError());
  bytes->assign(static_cast<const char*>(data), SizeofResource(module.get(), found));
  return hr::ok;
}

}  // namespace glintmark
