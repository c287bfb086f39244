// The UTF-8 code page (65001): narrow text as the browsers of today hold it.
//
// The engine that runs in those browsers works in it, and the command-line
// tool offers it (`--codepage 65001`) so that its results can be set beside
// theirs. toNarrow encodes UTF-16 as UTF-8, an unpaired surrogate as '?' (as
// the other code pages do with what they cannot hold); toWide decodes as
// core/utf.h does, a malformed sequence as U+FFFD. UTF-8 needs no lead-byte
// rule: no byte of a multi-byte sequence is an ASCII byte, and a search for
// well-formed text cannot match inside another character.
//
//   makeUtf8CodePage()->toNarrow(u"Caf\u00C9") == "Caf\xC3\x89"
#pragma once

#include <memory>

#include "core/code_page.h"

namespace glintmark {

std::unique_ptr<CodePage> makeUtf8CodePage();

}  // namespace glintmark
