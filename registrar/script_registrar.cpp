#include "registrar/script_registrar.h"

#include <array>
#include <new>

#include "registrar/module_resource.h"
#include "registrar/var_ui4.h"

namespace glintmark {
namespace {

struct RootRow {
  std::string_view name;
  reg::Key key;
};

constexpr std::array<RootRow, 14> rootKeys{{
    {"HKCR", reg::hkeyClassesRoot},
    {"HKCU", reg::hkeyCurrentUser},
    {"HKLM", reg::hkeyLocalMachine},
    {"HKU", reg::hkeyUsers},
    {"HKPD", reg::hkeyPerformanceData},
    {"HKDD", reg::hkeyDynData},
    {"HKCC", reg::hkeyCurrentConfig},
    {"HKEY_CLASSES_ROOT", reg::hkeyClassesRoot},
    {"HKEY_CURRENT_USER", reg::hkeyCurrentUser},
    {"HKEY_LOCAL_MACHINE", reg::hkeyLocalMachine},
    {"HKEY_USERS", reg::hkeyUsers},
    {"HKEY_PERFORMANCE_DATA", reg::hkeyPerformanceData},
    {"HKEY_DYN_DATA", reg::hkeyDynData},
    {"HKEY_CURRENT_CONFIG", reg::hkeyCurrentConfig},
}};

// Keys that ForceRemove and Delete never delete: shared by every component.
constexpr std::array<std::string_view, 2> neverDeleteNames{{"CLSID", "TYPELIB"}};

// Keywords, root names, types: ASCII words, compared without regard to case.
bool sameWord(std::string_view token, std::string_view word) {
  if (token.size() != word.size()) return false;
  for (std::size_t i = 0; i < token.size(); ++i) {
    char c = token[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    char w = word[i];
    if (w >= 'a' && w <= 'z') w = static_cast<char>(w - 32);
    if (c != w) return false;
  }
  return true;
}

bool isWhite(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

// One run over the replaced text: the read position and the registry calls.
class ScriptRun {
 public:
  ScriptRun(std::string_view text, reg::Registry& registry, const CodePage& codePage)
      : m_text(text), m_registry(registry), m_codePage(codePage) {}

  // Checks the whole script in the given mode without touching the
  // registry, then runs it. Every parse error is thus found before the first
  // write: bad input never leaves half a registration behind. What can still
  // fail during the real run is the registry itself, and the undo of a
  // failing root block then sees a script that parses to its end.
  HResult run(ScriptMode mode) {
    m_dryRun = true;
    GLINTMARK_RETURN_IF_FAILED(runBlocks(mode));
    m_dryRun = false;
    m_position = 0;
    return runBlocks(mode);
  }

 private:
  HResult runBlocks(ScriptMode mode) {
    while (m_position < m_text.size()) {
      std::string token;
      GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
      const RootRow* root = nullptr;
      for (const RootRow& row : rootKeys) {
        if (sameWord(token, row.name)) root = &row;
      }
      if (root == nullptr) return hr::dispException;
      GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
      if (token != "{") return hr::dispException;
      const std::size_t blockStart = m_position;
      if (mode == ScriptMode::registering) {
        const HResult result = registerBlock(root->key, 1);
        if (failed(result)) {
          // Undo what this root block wrote; earlier root blocks stay.
          if (!m_dryRun) {
            m_position = blockStart;
            unregisterBlock(root->key, true, 1);
          }
          return result;
        }
      } else {
        GLINTMARK_RETURN_IF_FAILED(unregisterBlock(root->key, !m_dryRun, 1));
      }
      skipWhite();
    }
    return hr::ok;
  }

 private:
  std::size_t characterLength(std::size_t at) const {
    return (m_codePage.isLeadByte(static_cast<unsigned char>(m_text[at])) && at + 1 < m_text.size())
               ? 2
               : 1;
  }

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
          const std::size_t length = characterLength(m_position);
          token->append(m_text.substr(m_position, length));
          m_position += length;
        }
        if (token->size() > ScriptRegistrar::maxQuotedToken) return hr::dispException;
      }
      return hr::ok;
    }
    while (m_position < m_text.size() && !isWhite(m_text[m_position])) {
      const std::size_t length = characterLength(m_position);
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
      const std::size_t length =
          (m_codePage.isLeadByte(static_cast<unsigned char>(name[i])) && i + 1 < name.size()) ? 2 : 1;
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

  // "= type value" after its "=": reads both tokens without checking them.
  HResult skipAssignment() {
    std::string ignored;
    GLINTMARK_RETURN_IF_FAILED(nextToken(&ignored));
    return nextToken(&ignored);
  }

  // Reads "type value" and writes the value under `name` into `key`; a
  // value the registry refuses is ignored.
  HResult writeValue(reg::Key key, const std::string& name) {
    std::string type;
    GLINTMARK_RETURN_IF_FAILED(nextToken(&type));
    const bool isString = sameWord(type, "S");
    const bool isNumber = sameWord(type, "D");
    const bool isBinary = sameWord(type, "B");
    if (!isString && !isNumber && !isBinary) return hr::dispException;
    std::string text;
    GLINTMARK_RETURN_IF_FAILED(nextToken(&text));
    if (isString) {
      if (m_dryRun) return hr::ok;
      m_registry.setValueEx(key, name.c_str(), reg::regSz, text.c_str(),
                           static_cast<std::uint32_t>(text.size() + 1));
    } else if (isNumber) {
      std::uint32_t number = 0;
      if (failed(varUI4FromStr(m_codePage.toWide(text), &number))) return hr::dispException;
      if (m_dryRun) return hr::ok;
      const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(number),
                                     static_cast<std::uint8_t>(number >> 8),
                                     static_cast<std::uint8_t>(number >> 16),
                                     static_cast<std::uint8_t>(number >> 24)};
      m_registry.setValueEx(key, name.c_str(), reg::regDword, bytes, 4);
    } else {
      if (text.size() % 2 != 0) return hr::fail;
      if (m_dryRun) return hr::ok;
      std::string bytes(text.size() / 2, '\0');
      for (std::size_t i = 0; i < text.size(); ++i) {
        bytes[i / 2] = static_cast<char>(bytes[i / 2] | (hexValue(text[i]) << (i % 2 == 0 ? 4 : 0)));
      }
      m_registry.setValueEx(key, name.c_str(), reg::regBinary, bytes.data(),
                           static_cast<std::uint32_t>(bytes.size()));
    }
    return hr::ok;
  }

