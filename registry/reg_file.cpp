#include "registry/reg_file.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <variant>
#include <vector>

#include "core/ascii.h"
#include "core/dword_bytes.h"

namespace glintmark::reg {
namespace {

constexpr std::string_view newline = "\r\n";

void appendQuoted(std::string& out, std::string_view text) {
  out.push_back('"');
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
}

bool writesAsString(const RegValue& value) {
  if (value.type != regSz || value.data.empty() || value.data.back() != 0) return false;
  for (std::size_t i = 0; i + 1 < value.data.size(); ++i) {
    const auto byte = value.data[i];
    if (byte == 0 || byte == '\r' || byte == '\n') return false;
  }
  return true;
}

void appendHex(std::string& out, std::size_t lineStart, const std::vector<std::uint8_t>& bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0) {
      out.push_back(',');
      // Wrap long lists the way the registry editor does, below 80 columns.
      if (out.size() - lineStart > 74) {
        out += "\\";
        out += newline;
        lineStart = out.size();
        out += "  ";
      }
    }
    out.push_back(digits[bytes[i] >> 4]);
    out.push_back(digits[bytes[i] & 0xF]);
  }
}

void appendValue(std::string& out, const std::string& name, const RegValue& value) {
  const std::size_t lineStart = out.size();
  if (name.empty()) {
    out.push_back('@');
  } else {
    appendQuoted(out, name);
  }
  out.push_back('=');
  if (writesAsString(value)) {
    appendQuoted(out, std::string_view(reinterpret_cast<const char*>(value.data.data()),
                                       value.data.size() - 1));
  } else if (value.type == regDword && value.data.size() == 4) {
    const std::uint32_t number = dwordFromBytes(value.data.data());
    char text[9];
    static constexpr char digits[] = "0123456789abcdef";
    for (int i = 0; i < 8; ++i) text[i] = digits[(number >> (28 - 4 * i)) & 0xF];
    text[8] = '\0';
    out += "dword:";
    out += text;
  } else {
    if (value.type == regBinary) {
      out += "hex:";
    } else {
      char type[16];
      const auto end = std::to_chars(type, type + sizeof type, value.type, 16).ptr;
      out += "hex(";
      out.append(type, end);
      out += "):";
    }
    appendHex(out, lineStart, value.data);
  }
  out += newline;
}

// One parsed line's effect, applied only once the whole file has parsed.
struct OpenKey {
  Key root;
  std::string path;
};
struct DeleteTree {
  Key root;
  std::string path;
};
struct SetValue {
  std::string name;
  RegValue value;
};
struct RemoveValue {
  std::string name;
};
using Action = std::variant<OpenKey, DeleteTree, SetValue, RemoveValue>;
struct Step {
  std::size_t line;
  Action action;
};

class Parser {
 public:
  explicit Parser(std::string_view text) : m_text(text) {}

  RegFileResult parse(std::vector<Step>* steps) {
    std::string line;
    bool sawHeader = false;
    bool inKey = false;
    while (nextLine(&line)) {
      const std::size_t number = m_lineNumber;
      const std::string_view trimmed = trim(line);
      if (!sawHeader) {
        if (trimmed.empty()) continue;
        if (trimmed != "REGEDIT4") return error(number, "the file does not start with REGEDIT4");
        sawHeader = true;
        continue;
      }
      if (trimmed.empty() || trimmed.front() == ';') continue;
      if (trimmed.front() == '[') {
        if (trimmed.back() != ']') return error(number, "a key line must end with ]");
        std::string_view path = trimmed.substr(1, trimmed.size() - 2);
        const bool remove = !path.empty() && path.front() == '-';
        if (remove) path.remove_prefix(1);
        const std::size_t slash = path.find('\\');
        const auto root = rootKeyByName(path.substr(0, slash));
        if (!root) return error(number, "unknown root key in [" + std::string(path) + "]");
        const std::string rest =
            slash == std::string_view::npos ? std::string() : std::string(path.substr(slash + 1));
        if (remove) {
          if (rest.empty()) return error(number, "a root key cannot be deleted");
          steps->push_back({number, DeleteTree{*root, rest}});
          inKey = false;
        } else {
          steps->push_back({number, OpenKey{*root, rest}});
          inKey = true;
        }
        continue;
      }
      if (!inKey) return error(number, "a value line must follow a key line");
      RegFileResult result = parseValue(trimmed, number, steps);
      if (!result.ok) return result;
    }
    if (!sawHeader) return error(m_lineNumber == 0 ? 1 : m_lineNumber, "the file does not start with REGEDIT4");
    return {};
  }

