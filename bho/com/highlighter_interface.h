// IHighlighter: the dual interface of the Highlighter class, as the type
// library SHEENPADLib describes it. It adds no members to IDispatch; the
// browser's events reach the object through its Invoke.
//
// Declared by hand so that the object's code does not depend on a generated
// header; the IID must match the type library's.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace glintmark::bho {

// {5A7D3C1C-4E2B-11D5-9F31-0050DA2B7E10}
inline constexpr IID kIidIHighlighter = {
    0x5a7d3c1c, 0x4e2b, 0x11d5, {0x9f, 0x31, 0x00, 0x50, 0xda, 0x2b, 0x7e, 0x10}};
// {5A7D3C1D-4E2B-11D5-9F31-0050DA2B7E10}: the Highlighter class.
inline constexpr CLSID kClsidHighlighter = {
    0x5a7d3c1d, 0x4e2b, 0x11d5, {0x9f, 0x31, 0x00, 0x50, 0xda, 0x2b, 0x7e, 0x10}};
// {5A7D3C10-4E2B-11D5-9F31-0050DA2B7E10}: the type library SHEENPADLib 1.0.
inline constexpr GUID kLibidSheenpad = {
    0x5a7d3c10, 0x4e2b, 0x11d5, {0x9f, 0x31, 0x00, 0x50, 0xda, 0x2b, 0x7e, 0x10}};

struct IHighlighter : public IDispatch {};

}  // namespace glintmark::bho

__CRT_UUID_DECL(glintmark::bho::IHighlighter, 0x5a7d3c1c, 0x4e2b, 0x11d5, 0x9f, 0x31, 0x00, 0x50, 0xda,
                0x2b, 0x7e, 0x10)
