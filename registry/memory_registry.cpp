#include "registry/memory_registry.h"

#include <algorithm>
#include <cstring>

namespace glintmark::reg {

// A key: its own name as written when created, its subkeys and values by
// folded name. Nodes are shared with the handles that point at them, so a key
// deleted while open stays readable as "deleted" through those handles.
struct MemoryRegistry::Node {
  std::string name;
  std::string path;  // full path with the long root name
  std::size_t depth = 0;
  bool deleted = false;
  std::map<std::string, std::shared_ptr<Node>> subKeys;
  std::map<std::string, std::pair<std::string, RegValue>> values;
};

struct MemoryRegistry::Handle {
  std::shared_ptr<Node> node;
  Access access = 0;
};

namespace {

const char* orEmpty(const char* text) { return text == nullptr ? "" : text; }

}  // namespace

MemoryRegistry::MemoryRegistry(const CodePage& codePage) : m_codePage(codePage) { clear(); }

MemoryRegistry::~MemoryRegistry() = default;

void MemoryRegistry::clear() {
  m_roots.clear();
  m_handles.clear();
  m_faults.clear();
  for (const RootKeyName& row : rootKeyNames) {
    auto node = std::make_shared<Node>();
    node->name = row.longName;
    node->path = row.longName;
    m_roots[static_cast<std::uintptr_t>(row.key)] = std::move(node);
  }
}

std::string MemoryRegistry::fold(std::string_view text) const {
  std::string folded(text);
  lowerInPlace(m_codePage, folded);
  return folded;
}

// Splits a "\"-separated path by whole characters. A single trailing "\" is
// allowed; a leading one or an empty component is not (as Windows answers).
Status MemoryRegistry::splitPath(const char* subKey, std::vector<std::string>* parts) const {
  parts->clear();
  const std::string_view path = orEmpty(subKey);
  if (path.empty()) return errorSuccess;
  std::string current;
  std::size_t i = 0;
  while (i < path.size()) {
    const std::size_t length = characterLength(m_codePage, path, i);
    if (length == 1 && path[i] == '\\') {
      if (current.empty()) return errorBadPathname;
      parts->push_back(std::move(current));
      current.clear();
    } else {
      current.append(path.substr(i, length));
    }
    i += length;
  }
  if (!current.empty()) parts->push_back(std::move(current));
  for (const std::string& part : *parts) {
    if (part.size() > maxKeyNameBytes) return errorInvalidParameter;
  }
  return errorSuccess;
}

MemoryRegistry::Node* MemoryRegistry::resolveHandle(Key key, Status* error, Access* access) const {
  const auto raw = static_cast<std::uintptr_t>(key);
  if (const auto root = m_roots.find(raw); root != m_roots.end()) {
    *access = keyAllAccess;
    return root->second.get();
  }
  const auto handle = m_handles.find(raw);
  if (handle == m_handles.end()) {
    *error = errorInvalidHandle;
    return nullptr;
  }
  if (handle->second.node->deleted) {
    *error = errorKeyDeleted;
    return nullptr;
  }
  *access = handle->second.access;
  return handle->second.node.get();
}

Status MemoryRegistry::faultFor(Operation operation, const Node* node, Access access) {
  const std::string path = node == nullptr ? std::string() : fold(node->path);
  for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
    if (it->operation != operation) continue;
    if (it->onlyWithAccess != 0 && (it->onlyWithAccess & access) == 0) continue;
    if (!it->keyPath.empty() && it->keyPath != path) continue;
    const Status error = it->error;
    if (it->remaining > 0 && --it->remaining == 0) m_faults.erase(it);
    return error;
  }
  return errorSuccess;
}

void MemoryRegistry::injectFault(Fault fault) {
  // Store the path in the form faultFor compares: long root name, folded.
  if (!fault.keyPath.empty()) {
    const std::string_view path = fault.keyPath;
    const std::size_t slash = path.find('\\');
    const auto root = rootKeyByName(path.substr(0, slash));
    std::string full(root ? rootKeyName(*root) : path.substr(0, slash));
    if (slash != std::string_view::npos) full.append(path.substr(slash));
    fault.keyPath = fold(full);
  }
  if (fault.remaining == 0) return;
  m_faults.push_back(std::move(fault));
}

