// The real conversion, so scripts behave exactly as on any Windows machine.
#include <windows.h>
#include <oleauto.h>

#include <string>

#include "registrar/var_ui4.h"

namespace glintmark {

HResult varUI4FromStr(std::u16string_view text, std::uint32_t* out) {
  std::u16string copy(text.substr(0, text.find(u'\0')));
  ULONG value = 0;
  const HRESULT result = VarUI4FromStr(reinterpret_cast<OLECHAR*>(copy.data()), 0, 0, &value);
  if (SUCCEEDED(result)) *out = value;
  return static_cast<HResult>(result);
}

}  // namespace glintmark
