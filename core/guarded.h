// guarded: runs the body of an interface method so that no exception leaves
// it. Running out of memory answers E_OUTOFMEMORY, anything else E_FAIL.
//
//   HResult Range::htmlText(WideText* html) {
//     return guarded([&] { *html = makeHtml(); return hr::ok; });
//   }
//
// memoryGuarded: the same for code whose only expected exception is memory
// running out (the page pass); any other exception passes through.
#pragma once

#include <new>
#include <stdexcept>

#include "core/hresult.h"

namespace glintmark {

template <typename Body>
HResult memoryGuarded(Body&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return hr::outOfMemory;
  } catch (const std::length_error&) {
    return hr::outOfMemory;  // a string that cannot grow is memory running out too
  }
}

template <typename Body>
HResult guarded(Body&& body) noexcept {
  try {
    return memoryGuarded(body);
  } catch (...) {
    return hr::fail;
  }
}

}  // namespace glintmark
