#include "registrar/script_registrar.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "registry/reg_file.h"

namespace glintmark {
namespace {

using reg::Fault;
using reg::MemoryRegistry;
using reg::Operation;

constexpr auto registering = ScriptMode::registering;
constexpr auto unregistering = ScriptMode::unregistering;

class ScriptRegistrarTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // No run may leave a key open, whatever its result.
    EXPECT_EQ(registry.openHandleCount(), 0u);
  }

  HResult run(const std::string& script, ScriptMode mode = registering) {
    ScriptRegistrar registrar(registry);
    EXPECT_EQ(registrar.defineReplacement(u"Module", u"C:\\PROGRA~1\\Sheenpad.dll"), hr::ok);
    return registrar.runRegistrationScript(script.c_str(), mode);
  }

  // Sets up keys and values from REGEDIT4 lines (the header is added).
  void given(const std::string& lines) {
    const reg::RegFileResult loaded = reg::readRegFile("REGEDIT4\n" + lines, registry);
    ASSERT_TRUE(loaded.ok) << loaded.message;
  }

  std::string dump() const { return reg::writeRegFile(registry); }

  std::optional<reg::RegValue> value(const char* path, const char* name = "") const {
    return registry.value(path, name);
  }

  static reg::RegValue text(const std::string& value) {
    reg::RegValue result{reg::regSz, {value.begin(), value.end()}};
    result.data.push_back(0);
    return result;
  }

  MemoryRegistry registry;
};

// ---- replacement of %name% ------------------------------------------------

TEST_F(ScriptRegistrarTest, ReplacesPlaceholdersCaseInsensitivelyFirstDefinitionWinning) {
  ScriptRegistrar registrar(registry);
  ASSERT_EQ(registrar.defineReplacement(u"Module", u"first"), hr::ok);
  ASSERT_EQ(registrar.defineReplacement(u"MODULE", u"second"), hr::ok);
  // More than the initial room for ten pairs: the table grows.
  for (int i = 0; i < 25; ++i) {
    const std::u16string name = u"Name" + std::u16string(1, static_cast<char16_t>(u'A' + i));
    ASSERT_EQ(registrar.defineReplacement(name, u"v" + std::u16string(1, static_cast<char16_t>(u'a' + i))),
              hr::ok);
  }
  ASSERT_EQ(registrar.defineReplacement(u"Loop", u"%NameA%"), hr::ok);
  ASSERT_EQ(registrar.runRegistrationScript(
                "HKCU { k = s '%module%' { val pct = s '100%%' val late = s %NameY% "
                "val loop = s '%LOOP%' val d = s %%NameA%% } }",
                registering),
            hr::ok);
  EXPECT_EQ(value("HKCU\\k"), text("first"));
  EXPECT_EQ(value("HKCU\\k", "pct"), text("100%"));
  EXPECT_EQ(value("HKCU\\k", "late"), text("vy"));
  EXPECT_EQ(value("HKCU\\k", "loop"), text("%NameA%"));  // replaced text is not scanned again
  EXPECT_EQ(value("HKCU\\k", "d"), text("%NameA%"));
}

TEST_F(ScriptRegistrarTest, AZeroInAReplacementEndsTheText) {
  ScriptRegistrar registrar(registry);
  ASSERT_EQ(registrar.defineReplacement(u"Cut", std::u16string_view(u"HKCU { b }\0HKCU { c }", 21)), hr::ok);
  ASSERT_EQ(registrar.runRegistrationScript("HKCU { a } %CUT% HKCU { d }", registering), hr::ok);
  EXPECT_TRUE(registry.keyExists("HKCU\\a"));
  EXPECT_TRUE(registry.keyExists("HKCU\\b"));
  EXPECT_FALSE(registry.keyExists("HKCU\\c"));
  EXPECT_FALSE(registry.keyExists("HKCU\\d"));
}

