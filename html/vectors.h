// Sixteen bytes at a time (eight UTF-16 units, or sixteen chars), with the
// compiler's vector extensions (GCC and Clang): SSE2 instructions on x86-64,
// SIMD128 in WebAssembly built with it, plain code where the target has no
// vectors. The text scans of the page model (the keyword search, the
// serialiser's plain runs) go through these.
#pragma once

#include <cstdint>
#include <cstring>

namespace glintmark::html::vectors {

using Units = std::uint16_t __attribute__((vector_size(16)));
using Mask = std::int16_t __attribute__((vector_size(16)));  // what comparing Units gives
using Bytes = std::uint8_t __attribute__((vector_size(8)));

// The eight units from `at` (no alignment needed).
inline Units load(const char16_t* at) {
  Units units;
  std::memcpy(&units, at, sizeof units);
  return units;
}

inline Units splat(char16_t unit) {
  return Units{unit, unit, unit, unit, unit, unit, unit, unit};
}

// Whether any lane of a comparison's result (of either kind) is set.
template <typename Vector>
inline bool any(Vector mask) {
  static_assert(sizeof(Vector) == 16);
  std::uint64_t halves[2];
  std::memcpy(halves, &mask, sizeof halves);
  return (halves[0] | halves[1]) != 0;
}

// The eight units (each below 0x100) as eight bytes at `to`.
inline void storeBytes(char* to, Units units) {
  const Bytes bytes = __builtin_convertvector(units, Bytes);
  std::memcpy(to, &bytes, sizeof bytes);
}

// The same for chars.
using Chars = std::uint8_t __attribute__((vector_size(16)));

inline Chars loadChars(const char* at) {
  Chars chars;
  std::memcpy(&chars, at, sizeof chars);
  return chars;
}

inline Chars splatChar(unsigned char c) {
  return Chars{c, c, c, c, c, c, c, c, c, c, c, c, c, c, c, c};
}

}  // namespace glintmark::html::vectors
