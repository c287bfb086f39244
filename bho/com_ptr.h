// ComPtr<T> and UniqueHandle<T, Deleter>: the two owning holders of the COM
// code. WIL's com_ptr_nothrow and unique_any do the same, but WIL does not
// build with MinGW, so these keep to what this library needs. UniqueHandle
// lives in win/unique_handle.h, where registrar/ and settings/ use it too.
//
//   ComPtr<IWebBrowser2> browser;
//   HRESULT result = site->QueryInterface(IID_IWebBrowser2, browser.putVoid());
//   UniqueBstr url;  document->get_URL(url.put());
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <utility>

#include "win/unique_handle.h"

namespace glintmark::bho {

// ComPtr: holds one reference. Copying adds a reference, destruction and
// reset() release it, put() releases the old pointer before handing out the
// address of the (now null) slot for an out parameter.
template <typename T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}  // NOLINT: null converts implicitly
  // Adds a reference to `pointer`; attach() takes one over instead.
  explicit ComPtr(T* pointer) noexcept : m_ptr(pointer) { addRef(); }
  ComPtr(const ComPtr& other) noexcept : m_ptr(other.m_ptr) { addRef(); }
  ComPtr(ComPtr&& other) noexcept : m_ptr(std::exchange(other.m_ptr, nullptr)) {}
  ~ComPtr() { reset(); }

  // The new pointer gains its reference before the old one is released.
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(m_ptr, other.m_ptr);
    return *this;
  }

  T* get() const noexcept { return m_ptr; }
  T* operator->() const noexcept { return m_ptr; }
  explicit operator bool() const noexcept { return m_ptr != nullptr; }

  void reset() noexcept {
    if (T* old = std::exchange(m_ptr, nullptr)) old->Release();
  }
  T** put() noexcept {
    reset();
    return &m_ptr;
  }
  void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }
  // attach: takes over the caller's reference; detach: hands ours out.
  void attach(T* pointer) noexcept {
    reset();
    m_ptr = pointer;
  }
  [[nodiscard]] T* detach() noexcept { return std::exchange(m_ptr, nullptr); }

  // copyTo: *out gets the pointer with a reference of its own (null stays null).
  HRESULT copyTo(T** out) const noexcept {
    if (out == nullptr) return E_POINTER;
    *out = m_ptr;
    addRef();
    return S_OK;
  }
  // query: the held object asked for U; a null holder on any failure.
  template <typename U>
  ComPtr<U> query() const noexcept {
    ComPtr<U> result;
    if (m_ptr != nullptr && FAILED(m_ptr->QueryInterface(__uuidof(U), result.putVoid()))) {
      result.reset();
    }
    return result;
  }

 private:
  void addRef() const noexcept {
    if (m_ptr != nullptr) m_ptr->AddRef();
  }
  T* m_ptr = nullptr;
};

}  // namespace glintmark::bho
