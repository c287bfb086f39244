#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/highlight_options.h"
#include "registry/memory_registry.h"

namespace glintmark {
namespace {

using reg::MemoryRegistry;
using reg::Operation;
using Bytes = std::vector<std::uint8_t>;

constexpr char keyPath[] = "HKCU\\Software\\Glintmark\\BHO";

std::vector<std::string> shownMessages;
void recordMessage(const char* text, const char* caption) {
  shownMessages.push_back(std::string(caption) + "|" + text);
}

class SettingsStoreTest : public testing::Test {
 protected:
  SettingsStoreTest() { shownMessages.clear(); }
  ~SettingsStoreTest() override { highlightOptions() = HighlightOptions{}; }

  void store(reg::ValueType type, const Bytes& data) {
    reg::Key key = reg::nullKey;
    ASSERT_EQ(registry.createKeyEx(reg::hkeyCurrentUser, settingsKey, reg::keyAllAccess, &key, nullptr),
              reg::errorSuccess);
    ASSERT_EQ(registry.setValueEx(key, settingsValue, type, data.data(),
                                  static_cast<std::uint32_t>(data.size())),
              reg::errorSuccess);
    registry.closeKey(key);
  }

  std::optional<reg::RegValue> stored() const { return registry.value(keyPath, settingsValue); }

  MemoryRegistry registry;
  RegistrySettingsStore settings{registry, recordMessage};
};

struct LoadCase {
  const char* what;
  std::optional<reg::ValueType> type;  // nullopt: nothing stored
  Bytes data;
  std::uint32_t word;
};

TEST_F(SettingsStoreTest, LoadTakesOneToFourBytesOfAnyTypeElseTheDefault) {
  const LoadCase cases[] = {
      {"no key", std::nullopt, {}, 13},
      {"dword 0", reg::regDword, {0, 0, 0, 0}, 0},
      {"dword 15", reg::regDword, {15, 0, 0, 0}, 15},
      {"dword 2", reg::regDword, {2, 0, 0, 0}, 2},
      {"high bits only", reg::regDword, {0xF0, 0xFF, 0xFF, 0xFF}, 0xFFFFFFF0},
      {"one byte", reg::regBinary, {7}, 7},
      {"three bytes", reg::regBinary, {0x0A, 0x01, 0x00}, 0x10A},
      {"string \"5\" with its zero", reg::regSz, {'5', 0}, 0x35},
      {"big-endian dword taken as stored", reg::regDwordBigEndian, {0, 0, 0, 8}, 0x08000000},
      {"five bytes", reg::regBinary, {1, 0, 0, 0, 0}, 13},
      {"qword", reg::regQword, {1, 0, 0, 0, 0, 0, 0, 0}, 13},
      {"empty data", reg::regBinary, {}, 13},
  };
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(c.what);
    registry.clear();
    if (c.type) store(*c.type, c.data);
    highlightOptions() = optionsFromWord(0);
    loadHighlightOptions(settings);
    EXPECT_EQ(readOptionsWord(settings), c.word);
    EXPECT_EQ(wordFromOptions(highlightOptions()), c.word & 0xF);
    // A load never writes and never reports.
    if (!c.type) {
      EXPECT_FALSE(registry.keyExists(keyPath));
    }
    EXPECT_TRUE(shownMessages.empty());
    EXPECT_EQ(registry.openHandleCount(), 0u);
  }
}

TEST_F(SettingsStoreTest, DefaultWhenTheKeyHasNoSettingValue) {
  reg::Key key = reg::nullKey;
  registry.createKeyEx(reg::hkeyCurrentUser, settingsKey, reg::keyAllAccess, &key, nullptr);
  registry.closeKey(key);
  EXPECT_EQ(readOptionsWord(settings), 13u);
}

TEST_F(SettingsStoreTest, FailedReadGivesTheDefaultSilently) {
  store(reg::regDword, {0, 0, 0, 0});
  for (const Operation operation : {Operation::openKey, Operation::queryValue}) {
    registry.clearFaults();
    registry.injectFault({operation, keyPath});
    EXPECT_EQ(readOptionsWord(settings), 13u);
  }
  EXPECT_TRUE(shownMessages.empty());
  EXPECT_EQ(registry.openHandleCount(), 0u);
}

TEST_F(SettingsStoreTest, SaveCreatesTheKeyAndWritesADword) {
  saveHighlightOptions(settings, 0);
  EXPECT_EQ(stored(), (reg::RegValue{reg::regDword, {0, 0, 0, 0}}));
  // Once a word is stored, a load takes it, even with every flag off.
  loadHighlightOptions(settings);
  EXPECT_EQ(wordFromOptions(highlightOptions()), 0u);
  saveHighlightOptions(settings, 15);
  EXPECT_EQ(stored(), (reg::RegValue{reg::regDword, {15, 0, 0, 0}}));
  EXPECT_TRUE(shownMessages.empty());
  EXPECT_EQ(registry.openHandleCount(), 0u);
}

TEST_F(SettingsStoreTest, SaveWritesOnlyTheFourFlagBits) {
  store(reg::regDword, {0xF0, 0xFF, 0xFF, 0xFF});
  loadHighlightOptions(settings);
  EXPECT_EQ(wordFromOptions(highlightOptions()), 0u);
  saveHighlightOptions(settings, 0xFFFFFFF5u);
  EXPECT_EQ(stored(), (reg::RegValue{reg::regDword, {5, 0, 0, 0}}));
}

TEST_F(SettingsStoreTest, RefusedWriteShowsTheMessageOnceAndKeepsTheStoredValue) {
  for (const Operation operation : {Operation::createKey, Operation::setValue}) {
    SCOPED_TRACE(static_cast<int>(operation));
    registry.clear();
    shownMessages.clear();
    store(reg::regDword, {13, 0, 0, 0});
    registry.injectFault({operation, keyPath});
    highlightOptions() = optionsFromWord(6);
    saveHighlightOptions(settings, 6);
    EXPECT_EQ(shownMessages, std::vector<std::string>{"Error|Can't access the registry!"});
    EXPECT_EQ(stored(), (reg::RegValue{reg::regDword, {13, 0, 0, 0}}));
    // The flags the dialog set stay as they are.
    EXPECT_EQ(wordFromOptions(highlightOptions()), 6u);
    EXPECT_EQ(registry.openHandleCount(), 0u);
  }
}

TEST_F(SettingsStoreTest, ProcessStoreCanBeReplacedAndRestored) {
  setSettingsStore(&settings);
  store(reg::regDword, {2, 0, 0, 0});
  loadHighlightOptions();
  EXPECT_EQ(wordFromOptions(highlightOptions()), 2u);
  saveHighlightOptions(9);
  EXPECT_EQ(stored(), (reg::RegValue{reg::regDword, {9, 0, 0, 0}}));
  setSettingsStore(nullptr);
  EXPECT_EQ(&settingsStore(), &platformSettingsStore());
}

}  // namespace
}  // namespace glintmark
