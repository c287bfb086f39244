#include "registry/reg_file.h"

#include <gtest/gtest.h>

#include <string>

namespace glintmark::reg {
namespace {

RegValue bytes(ValueType type, std::vector<std::uint8_t> data) { return {type, std::move(data)}; }
RegValue text(const std::string& value) {
  RegValue result{regSz, {value.begin(), value.end()}};
  result.data.push_back(0);
  return result;
}

TEST(RegFile, ReadsEveryValueFormAndEscape) {
  MemoryRegistry registry;
  const RegFileResult result = readRegFile(
      "REGEDIT4\n"
      "\n"
      "; a comment\n"
      "[HKEY_CLASSES_ROOT\\Sheenpad.Highlighter]\r\n"
      "@=\"Highlighter Class\"\r\n"
      "\"Path\"=\"C:\\\\Program Files\\\\a \\\"b\\\"\"\n"
      "\"Count\"=dword:00001000\n"
      "\"Bytes\"=hex:0a,ff\n"
      "\"Multi\"=hex(7):61,00,\\\n"
      "  00\n"
      "\"Empty\"=hex:\n"
      "[HKLM\\Software\\X]\n"
      "\"Gone\"=\"x\"\n"
      "\"Gone\"=-\n",
      registry);
  ASSERT_TRUE(result.ok) << result.line << ": " << result.message;
  const char* key = "HKCR\\Sheenpad.Highlighter";
  EXPECT_EQ(registry.value(key, ""), text("Highlighter Class"));
  EXPECT_EQ(registry.value(key, "path"), text("C:\\Program Files\\a \"b\""));
  EXPECT_EQ(registry.value(key, "Count"), bytes(regDword, {0x00, 0x10, 0, 0}));
  EXPECT_EQ(registry.value(key, "Bytes"), bytes(regBinary, {0x0A, 0xFF}));
  EXPECT_EQ(registry.value(key, "Multi"), bytes(regMultiSz, {'a', 0, 0}));
  EXPECT_EQ(registry.value(key, "Empty"), bytes(regBinary, {}));
  EXPECT_TRUE(registry.keyExists("HKLM\\Software\\X"));
  EXPECT_FALSE(registry.value("HKLM\\Software\\X", "Gone"));
  EXPECT_EQ(registry.openHandleCount(), 0u);
}

TEST(RegFile, BadInputNamesTheLineAndChangesNothing) {
  struct Row {
    const char* text;
    std::size_t line;
  } rows[] = {
      {"", 1},
      {"REGEDIT5\n", 1},
      {"REGEDIT4\n\"v\"=\"x\"\n", 2},
      {"REGEDIT4\n[HKEY_NOWHERE\\a]\n", 2},
      {"REGEDIT4\n[HKCU\\a\n", 2},
      {"REGEDIT4\n[HKCU\\a]\n\"v\"=dword:123456789\n", 3},
      {"REGEDIT4\n[HKCU\\a]\n\"v\"=hex:1,zz\n", 3},
      {"REGEDIT4\n[HKCU\\a]\n\"v\"=\"unterminated\n", 3},
      {"REGEDIT4\n[HKCU\\a]\n\"v\"=\"bad \\n escape\"\n", 3},
      {"REGEDIT4\n[HKCU\\a]\n\"v\"=qword:1\n", 3},
      {"REGEDIT4\n[HKCU\\a]\n\"v\"=hex:01,\\\n", 3},
      {"REGEDIT4\n[-HKCU]\n", 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    MemoryRegistry registry;
    const RegFileResult result = readRegFile(row.text, registry);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.line, row.line) << result.message;
    EXPECT_TRUE(registry.empty());
  }
}

TEST(RegFile, DeletesKeyTrees) {
  MemoryRegistry registry;
  ASSERT_TRUE(readRegFile("REGEDIT4\n[HKCU\\a\\b\\c]\n[HKCU\\a\\d]\n[HKCU\\keep]\n", registry).ok);
  ASSERT_TRUE(readRegFile("REGEDIT4\n[-HKEY_CURRENT_USER\\a]\n[-HKCU\\missing]\n", registry).ok);
  EXPECT_FALSE(registry.keyExists("HKCU\\a"));
  EXPECT_TRUE(registry.keyExists("HKCU\\keep"));
}

TEST(RegFile, WritesSortedTypedOutputThatReadsBackTheSame) {
  MemoryRegistry registry;
  Key key = nullKey;
  ASSERT_EQ(registry.createKeyEx(hkeyLocalMachine, "b\\Sub", keyAllAccess, &key, nullptr), errorSuccess);
  registry.closeKey(key);
  ASSERT_EQ(registry.createKeyEx(hkeyLocalMachine, "A", keyAllAccess, &key, nullptr), errorSuccess);
  KeyHolder a(registry, key);
  const std::uint8_t dword[4] = {0x10, 0, 0, 0};
  const std::uint8_t binary[3] = {0x0A, 0xFF, 0};
  registry.setValueEx(key, "Zeta", regDword, dword, 4);
  registry.setValueEx(key, "alpha \"q\"", regSz, "c:\\x", 5);
  registry.setValueEx(key, nullptr, regSz, "default", 8);
  registry.setValueEx(key, "bin", regBinary, binary, 3);
  registry.setValueEx(key, "lines", regSz, "a\nb", 4);    // a line break cannot be quoted
  registry.setValueEx(key, "unterminated", regSz, "ab", 2);
  registry.setValueEx(key, "short dword", regDword, dword, 2);
  const std::string written = writeRegFile(registry);
  EXPECT_EQ(written,
            "REGEDIT4\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\A]\r\n"
            "@=\"default\"\r\n"
            "\"alpha \\\"q\\\"\"=\"c:\\\\x\"\r\n"
            "\"bin\"=hex:0a,ff,00\r\n"
            "\"lines\"=hex(1):61,0a,62,00\r\n"
            "\"short dword\"=hex(4):10,00\r\n"
            "\"unterminated\"=hex(1):61,62\r\n"
            "\"Zeta\"=dword:00000010\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\b]\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\b\\Sub]\r\n");
  MemoryRegistry copy;
  ASSERT_TRUE(readRegFile(written, copy).ok);
  EXPECT_EQ(writeRegFile(copy), written);
}

TEST(RegFile, LongHexListsWrapAndReadBack) {
  MemoryRegistry registry;
  Key key = nullKey;
  ASSERT_EQ(registry.createKeyEx(hkeyCurrentUser, "k", keyAllAccess, &key, nullptr), errorSuccess);
  std::vector<std::uint8_t> data(200);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  registry.setValueEx(key, "big", regBinary, data.data(), static_cast<std::uint32_t>(data.size()));
  registry.closeKey(key);
  const std::string written = writeRegFile(registry);
  std::size_t start = 0;
  while (start < written.size()) {
    const std::size_t end = written.find("\r\n", start);
    EXPECT_LE(end - start, 80u);
    start = end + 2;
  }
  MemoryRegistry copy;
  ASSERT_TRUE(readRegFile(written, copy).ok);
  EXPECT_EQ(copy.value("HKCU\\k", "big"), bytes(regBinary, data));
}

}  // namespace
}  // namespace glintmark::reg
