#include "settings/settings_store.h"

#include <cstdio>

#include "core/dword_bytes.h"
#include "core/highlight_options.h"

namespace glintmark {
namespace {

SettingsStore* replacementStore = nullptr;

void printMessage(const char* text, const char* caption) {
  std::fprintf(stderr, "%s: %s\n", caption, text);
}

}  // namespace

std::uint32_t readOptionsWord(SettingsStore& store) {
  // The buffer starts out holding the default, as the shell's helper leaves a
  // buffer it could not fill; a read that delivers nothing keeps it.
  unsigned char data[4] = {defaultOptionsWord & 0xFF, 0, 0, 0};
  std::uint32_t size = sizeof data;
  if (!store.readValue(data, &size) || size == 0 || size > sizeof data) return defaultOptionsWord;
  std::uint32_t word = 0;
  for (std::uint32_t i = size; i-- > 0;) word = (word << 8) | data[i];
  return word;
}

void loadHighlightOptions(SettingsStore& store) {
  highlightOptions() = optionsFromWord(readOptionsWord(store));
}

void saveHighlightOptions(SettingsStore& store, std::uint32_t word) {
  if (!store.writeValue(word & 0xFu)) store.showMessage(registryErrorText, registryErrorCaption);
}

SettingsStore& settingsStore() {
  return replacementStore ? *replacementStore : platformSettingsStore();
}

void setSettingsStore(SettingsStore* store) { replacementStore = store; }

void loadHighlightOptions() { loadHighlightOptions(settingsStore()); }

void saveHighlightOptions(std::uint32_t word) { saveHighlightOptions(settingsStore(), word); }

RegistrySettingsStore::RegistrySettingsStore(reg::Registry& registry, MessageSink sink)
    : m_registry(registry), m_sink(sink ? sink : printMessage) {}

bool RegistrySettingsStore::readValue(void* data, std::uint32_t* size) {
  reg::KeyHolder key(m_registry);
  if (m_registry.openKeyEx(reg::hkeyCurrentUser, settingsKey, reg::keyQueryValue, key.put()) !=
      reg::errorSuccess) {
    return false;
  }
  return m_registry.queryValueEx(key.get(), settingsValue, nullptr, data, size) == reg::errorSuccess;
}

bool RegistrySettingsStore::writeValue(std::uint32_t word) {
  reg::KeyHolder key(m_registry);
  if (m_registry.createKeyEx(reg::hkeyCurrentUser, settingsKey, reg::keySetValue, key.put(),
                            nullptr) != reg::errorSuccess) {
    return false;
  }
  const auto data = dwordBytes(word);
  return m_registry.setValueEx(key.get(), settingsValue, reg::regDword, data.data(), data.size()) ==
         reg::errorSuccess;
}

void RegistrySettingsStore::showMessage(const char* text, const char* caption) { m_sink(text, caption); }

}  // namespace glintmark