void MemoryRegistry::clearFaults() { m_faults.clear(); }

Key MemoryRegistry::addHandle(std::shared_ptr<Node> node, Access access) {
  const std::uintptr_t raw = m_nextHandle;
  m_nextHandle += 4;  // never reused, so a stale handle is caught
  m_handles[raw] = Handle{std::move(node), access};
  return Key(raw);
}

Status MemoryRegistry::openKeyEx(Key parent, const char* subKey, Access access, Key* result) {
  if (result == nullptr) return errorInvalidParameter;
  Status error = errorSuccess;
  Access parentAccess = 0;
  Node* node = resolveHandle(parent, &error, &parentAccess);
  if (node == nullptr) return error;
  std::vector<std::string> parts;
  if (const Status split = splitPath(subKey, &parts); split != errorSuccess) {
    return split == errorBadPathname ? errorFileNotFound : split;
  }
  std::shared_ptr<Node> target;
  if (parts.empty()) {
    const auto raw = static_cast<std::uintptr_t>(parent);
    target = m_roots.contains(raw) ? m_roots[raw] : m_handles[raw].node;
  } else {
    for (const std::string& part : parts) {
      const auto it = node->subKeys.find(fold(part));
      if (it == node->subKeys.end()) return errorFileNotFound;
      target = it->second;
      node = target.get();
    }
  }
  if (const Status fault = faultFor(Operation::openKey, target.get(), access)) return fault;
  *result = addHandle(std::move(target), access);
  return errorSuccess;
}

Status MemoryRegistry::createKeyEx(Key parent, const char* subKey, Access access, Key* result,
                                   std::uint32_t* disposition) {
  if (result == nullptr) return errorInvalidParameter;
  Status error = errorSuccess;
  Access parentAccess = 0;
  Node* node = resolveHandle(parent, &error, &parentAccess);
  if (node == nullptr) return error;
  std::vector<std::string> parts;
  if (const Status split = splitPath(subKey, &parts)) return split;
  if (node->depth + parts.size() > maxDepth) return errorCantWrite;

  // Find how much of the path exists, then check faults and rights before
  // creating anything, so a refused create leaves nothing behind.
  std::shared_ptr<Node> target;
  if (parts.empty()) {
    const auto raw = static_cast<std::uintptr_t>(parent);
    target = m_roots.contains(raw) ? m_roots[raw] : m_handles[raw].node;
  }
  Node* walk = node;
  std::size_t existing = 0;
  for (; existing < parts.size(); ++existing) {
    const auto it = walk->subKeys.find(fold(parts[existing]));
    if (it == walk->subKeys.end()) break;
    target = it->second;
    walk = target.get();
  }
  const bool creating = existing < parts.size();
  if (creating) {
    // Fault paths name the key that would be created (the full path).
    Node probe;
    probe.path = walk->path;
    for (std::size_t i = existing; i < parts.size(); ++i) probe.path += "\\" + parts[i];
    if (const Status fault = faultFor(Operation::createKey, &probe, access)) return fault;
    if ((parentAccess & keyCreateSubKey) == 0) return errorAccessDenied;
    for (std::size_t i = existing; i < parts.size(); ++i) {
      auto child = std::make_shared<Node>();
      child->name = parts[i];
      child->path = walk->path + "\\" + parts[i];
      child->depth = walk->depth + 1;
      walk->subKeys[fold(parts[i])] = child;
      target = std::move(child);
      walk = target.get();
    }
  } else if (const Status fault = faultFor(Operation::createKey, target.get(), access)) {
    return fault;
  }
  if (disposition != nullptr) *disposition = creating ? regCreatedNewKey : regOpenedExistingKey;
  *result = addHandle(std::move(target), access);
  return errorSuccess;
}