TEST_F(ScriptRegistrarTest, ReplacementFailuresChangeNothing) {
  const std::string name31(31, 'n');
  const std::string name32(32, 'n');
  struct Row {
    std::string script;
    HResult result;
  } rows[] = {
      {"HKCU { k = s '%MODULE' }", hr::dispException},                 // no closing percent sign
      {"HKCU { k = s '%" + name32 + "%' }", hr::fail},                 // name of 32 bytes
      {"HKCU { k = s '%" + name31 + "%' }", hr::dispException},        // 31 bytes, not defined
      {"HKCU { k = s '%Undefined%' }", hr::dispException},
      {"HKCU { k = s '%%%' }", hr::dispException},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.script);
    EXPECT_EQ(run(row.script), row.result);
    EXPECT_TRUE(registry.empty());
  }
}

// ---- tokens ------------------------------------------------------------------

TEST_F(ScriptRegistrarTest, ReadsTokens) {
  EXPECT_EQ(run(""), hr::ok);
  EXPECT_TRUE(registry.empty());
  EXPECT_EQ(run(" \t\r\n"), hr::dispException);  // a token is expected
  EXPECT_EQ(run("HKCU\r\n{\tquoted = s 'It''s'\n"
                "'with space' = s 'a { b } = c'\n"
                "'adjacent'= s ''\n"
                "'''lead' = s x''y\n"
                "}"),
            hr::ok);
  EXPECT_EQ(value("HKCU\\quoted"), text("It's"));
  EXPECT_EQ(value("HKCU\\with space"), text("a { b } = c"));
  EXPECT_EQ(value("HKCU\\adjacent"), text(""));
  EXPECT_EQ(value("HKCU\\'lead"), text("x''y"));  // quotes inside an unquoted token stay
}

TEST_F(ScriptRegistrarTest, TokenLimits) {
  const std::string quoted4094 = "'" + std::string(4094, 'q') + "'";
  const std::string quoted4095 = "'" + std::string(4095, 'q') + "'";
  const std::string plain4095(4095, 'p');
  const std::string plain4096(4096, 'p');
  const std::string name259(259, 'v');
  const std::string name260(260, 'v');
  struct Row {
    std::string script;
    HResult result;
  } rows[] = {
      {"HKCU { k = s " + quoted4094 + " }", hr::ok},
      {"HKCU { k = s " + quoted4095 + " }", hr::dispException},
      {"HKCU { k = s " + plain4095 + " }", hr::ok},
      {"HKCU { k = s " + plain4096 + " }", hr::dispException},
      {"HKCU { k { val " + name259 + " = s x } }", hr::ok},
      {"HKCU { k { val " + name260 + " = s x } }", hr::dispException},
      {"HKCU { k = s 'unterminated }", hr::dispException},
      {"HKCU\f{ k }", hr::dispException},  // form feed is not white space
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.script.substr(0, 40));
    registry.clear();
    EXPECT_EQ(run(row.script), row.result);
    if (failed(row.result)) {
      EXPECT_TRUE(registry.empty());
    }
  }
  registry.clear();
  ASSERT_EQ(run("HKCU { k { val " + name259 + " = s x } }"), hr::ok);
  EXPECT_TRUE(value("HKCU\\k", name259.c_str()));
}

// ---- structure errors: each code, the failing block undone ----------------

