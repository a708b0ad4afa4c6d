// The simulator's own parts: the inverse hello cipher, the flash model and
// its checksum, the two text files the program reads.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "protocol/helloCipher.h"
#include "tools/devsim/helloDecipher.h"
#include "tools/devsim/simMemory.h"
#include "tools/devsim/textFiles.h"

namespace dorvane::devsim {
namespace {

TEST(HelloDecipher, UndoesTheCipherForAnyBlockAndNonce) {
    std::mt19937_64 rng(42);
    for (int round = 0; round < 2000; ++round) {
        std::uint8_t block[8], nonce[4];
        for (auto& b : block) b = static_cast<std::uint8_t>(rng());
        for (auto& b : nonce) b = static_cast<std::uint8_t>(rng());
        std::uint8_t work[8];
        std::memcpy(work, block, 8);
        helloEncipher(work, nonce);
        helloDecipher(work, nonce);
        ASSERT_EQ(0, std::memcmp(work, block, 8)) << "round " << round;
        // And the other way round: the cipher is a permutation of blocks.
        helloDecipher(work, nonce);
        helloEncipher(work, nonce);
        ASSERT_EQ(0, std::memcmp(work, block, 8)) << "round " << round;
    }
}

TEST(HelloDecipher, ReallyDependsOnTheNonce) {
    // The wrong nonce must not open the block (else a device could not tell
    // an answer to its own hello from any other).
    std::uint8_t block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const std::uint8_t nonce[4] = {0x11, 0x22, 0x33, 0x44};
    const std::uint8_t other[4] = {0x11, 0x22, 0x33, 0x45};
    std::uint8_t work[8];
    std::memcpy(work, block, 8);
    helloEncipher(work, nonce);
    EXPECT_NE(0, std::memcmp(work, block, 8));
    helloDecipher(work, other);
    EXPECT_NE(0, std::memcmp(work, block, 8));
}

TEST(HelloDecipher, OpensTheHostsAnswerBlock) {
    const std::uint8_t identity[7] = {0x70, 0xB3, 0xD5, 0x7E, 0xD0, 0x00, 0x12};
    struct Case {
        std::uint8_t minutes;
        std::uint8_t nonce[4];
    } cases[] = {{5, {0, 0, 0, 0}}, {0, {0xDE, 0xAD, 0xBE, 0xEF}}, {255, {0xFF, 0xFF, 0xFF, 0xFF}}, {30, {1, 2, 3, 4}}};
    for (const auto& c : cases) {
        std::uint8_t block[8];
        buildHelloAnswerBlock(identity, c.minutes, c.nonce, block);
        std::uint8_t gotIdentity[7];
        std::uint8_t gotMinutes = 0;
        openHelloAnswer(block, c.nonce, gotIdentity, gotMinutes);
        EXPECT_EQ(0, std::memcmp(gotIdentity, identity, 7));
        EXPECT_EQ(gotMinutes, c.minutes);
    }
}

TEST(FlashChecksum, ErasedFlashAndSingleBytes) {
    SimMemory m;
    EXPECT_EQ(m.flashChecksum(kFlash256k), 66846720u);  // 255 × 262144
    const std::uint8_t zero = 0x00;
    m.write(0x100, &zero, 1);
    EXPECT_EQ(m.flashChecksum(kFlash256k), 66846720u - 255u);
    const std::uint8_t ff = 0xFF;
    m.write(0x200, &ff, 1);  // a written 0xFF counts like erased flash
    EXPECT_EQ(m.flashChecksum(kFlash256k), 66846720u - 255u);
    m.write(kFlash256k, &zero, 1);  // beyond the flash: not summed
    EXPECT_EQ(m.flashChecksum(kFlash256k), 66846720u - 255u);
}

TEST(FlashChecksum, DeviceAndHostAgreeForImagesInsideTheFlash) {
    std::mt19937_64 rng(3);
    std::vector<ImageBlock> blocks;
    for (std::uint32_t a = 0x4400; a < 0x4400 + 64 * 300; a += 64) {
        ImageBlock b{a, std::vector<std::uint8_t>(64)};
        for (auto& byte : b.data) byte = static_cast<std::uint8_t>(rng());
        blocks.push_back(b);
    }
    EXPECT_EQ(SimMemory::fromBlocks(blocks).flashChecksum(kFlash256k), imageChecksum(blocks, kFlash256k));
    // Overlapping blocks: the host sums both, a device holds the last.
    blocks.push_back(ImageBlock{0x4400, {0x00}});
    EXPECT_NE(SimMemory::fromBlocks(blocks).flashChecksum(kFlash256k), imageChecksum(blocks, kFlash256k));
}

TEST(SimMemoryTest, SameContentMeansSameAddressesAndBytes) {
    SimMemory a, b;
    const std::uint8_t bytes[3] = {1, 2, 3};
    a.write(0x10, bytes, 3);
    b.write(0x10, bytes, 2);
    std::uint32_t at = 0;
    ASSERT_TRUE(a.firstDifference(b, at));
    EXPECT_EQ(at, 0x12u);
    b.write(0x12, bytes + 2, 1);
    EXPECT_TRUE(a.sameContent(b));
    b.write(0x5000, bytes, 1);  // a byte written where the image has none
    ASSERT_TRUE(a.firstDifference(b, at));
    EXPECT_EQ(at, 0x5000u);
    a.write(0x5000, bytes + 1, 1);
    ASSERT_TRUE(a.firstDifference(b, at));
    EXPECT_EQ(at, 0x5000u);
}

TEST(TiTxt, SectionsBytesAndTheEnd) {
    std::vector<ImageBlock> blocks;
    std::string error;
    ASSERT_TRUE(parseTiTxt("@4400\r\n01 02 0a FF\r\n10\n@F000\n\nAB CD\nq\n@9999\n", blocks, error)) << error;
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].address, 0x4400u);
    EXPECT_EQ(blocks[0].data, (std::vector<std::uint8_t>{0x01, 0x02, 0x0A, 0xFF, 0x10}));
    EXPECT_EQ(blocks[1].address, 0xF000u);
    EXPECT_EQ(blocks[1].data, (std::vector<std::uint8_t>{0xAB, 0xCD}));
}

