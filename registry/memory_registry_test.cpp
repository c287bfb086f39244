#include "registry/memory_registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace glintmark::reg {
namespace {

class MemoryRegistryTest : public ::testing::Test {
 protected:
  Key create(Key parent, const char* path, Access access = keyAllAccess) {
    Key key = nullKey;
    EXPECT_EQ(registry.createKeyEx(parent, path, access, &key, nullptr), errorSuccess) << path;
    return key;
  }
  void setString(Key key, const char* name, const char* text) {
    EXPECT_EQ(registry.setValueEx(key, name, regSz, text, static_cast<std::uint32_t>(std::strlen(text) + 1)),
              errorSuccess);
  }

  MemoryRegistry registry;
};

TEST_F(MemoryRegistryTest, CreatesWholePathsAndReportsDisposition) {
  Key key = nullKey;
  std::uint32_t disposition = 0;
  ASSERT_EQ(registry.createKeyEx(hkeyLocalMachine, "Software\\A\\B", keyAllAccess, &key, &disposition),
            errorSuccess);
  EXPECT_EQ(disposition, regCreatedNewKey);
  EXPECT_EQ(registry.closeKey(key), errorSuccess);
  ASSERT_EQ(registry.createKeyEx(hkeyLocalMachine, "SOFTWARE\\a\\b", keyAllAccess, &key, &disposition),
            errorSuccess);
  EXPECT_EQ(disposition, regOpenedExistingKey);
  EXPECT_EQ(registry.closeKey(key), errorSuccess);
  EXPECT_TRUE(registry.keyExists("HKLM\\software\\A"));
  EXPECT_TRUE(registry.keyExists("HKEY_LOCAL_MACHINE\\Software\\A\\B"));
  EXPECT_FALSE(registry.keyExists("HKCU\\Software"));
  EXPECT_EQ(registry.openHandleCount(), 0u);
}

TEST_F(MemoryRegistryTest, PathErrorsMatchWindows) {
  Key key = nullKey;
  struct Row {
    const char* path;
    Status open;
    Status create;
  } rows[] = {
      {"Missing", errorFileNotFound, errorSuccess},
      {"\\Lead", errorFileNotFound, errorBadPathname},
      {"a\\\\b", errorFileNotFound, errorBadPathname},
      {std::string(256, 'x').c_str(), errorInvalidParameter, errorInvalidParameter},
  };
  const std::string longName(256, 'x');
  rows[3].path = longName.c_str();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    EXPECT_EQ(registry.openKeyEx(hkeyCurrentUser, row.path, keyRead, &key), row.open);
    const Status created = registry.createKeyEx(hkeyCurrentUser, row.path, keyRead, &key, nullptr);
    EXPECT_EQ(created, row.create);
    if (created == errorSuccess) registry.closeKey(key);
  }
  EXPECT_EQ(registry.openKeyEx(Key(0x1234), "x", keyRead, &key), errorInvalidHandle);
  EXPECT_EQ(registry.openHandleCount(), 0u);
}

TEST_F(MemoryRegistryTest, ValuesRoundTripWithTypesAndSizes) {
  KeyHolder key(registry, create(hkeyCurrentUser, "Software\\Glintmark\\BHO"));
  const std::uint8_t setting[4] = {1, 0, 1, 1};
  ASSERT_EQ(registry.setValueEx(key.get(), "Setting", regBinary, setting, 4), errorSuccess);
  setString(key.get(), nullptr, "default");

  ValueType type = regNone;
  std::uint8_t buffer[8] = {};
  std::uint32_t size = 2;
  EXPECT_EQ(registry.queryValueEx(key.get(), "SETTING", &type, buffer, &size), errorMoreData);
  EXPECT_EQ(size, 4u);
  size = sizeof buffer;
  EXPECT_EQ(registry.queryValueEx(key.get(), "setting", &type, buffer, &size), errorSuccess);
  EXPECT_EQ(type, regBinary);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(0, std::memcmp(buffer, setting, 4));
  size = 0;
  EXPECT_EQ(registry.queryValueEx(key.get(), "", &type, nullptr, &size), errorSuccess);
  EXPECT_EQ(type, regSz);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(registry.queryValueEx(key.get(), "Absent", &type, buffer, &size), errorFileNotFound);
  EXPECT_EQ(registry.deleteValue(key.get(), "Setting"), errorSuccess);
  EXPECT_EQ(registry.deleteValue(key.get(), "Setting"), errorFileNotFound);
  std::uint32_t subKeys = 9, values = 9;
  EXPECT_EQ(registry.queryInfoKey(key.get(), &subKeys, &values), errorSuccess);
  EXPECT_EQ(subKeys, 0u);
  EXPECT_EQ(values, 1u);
}