TEST_F(ScriptRegistrarTest, ErrorTable) {
  struct Row {
    const char* script;
    HResult result;
  } rows[] = {
      {"HKXX { k }", hr::dispException},                        // unknown root key
      {"HKCU k }", hr::dispException},                          // no "{" after the root
      {"HKCU", hr::dispException},                              // text ends after the root
      {"HKCU { a { b } ", hr::dispException},                   // text ends inside a block
      {"HKCU { a\\b }", hr::dispException},                     // "\" in a key name
      {"HKCU { a { ForceRemove x\\y } }", hr::dispException},
      {"HKCU { a { Delete x\\y } }", hr::dispException},
      {"HKCU { a { val v s x } }", hr::dispException},          // no "=" after Val's name
      {"HKCU { a = q x }", hr::dispException},                  // type not S, D or B
      {"HKCU { a = b 0A1 }", hr::fail},                         // odd B value
      {"HKCU { a = d 0xA }", hr::dispException},                // D rejected by the conversion
      {"HKCU { a = d -1 }", hr::dispException},
      {"HKCU { a { val v = s x { b } } }", hr::dispException},  // Val followed by a block
      {"HKCU { a { Delete b { c } } }", hr::dispException},     // Delete followed by a block
      {"HKCU { a = }", hr::dispException},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.script);
    registry.clear();
    EXPECT_EQ(run(row.script), row.result);
    EXPECT_TRUE(registry.empty()) << dump();  // the failing root block is undone
    EXPECT_EQ(registry.openHandleCount(), 0u);
  }
  // Neither Val nor Delete has a key a block could belong to, in either mode.
  given("[HKCU\\a\\b\\c]\n\"v\"=\"x\"\n");
  const std::string before = dump();
  for (const char* script : {"HKCU { a { val v = s x { b } } }", "HKCU { a { Delete b { c } } }"}) {
    SCOPED_TRACE(script);
    EXPECT_EQ(run(script, unregistering), hr::dispException);
    EXPECT_EQ(dump(), before);
  }
}

TEST_F(ScriptRegistrarTest, KeyThatCannotBeOpenedOrCreatedFails) {
  registry.injectFault({Operation::createKey, "HKCU\\a\\blocked"});
  EXPECT_EQ(run("HKCU { a = s 1 { blocked } }"), hr::dispException);
  EXPECT_TRUE(registry.empty());  // "a" was created, then undone
}

TEST_F(ScriptRegistrarTest, FailingSecondRootBlockKeepsTheFirstAndUndoesItself) {
  given("[HKLM\\Software\\Existing\\Foreign]\n\"keep\"=\"1\"\n");
  registry.injectFault({Operation::createKey, "HKLM\\Software\\Blocked"});
  EXPECT_EQ(run("HKCU { first = s 1 }\n"
                "HKLM { Software { New = s 2 { Sub } Existing { val added = s 3 } Blocked } }"),
            hr::dispException);
  EXPECT_EQ(value("HKCU\\first"), text("1"));
  EXPECT_FALSE(registry.keyExists("HKLM\\Software\\New"));
  // The undo is the block run in unregister mode: values it lists go, keys
  // that keep subkeys stay.
  EXPECT_TRUE(registry.keyExists("HKLM\\Software\\Existing\\Foreign"));
  EXPECT_FALSE(value("HKLM\\Software\\Existing", "added"));
}

TEST_F(ScriptRegistrarTest, ParseErrorsAnywhereLeaveTheRegistryUntouched) {
  given("[HKCU\\Kept]\n\"v\"=\"1\"\n");
  const std::string before = dump();
  // The whole script is checked before the first write, in both modes.
  EXPECT_EQ(run("HKCU { first = s 1 } HKLM { a { b { c = q 1 } } }"), hr::dispException);
  EXPECT_EQ(dump(), before);
  EXPECT_EQ(run("HKCU { Kept { val v = s 1 } } HKLM { a { b\\c } }", unregistering), hr::dispException);
  EXPECT_EQ(dump(), before);
  // Unregister mode does not look at values: a bad one does not stop it.
  EXPECT_EQ(run("HKCU { Kept = q 'not a type' }", unregistering), hr::ok);
  EXPECT_FALSE(registry.keyExists("HKCU\\Kept"));
}

// ---- register mode -------------------------------------------------------------

TEST_F(ScriptRegistrarTest, WritesTypedValues) {
  ASSERT_EQ(run("hkcu { k = S 'default' { VAL s = s text val d = D 4096 val h = d &H10 "
                "val b1 = b zz val b2 = B 0aFF val b3 = b '' } }"),
            hr::ok);
  EXPECT_EQ(value("HKCU\\k"), text("default"));
  EXPECT_EQ(value("HKCU\\k", "s"), text("text"));
  EXPECT_EQ(value("HKCU\\k", "d"), (reg::RegValue{reg::regDword, {0x00, 0x10, 0, 0}}));
  EXPECT_EQ(value("HKCU\\k", "h"), (reg::RegValue{reg::regDword, {0x10, 0, 0, 0}}));
  EXPECT_EQ(value("HKCU\\k", "b1"), (reg::RegValue{reg::regBinary, {0x00}}));
  EXPECT_EQ(value("HKCU\\k", "b2"), (reg::RegValue{reg::regBinary, {0x0A, 0xFF}}));
  EXPECT_EQ(value("HKCU\\k", "b3"), (reg::RegValue{reg::regBinary, {}}));
}

