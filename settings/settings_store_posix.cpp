// Natively the options live in the process's in-memory registry.
#include "settings/settings_store.h"

namespace glintmark {

SettingsStore& platformSettingsStore() {
  static RegistrySettingsStore store(reg::systemRegistry());
  return store;
}

}  // namespace glintmark
