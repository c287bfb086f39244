// The in-process server: class table, the unload rule, the class object and
// self-registration through the registration script resource.
#include "bho/server.h"

#include <oleauto.h>

#include <atomic>
#include <new>

#include "bho/class_factory.h"
#include "bho/com/highlighter_interface.h"
#include "bho/com_ptr.h"
#include "bho/highlighter.h"
#include "bho/module.h"
#include "core/code_page.h"
#include "registrar/script_registrar.h"
#include "resources/resource.h"
#include "settings/settings_store.h"

namespace glintmark::bho {
namespace {

// The registry and shell code works in fixed buffers of this many bytes.
constexpr DWORD kPathBuffer = 260;

using RegistrationFunction = HRESULT (*)(bool registering);
using FactoryMaker = HRESULT (*)(ObjectMaker maker, IUnknown** factory);

// One served class. The cached factory is null until the first
// DllGetClassObject for the class; the table then holds one reference to it
// until the library unloads.
struct ClassTableRow {
  const CLSID* clsid;
  RegistrationFunction updateRegistry;
  FactoryMaker makeFactory;
  ObjectMaker makeObject;
  std::atomic<IUnknown*> factory;
};

HRESULT runRegistrationScriptResource(bool registering);

ClassTableRow g_classTable[] = {
    {&kClsidHighlighter, runRegistrationScriptResource, ClassFactory::create, createHighlighter, nullptr},
};

// Narrow text of the ANSI code page as the wchar_t text of the OLE calls.
std::wstring widen(std::string_view narrow) {
  const std::u16string wide = ansiCodePage().toWide(narrow);
  return std::wstring(wide.begin(), wide.end());
}

// The module's own file name. A name that does not fit the buffer is an
// error: a cut path must never reach the registry.
HRESULT modulePath(std::string& path) {
  char buffer[kPathBuffer];
  const DWORD length = GetModuleFileNameA(moduleInstance(), buffer, kPathBuffer);
  if (length == 0) return HRESULT_FROM_WIN32(GetLastError());
  if (length >= kPathBuffer) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  path.assign(buffer, length);
  return S_OK;
}

// The short (8.3) form of a path; the path itself when it has none or when
// the short form does not fit.
std::string shortPathOf(const std::string& path) {
  char buffer[kPathBuffer];
  const DWORD length = GetShortPathNameA(path.c_str(), buffer, kPathBuffer);
  if (length == 0 || length >= kPathBuffer) return path;
  return std::string(buffer, length);
}

HRESULT runRegistrationScriptResource(bool registering) {
  std::string path;
  GLINTMARK_RETURN_IF_FAILED(modulePath(path));
  const std::string shortPath = shortPathOf(path);
  const CodePage& codePage = ansiCodePage();
  ScriptRegistrar registrar;
  GLINTMARK_RETURN_IF_FAILED(
      registrar.defineReplacement(u"Module", codePage.toWide(doubleSingleQuotes(shortPath))));
  return registrar.runScriptResource(codePage.toWide(shortPath), IDR_REGISTRY, u"REGISTRY",
                                     registering ? ScriptMode::registering : ScriptMode::unregistering);
}

// Loads the type library from the module's own "TYPELIB" 1 resource, or else
// from the ".tlb" file beside the module. *loadedFrom receives the path that
// loaded.
HRESULT loadModuleTypeLibrary(ComPtr<ITypeLib>& library, std::wstring* loadedFrom) {
  std::string path;
  GLINTMARK_RETURN_IF_FAILED(modulePath(path));
  std::wstring wide = widen(path);
  HRESULT result = LoadTypeLib(wide.c_str(), library.put());
  if (FAILED(result)) {
    wide = typeLibraryBeside(wide);
    result = LoadTypeLib(wide.c_str(), library.put());
    if (FAILED(result)) return result;
  }
  *loadedFrom = std::move(wide);
  return S_OK;
}

HRESULT registerTypeLibrary() {
  ComPtr<ITypeLib> library;
  std::wstring path;
  GLINTMARK_RETURN_IF_FAILED(loadModuleTypeLibrary(library, &path));
  std::wstring helpDirectory = helpDirectoryOf(path);
  return RegisterTypeLib(library.get(), path.data(), helpDirectory.data());
}

// Removes the type library's registration. UnRegisterTypeLib is looked up in
// oleaut32.dll at run time, as systems without it must still unregister the
// rest; every failure here is ignored.
void unregisterTypeLibrary() {
  ComPtr<ITypeLib> library;
  std::wstring path;
  if (FAILED(loadModuleTypeLibrary(library, &path))) return;
  TLIBATTR* attributes = nullptr;
  if (FAILED(library->GetLibAttr(&attributes))) return;
  const UniqueHmodule oleaut(LoadLibraryA("oleaut32.dll"));
  using UnRegisterFunction = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
  if (oleaut) {
    if (auto unregister = reinterpret_cast<UnRegisterFunction>(
            reinterpret_cast<void*>(GetProcAddress(oleaut.get(), "UnRegisterTypeLib")))) {
      unregister(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                 attributes->syskind);
    }
  }
  library->ReleaseTLibAttr(attributes);
}

}  // namespace

bool isShellHostPath(std::string path) {
  const CodePage& codePage = ansiCodePage();
  lowerInPlace(codePage, path);
  return findInText(codePage, path, "explorer.exe") != std::string_view::npos;
}

std::string doubleSingleQuotes(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (const char c : text) {
    result += c;
    if (c == '\'') result += '\'';
  }
  return result;
}

std::wstring typeLibraryBeside(std::wstring_view path) {
  const std::size_t name = path.find_last_of(L"\\/:");
  const std::size_t dot = path.rfind(L'.');
  const bool hasExtension = dot != std::wstring_view::npos && (name == std::wstring_view::npos || dot > name);
  std::wstring result(hasExtension ? path.substr(0, dot) : path);
  result += L".tlb";
  return result;
}

std::wstring helpDirectoryOf(std::wstring_view path) {
  const std::size_t separator = path.find_last_of(L"\\/:");
  if (separator == std::wstring_view::npos) return {};
  return std::wstring(path.substr(0, separator + 1));
}

bool processAttach(HINSTANCE instance) {
  char host[kPathBuffer];
  const DWORD length = GetModuleFileNameA(nullptr, host, kPathBuffer);
  // Never inside the Windows shell: it loads browser helper objects too, and
  // this library has no business there.
  if (length > 0 && isShellHostPath(std::string(host, length < kPathBuffer ? length : kPathBuffer - 1))) {
    return false;
  }
  // The option flags first, then the server state: the flags are in place
  // before anything of the server exists.
  loadHighlightOptions();
  startServerState(instance);
  DisableThreadLibraryCalls(instance);
  return true;
}

void processDetach() {
  if (!serverStateStarted()) return;
  for (ClassTableRow& row : g_classTable) {
    if (IUnknown* factory = row.factory.exchange(nullptr)) factory->Release();
  }
  stopServerState();
}

}  // namespace glintmark::bho