TEST_F(MemoryRegistryTest, AccessRightsAreCheckedPerHandle) {
  registry.closeKey(create(hkeyCurrentUser, "Software\\X"));
  Key readOnly = nullKey;
  ASSERT_EQ(registry.openKeyEx(hkeyCurrentUser, "Software\\X", keyRead, &readOnly), errorSuccess);
  KeyHolder holder(registry, readOnly);
  EXPECT_EQ(registry.setValueEx(readOnly, "v", regSz, "", 1), errorAccessDenied);
  EXPECT_EQ(registry.deleteValue(readOnly, "v"), errorAccessDenied);
  Key child = nullKey;
  EXPECT_EQ(registry.createKeyEx(readOnly, "Child", keyAllAccess, &child, nullptr), errorAccessDenied);
  Key writeOnly = nullKey;
  ASSERT_EQ(registry.openKeyEx(hkeyCurrentUser, "Software\\X", keySetValue, &writeOnly), errorSuccess);
  KeyHolder holder2(registry, writeOnly);
  std::uint32_t size = 0;
  EXPECT_EQ(registry.queryValueEx(writeOnly, "v", nullptr, nullptr, &size), errorAccessDenied);
  EXPECT_EQ(registry.queryInfoKey(writeOnly, &size, nullptr), errorAccessDenied);
  char name[16];
  size = sizeof name;
  EXPECT_EQ(registry.enumKeyEx(writeOnly, 0, name, &size), errorAccessDenied);
}

TEST_F(MemoryRegistryTest, EnumeratesInCaseInsensitiveOrder) {
  KeyHolder parent(registry, create(hkeyClassesRoot, "P"));
  for (const char* name : {"beta", "Alpha", "GAMMA"}) registry.closeKey(create(parent.get(), name));
  std::string seen;
  char name[8];
  for (std::uint32_t index = 0;; ++index) {
    std::uint32_t size = sizeof name;
    const Status status = registry.enumKeyEx(parent.get(), index, name, &size);
    if (status == errorNoMoreItems) break;
    ASSERT_EQ(status, errorSuccess);
    EXPECT_EQ(size, std::strlen(name));
    seen += std::string(name) + ",";
  }
  EXPECT_EQ(seen, "Alpha,beta,GAMMA,");
  std::uint32_t tiny = 5;  // "Alpha" needs 6 bytes with its zero
  EXPECT_EQ(registry.enumKeyEx(parent.get(), 0, name, &tiny), errorMoreData);
}

TEST_F(MemoryRegistryTest, DeleteKeyRefusesKeysWithSubkeysAndInvalidatesOpenHandles) {
  registry.closeKey(create(hkeyLocalMachine, "A\\B"));
  EXPECT_EQ(registry.deleteKey(hkeyLocalMachine, "A"), errorAccessDenied);
  Key b = nullKey;
  // An empty name would be the key behind the handle itself: refused.
  ASSERT_EQ(registry.openKeyEx(hkeyLocalMachine, "A\\B", keyAllAccess, &b), errorSuccess);
  EXPECT_EQ(registry.deleteKey(b, ""), errorAccessDenied);
  EXPECT_EQ(registry.closeKey(b), errorSuccess);
  ASSERT_EQ(registry.openKeyEx(hkeyLocalMachine, "A\\B", keyAllAccess, &b), errorSuccess);
  EXPECT_EQ(registry.deleteKey(hkeyLocalMachine, "a\\b"), errorSuccess);
  EXPECT_EQ(registry.setValueEx(b, "v", regSz, "", 1), errorKeyDeleted);
  EXPECT_EQ(registry.closeKey(b), errorSuccess);
  EXPECT_EQ(registry.closeKey(b), errorInvalidHandle);
  EXPECT_EQ(registry.deleteKey(hkeyLocalMachine, "A"), errorSuccess);
  EXPECT_EQ(registry.deleteKey(hkeyLocalMachine, "A"), errorFileNotFound);
  EXPECT_TRUE(registry.empty());
}

