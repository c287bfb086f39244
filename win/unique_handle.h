// UniqueHandle<T, Deleter>: the owner of one Windows handle (HKEY, HMODULE,
// BSTR, a kernel HANDLE), freed when the owner goes. WIL's unique_any does
// the same, but WIL does not build with MinGW.
//
//   UniqueHkey key;
//   if (RegOpenKeyExA(HKEY_CLASSES_ROOT, name, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <utility>

namespace glintmark {

// UniqueHandle: owns one handle of type T and frees it with Deleter{}(handle)
// unless it is the null value T{}.
template <typename T, typename Deleter>
class UniqueHandle {
 public:
  UniqueHandle() noexcept = default;
  explicit UniqueHandle(T handle) noexcept : m_handle(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : m_handle(std::exchange(other.m_handle, T{})) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(std::exchange(other.m_handle, T{}));
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  T get() const noexcept { return m_handle; }
  explicit operator bool() const noexcept { return m_handle != T{}; }
  void reset(T handle = T{}) noexcept {
    if (T old = std::exchange(m_handle, handle); old != T{}) Deleter{}(old);
  }
  T* put() noexcept {
    reset();
    return &m_handle;
  }
  [[nodiscard]] T release() noexcept { return std::exchange(m_handle, T{}); }

 private:
  T m_handle{};
};

struct BstrDeleter {
  void operator()(BSTR text) const noexcept { SysFreeString(text); }
};
struct HkeyDeleter {
  void operator()(HKEY key) const noexcept { RegCloseKey(key); }
};
struct HmoduleDeleter {
  void operator()(HMODULE module) const noexcept { FreeLibrary(module); }
};

struct KernelHandleDeleter {
  void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};

using UniqueBstr = UniqueHandle<BSTR, BstrDeleter>;
using UniqueHkey = UniqueHandle<HKEY, HkeyDeleter>;
using UniqueHmodule = UniqueHandle<HMODULE, HmoduleDeleter>;
using UniqueKernelHandle = UniqueHandle<HANDLE, KernelHandleDeleter>;

}  // namespace glintmark
