// On Windows the options go through the shell's light-weight registry helpers,
// which open, read or write, and close the key in one call each.
#include <windows.h>
#include <shlwapi.h>

#include "settings/settings_store.h"

namespace glintmark {
namespace {

class ShellSettingsStore final : public SettingsStore {
 public:
  bool readValue(void* data, std::uint32_t* size) override {
    DWORD bytes = *size;
    // No type is asked for: whatever is stored is read as raw bytes.
    const LSTATUS status = SHGetValueA(HKEY_CURRENT_USER, settingsKey, settingsValue, nullptr,
                                       data, &bytes);
    if (status != ERROR_SUCCESS) return false;
    *size = bytes;
    return true;
  }

  bool writeValue(std::uint32_t word) override {
    const DWORD value = word;
    return SHSetValueA(HKEY_CURRENT_USER, settingsKey, settingsValue, REG_DWORD, &value,
                       sizeof value) == ERROR_SUCCESS;
  }

  void showMessage(const char* text, const char* caption) override {
    MessageBoxA(nullptr, text, caption, MB_OK);
  }
};

}  // namespace

SettingsStore& platformSettingsStore() {
  static ShellSettingsStore store;
  return store;
}

}  // namespace glintmark
