// guarded: runs the body of an interface method so that no exception leaves
// it. Running out of memory answers E_OUTOFMEMORY, anything else E_FAIL.
//
//   HResult Range::htmlText(WideText* html) {
//     return guarded([&] { *html = makeHtml(); return hr::ok; });
//   }
#pragma once

#include <new>

#include "core/hresult.h"

namespace glintmark {

template <typename Body>
HResult guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return hr::outOfMemory;
  } catch (...) {
    return hr::fail;
  }
}

}  // namespace glintmark
