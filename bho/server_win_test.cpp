// The built Sheenpad.dll as its callers see it: the entry points with their
// unload rule and class factory, self-registration through regsvr32 against
// the real registry, creation through the registry, and the refusal to load
// into the Windows shell.
//
// The tests load the library from the build folder (GLINTMARK_SHEENPAD_DLL,
// and GLINTMARK_LOAD_HOST for the small host program). Every test that
// registers the library unregisters it again before it ends.
#include <windows.h>
#include <exdisp.h>
#include <ocidl.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bho/com/highlighter_interface.h"
#include "bho/module.h"
#include "bho/server.h"
#include "settings/settings_store.h"

namespace {

using glintmark::bho::doubleSingleQuotes;
using glintmark::bho::helpDirectoryOf;
using glintmark::bho::isShellHostPath;
using glintmark::bho::typeLibraryBeside;

using glintmark::bho::kIidIHighlighter;
constexpr const CLSID& kClsid = glintmark::bho::kClsidHighlighter;
constexpr const GUID& kLibid = glintmark::bho::kLibidSheenpad;
constexpr char kClsidText[] = "{5A7D3C1D-4E2B-11D5-9F31-0050DA2B7E10}";
constexpr char kLibidText[] = "{5A7D3C10-4E2B-11D5-9F31-0050DA2B7E10}";
constexpr char kBhoKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";
constexpr char kExtensionsKey[] = "SOFTWARE\\Microsoft\\Internet Explorer\\Extensions";
constexpr char kButtonKeyName[] = "{c4e1a9f2-4e2c-11d5-9f3B-0050da2b7e10}";

void* const kPoison = reinterpret_cast<void*>(static_cast<std::uintptr_t>(0xDEADBEEF));

// A path of the build (a Unix path under Wine) as a Windows path.
std::string windowsPath(const char* path) {
  using ToDos = WCHAR*(CDECL*)(const char*);
  auto toDos = reinterpret_cast<ToDos>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name")));
  if (toDos == nullptr || path[0] != '/') return path;
  WCHAR* wide = toDos(path);
  char narrow[MAX_PATH * 2] = {};
  WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, nullptr, nullptr);
  HeapFree(GetProcessHeap(), 0, wide);
  return narrow;
}

std::string dllPath() { return windowsPath(GLINTMARK_SHEENPAD_DLL); }

std::string shortPath(const std::string& path) {
  char buffer[MAX_PATH];
  const DWORD length = GetShortPathNameA(path.c_str(), buffer, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(buffer, length) : path;
}

// The library loaded with its four exports.
struct Library {
  Library() {
    module = LoadLibraryA(dllPath().c_str());
    if (module == nullptr) return;
    canUnloadNow = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    getClassObject = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    registerServer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
    unregisterServer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllUnregisterServer")));
  }
  ~Library() {
    if (module != nullptr) FreeLibrary(module);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  bool complete() const {
    return module && canUnloadNow && getClassObject && registerServer && unregisterServer;
  }

  HMODULE module = nullptr;
  HRESULT(STDAPICALLTYPE* canUnloadNow)() = nullptr;
  HRESULT(STDAPICALLTYPE* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
  HRESULT(STDAPICALLTYPE* registerServer)() = nullptr;
  HRESULT(STDAPICALLTYPE* unregisterServer)() = nullptr;
};

// An outer object for aggregation that counts the references it is given.
class CountingOuter final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown)) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
  LONG refs = 1;
};

class ServerEntryPoints : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library.complete()) << "cannot load " << dllPath() << ": error " << GetLastError();
    ASSERT_EQ(library.canUnloadNow(), S_OK);
  }
  IClassFactory* factory() {
    IClassFactory* result = nullptr;
    EXPECT_EQ(library.getClassObject(kClsid, IID_IClassFactory, reinterpret_cast<void**>(&result)), S_OK);
    return result;
  }
  Library library;
};