 private:
  static RegFileResult error(std::size_t line, std::string message) {
    return {false, line, std::move(message)};
  }

  static std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
      text.remove_suffix(1);
    }
    return text;
  }

  bool nextLine(std::string* line) {
    if (m_position >= m_text.size()) return false;
    const std::size_t end = m_text.find('\n', m_position);
    const std::size_t stop = end == std::string_view::npos ? m_text.size() : end;
    line->assign(m_text.substr(m_position, stop - m_position));
    m_position = stop == m_text.size() ? stop : stop + 1;
    ++m_lineNumber;
    return true;
  }

  // A quoted string starting at text[0] == '"'; sets *consumed to its length.
  static bool readQuoted(std::string_view text, std::string* out, std::size_t* consumed) {
    out->clear();
    for (std::size_t i = 1; i < text.size(); ++i) {
      const char c = text[i];
      if (c == '"') {
        *consumed = i + 1;
        return true;
      }
      if (c == '\\') {
        if (i + 1 >= text.size() || (text[i + 1] != '\\' && text[i + 1] != '"')) return false;
        out->push_back(text[++i]);
        continue;
      }
      out->push_back(c);
    }
    return false;
  }

  static bool parseHexList(std::string_view text, std::vector<std::uint8_t>* bytes) {
    bytes->clear();
    text = trim(text);
    if (text.empty()) return true;
    std::size_t i = 0;
    while (true) {
      while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
      std::size_t start = i;
      while (i < text.size() && hexDigitValue(text[i]) >= 0) ++i;
      if (i == start || i - start > 2) return false;
      int byte = 0;
      for (std::size_t k = start; k < i; ++k) byte = byte * 16 + hexDigitValue(text[k]);
      bytes->push_back(static_cast<std::uint8_t>(byte));
      while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
      if (i == text.size()) return true;
      if (text[i] != ',') return false;
      ++i;
    }
  }

  // "text": a string, stored with its terminating zero.
  static RegFileResult stringData(std::string_view rest, std::size_t number, RegValue* value) {
    std::string text;
    std::size_t used = 0;
    if (!readQuoted(rest, &text, &used) || !trim(rest.substr(used)).empty()) {
      return error(number, "bad quoted string");
    }
    value->type = regSz;
    value->data.assign(text.begin(), text.end());
    value->data.push_back(0);
    return {};
  }

  // The hex digits after "dword:".
  static RegFileResult dwordData(std::string_view digits, std::size_t number, RegValue* value) {
    std::uint32_t number32 = 0;
    if (digits.empty() || digits.size() > 8) return error(number, "dword: needs 1 to 8 hex digits");
    for (char c : digits) {
      if (hexDigitValue(c) < 0) return error(number, "dword: needs 1 to 8 hex digits");
      number32 = number32 << 4 | static_cast<std::uint32_t>(hexDigitValue(c));
    }
    value->type = regDword;
    const auto bytes = dwordBytes(number32);
    value->data.assign(bytes.begin(), bytes.end());
    return {};
  }

  // What follows "hex": an optional "(type)", then ":" and a byte list that
  // a trailing "\" continues on the next line.
  RegFileResult hexData(std::string_view after, std::size_t number, RegValue* value) {
    value->type = regBinary;
    if (!after.empty() && after.front() == '(') {
      const std::size_t close = after.find(')');
      if (close == std::string_view::npos || close == 1 || close > 9) {
        return error(number, "bad hex(type)");
      }
      std::uint32_t type = 0;
      for (char c : after.substr(1, close - 1)) {
        if (hexDigitValue(c) < 0) return error(number, "bad hex(type)");
        type = type << 4 | static_cast<std::uint32_t>(hexDigitValue(c));
      }
      value->type = type;
      after.remove_prefix(close + 1);
    }
    if (after.empty() || after.front() != ':') return error(number, "expected : after hex");
    std::string list(after.substr(1));
    while (!trim(list).empty() && trim(list).back() == '\\') {
      list = std::string(trim(list));
      list.pop_back();
      std::string next;
      if (!nextLine(&next)) return error(m_lineNumber, "the file ends inside a hex list");
      list += next;
    }
    if (!parseHexList(list, &value->data)) return error(number, "bad hex byte list");
    return {};
  }

  RegFileResult parseValue(std::string_view line, std::size_t number, std::vector<Step>* steps) {
    std::string name;
    std::size_t used = 0;
    if (line.front() == '@') {
      used = 1;
    } else if (line.front() == '"') {
      if (!readQuoted(line, &name, &used)) return error(number, "bad quoted value name");
      if (name.empty()) return error(number, "the default value is written @, not \"\"");
    } else {
      return error(number, "expected a key line, a value line or a comment");
    }
    std::string_view rest = trim(line.substr(used));
    if (rest.empty() || rest.front() != '=') return error(number, "expected = after the value name");
    rest = trim(rest.substr(1));
    if (rest == "-") {
      steps->push_back({number, RemoveValue{name}});
      return {};
    }
    RegValue value;
    RegFileResult result;
    if (!rest.empty() && rest.front() == '"') {
      result = stringData(rest, number, &value);
    } else if (rest.starts_with("dword:")) {
      result = dwordData(rest.substr(6), number, &value);
    } else if (rest.starts_with("hex")) {
      result = hexData(rest.substr(3), number, &value);
    } else {
      result = error(number, "unknown value data (expected \"text\", dword:, hex: or hex(T):)");
    }
    if (!result.ok) return result;
    steps->push_back({number, SetValue{name, std::move(value)}});
    return {};
  }

  std::string_view m_text;
  std::size_t m_position = 0;
  std::size_t m_lineNumber = 0;
};

