#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "firmware/firmwareImage.h"

namespace dorvane::firmware {
namespace {

struct Block {
    unsigned length;
    std::uint32_t address;
    bool operator==(const Block&) const = default;
};

std::vector<Block> blocksOf(const FirmwareImage& image) {
    std::vector<Block> blocks;
    for (std::uint32_t i = 0; i < image.builtBlockCount(); ++i) {
        std::uint8_t length = 0;
        std::uint32_t address = 0;
        const std::uint8_t* data = nullptr;
        EXPECT_TRUE(image.builtBlock(i, length, address, data));
        blocks.push_back({length, address});
    }
    return blocks;
}

std::string pairs(unsigned count, unsigned first = 0) {
    std::string line;
    char buffer[4];
    for (unsigned i = 0; i < count; ++i) {
        std::snprintf(buffer, sizeof buffer, "%02X", (first + i) & 0xFFu);
        if (i > 0) line += ' ';
        line += buffer;
    }
    return line;
}

struct CuttingCase {
    const char* what;
    std::vector<std::string> lines;
    bool ok;
    std::vector<Block> blocks;
};

TEST(ImageBlocks, CuttingWithSixteenByteBlocks) {
    const CuttingCase cases[] = {
        {"twenty bytes", {"@F000", pairs(20), "q"}, true, {{16, 0xF000}, {4, 0xF010}}},
        {"sixteen bytes: a block of 0 at the q", {"@F000", pairs(16), "q"}, true, {{16, 0xF000}, {0, 0xF010}}},
        {"two sections", {"@1000", pairs(10), "@2000", pairs(10), "q"}, true, {{10, 0x1000}, {10, 0x2000}}},
        {"no q: the partial block is dropped", {"@F000", pairs(20)}, true, {{16, 0xF000}}},
        {"data split over lines", {"@F000", pairs(8), pairs(8, 8), pairs(1, 16), "q"}, true,
         {{16, 0xF000}, {1, 0xF010}}},
        {"lines after q are ignored", {"@F000", pairs(2), "q", "nonsense"}, true, {{2, 0xF000}}},
        {"empty line after the address is ignored", {"@F000", "", pairs(2), "", "q"}, true, {{2, 0xF000}}},
        {"lower-case digits", {"@f0a0", "aa bb cc", "q"}, true, {{3, 0xF0A0}}},
        {"blanks around the address", {"@ F000 ", "01", "q"}, true, {{1, 0xF000}}},
        {"digits not separated by blanks", {"@0", "0102030405", "q"}, true, {{5, 0}}},
        {"empty text", {}, true, {}},
        {"only q", {"q"}, true, {{0, 0}}},
        {"empty line before the first address", {"", "@F000", "01", "q"}, false, {}},
        {"data before the first address", {"01 02", "q"}, false, {}},
        {"address not hexadecimal", {"@F00G", "01", "q"}, false, {}},
        {"address missing", {"@", "01", "q"}, false, {}},
        {"address beyond 32 bits", {"@100000000", "01", "q"}, false, {}},
        {"non-hexadecimal data", {"@F000", "01 0x", "q"}, false, {}},
        {"odd number of digits at the q", {"@F000", "01 2", "q"}, false, {}},
        {"odd number of digits at the next address", {"@F000", "012", "@F100", "q"}, false, {}},
    };
    for (const CuttingCase& c : cases) {
        FirmwareImage image;
        EXPECT_EQ(buildImageBlocks(c.lines, 16, image), c.ok) << c.what;
        if (c.ok) {
            EXPECT_EQ(blocksOf(image), c.blocks) << c.what;
        }
    }
}

TEST(ImageBlocks, BytesTakeTwoDigitsFirstDigitHigh) {
    FirmwareImage image;
    ASSERT_TRUE(buildImageBlocks({"@10", "A5 0f F0", "q"}, 16, image));
    image.setValid(true);
    std::uint8_t length = 0;
    std::uint32_t address = 0;
    const std::uint8_t* data = nullptr;
    ASSERT_TRUE(image.block(0, length, address, data));
    ASSERT_EQ(length, 3);
    EXPECT_EQ(address, 0x10u);
    EXPECT_EQ(data[0], 0xA5);
    EXPECT_EQ(data[1], 0x0F);
    EXPECT_EQ(data[2], 0xF0);
}

TEST(ImageBlocks, FullBlocksOfTheLargestSizes) {
    for (unsigned size : {71u, 73u, 255u}) {
        FirmwareImage image;
        ASSERT_TRUE(buildImageBlocks({"@0", pairs(size), pairs(1), "q"}, static_cast<std::uint8_t>(size), image));
        EXPECT_EQ(blocksOf(image), (std::vector<Block>{{size, 0}, {1, size}})) << size;
    }
    FirmwareImage image;
    EXPECT_FALSE(buildImageBlocks({"@0", "01", "q"}, 0, image)) << "no block size, no image";
}

TEST(ImageChecksum, OverTheFlashSize) {
    FirmwareImage image;
    EXPECT_EQ(image.computeChecksum("256k"), 66846720u);
    const std::uint8_t zero = 0, ff = 0xFF, bytes[2] = {0x01, 0x10};
    image.appendBlock(0, &zero, 1);
    EXPECT_EQ(image.computeChecksum("256k"), 66846720u - 255u);
    image.appendBlock(1, &ff, 1);
    EXPECT_EQ(image.computeChecksum("256k"), 66846720u - 255u) << "0xFF is what an unwritten byte holds";
    image.appendBlock(2, bytes, 2);
    EXPECT_EQ(image.computeChecksum("256k"), 66846720u - 255u - 254u - 239u);

    FirmwareImage empty;
    const struct {
        const char* text;
        std::uint32_t checksum;
    } sizes[] = {
        {"64k", 255u * 65536u},   {"96k", 255u * 98304u},   {"128k", 255u * 131072u}, {"192k", 255u * 196608u},
        {"256k", 255u * 262144u}, {"384k", 255u * 393216u}, {"512k", 255u * 524288u}, {"32k", 0},
        {"", 0},                  {"256K", 0},
    };
    for (const auto& s : sizes) EXPECT_EQ(empty.computeChecksum(s.text), s.checksum) << s.text;
}

TEST(ImageChecksum, WrapsInThirtyTwoBits) {
    // 255 x 512 KB fits; a sum beyond it wraps rather than saturating.
    FirmwareImage image;
    std::vector<std::uint8_t> zeros(255, 0);
    for (int i = 0; i < 600000 / 255 + 1; ++i) image.appendBlock(0, zeros.data(), 255);
    const std::uint32_t removed = static_cast<std::uint32_t>(image.builtBlockCount() * 255u * 255u);
    EXPECT_EQ(image.computeChecksum("64k"), 255u * 65536u - removed);
}

TEST(FirmwareImage, VersionRecordRange) {
    FirmwareImage image;
    EXPECT_TRUE(image.storeVersion(99, 99, 99, 0xFFFFFF, 12));
    EXPECT_EQ(image.version().build, 0xFFFFFFu);
    EXPECT_TRUE(image.isConfigurationPackage());
    for (auto [ma, mi, co, build] : std::vector<std::tuple<int, int, int, std::uint32_t>>{
             {100, 0, 0, 0}, {0, 100, 0, 0}, {0, 0, 100, 0}, {0, 0, 0, 0x1000000}}) {
        EXPECT_FALSE(image.storeVersion(static_cast<std::uint16_t>(ma), static_cast<std::uint16_t>(mi),
                                        static_cast<std::uint16_t>(co), build, 1));
        EXPECT_EQ(image.version().major, 99) << "nothing stored";
        EXPECT_EQ(image.version().configuration, 12);
    }
    image.resetVersion();
    EXPECT_EQ(image.version().major, 0);
    EXPECT_EQ(image.version().configuration, kNoConfiguration);
    EXPECT_FALSE(image.isConfigurationPackage());
}

TEST(FirmwareImage, AnInvalidImageReadsAsNoImage) {
    FirmwareImage image;
    const std::uint8_t byte = 0x42;
    image.appendBlock(0x100, &byte, 1);
    std::uint8_t length = 0;
    std::uint32_t address = 0;
    const std::uint8_t* data = nullptr;
    EXPECT_FALSE(image.isValid()) << "nothing loaded yet";
    EXPECT_EQ(image.blockCount(), 0u);
    EXPECT_FALSE(image.block(0, length, address, data));
    image.setValid(true);
    EXPECT_EQ(image.blockCount(), 1u);
    EXPECT_TRUE(image.block(0, length, address, data));
    EXPECT_FALSE(image.block(1, length, address, data));
    image.clearBlocks();
    EXPECT_EQ(image.blockCount(), 0u);
}

}  // namespace
}  // namespace dorvane::firmware