TEST_F(ServerEntryPoints, ClassObjectAnswersOnlyItsClassAndNullsOutPointers) {
  EXPECT_EQ(library.getClassObject(kClsid, IID_IClassFactory, nullptr), E_POINTER);
  struct Case {
    const char* name;
    const CLSID& clsid;
    const IID& iid;
    HRESULT expected;
  };
  const Case cases[] = {
      {"another class", kLibid, IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
      {"the null class", GUID_NULL, IID_IUnknown, CLASS_E_CLASSNOTAVAILABLE},
      {"an interface the factory lacks", kClsid, IID_IDispatch, E_NOINTERFACE},
  };
  for (const Case& c : cases) {
    void* out = kPoison;
    EXPECT_EQ(library.getClassObject(c.clsid, c.iid, &out), c.expected) << c.name;
    EXPECT_EQ(out, nullptr) << c.name;
  }
  EXPECT_EQ(library.canUnloadNow(), S_OK);
}

TEST_F(ServerEntryPoints, TheSameFactoryEveryTimeWithOneIdentity) {
  IClassFactory* first = factory();
  IUnknown* second = nullptr;
  ASSERT_EQ(library.getClassObject(kClsid, IID_IUnknown, reinterpret_cast<void**>(&second)), S_OK);
  EXPECT_EQ(static_cast<IUnknown*>(first), second);

  void* out = kPoison;
  EXPECT_EQ(first->QueryInterface(IID_IDispatch, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(first->QueryInterface(IID_IClassFactory, nullptr), E_POINTER);
  second->Release();
  first->Release();
}

TEST_F(ServerEntryPoints, EachReasonToStayLoadedHoldsTheLibrary) {
  // A client's reference to the factory holds it; the class table's own
  // reference, left after the client's Release, does not.
  IClassFactory* held = factory();
  EXPECT_EQ(library.canUnloadNow(), S_FALSE);
  held->AddRef();
  held->Release();
  EXPECT_EQ(library.canUnloadNow(), S_FALSE);
  held->Release();
  EXPECT_EQ(library.canUnloadNow(), S_OK);

  IClassFactory* f = factory();
  EXPECT_EQ(f->LockServer(TRUE), S_OK);
  f->Release();
  EXPECT_EQ(library.canUnloadNow(), S_FALSE) << "LockServer(TRUE)";
  f = factory();
  EXPECT_EQ(f->LockServer(FALSE), S_OK);
  IUnknown* object = nullptr;
  ASSERT_EQ(f->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
  f->Release();
  EXPECT_EQ(library.canUnloadNow(), S_FALSE) << "a live object";
  object->Release();
  EXPECT_EQ(library.canUnloadNow(), S_OK);
}

TEST_F(ServerEntryPoints, CreateInstanceStandaloneAndItsRefusals) {
  IClassFactory* f = factory();
  EXPECT_EQ(f->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);

  IObjectWithSite* site = nullptr;
  ASSERT_EQ(f->CreateInstance(nullptr, IID_IObjectWithSite, reinterpret_cast<void**>(&site)), S_OK);
  IUnknown* identity = nullptr;
  ASSERT_EQ(site->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  IDispatch* dispatch = nullptr;
  ASSERT_EQ(site->QueryInterface(kIidIHighlighter, reinterpret_cast<void**>(&dispatch)), S_OK);
  EXPECT_EQ(static_cast<IUnknown*>(dispatch), identity);
  dispatch->Release();
  identity->Release();
  EXPECT_EQ(site->Release(), 0u);

  // An interface the object lacks: nothing is left alive.
  void* out = kPoison;
  EXPECT_EQ(f->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  f->Release();
  EXPECT_EQ(library.canUnloadNow(), S_OK);
}

TEST_F(ServerEntryPoints, AggregationOnlyThroughTheInnerUnknown) {
  IClassFactory* f = factory();
  CountingOuter outer;

  void* out = kPoison;
  EXPECT_EQ(f->CreateInstance(&outer, IID_IObjectWithSite, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(outer.refs, 1);

  IUnknown* inner = nullptr;
  ASSERT_EQ(f->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
  f->Release();
  EXPECT_EQ(library.canUnloadNow(), S_FALSE) << "the aggregated object holds the library";
  // The inner IUnknown answers the object's interfaces, whose references go
  // to the outer object.
  IObjectWithSite* site = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&site)), S_OK);
  EXPECT_EQ(outer.refs, 2);
  IUnknown* viaSite = nullptr;
  ASSERT_EQ(site->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaSite)), S_OK);
  EXPECT_EQ(viaSite, static_cast<IUnknown*>(&outer)) << "the outer object is the identity";
  viaSite->Release();
  site->Release();
  EXPECT_EQ(outer.refs, 1);
  EXPECT_EQ(inner->Release(), 0u);
  EXPECT_EQ(library.canUnloadNow(), S_OK);
}

// --- Registration --------------------------------------------------------

// A registry subtree as "path" -> "" for a key and "path\\[name]" -> value
// (strings as "sz:text"; other types as "type N").
using Snapshot = std::map<std::string, std::string>;

void dumpKey(HKEY root, const std::string& label, const std::string& path, Snapshot& out, int depth = 64) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  const std::string prefix = label + "\\" + path;
  out[prefix] = "";
  for (DWORD i = 0;; ++i) {
    char name[16384];
    DWORD nameSize = sizeof name;
    BYTE data[4096];
    DWORD dataSize = sizeof data;
    DWORD type = 0;
    if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) break;
    std::string text = type == REG_SZ ? "sz:" + std::string(reinterpret_cast<char*>(data), strnlen(
                                                                 reinterpret_cast<char*>(data), dataSize))
                                      : "type " + std::to_string(type);
    out[prefix + "\\[" + (nameSize == 0 ? "@" : std::string(name, nameSize)) + "]"] = text;
  }
  std::vector<std::string> children;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameSize = sizeof name;
    if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    children.emplace_back(name, nameSize);
  }
  RegCloseKey(key);
  if (depth == 0) return;
  for (const std::string& child : children) dumpKey(root, label, path + "\\" + child, out, depth - 1);
}

// Everything that registration writes, and the parents it may remove.
Snapshot registrationArea() {
  Snapshot s;
  dumpKey(HKEY_CLASSES_ROOT, "HKCR", "Sheenpad.Highlighter.1", s);
  dumpKey(HKEY_CLASSES_ROOT, "HKCR", "Sheenpad.Highlighter", s);
  dumpKey(HKEY_CLASSES_ROOT, "HKCR", std::string("CLSID\\") + kClsidText, s);
  dumpKey(HKEY_CLASSES_ROOT, "HKCR", std::string("TypeLib\\") + kLibidText, s);
  dumpKey(HKEY_CLASSES_ROOT, "HKCR", "Interface\\{5A7D3C1C-4E2B-11D5-9F31-0050DA2B7E10}", s);
  dumpKey(HKEY_LOCAL_MACHINE, "HKLM", "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer", s);
  dumpKey(HKEY_LOCAL_MACHINE, "HKLM", "SOFTWARE\\Microsoft\\Internet Explorer", s);
  return s;
}

// Only the keys and values of the library's three blocks.
Snapshot scriptArea() {
  Snapshot s;
  dumpKey(HKEY_CLASSES_ROOT, "HKCR", "Sheenpad.Highlighter.1", s);
  dumpKey(HKEY_CLASSES_ROOT, "HKCR", "Sheenpad.Highlighter", s);
  dumpKey(HKEY_CLASSES_ROOT, "HKCR", std::string("CLSID\\") + kClsidText, s);
  dumpKey(HKEY_LOCAL_MACHINE, "HKLM", std::string(kBhoKey) + "\\" + kClsidText, s);
  dumpKey(HKEY_LOCAL_MACHINE, "HKLM", std::string(kExtensionsKey) + "\\" + kButtonKeyName, s);
  return s;
}

Snapshot expectedScriptArea(const std::string& module) {
  const std::string clsid = std::string("HKCR\\CLSID\\") + kClsidText;
  const std::string button = std::string("HKLM\\") + kExtensionsKey + "\\" + kButtonKeyName;
  return {
      {"HKCR\\Sheenpad.Highlighter.1", ""},
      {"HKCR\\Sheenpad.Highlighter.1\\[@]", "sz:Highlighter Class"},
      {"HKCR\\Sheenpad.Highlighter.1\\CLSID", ""},
      {"HKCR\\Sheenpad.Highlighter.1\\CLSID\\[@]", std::string("sz:") + kClsidText},
      {"HKCR\\Sheenpad.Highlighter", ""},
      {"HKCR\\Sheenpad.Highlighter\\[@]", "sz:Highlighter Class"},
      {"HKCR\\Sheenpad.Highlighter\\CLSID", ""},
      {"HKCR\\Sheenpad.Highlighter\\CLSID\\[@]", std::string("sz:") + kClsidText},
      {"HKCR\\Sheenpad.Highlighter\\CurVer", ""},
      {"HKCR\\Sheenpad.Highlighter\\CurVer\\[@]", "sz:Sheenpad.Highlighter.1"},
      {clsid, ""},
      {clsid + "\\[@]", "sz:Highlighter Class"},
      {clsid + "\\ProgID", ""},
      {clsid + "\\ProgID\\[@]", "sz:Sheenpad.Highlighter.1"},
      {clsid + "\\VersionIndependentProgID", ""},
      {clsid + "\\VersionIndependentProgID\\[@]", "sz:Sheenpad.Highlighter"},
      {clsid + "\\Programmable", ""},
      {clsid + "\\InprocServer32", ""},
      {clsid + "\\InprocServer32\\[@]", "sz:" + module},
      {clsid + "\\InprocServer32\\[ThreadingModel]", "sz:Apartment"},
      {clsid + "\\TypeLib", ""},
      {clsid + "\\TypeLib\\[@]", std::string("sz:") + kLibidText},
      {std::string("HKLM\\") + kBhoKey + "\\" + kClsidText, ""},
      {std::string("HKLM\\") + kBhoKey + "\\" + kClsidText + "\\[@]", "sz:Glintmark"},
      {button, ""},
      {button + "\\[@]", "sz:Glintmark"},
      {button + "\\[CLSID]", "sz:{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}"},
      {button + "\\[Default Visible]", "sz:Yes"},
      {button + "\\[ButtonText]", "sz:Highlight"},
      {button + "\\[HotIcon]", "sz:" + module + ",203"},
      {button + "\\[Icon]", "sz:" + module + ",204"},
      {button + "\\[ClsidExtension]", std::string("sz:") + kClsidText},
  };
}

// Runs regsvr32 (silently) on a library; its exit status.
DWORD regsvr32(const std::string& arguments) {
  std::string command = "regsvr32.exe /s " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return GetLastError() | 0x10000000;
  }
  WaitForSingleObject(process.hProcess, 60000);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return status;
}

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

