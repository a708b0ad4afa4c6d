#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "protocol/helloCipher.h"
#include "tests/support/fakes.h"

namespace dorvane {
namespace {

const std::uint8_t kAddress[8] = {0x70, 0xB3, 0xD5, 0x7E, 0xD0, 0x00, 0x12, 0x34};

TEST(IdentityBytes, ModeZeroIsTheAddressModeTwoFails) {
    std::uint8_t id[7];
    ASSERT_TRUE(buildIdentityBytes(kAddress, 0, nullptr, id));
    EXPECT_EQ(0, std::memcmp(id, kAddress, 7));
    EXPECT_FALSE(buildIdentityBytes(kAddress, 2, nullptr, id));
}

TEST(IdentityBytes, UnknownDeviceInModeOneGivesTheMixingConstantsAlone) {
    test::FakeKeys keys;
    std::uint8_t id[7];
    ASSERT_TRUE(buildIdentityBytes(kAddress, 1, &keys, id));
    const std::uint32_t x = kKeyMixC1 ^ kKeyMixC3 ^ kKeyMixC5;
    const std::uint32_t y = kKeyMixC2 ^ kKeyMixC4 ^ kKeyMixC6;
    const std::uint8_t expected[7] = {static_cast<std::uint8_t>(x),       static_cast<std::uint8_t>(x >> 8),
                                      static_cast<std::uint8_t>(x >> 16), static_cast<std::uint8_t>(x >> 24),
                                      static_cast<std::uint8_t>(y),       static_cast<std::uint8_t>(y >> 8),
                                      static_cast<std::uint8_t>(y >> 16)};
    EXPECT_EQ(0, std::memcmp(id, expected, 7));
}

TEST(IdentityBytes, ModeOneUsesTheWordsTheDerivationNames) {
    // Only K1.w0 set: A = w0 enters X directly and Y through its top byte.
    test::FakeKeys keys;
    test::FakeKeyRecord r{};
    std::memcpy(r.address, kAddress, 8);
    r.nwk[0] = 0x01;
    r.nwk[3] = 0x80;  // K1.w0 = 0x80000001
    keys.records.push_back(r);
    std::uint8_t id[7];
    ASSERT_TRUE(buildIdentityBytes(kAddress, 1, &keys, id));
    const std::uint32_t x = 0x80000001u ^ kKeyMixC1 ^ kKeyMixC3 ^ kKeyMixC5;
    const std::uint32_t y = 0x80u ^ kKeyMixC2 ^ kKeyMixC4 ^ kKeyMixC6;
    EXPECT_EQ(id[0], static_cast<std::uint8_t>(x));
    EXPECT_EQ(id[3], static_cast<std::uint8_t>(x >> 24));
    EXPECT_EQ(id[4], static_cast<std::uint8_t>(y));
    EXPECT_EQ(id[6], static_cast<std::uint8_t>(y >> 16));
}

TEST(HelloCipher, SubstitutionTableIsAPermutation) {
    std::set<int> seen(kHelloSubstitution, kHelloSubstitution + 256);
    EXPECT_EQ(seen.size(), 256u);
    EXPECT_EQ(kHelloSubstitution[0x00], 0x20);
    EXPECT_EQ(kHelloSubstitution[0xFF], 0x3B);
    EXPECT_EQ(kHelloSubstitution[0x7A], 0x4D);
}

TEST(HelloCipher, NonceChangesTheBlockAndEveryInputByteMatters) {
    const std::uint8_t identity[7] = {1, 2, 3, 4, 5, 6, 7};
    const std::uint8_t n1[4] = {0, 0, 0, 0}, n2[4] = {0, 0, 0, 1};
    std::uint8_t a[8], b[8];
    buildHelloAnswerBlock(identity, 5, n1, a);
    buildHelloAnswerBlock(identity, 5, n2, b);
    EXPECT_NE(0, std::memcmp(a, b, 8));
    // The minutes byte, last before masking, reaches the whole block.
    buildHelloAnswerBlock(identity, 0, n1, b);
    int differing = 0;
    for (int i = 0; i < 8; ++i) differing += a[i] != b[i];
    EXPECT_GE(differing, 6);
}

TEST(HelloCipher, MaskingIsTheNonceTwice) {
    // Enciphering is a function of the masked block and the nonce: masking by
    // hand and enciphering gives the same block.
    const std::uint8_t identity[7] = {9, 8, 7, 6, 5, 4, 3};
    const std::uint8_t nonce[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    std::uint8_t viaBuild[8];
    buildHelloAnswerBlock(identity, 30, nonce, viaBuild);
    std::uint8_t byHand[8] = {9 ^ 0xDE, 8 ^ 0xAD, 7 ^ 0xBE, 6 ^ 0xEF, 5 ^ 0xDE, 4 ^ 0xAD, 3 ^ 0xBE, 30 ^ 0xEF};
    helloEncipher(byHand, nonce);
    EXPECT_EQ(0, std::memcmp(viaBuild, byHand, 8));
}

// A wire-contract guard: devices in the field decipher exactly this. If this
// vector changes, every deployed device stops understanding the host.
TEST(HelloCipher, FixedVector) {
    const std::uint8_t identity[7] = {0x70, 0xB3, 0xD5, 0x7E, 0xD0, 0x00, 0x12};
    const std::uint8_t nonce[4] = {0x01, 0x02, 0x03, 0x04};
    std::uint8_t block[8];
    buildHelloAnswerBlock(identity, 5, nonce, block);
    const std::vector<std::uint8_t> got(block, block + 8);
    EXPECT_EQ(got, (std::vector<std::uint8_t>{0xFA, 0xC7, 0xAD, 0x21, 0x29, 0xEE, 0x01, 0x07}));
}

}  // namespace
}  // namespace dorvane
