// The settings store: the user's four option flags in one per-user registry
// value, "Setting" under HKEY_CURRENT_USER\Software\Glintmark\BHO.
//
// loadHighlightOptions() fills the process-wide record (highlightOptions(),
// core/highlight_options.h) once, when the library is loaded; the options
// dialog sets the record and then calls saveHighlightOptions(word). Both go
// through a SettingsStore: on Windows the shell's registry helpers and a
// message box, natively the in-memory registry. The decoding of the stored
// data and the report of a failed write live here, above the store, so they
// are the same code on both.
//
//   loadHighlightOptions();                    // at process attach
//   saveHighlightOptions(wordFromOptions(o));  // from the dialog's save
#pragma once

#include <cstdint>

#include "core/registry.h"

namespace glintmark {

inline constexpr char settingsKey[] = "Software\\Glintmark\\BHO";  // under HKEY_CURRENT_USER
inline constexpr char settingsValue[] = "Setting";
inline constexpr char registryErrorText[] = "Can't access the registry!";
inline constexpr char registryErrorCaption[] = "Error";

// SettingsStore: where the stored word lives and how a failed write reaches
// the user.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;

  // Reads the value's data, whatever its type, into data (capacity *size
  // bytes), as SHGetValueA does: true on success with *size set to the number
  // of bytes stored; false when the key or the value is absent or the data
  // does not fit, and then data is not to be used.
  virtual bool readValue(void* data, std::uint32_t* size) = 0;

  // Writes word as REG_DWORD (4 bytes, little-endian), creating the key when
  // it is absent, as SHSetValueA does. True on success.
  virtual bool writeValue(std::uint32_t word) = 0;

  // Shows text with caption to the user and returns once it is dismissed (a
  // message box with an OK button only, no icon, no owner window).
  virtual void showMessage(const char* text, const char* caption) = 0;
};

// readOptionsWord: the stored word, or defaultOptionsWord (13) when nothing
// usable is stored. One to four bytes of any type are taken as a
// little-endian number with the missing high bytes 0; no data, longer data or
// a failed read give 13. Never writes and never shows anything.
std::uint32_t readOptionsWord(SettingsStore& store);

// loadHighlightOptions: sets every flag of highlightOptions() from its bit of
// the stored word.
void loadHighlightOptions(SettingsStore& store);

// saveHighlightOptions: writes bits 0-3 of word (the others are written as 0).
// A failed write shows "Can't access the registry!" (caption "Error") once;
// the caller learns nothing either way. The in-memory flags are not touched:
// the dialog has set them already.
void saveHighlightOptions(SettingsStore& store, std::uint32_t word);

// The platform's own store: the shell's helpers and MessageBoxA on Windows
// (settings_store_win.cpp); natively the in-memory registry,
// reg::systemRegistry(), with messages going to standard error.
SettingsStore& platformSettingsStore();

// The store that loadHighlightOptions() and saveHighlightOptions(word) use:
// the platform's own unless a test has put another in place.
SettingsStore& settingsStore();

// Makes settingsStore() answer with store until called again with null, which
// restores the platform's own. For tests only; not thread-safe.
void setSettingsStore(SettingsStore* store);

// The same as above, on settingsStore().
void loadHighlightOptions();
void saveHighlightOptions(std::uint32_t word);

// RegistrySettingsStore: the store over a Registry, doing what the shell's
// helpers do: open with query access, read, close; create with set access,
// write, close. Messages go to the MessageSink given (the default prints
// "caption: text" to standard error).
class RegistrySettingsStore final : public SettingsStore {
 public:
  using MessageSink = void (*)(const char* text, const char* caption);
  explicit RegistrySettingsStore(reg::Registry& registry, MessageSink sink = nullptr);

  bool readValue(void* data, std::uint32_t* size) override;
  bool writeValue(std::uint32_t word) override;
  void showMessage(const char* text, const char* caption) override;

 private:
  reg::Registry& m_registry;
  MessageSink m_sink;
};

}  // namespace glintmark
