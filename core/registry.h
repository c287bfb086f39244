// Registry: the few registry operations that the registration script and the
// settings store perform, as an interface.
//
// Each operation mirrors one Win32 call (RegOpenKeyExA, RegCreateKeyExA,
// RegSetValueExA, RegQueryValueExA, RegDeleteKeyA, RegDeleteValueA,
// RegEnumKeyExA, RegQueryInfoKeyA, RegCloseKey) with the same arguments and the
// same Win32 error codes, so that code written against it behaves the same on
// the real registry (win/registry_win.cpp) and on the in-memory one that the
// native tests and the glintmark tool use (registry/memory_registry.h).
// Names are narrow, zero-terminated text in the ANSI code page, as for the
// "A" calls. This header does not include <windows.h>: the constants below
// carry Windows' own numeric values under names that cannot clash with its
// macros.
//
//   reg::Key key = reg::nullKey;
//   if (registry.openKeyEx(reg::hkeyCurrentUser, "Software\\Glintmark\\BHO", reg::keyRead,
//                          &key) == reg::errorSuccess) { ...; registry.closeKey(key); }
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/ascii.h"

namespace glintmark::reg {

// A Win32 error code as the registry calls return it (LSTATUS).
using Status = std::uint32_t;
inline constexpr Status errorSuccess = 0;             // ERROR_SUCCESS
inline constexpr Status errorFileNotFound = 2;        // ERROR_FILE_NOT_FOUND
inline constexpr Status errorAccessDenied = 5;        // ERROR_ACCESS_DENIED
inline constexpr Status errorInvalidHandle = 6;       // ERROR_INVALID_HANDLE
inline constexpr Status errorNotEnoughMemory = 8;     // ERROR_NOT_ENOUGH_MEMORY
inline constexpr Status errorOutOfMemory = 14;        // ERROR_OUTOFMEMORY
inline constexpr Status errorInvalidParameter = 87;   // ERROR_INVALID_PARAMETER
inline constexpr Status errorBadPathname = 161;       // ERROR_BAD_PATHNAME
inline constexpr Status errorMoreData = 234;          // ERROR_MORE_DATA
inline constexpr Status errorNoMoreItems = 259;       // ERROR_NO_MORE_ITEMS
inline constexpr Status errorCantWrite = 1013;        // ERROR_CANTWRITE
inline constexpr Status errorKeyDeleted = 1018;       // ERROR_KEY_DELETED

// An opaque key handle (HKEY). The predefined roots have Windows' values,
// sign-extended as Windows does on 64-bit builds.
enum class Key : std::uintptr_t {};
inline constexpr Key nullKey{0};

constexpr Key predefinedKey(std::uint32_t value) {
  return Key(static_cast<std::uintptr_t>(static_cast<std::intptr_t>(static_cast<std::int32_t>(value))));
}
inline constexpr Key hkeyClassesRoot = predefinedKey(0x80000000u);      // HKEY_CLASSES_ROOT
inline constexpr Key hkeyCurrentUser = predefinedKey(0x80000001u);      // HKEY_CURRENT_USER
inline constexpr Key hkeyLocalMachine = predefinedKey(0x80000002u);     // HKEY_LOCAL_MACHINE
inline constexpr Key hkeyUsers = predefinedKey(0x80000003u);            // HKEY_USERS
inline constexpr Key hkeyPerformanceData = predefinedKey(0x80000004u);  // HKEY_PERFORMANCE_DATA
inline constexpr Key hkeyCurrentConfig = predefinedKey(0x80000005u);    // HKEY_CURRENT_CONFIG
inline constexpr Key hkeyDynData = predefinedKey(0x80000006u);          // HKEY_DYN_DATA

// The predefined roots by name, as registration scripts and .reg files write
// them: the long name (the one a key's path starts with) and its short form.
struct RootKeyName {
  Key key;
  std::string_view longName;
  std::string_view shortName;
};
inline constexpr std::array<RootKeyName, 7> rootKeyNames{{
    {hkeyClassesRoot, "HKEY_CLASSES_ROOT", "HKCR"},
    {hkeyCurrentUser, "HKEY_CURRENT_USER", "HKCU"},
    {hkeyLocalMachine, "HKEY_LOCAL_MACHINE", "HKLM"},
    {hkeyUsers, "HKEY_USERS", "HKU"},
    {hkeyPerformanceData, "HKEY_PERFORMANCE_DATA", "HKPD"},
    {hkeyCurrentConfig, "HKEY_CURRENT_CONFIG", "HKCC"},
    {hkeyDynData, "HKEY_DYN_DATA", "HKDD"},
}};

// rootKeyByName: the root a long or short name stands for, ASCII case
// ignored ("hklm", "HKEY_Users"); none for any other name.
constexpr std::optional<Key> rootKeyByName(std::string_view name) {
  for (const RootKeyName& row : rootKeyNames) {
    if (equalsIgnoringAsciiCase(name, row.longName) || equalsIgnoringAsciiCase(name, row.shortName)) {
      return row.key;
    }
  }
  return std::nullopt;
}

// rootKeyName: the long name of a predefined root; empty for any other key.
constexpr std::string_view rootKeyName(Key key) {
  for (const RootKeyName& row : rootKeyNames) {
    if (row.key == key) return row.longName;
  }
  return {};
}

// Access rights (REGSAM).
using Access = std::uint32_t;
inline constexpr Access keyQueryValue = 0x0001;        // KEY_QUERY_VALUE
inline constexpr Access keySetValue = 0x0002;          // KEY_SET_VALUE
inline constexpr Access keyCreateSubKey = 0x0004;      // KEY_CREATE_SUB_KEY
inline constexpr Access keyEnumerateSubKeys = 0x0008;  // KEY_ENUMERATE_SUB_KEYS
inline constexpr Access keyNotify = 0x0010;            // KEY_NOTIFY
inline constexpr Access keyCreateLink = 0x0020;        // KEY_CREATE_LINK
inline constexpr Access accessDelete = 0x00010000;     // DELETE
inline constexpr Access keyRead = 0x00020019;          // KEY_READ
inline constexpr Access keyWrite = 0x00020006;         // KEY_WRITE
inline constexpr Access keyAllAccess = 0x000F003F;     // KEY_ALL_ACCESS

// Value types (REG_*).
using ValueType = std::uint32_t;
inline constexpr ValueType regNone = 0;
inline constexpr ValueType regSz = 1;
inline constexpr ValueType regExpandSz = 2;
inline constexpr ValueType regBinary = 3;
inline constexpr ValueType regDword = 4;
inline constexpr ValueType regDwordBigEndian = 5;
inline constexpr ValueType regLink = 6;
inline constexpr ValueType regMultiSz = 7;
inline constexpr ValueType regQword = 11;

// Dispositions reported by createKeyEx.
inline constexpr std::uint32_t regCreatedNewKey = 1;      // REG_CREATED_NEW_KEY
inline constexpr std::uint32_t regOpenedExistingKey = 2;  // REG_OPENED_EXISTING_KEY

// Registry: one implementation talks to Windows, one keeps hives in memory.
// Every operation returns a Status; out parameters are written only on
// success unless said otherwise. A subKey may be a path of names separated by
// "\"; a null or empty value name means the key's default (unnamed) value.
class Registry {
 public:
  virtual ~Registry() = default;

