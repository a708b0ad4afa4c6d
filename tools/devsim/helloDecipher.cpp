#include "tools/devsim/helloDecipher.h"

#include <cstring>

#include "protocol/helloCipher.h"

namespace dorvane::devsim {

namespace {
constexpr int kKeyBytesPerBlock = 9 * 4 + 8 * 3;  // 60
}

void helloDecipher(std::uint8_t d[8], const std::uint8_t nonce[4]) {
    // The key bytes in the order the cipher takes them: the 15-byte table,
    // its first four bytes mixed with the nonce, run through four times.
    std::uint8_t key[kKeyBytesPerBlock];
    for (int i = 0; i < kKeyBytesPerBlock; ++i) {
        const int index = i % 15;
        key[i] = index < 4 ? static_cast<std::uint8_t>(kHelloKeyTable[index] ^ nonce[index]) : kHelloKeyTable[index];
    }
    const std::uint8_t* s = kHelloSubstitution;
    int k = kKeyBytesPerBlock;
    for (int round = 8; round >= 0; --round) {
        if (round < 8) {
            // The four cross steps of this round, last one first.
            d[0] ^= s[static_cast<std::uint8_t>(key[--k] ^ d[7])];
            d[3] ^= s[static_cast<std::uint8_t>(key[--k] ^ d[6])];
            d[2] ^= s[static_cast<std::uint8_t>(d[4] ^ d[5])];
            d[1] ^= s[static_cast<std::uint8_t>(key[--k] ^ d[4])];
        }
        for (int j = 3; j >= 0; --j) d[4 + j] ^= s[static_cast<std::uint8_t>(key[--k] ^ d[j])];
    }
}

void openHelloAnswer(const std::uint8_t block[8], const std::uint8_t nonce[4], std::uint8_t identity[7],
                     std::uint8_t& minutes) {
    std::uint8_t d[8];
    std::memcpy(d, block, 8);
    helloDecipher(d, nonce);
    for (int i = 0; i < 4; ++i) {
        d[i] ^= nonce[i];
        d[4 + i] ^= nonce[i];
    }
    std::memcpy(identity, d, 7);
    minutes = d[7];
}

}  // namespace dorvane::devsim