TEST(TiTxt, RefusesWhatItCannotRead) {
    const char* bad[] = {
        "01 02\n@4400\nq\n",  // data before any address
        "@44G0\n01\nq\n",     // bad address
        "@4400\n0 1\nq\n",    // a split byte
        "@4400\n01 XY\nq\n",  // not hexadecimal
        "@4400\n01\n",        // no end
    };
    for (const char* text : bad) {
        std::vector<ImageBlock> blocks;
        std::string error;
        EXPECT_FALSE(parseTiTxt(text, blocks, error)) << text;
        EXPECT_FALSE(error.empty());
    }
}

TEST(KeysList, ReadsTheKeptColumns) {
    const std::string text =
        "DevEUI;ABP_DevAddr;ABP_NwkSKey;ABP_AppSKey;CodeFamille;Version;OTA_AppKey;OTA_AppEUI;Unconfirmed;"
        "CodeFamillePF;Synchro;Adr\r\n"
        "70:B3:D5:7E:D0:00:12:34;;000102030405060708090A0B0C0D0E0F;101112131415161718191A1B1C1D1E1F;;;"
        "202122232425262728292A2B2C2D2E2F;x;0;0;0;0\r\n"
        "\r\n"
        "A000000000000001;26011BDA;FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF;00000000000000000000000000000000;F;1;"
        "0123456789abcdef0123456789ABCDEF\n";
    std::vector<KeyRecord> records;
    std::string error;
    ASSERT_TRUE(parseKeysList(text, records, error)) << error;
    ASSERT_EQ(records.size(), 2u);
    const std::uint8_t first[8] = {0x70, 0xB3, 0xD5, 0x7E, 0xD0, 0x00, 0x12, 0x34};
    EXPECT_EQ(0, std::memcmp(records[0].address, first, 8));
    EXPECT_EQ(records[0].nwkSKey[15], 0x0F);
    EXPECT_EQ(records[0].appSKey[0], 0x10);
    EXPECT_EQ(records[0].appKey[0], 0x20);
    EXPECT_EQ(records[1].appKey[7], 0xEF);

    EXPECT_FALSE(parseKeysList("DevEUI;x\nA000000000000001;;00;11;;;22\n", records, error));
    EXPECT_FALSE(parseKeysList("Nothing;here\n", records, error));
}

}  // namespace
}  // namespace dorvane::devsim