TEST_F(MemoryRegistryTest, DoubleByteTrailBackslashIsNotASeparator) {
  const auto cp932 = makeCodePage(932);
  if (cp932 == nullptr) GTEST_SKIP() << "code page 932 is not available here";
  MemoryRegistry japanese(*cp932);
  Key key = nullKey;
  // 0x95 0x5C is one character in code page 932; its trail byte is "\".
  ASSERT_EQ(japanese.createKeyEx(hkeyCurrentUser, "\x95\\name", keyAllAccess, &key, nullptr),
            errorSuccess);
  japanese.closeKey(key);
  EXPECT_TRUE(japanese.keyExists("HKCU\\\x95\\name"));
  EXPECT_FALSE(japanese.keyExists("HKCU\\\x95"));
}

TEST_F(MemoryRegistryTest, InjectedFaultsHitOnlyTheirKeyAndOperation) {
  registry.injectFault({Operation::createKey, "HKLM\\Software\\Blocked"});
  registry.injectFault({Operation::setValue, "HKEY_LOCAL_MACHINE\\Software\\ReadOnly", errorCantWrite});
  registry.injectFault({Operation::openKey, "HKLM\\Software\\Once", errorAccessDenied, keySetValue, 1});
  Key key = nullKey;
  EXPECT_EQ(registry.createKeyEx(hkeyLocalMachine, "Software\\Blocked", keyAllAccess, &key, nullptr),
            errorAccessDenied);
  EXPECT_FALSE(registry.keyExists("HKLM\\Software"));  // a refused create leaves nothing behind
  KeyHolder readOnly(registry, create(hkeyLocalMachine, "Software\\ReadOnly"));
  EXPECT_EQ(registry.setValueEx(readOnly.get(), "v", regSz, "", 1), errorCantWrite);
  registry.closeKey(create(hkeyLocalMachine, "software\\once"));
  EXPECT_EQ(registry.openKeyEx(hkeyLocalMachine, "Software\\Once", keyRead, &key), errorSuccess);
  registry.closeKey(key);
  EXPECT_EQ(registry.openKeyEx(hkeyLocalMachine, "Software\\Once", keyAllAccess, &key),
            errorAccessDenied);
  EXPECT_EQ(registry.openKeyEx(hkeyLocalMachine, "Software\\Once", keyAllAccess, &key), errorSuccess);
  registry.closeKey(key);
  registry.clearFaults();
  EXPECT_EQ(registry.createKeyEx(hkeyLocalMachine, "Software\\Blocked", keyAllAccess, &key, nullptr),
            errorSuccess);
  registry.closeKey(key);
}

TEST_F(MemoryRegistryTest, RefusedCloseStillFreesTheHandleAndOversizedReadsReportMoreData) {
  KeyHolder key(registry, create(hkeyCurrentUser, "K"));
  setString(key.get(), "v", "abc");
  registry.injectFault({Operation::queryValue, "HKCU\\K", errorMoreData});
  char buffer[16];
  std::uint32_t size = sizeof buffer;
  EXPECT_EQ(registry.queryValueEx(key.get(), "v", nullptr, buffer, &size), errorMoreData);
  EXPECT_EQ(size, sizeof buffer + 1);
  registry.injectFault({Operation::closeKey, "", errorInvalidHandle});
  EXPECT_EQ(key.close(), errorInvalidHandle);
  EXPECT_EQ(registry.openHandleCount(), 0u);
}

}  // namespace
}  // namespace glintmark::reg