bool keyExists(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    // Whatever an earlier, interrupted run left behind goes first.
    ASSERT_EQ(regsvr32("/u " + quoted(dllPath())), 0u);
    before = registrationArea();
  }
  void TearDown() override { regsvr32("/u " + quoted(dllPath())); }
  Snapshot before;
};

TEST_F(Registration, Regsvr32WritesExactlyTheScriptsKeysAndTheTypeLibrary) {
  ASSERT_EQ(regsvr32(quoted(dllPath())), 0u);
  const Snapshot first = scriptArea();
  EXPECT_EQ(first, expectedScriptArea(shortPath(dllPath())));

  ITypeLib* library = nullptr;
  ASSERT_EQ(LoadRegTypeLib(kLibid, 1, 0, LOCALE_NEUTRAL, &library), S_OK);
  ITypeInfo* info = nullptr;
  EXPECT_EQ(library->GetTypeInfoOfGuid(kIidIHighlighter, &info), S_OK);
  if (info) info->Release();
  library->Release();
  BSTR registeredPath = nullptr;
  ASSERT_EQ(QueryPathOfRegTypeLib(kLibid, 1, 0, LOCALE_NEUTRAL, &registeredPath), S_OK);
  std::wstring wide(registeredPath);
  SysFreeString(registeredPath);
  EXPECT_EQ(std::string(wide.begin(), wide.end()), dllPath());

  // Again: the ForceRemove keys are written anew, a stray subkey planted
  // under one of them goes, the content is the same.
  HKEY stray = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, (std::string("CLSID\\") + kClsidText + "\\Stray\\Deeper").c_str(), 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &stray, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(stray);
  ASSERT_NE(scriptArea(), first);
  ASSERT_EQ(regsvr32(quoted(dllPath())), 0u);
  EXPECT_EQ(scriptArea(), first);
}

