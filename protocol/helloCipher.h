// The hello answer block and its cipher: an 8-byte block transform of 9
// rounds over a 256-byte substitution table and a 15-byte key table whose
// first four bytes are mixed with the device nonce. The host only enciphers.
#pragma once

#include <cstdint>

#include "protocol/ports.h"

namespace dorvane {

extern const std::uint8_t kHelloSubstitution[256];
// The key table shared with the devices (defined in helloKeyTable.cpp, the one
// place that holds these bytes).
extern const std::uint8_t kHelloKeyTable[15];

constexpr std::uint32_t kKeyMixC1 = 0x2A6C49E8u;
constexpr std::uint32_t kKeyMixC2 = 0x6E91C4A2u;
constexpr std::uint32_t kKeyMixC3 = 0x94E2A07Cu;
constexpr std::uint32_t kKeyMixC4 = 0xC8A1E692u;
constexpr std::uint32_t kKeyMixC5 = 0x0F6B2D94u;
constexpr std::uint32_t kKeyMixC6 = 0x7A9E0C26u;

// Identity bytes for the sender. mode 0: the first seven address bytes; mode
// 1: derived from the device's three keys (all-zero keys when keys is null or
// holds no record); any other mode fails.
bool buildIdentityBytes(const std::uint8_t* address, std::uint8_t mode, const IKeyStore* keys,
                        std::uint8_t out[7]);

// Mode-1 derivation from the three keys (NwkSKey, AppSKey, AppKey).
void deriveIdentityBytes(const std::uint8_t k1[16], const std::uint8_t k2[16], const std::uint8_t k3[16],
                         std::uint8_t out[7]);

// Identity bytes + minutes, masked with the nonce, then enciphered.
void buildHelloAnswerBlock(const std::uint8_t identity[7], std::uint8_t minutes, const std::uint8_t nonce[4],
                           std::uint8_t out[8]);

// The cipher itself, in place, keyed by the nonce.
void helloEncipher(std::uint8_t block[8], const std::uint8_t nonce[4]);

}  // namespace dorvane
