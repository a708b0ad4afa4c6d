// A device's flash as the simulator models it: sparse pages of bytes with a
// mark for every byte that was written; bytes never written read as erased
// flash (0xFF). Also the image checksum over the flash size, both as a device
// computes it from what it holds and as the host computes it from its blocks.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace dorvane::devsim {

constexpr std::uint32_t kFlash256k = 262144;

// One block of an image: load address and bytes.
struct ImageBlock {
    std::uint32_t address = 0;
    std::vector<std::uint8_t> data;
};

class SimMemory {
public:
    void write(std::uint32_t address, const std::uint8_t* data, std::size_t count);
    // False when the byte was never written.
    bool read(std::uint32_t address, std::uint8_t& value) const;
    void clear() { pages_.clear(); }
    std::size_t writtenCount() const;
    bool empty() const { return pages_.empty(); }

    // 255 × F − Σ (255 − byte) over the written bytes below F: the byte sum
    // of F bytes of flash in which every byte not written is 0xFF. 32-bit,
    // wrapping.
    std::uint32_t flashChecksum(std::uint32_t flashSize) const;

    // Same bytes written at the same addresses, nothing more, nothing less.
    bool sameContent(const SimMemory& other) const;
    // The lowest address at which the two differ (written in one only, or
    // different bytes); false when they do not differ.
    bool firstDifference(const SimMemory& other, std::uint32_t& address) const;

    static SimMemory fromBlocks(const std::vector<ImageBlock>& blocks);

private:
    static constexpr std::uint32_t kPageBits = 8;
    static constexpr std::uint32_t kPageSize = 1u << kPageBits;
    struct Page {
        std::array<std::uint8_t, kPageSize> bytes{};
        std::bitset<kPageSize> written;
    };
    std::map<std::uint32_t, Page> pages_;
};

// The checksum as the host computes it from its image blocks:
// 255 × F − Σ (255 − byte) over every byte of every block, 32-bit wrapping.
// For blocks inside the first F bytes that do not overlap it equals the
// device's flashChecksum of the written image.
std::uint32_t imageChecksum(const std::vector<ImageBlock>& blocks, std::uint32_t flashSize);

}  // namespace dorvane::devsim
