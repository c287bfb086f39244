// MemoryRegistry: the registry kept in memory, for native tests, the
// glintmark tool and Windows-side tests that must not touch the real registry.
//
// It answers every operation of reg::Registry the way Windows does: seven
// hives under the predefined roots, key and value names compared without
// regard to case (the ANSI code page's case mapping; a double-byte character
// is never split, so a trail byte 0x5C is not a path separator), subkeys
// enumerated in case-insensitive order, typed values stored byte for byte,
// access rights checked per handle, a key deleted while a handle is open
// answering errorKeyDeleted through that handle, at most 255 bytes per key
// name and 512 levels of keys. HKEY_CLASSES_ROOT is a hive of its own here,
// not a merged view of HKLM and HKCU.
//
// For tests it counts open handles and takes injected faults: an operation
// can be refused (with any error code) for one key or for all keys, a given
// number of times or for ever.
//
//   MemoryRegistry registry;
//   registry.injectFault({Operation::createKey, "HKLM\\Software\\Blocked"});
//   ... run the code under test ...
//   EXPECT_EQ(registry.openHandleCount(), 0u);
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/code_page.h"
#include "core/registry.h"

namespace glintmark::reg {

// The operations of Registry, for fault injection.
enum class Operation {
  openKey,
  createKey,
  setValue,
  queryValue,
  deleteKey,
  deleteValue,
  enumKey,
  queryInfo,
  closeKey,
};

// Fault: makes `operation` fail with `error` when it concerns the key named by
// keyPath (a full path such as "HKLM\\Software\\X" or
// "HKEY_LOCAL_MACHINE\\Software\\X", compared without regard to case; empty
// means every key). The key concerned is the one opened, created or deleted
// (openKey, createKey, deleteKey) or the key whose handle is used (all other
// operations). With onlyWithAccess set, an openKey or createKey fault applies
// only when the requested access includes one of those rights (refusing write
// access while reading still works). remaining counts the failures left; -1
// is for ever.
//
// Special cases: a refused closeKey still frees the handle, since the caller
// can do nothing more with it; a queryValue fault with errorMoreData reports a
// size one byte larger than both the value and the caller's buffer, as when a
// value grows between two reads.
struct Fault {
  Operation operation;
  std::string keyPath;
  Status error = errorAccessDenied;
  Access onlyWithAccess = 0;
  int remaining = -1;
};

struct RegValue {
  ValueType type = regNone;
  std::vector<std::uint8_t> data;

  friend bool operator==(const RegValue&, const RegValue&) = default;
};

class MemoryRegistry final : public Registry {
 public:
  // Names are compared in the given code page (by default the process's).
  explicit MemoryRegistry(const CodePage& codePage = ansiCodePage());
  ~MemoryRegistry() override;
  MemoryRegistry(const MemoryRegistry&) = delete;
  MemoryRegistry& operator=(const MemoryRegistry&) = delete;

  Status openKeyEx(Key parent, const char* subKey, Access access, Key* result) override;
  Status createKeyEx(Key parent, const char* subKey, Access access, Key* result,
                     std::uint32_t* disposition) override;
  Status setValueEx(Key key, const char* name, ValueType type, const void* data,
                    std::uint32_t size) override;
  Status queryValueEx(Key key, const char* name, ValueType* type, void* data,
                      std::uint32_t* size) override;
  Status deleteKey(Key parent, const char* subKey) override;
  Status deleteValue(Key key, const char* name) override;
  Status enumKeyEx(Key key, std::uint32_t index, char* name, std::uint32_t* nameSize) override;
  Status queryInfoKey(Key key, std::uint32_t* subKeys, std::uint32_t* values) override;
  Status closeKey(Key key) override;

  // Faults and accounting.
  void injectFault(Fault fault);
  void clearFaults();
  // Handles opened and not yet closed (predefined roots never count).
  std::size_t openHandleCount() const { return m_handles.size(); }

  // Inspection by full path ("HKCR\\a\\b" or "HKEY_CLASSES_ROOT\\a\\b").
  bool keyExists(std::string_view path) const;
  std::optional<RegValue> value(std::string_view path, std::string_view name) const;
  // No key below any root and no value in any root.
  bool empty() const;
  // Drops every key, value, handle and fault.
  void clear();

  // One key for visit(): its full path with the long root name, its values
  // in case-insensitive name order (the default value has the empty name).
  struct KeyEntry {
    std::string path;
    std::vector<std::pair<std::string, RegValue>> values;
  };
  // Calls visitor for every key below the roots in depth-first,
  // case-insensitive name order, parents before their subkeys; a root is
  // visited only when it holds values.
  void visit(const std::function<void(const KeyEntry&)>& visitor) const;

  static constexpr std::size_t maxKeyNameBytes = 255;
  static constexpr std::size_t maxDepth = 512;

 private:
  struct Node;
  struct Handle;
  Node* resolveHandle(Key key, Status* error, Access* access) const;
  std::string fold(std::string_view text) const;
  Status splitPath(const char* subKey, std::vector<std::string>* parts) const;
  Status faultFor(Operation operation, const Node* node, Access access);
  const Node* findPath(std::string_view path) const;
  Key addHandle(std::shared_ptr<Node> node, Access access);

  const CodePage& m_codePage;
  std::map<std::uintptr_t, std::shared_ptr<Node>> m_roots;
  std::map<std::uintptr_t, Handle> m_handles;
  std::uintptr_t m_nextHandle = 0x1000;
  std::vector<Fault> m_faults;
};

}  // namespace glintmark::reg