  // RegOpenKeyExA(parent, subKey, 0, access, result). A null or empty subKey
  // opens a new handle to parent itself.
  virtual Status openKeyEx(Key parent, const char* subKey, Access access, Key* result) = 0;

  // RegCreateKeyExA(parent, subKey, 0, no class, REG_OPTION_NON_VOLATILE,
  // access, no security, result, disposition): opens the key, creating it and
  // any missing keys of the path. disposition may be null.
  virtual Status createKeyEx(Key parent, const char* subKey, Access access, Key* result,
                             std::uint32_t* disposition) = 0;

  // RegSetValueExA(key, name, 0, type, data, size). The key needs keySetValue.
  virtual Status setValueEx(Key key, const char* name, ValueType type, const void* data,
                            std::uint32_t size) = 0;

  // RegQueryValueExA(key, name, null, type, data, size). type, data and size
  // may each be null (data needs size). With data null, *size receives the
  // value's size. A buffer too small gives errorMoreData with *size set to the
  // size needed. The key needs keyQueryValue. Like the "A" call, no
  // terminating zero is added to a string that was stored without one.
  virtual Status queryValueEx(Key key, const char* name, ValueType* type, void* data,
                              std::uint32_t* size) = 0;

  // RegDeleteKeyA(parent, subKey): deletes a key that has no subkeys (a key
  // with subkeys gives errorAccessDenied), values and all.
  virtual Status deleteKey(Key parent, const char* subKey) = 0;

  // RegDeleteValueA(key, name). The key needs keySetValue.
  virtual Status deleteValue(Key key, const char* name) = 0;

  // RegEnumKeyExA(key, index, name, nameSize, ...): the name of the index-th
  // subkey. *nameSize is the buffer's size in bytes on entry and the name's
  // length without its zero on success; a buffer that cannot hold the name
  // and its zero gives errorMoreData. Past the last subkey: errorNoMoreItems.
  // The key needs keyEnumerateSubKeys.
  virtual Status enumKeyEx(Key key, std::uint32_t index, char* name, std::uint32_t* nameSize) = 0;

  // RegQueryInfoKeyA(key, ...) for the counts of subkeys and values; either
  // pointer may be null. The key needs keyQueryValue.
  virtual Status queryInfoKey(Key key, std::uint32_t* subKeys, std::uint32_t* values) = 0;

  // RegCloseKey(key). Closing a predefined root succeeds and does nothing.
  virtual Status closeKey(Key key) = 0;
};

// The machine's registry: the Windows registry on Windows; on Linux a
// process-wide in-memory registry that starts empty.
Registry& systemRegistry();

// KeyHolder: owns one open key and closes it when replaced or destroyed. The
// close result is available through close() for callers that must report it.
class KeyHolder {
 public:
  explicit KeyHolder(Registry& registry) : m_registry(&registry) {}
  KeyHolder(Registry& registry, Key key) : m_registry(&registry), m_key(key) {}
  ~KeyHolder() { close(); }
  KeyHolder(const KeyHolder&) = delete;
  KeyHolder& operator=(const KeyHolder&) = delete;
  KeyHolder(KeyHolder&& other) noexcept : m_registry(other.m_registry), m_key(other.release()) {}
  KeyHolder& operator=(KeyHolder&& other) noexcept {
    if (this != &other) {
      close();
      m_registry = other.m_registry;
      m_key = other.release();
    }
    return *this;
  }

  Key get() const { return m_key; }
  explicit operator bool() const { return m_key != nullKey; }
  // The address to receive a newly opened key; closes the one held first.
  Key* put() {
    close();
    return &m_key;
  }
  Key release() {
    const Key key = m_key;
    m_key = nullKey;
    return key;
  }
  // Closes the held key (if any) and returns the close result.
  Status close() {
    if (m_key == nullKey) return errorSuccess;
    const Key key = release();
    return m_registry->closeKey(key);
  }

 private:
  Registry* m_registry;
  Key m_key = nullKey;
};

}  // namespace glintmark::reg