// Deletes parent\name with its subkeys, deepest first.
Status deleteTree(Registry& registry, Key parent, const std::string& name) {
  Key key = nullKey;
  Status status = registry.openKeyEx(parent, name.c_str(), keyRead | keyWrite, &key);
  if (status != errorSuccess) return status;
  {
    KeyHolder holder(registry, key);
    char child[256];
    while (true) {
      std::uint32_t size = sizeof child;
      status = registry.enumKeyEx(key, 0, child, &size);
      if (status == errorNoMoreItems) break;
      if (status != errorSuccess) return status;
      status = deleteTree(registry, key, child);
      if (status != errorSuccess) return status;
    }
  }
  return registry.deleteKey(parent, name.c_str());
}

std::string statusText(Status status) { return "registry error " + std::to_string(status); }

}  // namespace

std::string writeRegFile(const MemoryRegistry& registry) {
  std::string out = "REGEDIT4";
  out += newline;
  registry.visit([&out](const MemoryRegistry::KeyEntry& entry) {
    out += newline;
    out += "[" + entry.path + "]";
    out += newline;
    for (const auto& [name, value] : entry.values) appendValue(out, name, value);
  });
  return out;
}

RegFileResult readRegFile(std::string_view text, Registry& registry) {
  std::vector<Step> steps;
  Parser parser(text);
  RegFileResult result = parser.parse(&steps);
  if (!result.ok) return result;

  KeyHolder current(registry);
  for (const Step& step : steps) {
    Status status = errorSuccess;
    if (const auto* open = std::get_if<OpenKey>(&step.action)) {
      if (open->path.empty()) {
        status = registry.openKeyEx(open->root, nullptr, keyAllAccess, current.put());
      } else {
        status = registry.createKeyEx(open->root, open->path.c_str(), keyAllAccess, current.put(),
                                      nullptr);
      }
    } else if (const auto* remove = std::get_if<DeleteTree>(&step.action)) {
      current.close();
      status = deleteTree(registry, remove->root, remove->path);
      if (status == errorFileNotFound) status = errorSuccess;
    } else if (const auto* set = std::get_if<SetValue>(&step.action)) {
      status = registry.setValueEx(current.get(), set->name.c_str(), set->value.type,
                                   set->value.data.data(),
                                   static_cast<std::uint32_t>(set->value.data.size()));
    } else if (const auto* unset = std::get_if<RemoveValue>(&step.action)) {
      status = registry.deleteValue(current.get(), unset->name.c_str());
      if (status == errorFileNotFound) status = errorSuccess;
    }
    if (status != errorSuccess) return {false, step.line, statusText(status)};
  }
  return {};
}

}  // namespace glintmark::reg