TEST_F(Registration, UnregisterRemovesExactlyWhatRegistrationAdded) {
  ASSERT_EQ(regsvr32(quoted(dllPath())), 0u);
  ASSERT_NE(registrationArea(), before);
  ASSERT_EQ(regsvr32("/u " + quoted(dllPath())), 0u);
  EXPECT_EQ(registrationArea(), before);
  EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, "CLSID"));
  ITypeLib* library = nullptr;
  EXPECT_TRUE(FAILED(LoadRegTypeLib(kLibid, 1, 0, LOCALE_NEUTRAL, &library)));
  // Nothing registered: still success.
  EXPECT_EQ(regsvr32("/u " + quoted(dllPath())), 0u);
  EXPECT_EQ(registrationArea(), before);
}

TEST_F(Registration, ThePathInTheRegistryKeepsItsSingleQuotes) {
  // A folder name with a quote: the script doubles it, the registry holds one.
  // The name is a valid short name, so the short path keeps the quote.
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string folder = std::string(temp) + "glint'mk";
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string copy = folder + "\\Sheenpad.dll";
  ASSERT_TRUE(CopyFileA(dllPath().c_str(), copy.c_str(), FALSE));
  ASSERT_NE(shortPath(copy).find('\''), std::string::npos) << shortPath(copy);
  EXPECT_EQ(regsvr32(quoted(copy)), 0u);
  const Snapshot registered = scriptArea();
  EXPECT_EQ(registered, expectedScriptArea(shortPath(copy)));
  EXPECT_EQ(regsvr32("/u " + quoted(copy)), 0u);
  DeleteFileA(copy.c_str());
  RemoveDirectoryA(folder.c_str());
}

