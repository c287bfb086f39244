// Natively the process's store is the process's in-memory registry.
#include <gtest/gtest.h>

#include "core/highlight_options.h"
#include "registry/memory_registry.h"
#include "settings/settings_store.h"

namespace glintmark {
namespace {

TEST(PlatformSettingsStore, KeepsTheWordInTheProcessRegistry) {
  auto& registry = dynamic_cast<reg::MemoryRegistry&>(reg::systemRegistry());
  registry.clear();
  loadHighlightOptions();
  EXPECT_EQ(wordFromOptions(highlightOptions()), defaultOptionsWord);
  saveHighlightOptions(6);
  EXPECT_EQ(registry.value("HKCU\\Software\\Glintmark\\BHO", "Setting"),
            (reg::RegValue{reg::regDword, {6, 0, 0, 0}}));
  loadHighlightOptions();
  EXPECT_EQ(wordFromOptions(highlightOptions()), 6u);

  // A refused write goes to standard error, once.
  registry.injectFault({reg::Operation::setValue, ""});
  testing::internal::CaptureStderr();
  saveHighlightOptions(0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Can't access the registry!\n");
  registry.clear();
  highlightOptions() = HighlightOptions{};
}

}  // namespace
}  // namespace glintmark
