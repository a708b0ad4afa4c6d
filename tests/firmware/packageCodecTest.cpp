#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "firmware/packageCodec.h"

namespace dorvane::firmware {
namespace {

// The walk written out independently: the CRC-32 step bit by bit, the mask
// from the low five bits (never 0), the register absorbing the encoded
// character sign-extended.
struct ReferenceDecoder {
    std::uint32_t r;
    std::uint8_t decode(std::uint8_t c) {
        r ^= (c & 0xE0u);
        for (int k = 0; k < 8; ++k) r = (r & 1u) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
        std::uint8_t m = r & 0x1Fu;
        if (m == 0) m = 0x1F;
        r ^= (c & 0x80u) ? (0xFFFFFF00u | c) : c;
        return c ^ m;
    }
};

TEST(PackageDescrambler, SetRegisterTakesNonzeroValuesAndMapsZeroTo31) {
    PackageDescrambler d;
    EXPECT_TRUE(d.setRegister(0x12345678u));
    EXPECT_EQ(d.reg(), 0x12345678u);
    EXPECT_FALSE(d.setRegister(0));
    EXPECT_EQ(d.reg(), 31u);
}

TEST(PackageDescrambler, DecodesLikeTheWalkWrittenOutBitByBit) {
    for (std::uint32_t seed : {kHeaderSeed, kKeyMask, 1u, 0xFFFFFFFFu}) {
        PackageDescrambler d;
        d.setRegister(seed);
        ReferenceDecoder ref{seed};
        // Every byte value, twice, so characters of 0x80 and above feed the register too.
        for (int round = 0; round < 2; ++round) {
            for (int c = 0; c < 256; ++c) {
                ASSERT_EQ(d.decode(static_cast<std::uint8_t>(c)), ref.decode(static_cast<std::uint8_t>(c)))
                    << "seed " << seed << " character " << c;
                ASSERT_EQ(d.reg(), ref.r);
            }
        }
    }
}

TEST(PackageDescrambler, EncodingIsUndoneByDecodingAndKeepsTheUpperBits) {
    PackageDescrambler encoder, decoder;
    encoder.setRegister(0xCAFEBABEu);
    decoder.setRegister(0xCAFEBABEu);
    for (int i = 0; i < 4096; ++i) {
        const std::uint8_t plain = static_cast<std::uint8_t>(i * 37 + i / 256);
        const std::uint8_t encoded = encoder.encode(plain);
        EXPECT_EQ(encoded & 0xE0, plain & 0xE0);
        EXPECT_NE(encoded, plain) << "the mask is never 0";
        ASSERT_EQ(decoder.decode(encoded), plain);
    }
}

TEST(PackageCodec, HeaderTextAndKey) {
    std::uint32_t value = 0;
    EXPECT_TRUE(parseHeaderText("0d4C9e23", value));
    EXPECT_EQ(value, kKeyMask);
    EXPECT_EQ(headerKey(value), kKeyMask) << "value equal to the mask gives the mask, not 0";
    EXPECT_EQ(headerKey(0), kKeyMask);
    EXPECT_EQ(headerKey(0x0D4C9E22u), 1u);
    EXPECT_FALSE(parseHeaderText("1234567G", value));
    EXPECT_FALSE(parseHeaderText(" 1234567", value));
    EXPECT_FALSE(parseHeaderText("1234567", value));
}

TEST(PackageCodec, HeadersWithTheSameKeyEncodeTheBodyAlike) {
    const std::vector<std::string> text = {"@F000", "01 02 03", "q"};
    const auto withMask = encodePackageLines(text, "V1.2.3.4_PROD", "0D4C9E23");
    const auto withZero = encodePackageLines(text, "V1.2.3.4_PROD", "00000000");
    ASSERT_EQ(withMask.size(), withZero.size());
    EXPECT_NE(withMask[0].substr(0, 8), withZero[0].substr(0, 8));
    EXPECT_EQ(withMask[0].substr(8), withZero[0].substr(8));
    for (std::size_t i = 1; i + 1 < withMask.size(); ++i) EXPECT_EQ(withMask[i], withZero[i]);
    EXPECT_NE(withMask.back(), withZero.back()) << "the trailers differ";
    // Both decode, each to its own header.
    for (auto lines : {withMask, withZero}) {
        PackageDescrambler d;
        EXPECT_EQ(decodePackage(d, lines, "V1.2.3.4_PROD"), DecodeResult::Ok);
        EXPECT_EQ(lines, text);
    }
}

TEST(PackageCodec, DecodingDependsOnNothingThatRanBefore) {
    const std::vector<std::string> text = {"@0000", "aa bb cc", "q"};
    const auto package = encodePackageLines(text, "V1.0.0.0_P", "89ABCDEF");
    PackageDescrambler d;
    d.setRegister(0x55555555u);
    for (int round = 0; round < 2; ++round) {
        auto lines = package;
        ASSERT_EQ(decodePackage(d, lines, "V1.0.0.0_P"), DecodeResult::Ok);
        EXPECT_EQ(lines, text);
    }
}

TEST(PackageCodec, TrailerIsCutFromTheLastLineWhateverItHolds) {
    // A last line that is the trailer alone leaves an empty line.
    auto lines = encodePackageLines({"@0000", "00", "q", ""}, "N", "00000001");
    PackageDescrambler d;
    EXPECT_EQ(decodePackage(d, lines, "N"), DecodeResult::Ok);
    EXPECT_EQ(lines, (std::vector<std::string>{"@0000", "00", "q", ""}));

    // A last line shorter than eight characters is taken whole as the trailer.
    auto shortTrailer = encodePackageLines({"q"}, "N", "00000001", "0001");
    EXPECT_EQ(decodePackage(d, shortTrailer, "N"), DecodeResult::Corrupted);
}

}  // namespace
}  // namespace dorvane::firmware