TEST_F(Registration, CoCreateInstanceFindsTheClassThroughTheRegistry) {
  ASSERT_EQ(regsvr32(quoted(dllPath())), 0u);
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  IObjectWithSite* object = nullptr;
  ASSERT_EQ(CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IObjectWithSite,
                             reinterpret_cast<void**>(&object)),
            S_OK);
  IDispatch* dispatch = nullptr;
  ASSERT_EQ(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
  UINT count = 0;
  EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  // The type information comes from the registered type library.
  ITypeInfo* info = nullptr;
  ASSERT_EQ(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), S_OK);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
  EXPECT_TRUE(IsEqualGUID(attributes->guid, kIidIHighlighter));
  info->ReleaseTypeAttr(attributes);
  info->Release();
  IOleCommandTarget* command = nullptr;
  EXPECT_EQ(object->QueryInterface(IID_IOleCommandTarget, reinterpret_cast<void**>(&command)), S_OK);
  if (command) command->Release();
  dispatch->Release();
  EXPECT_EQ(object->Release(), 0u);
  CoUninitialize();
}

// --- The shell refusal ---------------------------------------------------

// Runs the host program from `path` (a copy made for the test) on the library:
// 0 when it loaded, 1 when the load failed.
DWORD loadFrom(const std::string& path) {
  for (std::size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1)) {
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
  }
  if (!CopyFileA(windowsPath(GLINTMARK_LOAD_HOST).c_str(), path.c_str(), FALSE)) return 100 + GetLastError();
  std::string command = quoted(path) + " " + quoted(dllPath());
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  DWORD status = 200;
  if (CreateProcessA(path.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &process)) {
    WaitForSingleObject(process.hProcess, 60000);
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  DeleteFileA(path.c_str());
  // The folders made for the copy below the temporary folder, innermost first.
  char temp[MAX_PATH];
  const std::size_t tempLength = GetTempPathA(MAX_PATH, temp);
  for (std::size_t at = path.rfind('\\'); at != std::string::npos && at >= tempLength;
       at = path.rfind('\\', at - 1)) {
    RemoveDirectoryA(path.substr(0, at).c_str());
  }
  return status;
}

