// The frame scrambler that masks GWR and PWR data. Built on the CRC-32 byte
// step; restarted before every frame, so every frame starts the same key
// stream. Only the low byte of the transfer seed enters.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/crc32.h"

namespace dorvane {

class FrameScrambler {
public:
    static constexpr std::uint32_t kStart = 0x4C2A96E0u;

    void restart(std::uint16_t seed) { reg_ = crc32Step(kStart, static_cast<std::uint8_t>(seed & 0xFFu)); }

    // Host side: the register absorbs each scrambled byte.
    void scramble(std::uint8_t* bytes, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            bytes[i] = static_cast<std::uint8_t>(bytes[i] ^ (reg_ & 0xFFu));
            reg_ = crc32Step(reg_, bytes[i]);
        }
    }

    // Device side: the same rule, fed with the received (scrambled) bytes.
    void descramble(std::uint8_t* bytes, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t received = bytes[i];
            bytes[i] = static_cast<std::uint8_t>(received ^ (reg_ & 0xFFu));
            reg_ = crc32Step(reg_, received);
        }
    }

    std::uint32_t registerValue() const { return reg_; }

private:
    std::uint32_t reg_ = 0;
};

}  // namespace dorvane
