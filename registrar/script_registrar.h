// ScriptRegistrar: runs a registration script, the small text language in
// which the library describes its registry keys.
//
//   HKCR
//   {
//     NoRemove CLSID
//     {
//       ForceRemove {5A7D3C1D-4E2B-11D5-9F31-0050DA2B7E10} = s 'Highlighter Class'
//       {
//         InprocServer32 = s '%MODULE%'
//         {
//           val ThreadingModel = s 'Apartment'
//         }
//       }
//     }
//   }
//
// Register mode creates the keys and writes the values; unregister mode over
// the same text removes what it describes but keeps keys that still hold
// subkeys the script does not name. Before parsing, %name% placeholders are
// replaced by texts defined with defineReplacement ("%%" is one "%").
//
// Language, as this interpreter reads it:
//   - Tokens are separated by space, tab, CR and LF. A token starting with "'"
//     runs to the next lone "'" ("''" stands for one "'"), at most 4094 bytes;
//     other tokens run to the next white space, at most 4095 bytes.
//   - A root block is a root name (HKCR, HKCU, HKLM, HKU, HKPD, HKDD, HKCC or
//     the HKEY_... long forms) followed by "{" items "}".
//   - Item: [ForceRemove | Delete] [NoRemove] key-name [= type value]
//     [{ items }], or: Val value-name = type value. Types: S (string),
//     D (number, through VarUI4FromStr), B (hexadecimal bytes).
//   - Keywords, root names and types are compared without regard to case.
//
// Choices made where the language leaves room (each one tested):
//   - The whole script is parsed and checked (in the mode it runs in) before
//     the registry is touched, so a parse error changes nothing at all, not
//     even in earlier root blocks. The undo of a failing root block is thus
//     only needed for registry failures, and always runs over text that
//     parses to its end.
//   - "NoRemove" protects only the key it stands before.
//   - "Delete" or "Val" followed by a block is rejected (DISP_E_EXCEPTION),
//     in both modes: neither has a key the block could belong to.
//   - An unquoted token over 4095 bytes, a value name over 259 bytes and
//     nesting deeper than the registry's own 512 levels are rejected with
//     DISP_E_EXCEPTION.
//   - A "D" value that VarUI4FromStr rejects fails the run with
//     DISP_E_EXCEPTION rather than storing a made-up 0.
//   - An empty key name ('') addresses the parent key itself, as the
//     registry's own calls read it: "'' = s 'text'" sets the parent's default
//     value, and a block after it adds to or removes from the parent. It is
//     never deleted: "ForceRemove ''" and "Delete ''" leave the parent and
//     its subtree alone, and unregistering never removes the parent through
//     it.
//   - "B" values count bytes: each byte is one hexadecimal digit (a byte that
//     is not one counts as 0).
//   - The text after replacement ends at its first zero byte, as a
//     zero-terminated text does.
//
// Failures stop the run at once with DISP_E_EXCEPTION (parse errors, a key
// that cannot be opened or created in register mode, a key that cannot be
// closed in unregister mode), E_FAIL (a replacement name of 32 bytes or more,
// a "B" value of odd length) or E_OUTOFMEMORY. Values that cannot be written
// and keys or values that cannot be deleted are ignored. When a root block
// fails in register mode, that block is run again in unregister mode to undo
// it; earlier root blocks stay written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/code_page.h"
#include "core/hresult.h"
#include "core/registry.h"

namespace glintmark {

enum class ScriptMode { registering, unregistering };

class ScriptRegistrar {
 public:
  // Works on the machine's registry in the process's ANSI code page.
  ScriptRegistrar();
  explicit ScriptRegistrar(reg::Registry& registry, const CodePage& codePage = ansiCodePage());

  // Adds a replacement; names are compared without regard to case and the
  // first definition of a name wins. E_OUTOFMEMORY when it cannot be stored.
  HResult defineReplacement(std::u16string_view name, std::u16string_view text);

  // Runs a zero-terminated script in the given mode: S_OK or the first failure.
  HResult runRegistrationScript(const char* script, ScriptMode mode);

  // Runs the script held as resource (resourceType, resourceId) by the module
  // at modulePath. Failing to open the module or to find the resource gives
  // the system's last error as an HRESULT (S_OK when it reports none). On
  // Linux a "module" is a folder and its resource (TYPE, ID) the file
  // TYPE/ID in it (type in capitals).
  HResult runScriptResource(std::u16string_view modulePath, unsigned resourceId,
                            std::u16string_view resourceType, ScriptMode mode);

  // The limits of the language (bytes).
  static constexpr std::size_t maxQuotedToken = 4094;
  static constexpr std::size_t maxToken = 4095;
  static constexpr std::size_t maxReplacementName = 31;
  static constexpr std::size_t maxValueName = 259;
  static constexpr std::size_t maxNesting = 512;

 private:
  HResult replacePlaceholders(const char* script, std::string* out) const;
  const std::u16string* findReplacement(std::string_view name) const;

  reg::Registry& m_registry;
  const CodePage& m_codePage;
  std::vector<std::pair<std::u16string, std::u16string>> m_replacements;
};

}  // namespace glintmark
