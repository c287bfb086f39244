#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registry/memory_registry.h"
#include "registry/reg_file.h"
#include "registrar/script_registrar.h"
#include "win/unique_handle.h"

namespace glintmark {
namespace {

std::u16string ownPath() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::u16string(reinterpret_cast<const char16_t*>(path), length);
}

// The test program carries the product's script as resource REGISTRY 101.
TEST(ScriptResource, RunsTheScriptResourceOfARealModule) {
  reg::MemoryRegistry registry;
  ScriptRegistrar registrar(registry);
  ASSERT_EQ(registrar.defineReplacement(u"Module", u"C:\\PROGRA~1\\Sheenpad.dll"), hr::ok);
  EXPECT_EQ(registrar.runScriptResource(ownPath(), 101, u"REGISTRY", ScriptMode::registering), hr::ok);
  EXPECT_TRUE(registry.keyExists("HKCR\\CLSID\\{5A7D3C1D-4E2B-11D5-9F31-0050DA2B7E10}\\InprocServer32"));
  EXPECT_EQ(registrar.runScriptResource(ownPath(), 102, u"REGISTRY", ScriptMode::registering),
            fromWin32(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(registrar.runScriptResource(ownPath(), 101, u"NOSUCHTYPE", ScriptMode::registering),
            fromWin32(ERROR_RESOURCE_TYPE_NOT_FOUND));
  const HResult missing = registrar.runScriptResource(u"C:\\no\\such\\module.dll", 101, u"REGISTRY",
                                                      ScriptMode::registering);
  EXPECT_TRUE(missing == fromWin32(ERROR_FILE_NOT_FOUND) || missing == fromWin32(ERROR_MOD_NOT_FOUND))
      << std::hex << missing;
  EXPECT_EQ(registry.openHandleCount(), 0u);
}

struct Expected {
  HKEY root;
  const char* path;
  const char* name;   // nullptr: the key only; "" the default value
  const char* value;
};

constexpr const char* clsidKey = "CLSID\\{5A7D3C1D-4E2B-11D5-9F31-0050DA2B7E10}";
const std::string module = "C:\\PROGRA~1\\Sheenpad.dll";

std::vector<Expected> productTable() {
  static const std::string bho =
      "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects\\"
      "{5A7D3C1D-4E2B-11D5-9F31-0050DA2B7E10}";
  static const std::string button =
      "SOFTWARE\\Microsoft\\Internet Explorer\\Extensions\\{c4e1a9f2-4e2c-11d5-9f3B-0050da2b7e10}";
  static const std::string clsid = clsidKey;
  static const std::string ids[] = {clsid + "\\ProgID", clsid + "\\VersionIndependentProgID",
                                    clsid + "\\Programmable", clsid + "\\InprocServer32",
                                    clsid + "\\TypeLib"};
  static const std::string hot = module + ",203";
  static const std::string icon = module + ",204";
  return {
      {HKEY_CLASSES_ROOT, "Sheenpad.Highlighter.1", "", "Highlighter Class"},
      {HKEY_CLASSES_ROOT, "Sheenpad.Highlighter.1\\CLSID", "", "{5A7D3C1D-4E2B-11D5-9F31-0050DA2B7E10}"},
      {HKEY_CLASSES_ROOT, "Sheenpad.Highlighter", "", "Highlighter Class"},
      {HKEY_CLASSES_ROOT, "Sheenpad.Highlighter\\CLSID", "", "{5A7D3C1D-4E2B-11D5-9F31-0050DA2B7E10}"},
      {HKEY_CLASSES_ROOT, "Sheenpad.Highlighter\\CurVer", "", "Sheenpad.Highlighter.1"},
      {HKEY_CLASSES_ROOT, clsidKey, "", "Highlighter Class"},
      {HKEY_CLASSES_ROOT, ids[0].c_str(), "", "Sheenpad.Highlighter.1"},
      {HKEY_CLASSES_ROOT, ids[1].c_str(), "", "Sheenpad.Highlighter"},
      {HKEY_CLASSES_ROOT, ids[2].c_str(), nullptr, nullptr},
      {HKEY_CLASSES_ROOT, ids[3].c_str(), "", module.c_str()},
      {HKEY_CLASSES_ROOT, ids[3].c_str(), "ThreadingModel", "Apartment"},
      {HKEY_CLASSES_ROOT, ids[4].c_str(), "", "{5A7D3C10-4E2B-11D5-9F31-0050DA2B7E10}"},
      {HKEY_LOCAL_MACHINE, bho.c_str(), "", "Glintmark"},
      {HKEY_LOCAL_MACHINE, button.c_str(), "", "Glintmark"},
      {HKEY_LOCAL_MACHINE, button.c_str(), "CLSID", "{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}"},
      {HKEY_LOCAL_MACHINE, button.c_str(), "Default Visible", "Yes"},
      {HKEY_LOCAL_MACHINE, button.c_str(), "ButtonText", "Highlight"},
      {HKEY_LOCAL_MACHINE, button.c_str(), "HotIcon", hot.c_str()},
      {HKEY_LOCAL_MACHINE, button.c_str(), "Icon", icon.c_str()},
      {HKEY_LOCAL_MACHINE, button.c_str(), "ClsidExtension", "{5A7D3C1D-4E2B-11D5-9F31-0050DA2B7E10}"},
  };
}

bool keyExists(HKEY root, const std::string& path) {
  UniqueHkey key;
  return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

// Every parent key of the table's keys, with whether it exists now.
std::vector<std::pair<std::string, bool>> parentsOf(const std::vector<Expected>& table) {
  std::vector<std::pair<std::string, bool>> parents;
  for (const Expected& row : table) {
    std::string path = row.path;
    for (std::size_t slash = path.find('\\'); slash != std::string::npos;
         slash = path.find('\\', slash + 1)) {
      const std::string prefix = (row.root == HKEY_CLASSES_ROOT ? "R:" : "M:") + path.substr(0, slash);
      parents.emplace_back(prefix, keyExists(row.root, path.substr(0, slash)));
    }
  }
  return parents;
}

// Registers and unregisters the product's script on the machine's registry
// (the Wine prefix of the build), and compares what it writes with the
// product's tables. It leaves the registry as it found it.
TEST(ProductRegistration, RealRegistryMatchesTheTables) {
  const std::vector<Expected> table = productTable();
  for (const Expected& row : table) {
    if (keyExists(row.root, row.path)) GTEST_SKIP() << "already registered here: " << row.path;
  }
  const auto parentsBefore = parentsOf(table);

  ScriptRegistrar registrar;
  ASSERT_EQ(registrar.defineReplacement(u"Module", u"C:\\PROGRA~1\\Sheenpad.dll"), hr::ok);
  ASSERT_EQ(registrar.runScriptResource(ownPath(), 101, u"REGISTRY", ScriptMode::registering), hr::ok);
  for (const Expected& row : table) {
    SCOPED_TRACE(std::string(row.path) + " : " + (row.name ? row.name : "(key)"));
    UniqueHkey key;
    ASSERT_EQ(RegOpenKeyExA(row.root, row.path, 0, KEY_READ, key.put()), ERROR_SUCCESS);
    if (row.name != nullptr) {
      char data[300] = {};
      DWORD size = sizeof data;
      DWORD type = 0;
      EXPECT_EQ(RegQueryValueExA(key.get(), row.name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size),
                ERROR_SUCCESS);
      EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
      EXPECT_STREQ(data, row.value);
    } else {
      DWORD subKeys = 1, values = 1;
      EXPECT_EQ(RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                                 nullptr, nullptr, nullptr, nullptr),
                ERROR_SUCCESS);
      EXPECT_EQ(subKeys, 0u);
      EXPECT_EQ(values, 0u);
    }
  }

  // Registering again gives the same result.
  ASSERT_EQ(registrar.runScriptResource(ownPath(), 101, u"REGISTRY", ScriptMode::registering), hr::ok);

  ASSERT_EQ(registrar.runScriptResource(ownPath(), 101, u"REGISTRY", ScriptMode::unregistering), hr::ok);
  for (const Expected& row : table) EXPECT_FALSE(keyExists(row.root, row.path)) << row.path;
  EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, "CLSID"));
  // Parents that existed before stay; parents the registration created are gone.
  EXPECT_EQ(parentsOf(table), parentsBefore);
}

// On the real registry an empty key name opens the parent itself, and
// nothing deletes the parent through it.
TEST(RealRegistry, EmptyKeyNameIsTheParentItselfAndIsNeverDeleted) {
  const std::string base = "Software\\GlintmarkEmptyKeyName";
  RegDeleteTreeA(HKEY_CURRENT_USER, base.c_str());
  UniqueHkey created;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (base + "\\Keep\\Child").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, created.put(), nullptr),
            ERROR_SUCCESS);
  created.reset();
  ScriptRegistrar registrar;
  EXPECT_EQ(registrar.runRegistrationScript(
                "HKCU { Software { GlintmarkEmptyKeyName { Keep { '' = s text ForceRemove '' Delete '' } } } }",
                ScriptMode::registering),
            hr::ok);
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, base + "\\Keep\\Child"));
  char data[16] = {};
  LONG size = sizeof data;
  EXPECT_EQ(RegQueryValueA(HKEY_CURRENT_USER, (base + "\\Keep").c_str(), data, &size), ERROR_SUCCESS);
  EXPECT_STREQ(data, "text");

  EXPECT_EQ(registrar.runRegistrationScript(
                "HKCU { Software { NoRemove GlintmarkEmptyKeyName { NoRemove Keep { '' { Child } } } } }",
                ScriptMode::unregistering),
            hr::ok);
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, base + "\\Keep\\Child"));
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, base + "\\Keep"));
  // The registry behind the interpreter refuses the empty name too.
  UniqueHkey keep;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (base + "\\Keep").c_str(), 0, KEY_ALL_ACCESS, keep.put()),
            ERROR_SUCCESS);
  EXPECT_EQ(reg::systemRegistry().deleteKey(reg::Key(reinterpret_cast<std::uintptr_t>(keep.get())), ""),
            reg::errorAccessDenied);
  keep.reset();
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, base + "\\Keep"));
  RegDeleteTreeA(HKEY_CURRENT_USER, base.c_str());
}

}  // namespace
}  // namespace glintmark
