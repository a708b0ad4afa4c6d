// The device's side of the hello answer: the inverse of the hello cipher, and
// the unmasking that gives back the identity bytes and the connecting minutes.
#pragma once

#include <cstdint>

namespace dorvane::devsim {

// Undoes helloEncipher in place. The cipher is a chain of 60 steps, each of
// which XORs one block byte with a substitution of bytes that the step leaves
// alone; every step is therefore its own inverse, and replaying the chain
// backwards with the same key bytes restores the block.
void helloDecipher(std::uint8_t block[8], const std::uint8_t nonce[4]);

// Deciphers an 8-byte hello answer block and removes the nonce mask:
// identity bytes 0..6 and the connecting minutes.
void openHelloAnswer(const std::uint8_t block[8], const std::uint8_t nonce[4], std::uint8_t identity[7],
                     std::uint8_t& minutes);

}  // namespace dorvane::devsim