Status MemoryRegistry::setValueEx(Key key, const char* name, ValueType type, const void* data,
                                  std::uint32_t size) {
  Status error = errorSuccess;
  Access access = 0;
  Node* node = resolveHandle(key, &error, &access);
  if (node == nullptr) return error;
  if ((access & keySetValue) == 0) return errorAccessDenied;
  if (data == nullptr && size != 0) return errorInvalidParameter;
  if (const Status fault = faultFor(Operation::setValue, node, access)) return fault;
  const std::string valueName = orEmpty(name);
  RegValue value;
  value.type = type;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (size != 0) value.data.assign(bytes, bytes + size);
  node->values[fold(valueName)] = {valueName, std::move(value)};
  return errorSuccess;
}

Status MemoryRegistry::queryValueEx(Key key, const char* name, ValueType* type, void* data,
                                    std::uint32_t* size) {
  Status error = errorSuccess;
  Access access = 0;
  Node* node = resolveHandle(key, &error, &access);
  if (node == nullptr) return error;
  if ((access & keyQueryValue) == 0) return errorAccessDenied;
  if (data != nullptr && size == nullptr) return errorInvalidParameter;
  const auto it = node->values.find(fold(orEmpty(name)));
  if (it == node->values.end()) return errorFileNotFound;
  const RegValue& value = it->second.second;
  const auto needed = static_cast<std::uint32_t>(value.data.size());
  if (const Status fault = faultFor(Operation::queryValue, node, access)) {
    if (fault == errorMoreData && size != nullptr) *size = std::max(needed, *size) + 1;
    return fault;
  }
  if (type != nullptr) *type = value.type;
  if (size == nullptr) return errorSuccess;
  if (data == nullptr) {
    *size = needed;
    return errorSuccess;
  }
  if (*size < needed) {
    *size = needed;
    return errorMoreData;
  }
  if (needed != 0) std::memcpy(data, value.data.data(), needed);
  *size = needed;
  return errorSuccess;
}

Status MemoryRegistry::deleteKey(Key parent, const char* subKey) {
  Status error = errorSuccess;
  Access access = 0;
  Node* node = resolveHandle(parent, &error, &access);
  if (node == nullptr) return error;
  std::vector<std::string> parts;
  if (const Status split = splitPath(subKey, &parts)) {
    return split == errorBadPathname ? errorFileNotFound : split;
  }
  // Deleting the key behind the handle itself (empty subKey) is refused:
  // callers here only ever name a subkey.
  if (parts.empty()) return errorAccessDenied;
  Node* owner = node;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    const auto it = owner->subKeys.find(fold(parts[i]));
    if (it == owner->subKeys.end()) return errorFileNotFound;
    owner = it->second.get();
  }
  const auto it = owner->subKeys.find(fold(parts.back()));
  if (it == owner->subKeys.end()) return errorFileNotFound;
  if (const Status fault = faultFor(Operation::deleteKey, it->second.get(), accessDelete)) {
    return fault;
  }
  if (!it->second->subKeys.empty()) return errorAccessDenied;
  it->second->deleted = true;
  owner->subKeys.erase(it);
  return errorSuccess;
}

Status MemoryRegistry::deleteValue(Key key, const char* name) {
  Status error = errorSuccess;
  Access access = 0;
  Node* node = resolveHandle(key, &error, &access);
  if (node == nullptr) return error;
  if ((access & keySetValue) == 0) return errorAccessDenied;
  if (const Status fault = faultFor(Operation::deleteValue, node, access)) return fault;
  const auto it = node->values.find(fold(orEmpty(name)));
  if (it == node->values.end()) return errorFileNotFound;
  node->values.erase(it);
  return errorSuccess;
}