TEST_F(ScriptRegistrarTest, EveryRootName) {
  const struct {
    const char* name;
    const char* path;
  } rows[] = {
      {"HKCR", "HKEY_CLASSES_ROOT"},      {"HKCU", "HKEY_CURRENT_USER"},
      {"HKLM", "HKEY_LOCAL_MACHINE"},     {"HKU", "HKEY_USERS"},
      {"HKPD", "HKEY_PERFORMANCE_DATA"},  {"HKDD", "HKEY_DYN_DATA"},
      {"HKCC", "HKEY_CURRENT_CONFIG"},    {"hkey_classes_root", "HKEY_CLASSES_ROOT"},
      {"HKEY_CURRENT_USER", "HKEY_CURRENT_USER"}, {"HKEY_LOCAL_MACHINE", "HKEY_LOCAL_MACHINE"},
      {"HKEY_USERS", "HKEY_USERS"},       {"HKEY_PERFORMANCE_DATA", "HKEY_PERFORMANCE_DATA"},
      {"HKEY_DYN_DATA", "HKEY_DYN_DATA"}, {"HKEY_CURRENT_CONFIG", "HKEY_CURRENT_CONFIG"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    registry.clear();
    ASSERT_EQ(run(std::string(row.name) + " { k }"), hr::ok);
    EXPECT_TRUE(registry.keyExists(std::string(row.path) + "\\k"));
  }
}

TEST_F(ScriptRegistrarTest, ForceRemoveRecreatesExceptNeverDeleteNames) {
  given("[HKCR\\Old]\n\"stale\"=\"1\"\n[HKCR\\Old\\Deep\\Deeper]\n"
        "[HKCR\\clsid\\Other]\n[HKCR\\TypeLib\\Other]\n");
  ASSERT_EQ(run("HKCR { ForceRemove Old = s fresh ForceRemove ClSiD { Mine } "
                "ForceRemove TYPELIB }"),
            hr::ok);
  EXPECT_EQ(value("HKCR\\Old"), text("fresh"));
  EXPECT_FALSE(value("HKCR\\Old", "stale"));
  EXPECT_FALSE(registry.keyExists("HKCR\\Old\\Deep"));
  EXPECT_TRUE(registry.keyExists("HKCR\\CLSID\\Other"));
  EXPECT_TRUE(registry.keyExists("HKCR\\CLSID\\Mine"));
  EXPECT_TRUE(registry.keyExists("HKCR\\TypeLib\\Other"));
}

TEST_F(ScriptRegistrarTest, DeleteRemovesWithoutCreating) {
  given("[HKCU\\Gone\\Sub]\n[HKCU\\CLSID\\Sub]\n[HKCU\\Keep]\n");
  ASSERT_EQ(run("HKCU { Delete Gone = s ignored Delete Missing Delete clsid Keep }"), hr::ok);
  EXPECT_FALSE(registry.keyExists("HKCU\\Gone"));
  EXPECT_FALSE(registry.keyExists("HKCU\\Missing"));
  EXPECT_TRUE(registry.keyExists("HKCU\\CLSID\\Sub"));
  EXPECT_TRUE(registry.keyExists("HKCU\\Keep"));
}

TEST_F(ScriptRegistrarTest, EmptyKeyNameIsTheParentItselfAndIsNeverDeleted) {
  given("[HKCU\\k\\Child]\n[HKCU\\Kept]\n\"v\"=\"1\"\n\"w\"=\"2\"\n");
  // Register mode: the parent's default value and values; ForceRemove and
  // Delete leave the parent and its subtree alone.
  ASSERT_EQ(run("HKCU { k { '' = s text ForceRemove '' { val added = s 1 } Delete '' } }"), hr::ok);
  EXPECT_EQ(value("HKCU\\k"), text("text"));
  EXPECT_EQ(value("HKCU\\k", "added"), text("1"));
  EXPECT_TRUE(registry.keyExists("HKCU\\k\\Child"));
  // Unregister mode: the block works on the parent, which stays.
  ASSERT_EQ(run("HKCU { NoRemove Kept { '' { val v = s 1 } } }", unregistering), hr::ok);
  EXPECT_TRUE(registry.keyExists("HKCU\\Kept"));
  EXPECT_FALSE(value("HKCU\\Kept", "v"));
  EXPECT_TRUE(value("HKCU\\Kept", "w"));
}

TEST_F(ScriptRegistrarTest, RegistryRefusalsThatAreIgnored) {
  given("[HKCU\\ReadOnly]\n[HKCU\\Stuck\\Fast]\n");
  // A ForceRemove whose deletion fails half-way uses the key as it is left.
  registry.injectFault({Operation::deleteKey, "HKCU\\Stuck\\Fast"});
  ASSERT_EQ(run("HKCU { ForceRemove Stuck = s kept }"), hr::ok);
  EXPECT_TRUE(registry.keyExists("HKCU\\Stuck\\Fast"));
  EXPECT_EQ(value("HKCU\\Stuck"), text("kept"));
  registry.clearFaults();
  // Opening for all access is refused, opening for reading works: the key is
  // used as it is and the refused value write does not stop the run.
  registry.injectFault({Operation::openKey, "HKCU\\ReadOnly", reg::errorAccessDenied, reg::keySetValue});
  registry.injectFault({Operation::setValue, "HKCU\\Refused"});
  ASSERT_EQ(run("HKCU { ReadOnly = s x Refused = s y After = s z }"), hr::ok);
  EXPECT_FALSE(value("HKCU\\ReadOnly"));
  EXPECT_TRUE(registry.keyExists("HKCU\\Refused"));
  EXPECT_FALSE(value("HKCU\\Refused"));
  EXPECT_EQ(value("HKCU\\After"), text("z"));
}

TEST_F(ScriptRegistrarTest, DoubleByteTrailBackslashIsNoSeparatorAndBDigitsAreBytes) {
  const auto cp932 = makeCodePage(932);
  if (cp932 == nullptr) GTEST_SKIP() << "code page 932 is not available here";
  MemoryRegistry japanese(*cp932);
  // 0x95 0x5C is one character in code page 932, its trail byte a "\".
  const char* script = "HKCU { '\x95\\' = s '\x95\\' }";
  EXPECT_EQ(ScriptRegistrar(japanese, *cp932).runRegistrationScript(script, registering), hr::ok);
  EXPECT_TRUE(japanese.keyExists("HKCU\\\x95\\"));
  EXPECT_EQ(japanese.openHandleCount(), 0u);
  // In a single-byte code page the same bytes hold a "\": rejected.
  EXPECT_EQ(run(script), hr::dispException);
  // "B" digits are counted in bytes: a double-byte character is two digits,
  // neither of them hexadecimal (each counts 0).
  ASSERT_EQ(ScriptRegistrar(japanese, *cp932).runRegistrationScript("HKCU { k = b '\x82\xa0" "FF' }", registering),
            hr::ok);
  EXPECT_EQ(japanese.value("HKCU\\k", ""), (reg::RegValue{reg::regBinary, {0x00, 0xFF}}));
}

// ---- unregister mode ---------------------------------------------------------

TEST_F(ScriptRegistrarTest, UnregisterSkipsMissingKeysWithTheirBlocks) {
  given("[HKCU\\After]\n\"v\"=\"1\"\n");
  ASSERT_EQ(run("HKCU { Missing { After } After { val v = s 1 } }", unregistering), hr::ok);
  EXPECT_FALSE(registry.keyExists("HKCU\\After"));
}

TEST_F(ScriptRegistrarTest, UnregisterKeepsKeysWithSubkeysAndDeletesOthersWithTheirValues) {
  given("[HKCU\\Shared\\Foreign]\n[HKCU\\Shared\\Mine]\n"
        "[HKCU\\Own]\n\"unlisted\"=\"x\"\n@=\"d\"\n");
  ASSERT_EQ(run("HKCU { Shared = s x { Mine } Own = s d }", unregistering), hr::ok);
  EXPECT_TRUE(registry.keyExists("HKCU\\Shared\\Foreign"));
  EXPECT_FALSE(registry.keyExists("HKCU\\Shared\\Mine"));
  EXPECT_FALSE(registry.keyExists("HKCU\\Own"));
}

TEST_F(ScriptRegistrarTest, NoRemoveProtectsOnlyTheKeyItStandsBefore) {
  given("[HKCU\\Kept\\Child]\n[HKCU\\Kept]\n\"v\"=\"1\"\n\"w\"=\"2\"\n[HKCU\\Next]\n");
  ASSERT_EQ(run("HKCU { NoRemove Kept { Child val v = s 1 } Next }", unregistering), hr::ok);
  EXPECT_TRUE(registry.keyExists("HKCU\\Kept"));
  EXPECT_FALSE(registry.keyExists("HKCU\\Kept\\Child"));
  EXPECT_FALSE(value("HKCU\\Kept", "v"));
  EXPECT_TRUE(value("HKCU\\Kept", "w"));
  EXPECT_FALSE(registry.keyExists("HKCU\\Next"));
}

TEST_F(ScriptRegistrarTest, UnregisterTreatsForceRemoveAndDeleteAsKeyItems) {
  given("[HKCU\\A]\n[HKCU\\B]\n[HKCU\\C\\Sub]\n");
  ASSERT_EQ(run("HKCU { ForceRemove A = s x Delete B ForceRemove NoRemove C { Sub } }", unregistering),
            hr::ok);
  EXPECT_FALSE(registry.keyExists("HKCU\\A"));
  EXPECT_FALSE(registry.keyExists("HKCU\\B"));
  EXPECT_TRUE(registry.keyExists("HKCU\\C"));
  EXPECT_FALSE(registry.keyExists("HKCU\\C\\Sub"));
}

TEST_F(ScriptRegistrarTest, UnregisterFailuresAndIgnoredRefusals) {
  given("[HKCU\\Closing]\n[HKCU\\Undeletable]\n[HKCU\\Later]\n");
  registry.injectFault({Operation::deleteKey, "HKCU\\Undeletable"});
  registry.injectFault({Operation::deleteValue, ""});
  ASSERT_EQ(run("HKCU { Undeletable { val missing = s x } Later }", unregistering), hr::ok);
  EXPECT_TRUE(registry.keyExists("HKCU\\Undeletable"));
  EXPECT_FALSE(registry.keyExists("HKCU\\Later"));
  registry.injectFault({Operation::closeKey, "HKCU\\Closing", reg::errorInvalidHandle});
  EXPECT_EQ(run("HKCU { Closing }", unregistering), hr::dispException);
  EXPECT_TRUE(registry.keyExists("HKCU\\Closing"));
}

// ---- properties ------------------------------------------------------------------

// A random script of distinct, non-empty key names without NoRemove or Delete.
class ScriptMaker {
 public:
  explicit ScriptMaker(unsigned seed) : m_random(seed) {}

  std::string make() {
    std::string script;
    const char* roots[] = {"HKCR", "HKCU", "HKLM", "HKEY_USERS"};
    const int blocks = pick(1, 3);
    for (int i = 0; i < blocks; ++i) {
      script += std::string(roots[pick(0, 3)]) + "\n{\n";
      items(&script, 1);
      script += "}\n";
    }
    return script;
  }

 private:
  int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_random); }

  std::string name() {
    const int n = ++m_counter;
    switch (pick(0, 3)) {
      case 0: return "key" + std::to_string(n);
      case 1: return "'key " + std::to_string(n) + "'";
      case 2: return "'it''s {" + std::to_string(n) + "}'";
      default: return "{5A7D3C1D-" + std::to_string(n) + "}";
    }
  }

  std::string assignment() {
    switch (pick(0, 2)) {
      case 0: return "= s 'text " + std::to_string(pick(0, 99)) + "'";
      case 1: return "= d " + std::to_string(pick(0, 100000));
      default: {
        const std::string digits(2 * static_cast<std::size_t>(pick(0, 3)), "0123456789abcdef"[pick(0, 15)]);
        return "= b '" + digits + "'";
      }
    }
  }

  void items(std::string* script, int depth) {
    const int count = pick(1, 3);
    for (int i = 0; i < count; ++i) {
      if (depth > 1 && pick(0, 3) == 0) {
        *script += "val v" + std::to_string(++m_counter) + " " + assignment() + "\n";
        continue;
      }
      if (pick(0, 3) == 0) *script += "ForceRemove ";
      *script += name();
      if (pick(0, 1) == 0) *script += " " + assignment();
      *script += "\n";
      if (depth < 4 && pick(0, 1) == 0) {
        *script += "{\n";
        items(script, depth + 1);
        *script += "}\n";
      }
    }
  }

  std::mt19937 m_random;
  int m_counter = 0;
};

