// The reflected CRC-32 byte step (polynomial 0xEDB88320, no inversion before
// or after). The frame scrambler and the package descrambler are built on it.
#pragma once

#include <array>
#include <cstdint>

namespace dorvane {

namespace detail {
constexpr std::array<std::uint32_t, 256> makeCrc32Table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1u) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        table[i] = c;
    }
    return table;
}
}  // namespace detail

inline constexpr std::array<std::uint32_t, 256> kCrc32Table = detail::makeCrc32Table();

constexpr std::uint32_t crc32Step(std::uint32_t reg, std::uint8_t b) {
    return kCrc32Table[(reg ^ b) & 0xFFu] ^ (reg >> 8);
}

}  // namespace dorvane
