// The code pages of the browser engine: the browsers it runs in hand over
// UTF-16 and address text as UTF-8, so its narrow text is UTF-8 (65001).
#include "core/code_page.h"
#include "core/code_page_utf8.h"

namespace glintmark {

std::unique_ptr<CodePage> makeCodePage(unsigned number) {
  return number == 65001 ? makeUtf8CodePage() : nullptr;
}

const CodePage& ansiCodePage() {
  static const std::unique_ptr<CodePage> utf8 = makeUtf8CodePage();
  return *utf8;
}

}  // namespace glintmark