using glintmark::bho::g_classTable;

STDAPI DllCanUnloadNow() { return glintmark::bho::moduleLockCount() == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  using namespace glintmark::bho;
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  try {
    for (ClassTableRow& row : g_classTable) {
      if (!IsEqualCLSID(clsid, *row.clsid)) continue;
      if (row.factory.load() == nullptr) {
        const LockGuard lock(classTableLock());
        // A second check: another thread may have built it while this one waited.
        if (row.factory.load() == nullptr) {
          IUnknown* factory = nullptr;
          GLINTMARK_RETURN_IF_FAILED(row.makeFactory(row.makeObject, &factory));
          row.factory.store(factory);
        }
      }
      return row.factory.load()->QueryInterface(iid, out);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

STDAPI DllRegisterServer() {
  using namespace glintmark::bho;
  try {
    for (ClassTableRow& row : g_classTable) {
      GLINTMARK_RETURN_IF_FAILED(row.updateRegistry(true));
    }
    return registerTypeLibrary();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

STDAPI DllUnregisterServer() {
  using namespace glintmark::bho;
  try {
    for (ClassTableRow& row : g_classTable) row.updateRegistry(false);
  } catch (...) {
    // Unregistration removes what it can and always reports success.
  }
  try {
    unregisterTypeLibrary();
  } catch (...) {
  }
  return S_OK;
}
