// Fuzzes runRegistrationScript on the in-memory registry. The first byte
// picks the code page (1252 or 932), the mode and registry faults; the rest
// is the script. Checked: no crash, leak or overflow (the sanitizers), no key
// handle left open, and a script that registers cleanly also unregisters.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/code_page.h"
#include "registry/memory_registry.h"
#include "registrar/script_registrar.h"

namespace {

using namespace glintmark;

void check(bool condition) {
  if (!condition) std::abort();
}

const CodePage& codePage(bool doubleByte) {
  static const std::unique_ptr<CodePage> cp1252 = makeCodePage(1252);
  static const std::unique_ptr<CodePage> cp932 = makeCodePage(932);
  return doubleByte && cp932 ? *cp932 : *cp1252;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t flags = data[0];
  const std::string script(reinterpret_cast<const char*>(data + 1), size - 1);
  const CodePage& cp = codePage((flags & 1) != 0);
  reg::MemoryRegistry registry(cp);
  if ((flags & 4) != 0) registry.injectFault({reg::Operation::createKey, "", reg::errorAccessDenied, 0, 3});
  if ((flags & 8) != 0) registry.injectFault({reg::Operation::closeKey, "", reg::errorInvalidHandle, 0, 2});
  if ((flags & 16) != 0) registry.injectFault({reg::Operation::setValue, ""});

  ScriptRegistrar registrar(registry, cp);
  check(registrar.defineReplacement(u"Module", u"C:\\PROGRA~1\\It''s.dll") == hr::ok);
  const ScriptMode first = (flags & 2) != 0 ? ScriptMode::unregistering : ScriptMode::registering;
  const HResult result = registrar.runRegistrationScript(script.c_str(), first);
  check(registry.openHandleCount() == 0);
  if (first == ScriptMode::registering && succeeded(result) && (flags & 8) == 0) {
    check(registrar.runRegistrationScript(script.c_str(), ScriptMode::unregistering) == hr::ok);
    check(registry.openHandleCount() == 0);
  }
  return 0;
}