TEST(ShellRefusal, NoLoadWhereverExplorerExeStandsInTheHostPath) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string base = std::string(temp) + "glintmark-hosts\\";
  struct Case {
    std::string path;
    DWORD expected;
  };
  const Case cases[] = {
      {base + "Explorer.EXE", 1},
      {base + "EXPLORER.exe", 1},
      {base + "myexplorer.exe", 1},
      {base + "shell\\ExPlOrEr.ExE.d\\host.exe", 1},
      {base + "iexplore.exe", 0},
      {base + "Internet Explorer\\IEXPLORE.EXE", 0},
      {base + "explorer.ex\\host.exe", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(loadFrom(c.path), c.expected) << c.path;
}

// --- Process attach --------------------------------------------------------

// A settings store that notes whether the server state was set up when the
// options were read.
class RecordingStore final : public glintmark::SettingsStore {
 public:
  bool readValue(void*, std::uint32_t*) override {
    ++reads;
    serverStateAtRead = glintmark::bho::serverStateStarted();
    return false;
  }
  bool writeValue(std::uint32_t) override { return false; }
  void showMessage(const char*, const char*) override {}
  int reads = 0;
  bool serverStateAtRead = true;
};

TEST(ProcessAttach, LoadsTheOptionsBeforeSettingUpTheServerState) {
  using namespace glintmark::bho;
  RecordingStore store;
  glintmark::setSettingsStore(&store);
  ASSERT_FALSE(serverStateStarted());
  const HINSTANCE self = GetModuleHandleW(nullptr);
  EXPECT_TRUE(processAttach(self));
  glintmark::setSettingsStore(nullptr);
  EXPECT_EQ(store.reads, 1);
  EXPECT_FALSE(store.serverStateAtRead) << "the server state was set up first";
  EXPECT_TRUE(serverStateStarted());
  EXPECT_EQ(moduleInstance(), self);
  processDetach();
  EXPECT_FALSE(serverStateStarted());
}

// --- Helpers of registration ---------------------------------------------

TEST(ServerHelpers, ShellHostPathsAnyCaseAnywhere) {
  const std::pair<const char*, bool> cases[] = {
      {"C:\\Windows\\explorer.exe", true},     {"C:\\WINDOWS\\EXPLORER.EXE", true},
      {"C:\\explorer.exe\\x.exe", true},       {"D:\\a\\notexplorer.exe2", true},
      {"C:\\Program Files\\Internet Explorer\\iexplore.exe", false},
      {"C:\\explorer.ex", false},              {"", false},
  };
  for (const auto& [path, expected] : cases) EXPECT_EQ(isShellHostPath(path), expected) << path;
}

TEST(ServerHelpers, PathsOfTheTypeLibraryAndQuotesOfTheScript) {
  EXPECT_EQ(doubleSingleQuotes("C:\\it's\\a''b.dll"), "C:\\it''s\\a''''b.dll");
  EXPECT_EQ(doubleSingleQuotes(""), "");
  const std::pair<const wchar_t*, const wchar_t*> beside[] = {
      {L"C:\\x\\Sheenpad.dll", L"C:\\x\\Sheenpad.tlb"},
      {L"C:\\x\\Sheenpad", L"C:\\x\\Sheenpad.tlb"},
      {L"C:\\x.y\\Sheenpad", L"C:\\x.y\\Sheenpad.tlb"},
      {L"C:\\x\\a.b.dll", L"C:\\x\\a.b.tlb"},
      {L"Sheenpad.dll", L"Sheenpad.tlb"},
  };
  for (const auto& [path, expected] : beside) EXPECT_EQ(typeLibraryBeside(path), expected);
  const std::pair<const wchar_t*, const wchar_t*> help[] = {
      {L"C:\\x\\Sheenpad.dll", L"C:\\x\\"},
      {L"C:/x/Sheenpad.dll", L"C:/x/"},
      {L"C:Sheenpad.dll", L"C:"},
      {L"Sheenpad.dll", L""},
  };
  for (const auto& [path, expected] : help) EXPECT_EQ(helpDirectoryOf(path), expected);
}

}  // namespace
