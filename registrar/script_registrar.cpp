#include "registrar/script_registrar.h"

#include <algorithm>
#include <array>
#include <new>
#include <optional>
#include <vector>

#include "core/ascii.h"
#include "core/dword_bytes.h"
#include "registrar/module_resource.h"
#include "registrar/var_ui4.h"

namespace glintmark {
namespace {

// Keys that ForceRemove and Delete never delete: shared by every component.
constexpr std::array<std::string_view, 2> neverDeleteNames{{"CLSID", "TYPELIB"}};

bool isWhite(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool isNeverDelete(std::string_view name) {
  for (std::string_view word : neverDeleteNames) {
    if (equalsIgnoringAsciiCase(name, word)) return true;
  }
  return false;
}

// A value of the script as the registry takes it: its type and its bytes.
struct ScriptValue {
  reg::ValueType type = reg::regSz;
  std::string data;
};

// One item of a block: a key, with its modifiers, its default value and its
// nested block, or (isValue) a named value of the block's key. Values are
// read in register mode only; unregister mode skips them unread.
struct ScriptItem {
  bool isValue = false;
  bool forceRemove = false;
  bool deleteOnly = false;
  bool noRemove = false;
  std::string name;
  std::optional<ScriptValue> value;
  std::vector<ScriptItem> items;
};

struct RootBlock {
  reg::Key key;
  std::vector<ScriptItem> items;
};

// Reads the replaced text into root blocks. The whole script is read before
// the registry is touched: bad input never leaves half a registration
// behind, and the undo of a failing root block walks the items that the
// register walk used.
class ScriptParser {
 public:
  ScriptParser(std::string_view text, ScriptMode mode, const CodePage& codePage)
      : m_text(text), m_mode(mode), m_codePage(codePage) {}

  HResult parse(std::vector<RootBlock>* roots) {
    while (m_position < m_text.size()) {
      std::string token;
      GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
      const std::optional<reg::Key> root = reg::rootKeyByName(token);
      if (!root) return hr::dispException;
      GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
      if (token != "{") return hr::dispException;
      RootBlock& block = roots->emplace_back(RootBlock{*root, {}});
      GLINTMARK_RETURN_IF_FAILED(parseBlock(&block.items, 1));
      skipWhite();
    }
    return hr::ok;
  }

 private:
  void skipWhite() {
    while (m_position < m_text.size() && isWhite(m_text[m_position])) ++m_position;
  }

  HResult nextToken(std::string* token) {
    token->clear();
    skipWhite();
    if (m_position >= m_text.size()) return hr::dispException;
    if (m_text[m_position] == '\'') {
      ++m_position;
      while (true) {
        if (m_position >= m_text.size()) return hr::dispException;
        if (m_text[m_position] == '\'') {
          if (m_position + 1 < m_text.size() && m_text[m_position + 1] == '\'') {
            token->push_back('\'');
            m_position += 2;
          } else {
            ++m_position;
            break;
          }
        } else {
          const std::size_t length = characterLength(m_codePage, m_text, m_position);
          token->append(m_text.substr(m_position, length));
          m_position += length;
        }
        if (token->size() > ScriptRegistrar::maxQuotedToken) return hr::dispException;
      }
      return hr::ok;
    }
    while (m_position < m_text.size() && !isWhite(m_text[m_position])) {
      const std::size_t length = characterLength(m_codePage, m_text, m_position);
      token->append(m_text.substr(m_position, length));
      m_position += length;
      if (token->size() > ScriptRegistrar::maxToken) return hr::dispException;
    }
    return hr::ok;
  }

  // A key name: without "\" (looked for by whole characters, so the trail
  // byte of a double-byte character is no separator). The empty name is
  // allowed: it addresses the parent key itself.
  HResult checkKeyName(std::string_view name) const {
    for (std::size_t i = 0; i < name.size();) {
      const std::size_t length = characterLength(m_codePage, name, i);
      if (length == 1 && name[i] == '\\') return hr::dispException;
      i += length;
    }
    return hr::ok;
  }

  // The "name =" of a Val item (its "Val" already read).
  HResult valNameAndEquals(std::string* name) {
    GLINTMARK_RETURN_IF_FAILED(nextToken(name));
    if (name->size() > ScriptRegistrar::maxValueName) return hr::dispException;
    std::string equals;
    GLINTMARK_RETURN_IF_FAILED(nextToken(&equals));
    return equals == "=" ? hr::ok : hr::dispException;
  }

  // "type value" after an "=": read into *value when `keep`, else skipped
  // without looking at either token.
  HResult assignment(bool keep, std::optional<ScriptValue>* value) {
    if (!keep) {
      std::string ignored;
      GLINTMARK_RETURN_IF_FAILED(nextToken(&ignored));
      return nextToken(&ignored);
    }
    std::string type;
    GLINTMARK_RETURN_IF_FAILED(nextToken(&type));
    const bool isString = equalsIgnoringAsciiCase(type, "S");
    const bool isNumber = equalsIgnoringAsciiCase(type, "D");
    const bool isBinary = equalsIgnoringAsciiCase(type, "B");
    if (!isString && !isNumber && !isBinary) return hr::dispException;
    std::string text;
    GLINTMARK_RETURN_IF_FAILED(nextToken(&text));
    ScriptValue& result = value->emplace();
    if (isString) {
      result.data = std::move(text);
      result.data.push_back('\0');  // stored with its terminating zero
    } else if (isNumber) {
      std::uint32_t number = 0;
      if (failed(varUI4FromStr(m_codePage.toWide(text), &number))) return hr::dispException;
      const auto bytes = dwordBytes(number);
      result.type = reg::regDword;
      result.data.assign(bytes.begin(), bytes.end());
    } else {
      if (text.size() % 2 != 0) return hr::fail;
      result.type = reg::regBinary;
      result.data.assign(text.size() / 2, '\0');
      for (std::size_t i = 0; i < text.size(); ++i) {
        // A character that is no hexadecimal digit counts as 0.
        const int digit = std::max(hexDigitValue(text[i]), 0);
        result.data[i / 2] = static_cast<char>(result.data[i / 2] | (digit << (i % 2 == 0 ? 4 : 0)));
      }
    }
    return hr::ok;
  }

  // The items of a block, up to and including its "}".
  HResult parseBlock(std::vector<ScriptItem>* items, std::size_t depth) {
    if (depth > ScriptRegistrar::maxNesting) return hr::dispException;
    const bool registering = m_mode == ScriptMode::registering;
    std::string token;
    GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
    while (token != "}") {
      ScriptItem& item = items->emplace_back();
      if (equalsIgnoringAsciiCase(token, "Val")) {
        item.isValue = true;
        GLINTMARK_RETURN_IF_FAILED(valNameAndEquals(&item.name));
        GLINTMARK_RETURN_IF_FAILED(assignment(registering, &item.value));
        GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
        if (token == "{") return hr::dispException;
        continue;
      }
      item.forceRemove = equalsIgnoringAsciiCase(token, "ForceRemove");
      item.deleteOnly = equalsIgnoringAsciiCase(token, "Delete");
      if (item.forceRemove || item.deleteOnly) GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
      item.noRemove = equalsIgnoringAsciiCase(token, "NoRemove");
      if (item.noRemove) GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
      item.name = token;
      GLINTMARK_RETURN_IF_FAILED(checkKeyName(item.name));
      GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
      if (token == "=") {
        // A Delete item's value is never written, so never read.
        GLINTMARK_RETURN_IF_FAILED(assignment(registering && !item.deleteOnly, &item.value));
        GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
      }
      if (token == "{") {
        if (item.deleteOnly) return hr::dispException;
        GLINTMARK_RETURN_IF_FAILED(parseBlock(&item.items, depth + 1));
        GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
      }
    }
    return hr::ok;
  }

  std::string_view m_text;
  std::size_t m_position = 0;
  ScriptMode m_mode;
  const CodePage& m_codePage;
};

// Walks parsed root blocks over the registry, in either mode.
class ScriptRun {
 public:
  explicit ScriptRun(reg::Registry& registry) : m_registry(registry) {}

  HResult run(const std::vector<RootBlock>& roots, ScriptMode mode) {
    for (const RootBlock& root : roots) {
      if (mode == ScriptMode::unregistering) {
        GLINTMARK_RETURN_IF_FAILED(unregisterItems(root.key, root.items));
        continue;
      }
      const HResult result = registerItems(root.key, root.items, 1);
      if (failed(result)) {
        // Undo what this root block wrote; earlier root blocks stay.
        unregisterItems(root.key, root.items);
        return result;
      }
    }
    return hr::ok;
  }

 private:
  // A value the registry refuses is ignored.
  void writeValue(reg::Key key, const std::string& name, const ScriptValue& value) {
    m_registry.setValueEx(key, name.c_str(), value.type, value.data.data(),
                         static_cast<std::uint32_t>(value.data.size()));
  }

  // Deletes parent\name with all its subkeys, deepest first. An empty name
  // would open the parent itself and wipe its whole subtree before the
  // registry refused to delete the parent: it is refused up front.
  reg::Status deleteTree(reg::Key parent, const std::string& name, std::size_t depth) {
    if (name.empty()) return reg::errorAccessDenied;
    reg::KeyHolder key(m_registry);
    reg::Status status = m_registry.openKeyEx(parent, name.c_str(), reg::keyRead | reg::keyWrite, key.put());
    if (status != reg::errorSuccess) return status;
    if (depth > ScriptRegistrar::maxNesting) return reg::errorCantWrite;
    char child[256];
    while (true) {
      std::uint32_t size = sizeof child;
      if (m_registry.enumKeyEx(key.get(), 0, child, &size) != reg::errorSuccess) break;
      status = deleteTree(key.get(), child, depth + 1);
      if (status != reg::errorSuccess) return status;
    }
    key.close();
    return m_registry.deleteKey(parent, name.c_str());
  }

  HResult registerItems(reg::Key parent, const std::vector<ScriptItem>& items, std::size_t depth) {
    for (const ScriptItem& item : items) {
      if (item.isValue) {
        writeValue(parent, item.name, *item.value);
        continue;
      }
      if ((item.forceRemove || item.deleteOnly) && !isNeverDelete(item.name)) {
        deleteTree(parent, item.name, depth);  // failures are ignored: the key may not exist
      }
      if (item.deleteOnly) continue;
      reg::KeyHolder key(m_registry);
      const char* name = item.name.c_str();
      if (m_registry.openKeyEx(parent, name, reg::keyAllAccess, key.put()) != reg::errorSuccess &&
          m_registry.openKeyEx(parent, name, reg::keyRead, key.put()) != reg::errorSuccess &&
          m_registry.createKeyEx(parent, name, reg::keyAllAccess, key.put(), nullptr) != reg::errorSuccess) {
        return hr::dispException;
      }
      if (item.value) writeValue(key.get(), std::string(), *item.value);
      GLINTMARK_RETURN_IF_FAILED(registerItems(key.get(), item.items, depth + 1));
    }
    return hr::ok;
  }

  // A key that cannot be opened is skipped with its whole block; a key that
  // keeps subkeys after its block stays.
  HResult unregisterItems(reg::Key parent, const std::vector<ScriptItem>& items) {
    for (const ScriptItem& item : items) {
      if (item.isValue) {
        m_registry.deleteValue(parent, item.name.c_str());
        continue;
      }
      reg::KeyHolder key(m_registry);
      if (m_registry.openKeyEx(parent, item.name.c_str(), reg::keyRead | reg::keySetValue, key.put()) !=
          reg::errorSuccess) {
        continue;
      }
      GLINTMARK_RETURN_IF_FAILED(unregisterItems(key.get(), item.items));
      std::uint32_t subKeys = 0;
      // A key whose subkeys cannot be counted is kept, as one that has some.
      if (m_registry.queryInfoKey(key.get(), &subKeys, nullptr) != reg::errorSuccess || subKeys != 0) {
        continue;
      }
      if (key.close() != reg::errorSuccess) return hr::dispException;
      // The empty name is the parent itself, which this item does not own.
      if (!item.noRemove && !item.name.empty()) m_registry.deleteKey(parent, item.name.c_str());
    }
    return hr::ok;
  }

  reg::Registry& m_registry;
};

}  // namespace

ScriptRegistrar::ScriptRegistrar() : ScriptRegistrar(reg::systemRegistry(), ansiCodePage()) {}

ScriptRegistrar::ScriptRegistrar(reg::Registry& registry, const CodePage& codePage)
    : m_registry(registry), m_codePage(codePage) {}

HResult ScriptRegistrar::defineReplacement(std::u16string_view name, std::u16string_view text) {
  try {
    // Room for ten pairs at first, doubled whenever it is full.
    if (m_replacements.size() == m_replacements.capacity()) {
      m_replacements.reserve(m_replacements.empty() ? 10 : m_replacements.capacity() * 2);
    }
    m_replacements.emplace_back(std::u16string(name), std::u16string(text));
  } catch (const std::bad_alloc&) {
    return hr::outOfMemory;
  }
  return hr::ok;
}

const std::u16string* ScriptRegistrar::findReplacement(std::string_view name) const {
  std::string wanted(name);
  lowerInPlace(m_codePage, wanted);
  for (const auto& [stored, text] : m_replacements) {
    std::string candidate = m_codePage.toNarrow(stored);
    lowerInPlace(m_codePage, candidate);
    if (candidate == wanted) return &text;
  }
  return nullptr;
}

HResult ScriptRegistrar::replacePlaceholders(const char* script, std::string* out) const {
  const std::string_view text(script);
  out->clear();
  out->reserve(text.size() * 2);
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '%') {
      const std::size_t n = characterLength(m_codePage, text, i);
      out->append(text.substr(i, n));
      i += n;
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == '%') {
      out->push_back('%');
      i += 2;
      continue;
    }
    std::size_t end = i + 1;
    while (end < text.size() && text[end] != '%') end += characterLength(m_codePage, text, end);
    if (end >= text.size()) return hr::dispException;
    const std::string_view name = text.substr(i + 1, end - i - 1);
    if (name.size() > maxReplacementName) return hr::fail;
    const std::u16string* replacement = findReplacement(name);
    if (replacement == nullptr) return hr::dispException;
    out->append(m_codePage.toNarrow(*replacement));
    i = end + 1;
  }
  // A zero from a replacement ends the text, as it would a zero-terminated one.
  const std::size_t zero = out->find('\0');
  if (zero != std::string::npos) out->resize(zero);
  return hr::ok;
}

HResult ScriptRegistrar::runRegistrationScript(const char* script, ScriptMode mode) {
  if (script == nullptr) return hr::pointer;
  try {
    std::string text;
    GLINTMARK_RETURN_IF_FAILED(replacePlaceholders(script, &text));
    std::vector<RootBlock> roots;
    GLINTMARK_RETURN_IF_FAILED(ScriptParser(text, mode, m_codePage).parse(&roots));
    return ScriptRun(m_registry).run(roots, mode);
  } catch (const std::bad_alloc&) {
    return hr::outOfMemory;
  }
}

HResult ScriptRegistrar::runScriptResource(std::u16string_view modulePath, unsigned resourceId,
                                           std::u16string_view resourceType, ScriptMode mode) {
  try {
    std::string script;
    GLINTMARK_RETURN_IF_FAILED(loadModuleResource(m_codePage.toNarrow(modulePath), resourceId,
                                                  m_codePage.toNarrow(resourceType), &script));
    // The resource need not end with a zero: the copy in `script` always does.
    return runRegistrationScript(script.c_str(), mode);
  } catch (const std::bad_alloc&) {
    return hr::outOfMemory;
  }
}

}  // namespace glintmark