  static bool isNeverDelete(std::string_view name) {
    for (std::string_view word : neverDeleteNames) {
      if (sameWord(name, word)) return true;
    }
    return false;
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

  // The items of a block in register mode, up to and including its "}".
  HResult registerBlock(reg::Key parent, std::size_t depth) {
    if (depth > ScriptRegistrar::maxNesting) return hr::dispException;
    reg::KeyHolder itemKey(m_registry);
    std::string token;
    GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
    while (token != "}") {
      if (sameWord(token, "Val")) {
        std::string name;
        GLINTMARK_RETURN_IF_FAILED(valNameAndEquals(&name));
        GLINTMARK_RETURN_IF_FAILED(writeValue(parent, name));
        GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
        if (token == "{") return hr::dispException;
        continue;
      }
      const bool forceRemove = sameWord(token, "ForceRemove");
      const bool deleteOnly = sameWord(token, "Delete");
      if (forceRemove || deleteOnly) GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
      if (sameWord(token, "NoRemove")) GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
      const std::string name = token;
      GLINTMARK_RETURN_IF_FAILED(checkKeyName(name));
      if ((forceRemove || deleteOnly) && !isNeverDelete(name) && !m_dryRun) {
        itemKey.close();
        deleteTree(parent, name, depth);  // failures are ignored: the key may not exist
      }
      if (deleteOnly) {
        GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
        if (token == "=") {
          GLINTMARK_RETURN_IF_FAILED(skipAssignment());
          GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
        }
        if (token == "{") return hr::dispException;
        continue;
      }
      itemKey.close();
      if (!m_dryRun &&
          m_registry.openKeyEx(parent, name.c_str(), reg::keyAllAccess, itemKey.put()) != reg::errorSuccess &&
          m_registry.openKeyEx(parent, name.c_str(), reg::keyRead, itemKey.put()) != reg::errorSuccess &&
          m_registry.createKeyEx(parent, name.c_str(), reg::keyAllAccess, itemKey.put(), nullptr) !=
              reg::errorSuccess) {
        return hr::dispException;
      }
      GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
      if (token == "=") {
        GLINTMARK_RETURN_IF_FAILED(writeValue(itemKey.get(), std::string()));
        GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
      }
      if (token == "{") {
        GLINTMARK_RETURN_IF_FAILED(registerBlock(itemKey.get(), depth + 1));
        GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
      }
    }
    return hr::ok;
  }

  // The items of a block in unregister mode, up to and including its "}".
  // In a skipped block (live false) nothing is touched; it is only parsed.
  HResult unregisterBlock(reg::Key parent, bool live, std::size_t depth) {
    if (depth > ScriptRegistrar::maxNesting) return hr::dispException;
    std::string token;
    GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
    while (token != "}") {
      if (sameWord(token, "Val")) {
        std::string name;
        GLINTMARK_RETURN_IF_FAILED(valNameAndEquals(&name));
        if (live) m_registry.deleteValue(parent, name.c_str());
        GLINTMARK_RETURN_IF_FAILED(skipAssignment());
        GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
        if (token == "{") return hr::dispException;
        continue;
      }
      const bool deleteItem = sameWord(token, "Delete");
      if (deleteItem || sameWord(token, "ForceRemove")) GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
      const bool noRemove = sameWord(token, "NoRemove");
      if (noRemove) GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
      const std::string name = token;
      GLINTMARK_RETURN_IF_FAILED(checkKeyName(name));
      reg::KeyHolder key(m_registry);
      const bool itemLive =
          live && m_registry.openKeyEx(parent, name.c_str(), reg::keyRead | reg::keySetValue,
                                      key.put()) == reg::errorSuccess;
      GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
      if (token == "=") {
        GLINTMARK_RETURN_IF_FAILED(skipAssignment());
        GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
      }
      if (token == "{") {
        if (deleteItem) return hr::dispException;
        GLINTMARK_RETURN_IF_FAILED(unregisterBlock(key.get(), itemLive, depth + 1));
        GLINTMARK_RETURN_IF_FAILED(nextToken(&token));
      }
      if (!itemLive) continue;
      std::uint32_t subKeys = 0;
      // A key whose subkeys cannot be counted is kept, as one that has some.
      if (m_registry.queryInfoKey(key.get(), &subKeys, nullptr) != reg::errorSuccess || subKeys != 0) {
        continue;
      }
      if (key.close() != reg::errorSuccess) return hr::dispException;
      // The empty name is the parent itself, which this item does not own.
      if (!noRemove && !name.empty()) m_registry.deleteKey(parent, name.c_str());
    }
    return hr::ok;
  }

  std::string_view m_text;
  std::size_t m_position = 0;
  bool m_dryRun = false;  // parse and check only
  reg::Registry& m_registry;
  const CodePage& m_codePage;
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
  auto length = [&](std::size_t at) {
    return (m_codePage.isLeadByte(static_cast<unsigned char>(text[at])) && at + 1 < text.size()) ? 2
                                                                                                : 1;
  };
  while (i < text.size()) {
    if (text[i] != '%') {
      const std::size_t n = length(i);
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
    while (end < text.size() && text[end] != '%') end += length(end);
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
    return ScriptRun(text, m_registry, m_codePage).run(mode);
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
