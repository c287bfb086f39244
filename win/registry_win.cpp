// The Windows registry behind the Registry interface: each operation is the
// Win32 call of the same name, arguments passed through unchanged.
#include <windows.h>

#include <initializer_list>

#include "core/registry.h"

namespace glintmark::reg {
namespace {

HKEY toHkey(Key key) { return reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(key)); }
Key fromHkey(HKEY key) { return Key(reinterpret_cast<std::uintptr_t>(key)); }

bool isPredefined(Key key) {
  for (Key root : {hkeyClassesRoot, hkeyCurrentUser, hkeyLocalMachine, hkeyUsers,
                   hkeyPerformanceData, hkeyCurrentConfig, hkeyDynData}) {
    if (key == root) return true;
  }
  return false;
}

class WindowsRegistry final : public Registry {
 public:
  Status openKeyEx(Key parent, const char* subKey, Access access, Key* result) override {
    HKEY opened = nullptr;
    const LSTATUS status = RegOpenKeyExA(toHkey(parent), subKey, 0, access, &opened);
    if (status == ERROR_SUCCESS) *result = fromHkey(opened);
    return static_cast<Status>(status);
  }

  Status createKeyEx(Key parent, const char* subKey, Access access, Key* result,
                     std::uint32_t* disposition) override {
    HKEY created = nullptr;
    DWORD how = 0;
    const LSTATUS status =
        RegCreateKeyExA(toHkey(parent), subKey == nullptr ? "" : subKey, 0, nullptr,
                        REG_OPTION_NON_VOLATILE, access, nullptr, &created, &how);
    if (status == ERROR_SUCCESS) {
      *result = fromHkey(created);
      if (disposition != nullptr) *disposition = how;
    }
    return static_cast<Status>(status);
  }

  Status setValueEx(Key key, const char* name, ValueType type, const void* data,
                    std::uint32_t size) override {
    return static_cast<Status>(
        RegSetValueExA(toHkey(key), name, 0, type, static_cast<const BYTE*>(data), size));
  }

  Status queryValueEx(Key key, const char* name, ValueType* type, void* data,
                      std::uint32_t* size) override {
    DWORD foundType = 0;
    DWORD foundSize = size == nullptr ? 0 : *size;
    const LSTATUS status = RegQueryValueExA(toHkey(key), name, nullptr, &foundType,
                                            static_cast<BYTE*>(data), size == nullptr ? nullptr : &foundSize);
    if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
      if (size != nullptr) *size = foundSize;
      if (status == ERROR_SUCCESS && type != nullptr) *type = foundType;
    }
    return static_cast<Status>(status);
  }

  Status deleteKey(Key parent, const char* subKey) override {
    // An empty name would delete the parent key itself; only subkeys are meant.
    if (subKey == nullptr || *subKey == '\0') return errorAccessDenied;
    return static_cast<Status>(RegDeleteKeyA(toHkey(parent), subKey));
  }

  Status deleteValue(Key key, const char* name) override {
    return static_cast<Status>(RegDeleteValueA(toHkey(key), name));
  }

  Status enumKeyEx(Key key, std::uint32_t index, char* name, std::uint32_t* nameSize) override {
    DWORD size = *nameSize;
    const LSTATUS status =
        RegEnumKeyExA(toHkey(key), index, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) *nameSize = size;
    return static_cast<Status>(status);
  }

  Status queryInfoKey(Key key, std::uint32_t* subKeys, std::uint32_t* values) override {
    DWORD subKeyCount = 0, valueCount = 0;
    const LSTATUS status =
        RegQueryInfoKeyA(toHkey(key), nullptr, nullptr, nullptr, &subKeyCount, nullptr, nullptr,
                         &valueCount, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) {
      if (subKeys != nullptr) *subKeys = subKeyCount;
      if (values != nullptr) *values = valueCount;
    }
    return static_cast<Status>(status);
  }

  Status closeKey(Key key) override {
    if (isPredefined(key)) return errorSuccess;
    return static_cast<Status>(RegCloseKey(toHkey(key)));
  }
};

}  // namespace

Registry& systemRegistry() {
  static WindowsRegistry registry;
  return registry;
}

}  // namespace glintmark::reg
