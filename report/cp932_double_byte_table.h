#pragma once

#include <array>
#include <cstdint>

namespace murako {

// Bit c is set when BMP code point c takes two bytes in code page 932 (best-fit mappings included).
extern const std::array<uint64_t, 0x10000 / 64> kCp932DoubleByteBits;

}  // namespace murako
