// REGEDIT4 files: the text form in which the in-memory registry is loaded and
// shown.
//
// The format is the one the Windows registry editor exports:
//
//   REGEDIT4
//
//   [HKEY_CLASSES_ROOT\Sheenpad.Highlighter]
//   @="Highlighter Class"
//   "Count"=dword:00000010
//   "Bytes"=hex:0a,ff
//   "Other"=hex(7):61,00,00
//
// Keys are "[full path]" lines ("[-full path]" deletes a key with its
// subkeys); values are `"name"=data` or `@=data` for the default value, where
// data is a quoted string (REG_SZ; "\\" and "\"" are the only escapes),
// dword:XXXXXXXX, hex:bytes (REG_BINARY), hex(T):bytes for any other type T, or
// "-" to delete the value. A hex list may continue on the next line after a
// trailing "\". Lines starting with ";" are comments. Text is taken byte for
// byte in the ANSI code page; lines end with CR LF or LF.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "registry/memory_registry.h"

namespace glintmark::reg {

// writeRegFile
//
// The registry's contents as a REGEDIT4 file with CR LF line ends: keys in
// depth-first, case-insensitive order (parents first), each followed by its
// values, default value first. A REG_SZ is written as a quoted string only
// when that reads back to the same bytes (one terminating zero, no other zero
// byte, no line break); otherwise it is written as hex(1):, so reading the
// output back always restores the same registry.
std::string writeRegFile(const MemoryRegistry& registry);

struct RegFileResult {
  bool ok = true;
  std::size_t line = 0;  // 1-based line of the first error
  std::string message;
};

// readRegFile
//
// Parses a REGEDIT4 text and, only when all of it is valid, applies it to the
// registry through the Registry operations (creating keys, writing and
// deleting values, deleting key trees). On a parse error nothing is changed
// and the result names the line. A failing registry operation stops the
// application and is reported with its line as well.
RegFileResult readRegFile(std::string_view text, Registry& registry);

}  // namespace glintmark::reg
