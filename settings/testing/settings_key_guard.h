// SettingsKeyGuard: lets a Windows test start from "nothing stored" in the
// real registry and puts back afterwards what was there before.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "core/dword_bytes.h"
#include "settings/settings_store.h"
#include "win/unique_handle.h"

namespace glintmark::testkit {

// The process's own store, except that writes can be refused; counts the
// writes and the messages shown (which the real store still shows).
class RefusingStore final : public SettingsStore {
 public:
  bool refuseWrites = false;
  int writes = 0;
  int messages = 0;

  bool readValue(void* data, std::uint32_t* size) override { return m_real.readValue(data, size); }
  bool writeValue(std::uint32_t word) override {
    ++writes;
    return !refuseWrites && m_real.writeValue(word);
  }
  void showMessage(const char* text, const char* caption) override {
    ++messages;
    m_real.showMessage(text, caption);
  }

 private:
  SettingsStore& m_real = platformSettingsStore();
};

struct RawValue {
  DWORD type;
  std::vector<std::uint8_t> data;
  friend bool operator==(const RawValue&, const RawValue&) = default;
};

inline constexpr char productKey[] = "Software\\Glintmark";
inline constexpr char bhoKey[] = "Software\\Glintmark\\BHO";

inline bool keyExists(const char* path) {
  UniqueHkey key;
  return RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

// The "Setting" value as stored, or nothing.
inline std::optional<RawValue> storedSetting() {
  UniqueHkey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, bhoKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return {};
  RawValue value{0, std::vector<std::uint8_t>(4096)};
  DWORD size = static_cast<DWORD>(value.data.size());
  if (RegQueryValueExA(key.get(), "Setting", nullptr, &value.type, value.data.data(), &size) !=
      ERROR_SUCCESS) {
    return {};
  }
  value.data.resize(size);
  return value;
}

inline bool storeSetting(const RawValue& value) {
  UniqueHkey key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, bhoKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  return RegSetValueExA(key.get(), "Setting", 0, value.type, value.data.data(),
                        static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS;
}

inline void removeBhoKey() { RegDeleteTreeA(HKEY_CURRENT_USER, bhoKey); }

class SettingsKeyGuard {
 public:
  SettingsKeyGuard()
      : m_productExisted(keyExists(productKey)), m_bhoExisted(keyExists(bhoKey)), m_saved(storedSetting()) {
    removeBhoKey();
  }
  ~SettingsKeyGuard() {
    removeBhoKey();
    if (m_bhoExisted) {
      UniqueHkey key;
      RegCreateKeyExA(HKEY_CURRENT_USER, bhoKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                      nullptr);
      if (m_saved) storeSetting(*m_saved);
    } else if (!m_productExisted) {
      RegDeleteKeyA(HKEY_CURRENT_USER, productKey);
    }
  }
  SettingsKeyGuard(const SettingsKeyGuard&) = delete;
  SettingsKeyGuard& operator=(const SettingsKeyGuard&) = delete;

 private:
  bool m_productExisted;
  bool m_bhoExisted;
  std::optional<RawValue> m_saved;
};

inline RawValue dword(std::uint32_t word) {
  const auto bytes = dwordBytes(word);
  return {REG_DWORD, std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
}

}  // namespace glintmark::testkit