Status MemoryRegistry::enumKeyEx(Key key, std::uint32_t index, char* name,
                                 std::uint32_t* nameSize) {
  Status error = errorSuccess;
  Access access = 0;
  Node* node = resolveHandle(key, &error, &access);
  if (node == nullptr) return error;
  if (name == nullptr || nameSize == nullptr) return errorInvalidParameter;
  if ((access & keyEnumerateSubKeys) == 0) return errorAccessDenied;
  if (const Status fault = faultFor(Operation::enumKey, node, access)) return fault;
  if (index >= node->subKeys.size()) return errorNoMoreItems;
  const std::string& found = std::next(node->subKeys.begin(), index)->second->name;
  if (found.size() + 1 > *nameSize) return errorMoreData;
  std::memcpy(name, found.c_str(), found.size() + 1);
  *nameSize = static_cast<std::uint32_t>(found.size());
  return errorSuccess;
}

Status MemoryRegistry::queryInfoKey(Key key, std::uint32_t* subKeys, std::uint32_t* values) {
  Status error = errorSuccess;
  Access access = 0;
  Node* node = resolveHandle(key, &error, &access);
  if (node == nullptr) return error;
  if ((access & keyQueryValue) == 0) return errorAccessDenied;
  if (const Status fault = faultFor(Operation::queryInfo, node, access)) return fault;
  if (subKeys != nullptr) *subKeys = static_cast<std::uint32_t>(node->subKeys.size());
  if (values != nullptr) *values = static_cast<std::uint32_t>(node->values.size());
  return errorSuccess;
}

Status MemoryRegistry::closeKey(Key key) {
  const auto raw = static_cast<std::uintptr_t>(key);
  if (m_roots.contains(raw)) return errorSuccess;
  const auto handle = m_handles.find(raw);
  if (handle == m_handles.end()) return errorInvalidHandle;
  const std::shared_ptr<Node> node = handle->second.node;
  const Access access = handle->second.access;
  m_handles.erase(handle);
  return faultFor(Operation::closeKey, node.get(), access);
}

const MemoryRegistry::Node* MemoryRegistry::findPath(std::string_view path) const {
  const std::size_t slash = path.find('\\');
  const auto root = rootKeyByName(path.substr(0, slash));
  if (!root) return nullptr;
  const Node* node = m_roots.at(static_cast<std::uintptr_t>(*root)).get();
  if (slash == std::string_view::npos) return node;
  std::vector<std::string> parts;
  const std::string rest(path.substr(slash + 1));
  if (splitPath(rest.c_str(), &parts) != errorSuccess) return nullptr;
  for (const std::string& part : parts) {
    const auto it = node->subKeys.find(fold(part));
    if (it == node->subKeys.end()) return nullptr;
    node = it->second.get();
  }
  return node;
}

bool MemoryRegistry::keyExists(std::string_view path) const { return findPath(path) != nullptr; }

std::optional<RegValue> MemoryRegistry::value(std::string_view path, std::string_view name) const {
  const Node* node = findPath(path);
  if (node == nullptr) return std::nullopt;
  const auto it = node->values.find(fold(name));
  if (it == node->values.end()) return std::nullopt;
  return it->second.second;
}

bool MemoryRegistry::empty() const {
  return std::all_of(m_roots.begin(), m_roots.end(), [](const auto& root) {
    return root.second->subKeys.empty() && root.second->values.empty();
  });
}

void MemoryRegistry::visit(const std::function<void(const KeyEntry&)>& visitor) const {
  // Iterative depth-first walk: trees may be as deep as maxDepth.
  auto entryOf = [](const Node& node) {
    KeyEntry entry;
    entry.path = node.path;
    for (const auto& [folded, named] : node.values) entry.values.push_back(named);
    return entry;
  };
  for (const RootKeyName& row : rootKeyNames) {
    const Node& root = *m_roots.at(static_cast<std::uintptr_t>(row.key));
    if (!root.values.empty()) visitor(entryOf(root));
    std::vector<const Node*> stack;
    for (auto it = root.subKeys.rbegin(); it != root.subKeys.rend(); ++it) {
      stack.push_back(it->second.get());
    }
    while (!stack.empty()) {
      const Node* node = stack.back();
      stack.pop_back();
      visitor(entryOf(*node));
      for (auto it = node->subKeys.rbegin(); it != node->subKeys.rend(); ++it) {
        stack.push_back(it->second.get());
      }
    }
  }
}

}  // namespace glintmark::reg