TEST_F(ScriptRegistrarTest, RegisterThenUnregisterLeavesEmptyAndRegisterTwiceIsStable) {
  for (unsigned seed = 1; seed <= 300; ++seed) {
    const std::string script = ScriptMaker(seed).make();
    SCOPED_TRACE(script);
    registry.clear();
    ASSERT_EQ(run(script), hr::ok);
    const std::string once = dump();
    ASSERT_EQ(run(script), hr::ok);
    EXPECT_EQ(dump(), once);
    ASSERT_EQ(run(script, unregistering), hr::ok);
    EXPECT_TRUE(registry.empty()) << dump();
    ASSERT_EQ(registry.openHandleCount(), 0u);
  }
}

// ---- the product's own script ------------------------------------------------

std::string readProductScript() {
  std::string path = GLINTMARK_SOURCE_DIR "/resources/Sheenpad.rgs";
#ifdef _WIN32
  if (!path.empty() && path.front() == '/') path = "Z:" + path;  // Wine's view of the host's root
#endif
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

constexpr const char* productRegistry =
    "REGEDIT4\r\n"
    "\r\n[HKEY_CLASSES_ROOT\\CLSID]\r\n"
    "\r\n[HKEY_CLASSES_ROOT\\CLSID\\{5A7D3C1D-4E2B-11D5-9F31-0050DA2B7E10}]\r\n"
    "@=\"Highlighter Class\"\r\n"
    "\r\n[HKEY_CLASSES_ROOT\\CLSID\\{5A7D3C1D-4E2B-11D5-9F31-0050DA2B7E10}\\InprocServer32]\r\n"
    "@=\"C:\\\\PROGRA~1\\\\Sheenpad.dll\"\r\n"
    "\"ThreadingModel\"=\"Apartment\"\r\n"
    "\r\n[HKEY_CLASSES_ROOT\\CLSID\\{5A7D3C1D-4E2B-11D5-9F31-0050DA2B7E10}\\ProgID]\r\n"
    "@=\"Sheenpad.Highlighter.1\"\r\n"
    "\r\n[HKEY_CLASSES_ROOT\\CLSID\\{5A7D3C1D-4E2B-11D5-9F31-0050DA2B7E10}\\Programmable]\r\n"
    "\r\n[HKEY_CLASSES_ROOT\\CLSID\\{5A7D3C1D-4E2B-11D5-9F31-0050DA2B7E10}\\TypeLib]\r\n"
    "@=\"{5A7D3C10-4E2B-11D5-9F31-0050DA2B7E10}\"\r\n"
    "\r\n[HKEY_CLASSES_ROOT\\CLSID\\{5A7D3C1D-4E2B-11D5-9F31-0050DA2B7E10}\\VersionIndependentProgID]\r\n"
    "@=\"Sheenpad.Highlighter\"\r\n"
    "\r\n[HKEY_CLASSES_ROOT\\Sheenpad.Highlighter]\r\n"
    "@=\"Highlighter Class\"\r\n"
    "\r\n[HKEY_CLASSES_ROOT\\Sheenpad.Highlighter\\CLSID]\r\n"
    "@=\"{5A7D3C1D-4E2B-11D5-9F31-0050DA2B7E10}\"\r\n"
    "\r\n[HKEY_CLASSES_ROOT\\Sheenpad.Highlighter\\CurVer]\r\n"
    "@=\"Sheenpad.Highlighter.1\"\r\n"
    "\r\n[HKEY_CLASSES_ROOT\\Sheenpad.Highlighter.1]\r\n"
    "@=\"Highlighter Class\"\r\n"
    "\r\n[HKEY_CLASSES_ROOT\\Sheenpad.Highlighter.1\\CLSID]\r\n"
    "@=\"{5A7D3C1D-4E2B-11D5-9F31-0050DA2B7E10}\"\r\n"
    "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n"
    "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft]\r\n"
    "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Internet Explorer]\r\n"
    "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Internet Explorer\\Extensions]\r\n"
    "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Internet Explorer\\Extensions\\"
    "{c4e1a9f2-4e2c-11d5-9f3B-0050da2b7e10}]\r\n"
    "@=\"Glintmark\"\r\n"
    "\"ButtonText\"=\"Highlight\"\r\n"
    "\"CLSID\"=\"{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}\"\r\n"
    "\"ClsidExtension\"=\"{5A7D3C1D-4E2B-11D5-9F31-0050DA2B7E10}\"\r\n"
    "\"Default Visible\"=\"Yes\"\r\n"
    "\"HotIcon\"=\"C:\\\\PROGRA~1\\\\Sheenpad.dll,203\"\r\n"
    "\"Icon\"=\"C:\\\\PROGRA~1\\\\Sheenpad.dll,204\"\r\n"
    "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows]\r\n"
    "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]\r\n"
    "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer]\r\n"
    "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
    "Browser Helper Objects]\r\n"
    "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
    "Browser Helper Objects\\{5A7D3C1D-4E2B-11D5-9F31-0050DA2B7E10}]\r\n"
    "@=\"Glintmark\"\r\n";

TEST_F(ScriptRegistrarTest, ProductScriptWritesItsTablesAndUnregistersCleanly) {
  const std::string script = readProductScript();
  ASSERT_FALSE(script.empty());
  ASSERT_EQ(run(script), hr::ok);
  EXPECT_EQ(dump(), productRegistry);
  // Registering twice gives the same content; a stray subkey under a
  // ForceRemove key goes.
  given("[HKCR\\CLSID\\{5A7D3C1D-4E2B-11D5-9F31-0050DA2B7E10}\\Stray\\Deeper]\n");
  ASSERT_EQ(run(script), hr::ok);
  EXPECT_EQ(dump(), productRegistry);

  // Other software's keys keep the shared parents alive.
  given("[HKCR\\CLSID\\{00000000-0000-0000-0000-000000000001}]\n"
        "[HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]\n");
  ASSERT_EQ(run(script, unregistering), hr::ok);
  EXPECT_EQ(dump(),
            "REGEDIT4\r\n"
            "\r\n[HKEY_CLASSES_ROOT\\CLSID]\r\n"
            "\r\n[HKEY_CLASSES_ROOT\\CLSID\\{00000000-0000-0000-0000-000000000001}]\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft]\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows]\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n");

  // On its own, unregistering keeps only the NoRemove key.
  registry.clear();
  ASSERT_EQ(run(script), hr::ok);
  ASSERT_EQ(run(script, unregistering), hr::ok);
  EXPECT_EQ(dump(), "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\CLSID]\r\n");
}

TEST_F(ScriptRegistrarTest, NestingDeeperThanTheRegistryIsRejectedWithoutRecursingForever) {
  std::string deep = "HKCU {";
  for (int i = 0; i < 600; ++i) deep += " k {";
  for (int i = 0; i < 600; ++i) deep += " }";
  deep += " }";
  EXPECT_EQ(run(deep), hr::dispException);
  EXPECT_TRUE(registry.empty());
  EXPECT_EQ(run(deep, unregistering), hr::dispException);
}

}  // namespace
}  // namespace glintmark
