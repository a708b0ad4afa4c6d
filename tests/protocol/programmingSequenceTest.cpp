#include <gtest/gtest.h>

#include "protocol/frameScrambler.h"
#include "tests/protocol/sequenceFixture.h"

namespace dorvane {
namespace {

using test::kDeg;

struct ProgrammingTest : test::SequenceTest {
    void SetUp() override {
        test::SequenceTest::SetUp();
        image.record.configuration = 12;
        imageOfBlocks(4, 8, 0x1800);
    }
};

TEST_F(ProgrammingTest, OnlyTheFirstDeviceIsProgrammedBlockByBlock) {
    admitAndStart(2);
    std::vector<std::pair<int, std::uint32_t>> writes;
    while (cycleUntilSent()) {
        auto f = sent(link.frames.size() - 1);
        EXPECT_EQ(deviceOf(f), 0);
        if (f.type == kMsgPMR) answer(0, kMsgPMR, 0);
        if (f.type == kMsgPWR) {
            writes.push_back({f.type, f.parameter});
            answer(0, kMsgPWR, 0);
        }
        if (f.type == kMsgPIN) answer(0, kMsgPIN, 0);
    }
    EXPECT_EQ(writes, (std::vector<std::pair<int, std::uint32_t>>{
                          {kMsgPWR, 0x1800}, {kMsgPWR, 0x1808}, {kMsgPWR, 0x1810}, {kMsgPWR, 0x1818}}));
    EXPECT_TRUE(capture.contains("SSTP - App Host : Programming memory now !"));
    EXPECT_TRUE(capture.contains("SSTP - App Host : Parameters have been downloaded !!"));
    EXPECT_EQ(host->entry(0).status, AppHost::kLaunched);
    EXPECT_EQ(console.events.back(), kIdle);
}

TEST_F(ProgrammingTest, RefusedPmrEndsAfterEightSends) {
    for (std::uint8_t mode : {1, 0}) {
        SCOPED_TRACE(static_cast<int>(mode));
        test::HostFixture f;
        f.settings.transfertMode = mode;
        f.image.record.configuration = 12;
        f.image.blocks = {{0x1800, {1, 2}}};
        f.host->hostCycle();
        auto a = test::deviceAddress(0);
        test::DeviceFrames dev(a.data());
        const std::uint8_t nonce[4] = {0, 0, 0, 0};
        f.feed(dev.request(test::kSeqHost, kMsgELO, 0, test::helloPayload(nonce, 1, 0, 0, 0, 5, "PROD")));
        while (f.host->state() != AppHost::kTransferring) f.run(1);
        int pmrs = 0;
        for (int ms = 0; ms < 10000 && f.host->isActive(); ++ms) {
            const auto before = f.link.frames.size();
            f.run(1);
            if (f.link.frames.size() > before && f.lastSent().type == kMsgPMR) {
                ++pmrs;
                if (pmrs % 2) f.feed(dev.answer(test::kSeqHost, kMsgPMR, 1, 0));  // refuse half, ignore half
            }
        }
        EXPECT_EQ(pmrs, 8);
        EXPECT_TRUE(f.capture.contains("SSTP - App Host : MSG PMR TRS On retry n" + kDeg + "8 for device n" + kDeg + "0"));
        EXPECT_FALSE(f.capture.contains("SSTP - App Host : MSG PMR TRS On retry n" + kDeg + "9 for device n" + kDeg + "0"));
        EXPECT_EQ(f.capture.count("SSTP - App Host : MSG PMR RCV + Status NOK"), 4);
        EXPECT_TRUE(f.capture.contains(mode == 1 ? std::string("SSTP - App Host : Authenticate keys seem to be wrong")
                                                 : "SSTP - App Host : MSG PMR TRS too much retry for device n" + kDeg + "0"));
    }
}

TEST_F(ProgrammingTest, RefusedPwrSendsTheSameBlockAgainUntilTheLimit) {
    admitAndStart(1);
    ASSERT_TRUE(cycleUntilSent());
    answer(0, kMsgPMR, 0);
    std::vector<std::uint32_t> addresses;
    while (cycleUntilSent()) {
        auto f = sent(link.frames.size() - 1);
        ASSERT_EQ(f.type, kMsgPWR);
        addresses.push_back(f.parameter);
        answer(0, kMsgPWR, 3);
    }
    EXPECT_EQ(addresses, std::vector<std::uint32_t>(8, 0x1800));
    EXPECT_EQ(capture.count("SSTP - App Host : MSG PWR RCV + Status NOK"), 8);
    EXPECT_TRUE(capture.contains("SSTP - App Host : MSG PWR TRS too much retry for device n" + kDeg + "0"));
}

TEST_F(ProgrammingTest, JammerModeOneMasksTheSeedAndScramblesEveryPwr) {
    for (std::uint8_t mode : {1, 0}) {
        SCOPED_TRACE(static_cast<int>(mode));
        settings.jammerMode = mode;
        link.frames.clear();
        host->giveUp();
        admitAndStart(1);
        ASSERT_TRUE(cycleUntilSent());
        auto pmr = sent(link.frames.size() - 1);
        if (mode == 1) {
            const std::uint16_t masked = host->transferSeed() ^ AppHost::kSeedMask;
            EXPECT_EQ(pmr.payload, (std::vector<std::uint8_t>{1, static_cast<std::uint8_t>(masked),
                                                              static_cast<std::uint8_t>(masked >> 8)}));
        } else {
            EXPECT_EQ(pmr.payload, std::vector<std::uint8_t>{0});
        }
        answer(0, kMsgPMR, 0);
        for (int block = 0; block < 2; ++block) {
            ASSERT_TRUE(cycleUntilSent());
            auto pwr = sent(link.frames.size() - 1);
            std::vector<std::uint8_t> expected = image.blocks[block].data;
            if (mode == 1) {
                FrameScrambler s;
                s.restart(host->transferSeed());
                s.scramble(expected.data(), expected.size());
            }
            EXPECT_EQ(pwr.payload, expected);
            answer(0, kMsgPWR, 0);
        }
    }
}

TEST_F(ProgrammingTest, PinRetriesThenEnds) {
    admitAndStart(1);
    ASSERT_TRUE(cycleUntilSent());
    answer(0, kMsgPMR, 0);
    int pins = 0;
    while (cycleUntilSent()) {
        auto f = sent(link.frames.size() - 1);
        if (f.type == kMsgPWR) answer(0, kMsgPWR, 0);
        if (f.type == kMsgPIN) {
            ++pins;
            answer(0, kMsgPIN, 1);
        }
    }
    EXPECT_EQ(pins, 8);
    EXPECT_EQ(capture.count("SSTP - App Host : MSG PIN RCV + Status NOK"), 8);
    EXPECT_TRUE(capture.contains("SSTP - App Host : MSG PIN TRS too much retry for device n" + kDeg + "0"));
    EXPECT_NE(host->entry(0).status, AppHost::kLaunched);
}

}  // namespace
}  // namespace dorvane
