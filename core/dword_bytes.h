// dwordBytes / dwordFromBytes: a REG_DWORD's data, the number as four
// little-endian bytes whatever the byte order of the machine.
//
//   dwordBytes(0x12345678) == {0x78, 0x56, 0x34, 0x12}
#pragma once

#include <array>
#include <cstdint>

namespace glintmark {

constexpr std::array<std::uint8_t, 4> dwordBytes(std::uint32_t number) {
  return {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
          static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
}

constexpr std::uint32_t dwordFromBytes(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

static_assert(dwordBytes(0x12345678) == std::array<std::uint8_t, 4>{0x78, 0x56, 0x34, 0x12});
static_assert(dwordFromBytes(dwordBytes(0x89ABCDEF).data()) == 0x89ABCDEF);

}  // namespace glintmark
