// The settings store against the real registry (Wine's, in the tests' prefix)
// through the shell's helpers, and its message box.
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include "core/highlight_options.h"
#include "settings/settings_store.h"
#include "settings/testing/settings_key_guard.h"
#include "settings/testing/window_driver.h"

namespace glintmark {
namespace {

using testkit::dword;
using testkit::RawValue;
using testkit::storedSetting;
using testkit::storeSetting;

class ShellSettingsStoreTest : public testing::Test {
 protected:
  ~ShellSettingsStoreTest() override { highlightOptions() = HighlightOptions{}; }
  testkit::SettingsKeyGuard guard;
  SettingsStore& store = platformSettingsStore();
};

TEST_F(ShellSettingsStoreTest, LoadsWhatIsStoredOrTheDefault) {
  struct Case {
    const char* what;
    std::optional<RawValue> stored;
    std::uint32_t flags;
  };
  const Case cases[] = {
      {"no key", std::nullopt, 13},
      {"0", dword(0), 0},
      {"15", dword(15), 15},
      {"2", dword(2), 2},
      {"high bits only", dword(0xFFFFFFF0u), 0},
      {"one byte of binary", RawValue{REG_BINARY, {7}}, 7},
      {"five bytes", RawValue{REG_BINARY, {1, 0, 0, 0, 0}}, 13},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testkit::removeBhoKey();
    if (c.stored) {
      ASSERT_TRUE(storeSetting(*c.stored));
    }
    highlightOptions() = optionsFromWord(c.flags ^ 0xF);
    loadHighlightOptions(store);
    EXPECT_EQ(wordFromOptions(highlightOptions()), c.flags);
    EXPECT_EQ(storedSetting(), c.stored);  // loading writes nothing
  }
}

TEST_F(ShellSettingsStoreTest, FirstSaveCreatesTheKeyAndLaterLoadsTakeIt) {
  ASSERT_FALSE(testkit::keyExists(testkit::bhoKey));
  saveHighlightOptions(store, 0);
  EXPECT_EQ(storedSetting(), dword(0));
  loadHighlightOptions(store);
  EXPECT_EQ(wordFromOptions(highlightOptions()), 0u);
  // Bits above the four flags are never written.
  ASSERT_TRUE(storeSetting(dword(0xFFFFFFF0u)));
  saveHighlightOptions(store, 0xFFFFFFFAu);
  EXPECT_EQ(storedSetting(), dword(10));
}

TEST_F(ShellSettingsStoreTest, RefusedWriteShowsOneMessageBoxWithOkOnly) {
  ASSERT_TRUE(storeSetting(dword(13)));
  testkit::RefusingStore refusing;
  refusing.refuseWrites = true;
  const DWORD thread = GetCurrentThreadId();
  testkit::MessageBoxView view;
  bool seen = false;
  std::thread driver([&] {
    HWND box = testkit::waitForWindow(thread, "Error");
    if (!box) return;
    seen = true;
    view = testkit::viewMessageBox(box);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  });
  saveHighlightOptions(refusing, 6);
  driver.join();
  ASSERT_TRUE(seen);
  EXPECT_EQ(view.text, "Can't access the registry!");
  EXPECT_EQ(view.buttons, std::vector<std::string>{"OK"});
  EXPECT_FALSE(view.icon);
  EXPECT_EQ(view.owner, nullptr);
  EXPECT_EQ(refusing.messages, 1);
  EXPECT_EQ(storedSetting(), dword(13));
}

}  // namespace
}  // namespace glintmark
