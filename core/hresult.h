// HResult: the COM result codes that the portable code returns.
//
// core/ never includes <windows.h>, yet the page pass answers with the same
// codes that the browser's interfaces and the COM runtime use, so that the COM
// adapter passes them through unchanged. The values are Windows' own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <type_traits>

namespace glintmark {

using HResult = std::int32_t;

namespace hr {
inline constexpr HResult ok = 0;                                          // S_OK
inline constexpr HResult falseResult = 1;                                 // S_FALSE
inline constexpr HResult notImplemented = static_cast<HResult>(0x80004001);  // E_NOTIMPL
inline constexpr HResult noInterface = static_cast<HResult>(0x80004002);     // E_NOINTERFACE
inline constexpr HResult pointer = static_cast<HResult>(0x80004003);         // E_POINTER
inline constexpr HResult fail = static_cast<HResult>(0x80004005);            // E_FAIL
inline constexpr HResult outOfMemory = static_cast<HResult>(0x8007000E);     // E_OUTOFMEMORY
inline constexpr HResult invalidArg = static_cast<HResult>(0x80070057);      // E_INVALIDARG
inline constexpr HResult dispException = static_cast<HResult>(0x80020009);   // DISP_E_EXCEPTION
inline constexpr HResult typeMismatch = static_cast<HResult>(0x80020005);    // DISP_E_TYPEMISMATCH
inline constexpr HResult overflow = static_cast<HResult>(0x8002000A);        // DISP_E_OVERFLOW
inline constexpr HResult noAggregation = static_cast<HResult>(0x80040110);   // CLASS_E_NOAGGREGATION
inline constexpr HResult classNotAvailable = static_cast<HResult>(0x80040111);  // CLASS_E_CLASSNOTAVAILABLE
}  // namespace hr

constexpr bool succeeded(HResult result) { return result >= 0; }
constexpr bool failed(HResult result) { return result < 0; }

// hresultText: the code as reports and messages write it, "0x80004005".
inline std::string hresultText(HResult result) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(result));
  return text;
}

// HRESULT_FROM_WIN32: a Win32 error code as an HResult (0 stays S_OK).
constexpr HResult fromWin32(std::uint32_t error) {
  return error == 0 ? hr::ok
                    : static_cast<HResult>((error & 0x0000FFFFu) | (7u << 16) | 0x80000000u);
}

// isResultCode<T>: whether T is a COM result code: our HResult, or Windows'
// HRESULT (a 32-bit long). Other types are refused, so that neither a Win32
// error code (an unsigned reg::Status) nor a bool can pass for success.
template <typename T>
inline constexpr bool isResultCode =
    std::is_same_v<T, HResult> || (std::is_same_v<T, long> && sizeof(long) == sizeof(HResult));

}  // namespace glintmark

// Evaluates expr, an HResult or HRESULT, once; returns its result from the
// calling function when it failed.
#define GLINTMARK_RETURN_IF_FAILED(expr)                                                    \
  do {                                                                                      \
    const auto gmResult_ = (expr);                                                          \
    static_assert(::glintmark::isResultCode<std::remove_const_t<decltype(gmResult_)>>,      \
                  "GLINTMARK_RETURN_IF_FAILED takes an HRESULT");                           \
    if (::glintmark::failed(gmResult_)) return gmResult_;                                   \
  } while (false)
