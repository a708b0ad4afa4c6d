#include <gtest/gtest.h>

#include "protocol/frameScrambler.h"
#include "tests/protocol/sequenceFixture.h"

namespace dorvane {
namespace {

using test::kDeg;
using test::SequenceTest;

using DownloadTest = SequenceTest;

TEST_F(DownloadTest, JammerModesShapeHerAndGwr) {
    struct Case {
        std::uint8_t mode;
        bool scrambled;
    };
    for (const Case c : {Case{0, false}, Case{1, true}, Case{2, false}}) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        test::HostFixture f;
        f.settings.jammerMode = c.mode;
        f.image.blocks = {{0x8000, {1, 2, 3, 4, 5}}};
        f.host->hostCycle();
        auto a = test::deviceAddress(0);
        test::DeviceFrames dev(a.data());
        const std::uint8_t nonce[4] = {0, 0, 0, 0};
        f.feed(dev.request(test::kSeqHost, kMsgELO, 0, test::helloPayload(nonce, 1, 0, 0, 0, 0xFFFF, "PROD")));
        f.host->startNow();
        f.host->hostCycle();
        f.link.frames.clear();
        f.host->hostCycle();
        auto her = f.lastSent();
        EXPECT_EQ(her.type, kMsgHER);
        if (c.mode == 1) {
            const std::uint16_t masked = f.host->transferSeed() ^ AppHost::kSeedMask;
            EXPECT_EQ(her.payload, (std::vector<std::uint8_t>{1, static_cast<std::uint8_t>(masked),
                                                              static_cast<std::uint8_t>(masked >> 8)}));
        } else {
            EXPECT_EQ(her.payload, std::vector<std::uint8_t>{c.mode});
        }
        f.feed(dev.answer(test::kSeqHost, kMsgHER, 0, 0));
        f.host->hostCycle();  // all asked: to HES
        f.host->hostCycle();  // HES out
        f.feed(dev.answer(test::kSeqHost, kMsgHES, 2, 0));
        f.host->hostCycle();  // sweep armed (96 ms)
        f.clock.advance(96);
        f.host->hostCycle();
        auto gwr = f.lastSent();
        ASSERT_EQ(gwr.type, kMsgGWR);
        EXPECT_EQ(gwr.destination, std::vector<std::uint8_t>(8, 0));
        EXPECT_EQ(gwr.parameter, 0x8000u);
        std::vector<std::uint8_t> data = {1, 2, 3, 4, 5};
        if (c.scrambled) {
            FrameScrambler s;
            s.restart(f.host->transferSeed());
            s.scramble(data.data(), data.size());
        }
        std::vector<std::uint8_t> expected = {0, 0};
        expected.insert(expected.end(), data.begin(), data.end());
        EXPECT_EQ(gwr.payload, expected);
    }
}

TEST_F(DownloadTest, SilentDeviceGetsNineHersWithJitteredWaitsThenTheRunEnds) {
    imageOfBlocks(3);
    admitAndStart(1);
    random.script = {0, 31, 5, 0, 0, 0, 0, 0, 0};
    std::vector<std::uint32_t> sendTimes;
    while (cycleUntilSent()) sendTimes.push_back(clock.now());
    ASSERT_EQ(sendTimes.size(), 9u);
    EXPECT_EQ(sendTimes[1] - sendTimes[0], 256u);
    EXPECT_EQ(sendTimes[2] - sendTimes[1], 256u + 31u);
    EXPECT_EQ(sendTimes[3] - sendTimes[2], 256u + 5u);
    EXPECT_TRUE(capture.contains("SSTP - App Host : MSG HER TRS On retry n" + kDeg + "8 for device n" + kDeg + "0"));
    EXPECT_TRUE(capture.contains("SSTP - App Host : MSG HER TRS too much retry for device n" + kDeg + "0"));
    EXPECT_TRUE(capture.contains("SSTP - App Host : No device ready for downloading. Giving up !"));
    EXPECT_EQ(console.events.back(), kIdle);
    EXPECT_FALSE(host->isActive());
}

TEST_F(DownloadTest, HesInProgressAlternatesBetweenDevices) {
    imageOfBlocks(2);
    admitAndStart(2);
    for (int d = 0; d < 2; ++d) {
        ASSERT_TRUE(cycleUntilSent());
        answer(d, kMsgHER, 1);
    }
    std::vector<int> polled;
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(cycleUntilSent());
        auto f = sent(link.frames.size() - 1);
        ASSERT_EQ(f.type, kMsgHES);
        polled.push_back(deviceOf(f));
        answer(deviceOf(f), kMsgHES, 1);
    }
    EXPECT_EQ(polled, (std::vector<int>{1, 0, 1, 0, 1, 0}));
}

// Drives HER and HES to success for devices 0..n-1.
void readyAll(SequenceTest& t, int n) {
    for (int d = 0; d < n; ++d) {
        ASSERT_TRUE(t.cycleUntilSent());
        t.answer(d, kMsgHER, 0);
    }
    for (int d = 0; d < n; ++d) {
        ASSERT_TRUE(t.cycleUntilSent());
        auto f = t.sent(t.link.frames.size() - 1);
        t.answer(t.deviceOf(f), kMsgHES, 2);
    }
}

TEST_F(DownloadTest, ThreeBlocksSweepThenHflAndHpd) {
    imageOfBlocks(3);
    admitAndStart(1);
    readyAll(*this, 1);
    std::vector<std::uint32_t> times;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(cycleUntilSent());
        times.push_back(clock.now());
        auto f = sent(link.frames.size() - 1);
        EXPECT_EQ(f.type, kMsgGWR);
        EXPECT_EQ(f.payload[0] | (f.payload[1] << 8), i);
        EXPECT_EQ(f.parameter, 0xF000u + 16u * i);
    }
    EXPECT_EQ(times[1] - times[0], 96u);
    ASSERT_TRUE(cycleUntilSent());
    auto hfl = sent(link.frames.size() - 1);
    EXPECT_EQ(hfl.type, kMsgHFL);
    EXPECT_EQ(progress.position, progress.maximum);  // past the last block
    answer(0, kMsgHFL, 0, 3);
    EXPECT_TRUE(capture.contains("SSTP - App Host : MSG HFL RCV + All programmed"));
    ASSERT_TRUE(cycleUntilSent());
    const std::uint32_t hpdAt = clock.now();
    auto hpd = sent(link.frames.size() - 1);
    EXPECT_EQ(hpd.type, kMsgHPD);
    EXPECT_EQ(hpd.payload, (std::vector<std::uint8_t>{0x78, 0x56, 0x34, 0x12}));
    ASSERT_TRUE(cycleUntilSent());  // no answer: HPD again after its 5120 ms wait
    EXPECT_EQ(clock.now() - hpdAt, 5120u);
    EXPECT_TRUE(capture.contains("SSTP - App Host : MSG HFL TRS retry for device n" + kDeg + "0"));
    answer(0, kMsgHPD, 0);
    EXPECT_TRUE(capture.contains("SSTP - App Host : MSG HPD RCV + Bootloader will be executed"));
    EXPECT_EQ(host->entry(0).status, AppHost::kLaunched);
    EXPECT_FALSE(cycleUntilSent());
    EXPECT_FALSE(host->isActive());
}

TEST_F(DownloadTest, LostFrameIsResentSixTimesAndTheSeventhRequestDropsTheDevice) {
    imageOfBlocks(3);
    admitAndStart(1);
    readyAll(*this, 1);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(cycleUntilSent());
    int resends = 0;
    for (int request = 1; request <= 7; ++request) {
        ASSERT_TRUE(cycleUntilSent());
        ASSERT_EQ(sent(link.frames.size() - 1).type, kMsgHFL);
        answer(0, kMsgHFL, 0, 1);
        if (request < 7) {
            ASSERT_TRUE(cycleUntilSent());
            auto f = sent(link.frames.size() - 1);
            EXPECT_EQ(f.type, kMsgGWR);
            EXPECT_EQ(f.payload[0], 1);
            EXPECT_EQ(f.destination, std::vector<std::uint8_t>(8, 0));
            ++resends;
        }
    }
    EXPECT_FALSE(cycleUntilSent());  // the seventh request drops the device and ends the run
    EXPECT_EQ(resends, 6);
    EXPECT_EQ(capture.count("SSTP - App Host : MSG GWR TRS - Re Sending frame n" + kDeg + "1"), 6);
    EXPECT_TRUE(capture.contains("SSTP - App Host : MSG GWR TRS too much retry for device n" + kDeg + "0"));
    EXPECT_EQ(host->entry(0).status, AppHost::kDropped);
}

TEST_F(DownloadTest, OneDevicesLossesDoNotShortenTheNextDevicesResends) {
    imageOfBlocks(3);
    admitAndStart(2);
    readyAll(*this, 2);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(cycleUntilSent());
    // Device 0 asks for frame 1 five times, then has everything.
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(cycleUntilSent());
        answer(0, kMsgHFL, 0, 1);
        ASSERT_TRUE(cycleUntilSent());
    }
    ASSERT_TRUE(cycleUntilSent());
    answer(0, kMsgHFL, 0, 3);
    ASSERT_TRUE(cycleUntilSent());
    answer(0, kMsgHPD, 0);
    // Device 1 asks for the same frame: it gets its own six resends.
    int resends = 0;
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(cycleUntilSent());
        auto f = sent(link.frames.size() - 1);
        ASSERT_EQ(f.type, kMsgHFL);
        ASSERT_EQ(deviceOf(f), 1);
        answer(1, kMsgHFL, 0, 1);
        ASSERT_TRUE(cycleUntilSent());
        resends += sent(link.frames.size() - 1).type == kMsgGWR;
    }
    EXPECT_EQ(resends, 6);
    EXPECT_EQ(host->entry(1).status, AppHost::kMemoryReady);
}

TEST_F(DownloadTest, NoDeviceMemoryReadyEndsWithoutAnyGwr) {
    imageOfBlocks(3);
    admitAndStart(1);
    ASSERT_TRUE(cycleUntilSent());
    answer(0, kMsgHER, 0);
    ASSERT_TRUE(cycleUntilSent());
    answer(0, kMsgHES, 255);
    EXPECT_TRUE(capture.contains("SSTP - App Host : MSG HES RCV + Status 'Memory fault'"));
    EXPECT_FALSE(cycleUntilSent());
    for (const auto& raw : link.frames) EXPECT_NE(test::parseFrame(raw).type, kMsgGWR);
    EXPECT_FALSE(host->isActive());
}

TEST_F(DownloadTest, TwoReadyDevicesShareOneSweepThenGoThroughHflAndHpdInTurn) {
    imageOfBlocks(2);
    admitAndStart(2);
    readyAll(*this, 2);
    std::vector<std::pair<int, int>> order;  // (type, device)
    while (cycleUntilSent()) {
        auto f = sent(link.frames.size() - 1);
        order.push_back({f.type, f.type == kMsgGWR ? -1 : deviceOf(f)});
        if (f.type == kMsgHFL) answer(deviceOf(f), kMsgHFL, 0, 2);
        if (f.type == kMsgHPD) answer(deviceOf(f), kMsgHPD, 0);
    }
    const std::vector<std::pair<int, int>> expected = {{kMsgGWR, -1}, {kMsgGWR, -1}, {kMsgHFL, 0}, {kMsgHPD, 0},
                                                       {kMsgHFL, 1},  {kMsgHPD, 1}};
    EXPECT_EQ(order, expected);
    EXPECT_EQ(host->entry(0).status, AppHost::kLaunched);
    EXPECT_EQ(host->entry(1).status, AppHost::kLaunched);
}

TEST_F(DownloadTest, HesTimeoutOnTheLastDeviceWrapsToTheFirst) {
    imageOfBlocks(2);
    admitAndStart(2);
    for (int d = 0; d < 2; ++d) {
        ASSERT_TRUE(cycleUntilSent());
        answer(d, kMsgHER, 0);
    }
    // HES goes to device 1 first; it never answers; device 0 stays accepted.
    ASSERT_TRUE(cycleUntilSent());
    ASSERT_EQ(deviceOf(sent(link.frames.size() - 1)), 1);
    answer(1, kMsgHES, 1);  // in progress
    ASSERT_TRUE(cycleUntilSent());
    ASSERT_EQ(deviceOf(sent(link.frames.size() - 1)), 0);
    answer(0, kMsgHES, 2);
    for (int i = 0; i < 9; ++i) ASSERT_TRUE(cycleUntilSent());  // device 1 silent: 9 sends
    ASSERT_TRUE(cycleUntilSent());
    auto next = sent(link.frames.size() - 1);
    EXPECT_EQ(next.type, kMsgGWR);  // device 1 dropped, index wrapped, sweep for device 0
    EXPECT_EQ(host->entry(1).status, AppHost::kDropped);
    EXPECT_TRUE(capture.contains("SSTP - App Host : MSG HES TRS too much retry for device n" + kDeg + "1"));
}

TEST_F(DownloadTest, EndlessInProgressIsBounded) {
    imageOfBlocks(1);
    admitAndStart(1);
    ASSERT_TRUE(cycleUntilSent());
    answer(0, kMsgHER, 0);
    int polls = 0;
    while (cycleUntilSent(2000) && sent(link.frames.size() - 1).type == kMsgHES) {
        answer(0, kMsgHES, 1);
        ++polls;
    }
    EXPECT_EQ(polls, AppHost::kMaxInProgressPolls + 1);
    EXPECT_TRUE(capture.contains("SSTP - App Host : MSG HES RCV + Device n" + kDeg + "0 still in progress after " +
                                 std::to_string(AppHost::kMaxInProgressPolls) + " polls - dropped"));
    EXPECT_FALSE(host->isActive());
}

TEST_F(DownloadTest, EndlessLossIsBoundedPerDevice) {
    imageOfBlocks(4);
    admitAndStart(1);
    readyAll(*this, 1);
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(cycleUntilSent());
    // Every report names a different frame than the last, so the repeat rule
    // never fires; the per-device bound does.
    int resends = 0, reports = 0;
    for (int i = 0; i < 1000 && host->isActive(); ++i) {
        if (!cycleUntilSent()) break;
        auto f = sent(link.frames.size() - 1);
        if (f.type == kMsgGWR) ++resends;
        if (f.type == kMsgHFL) answer(0, kMsgHFL, 0, static_cast<std::uint16_t>(reports++ % 2));
    }
    EXPECT_EQ(resends, static_cast<int>(AppHost::kMinResendsPerDevice));
    EXPECT_EQ(host->entry(0).status, AppHost::kDropped);
    EXPECT_FALSE(host->isActive());
}

TEST_F(DownloadTest, DuplicateAnswerWhenTheIndexIsPastTheTableIsDropped) {
    imageOfBlocks(1);
    admitAndStart(1);
    ASSERT_TRUE(cycleUntilSent());
    answer(0, kMsgHER, 0);
    ASSERT_EQ(host->currentIndex(), 1);  // past the one entry in use
    capture.clear();
    answer(0, kMsgHER, 255);  // the same answer again, now with a refusal
    EXPECT_EQ(host->currentIndex(), 1);
    EXPECT_EQ(host->entry(0).status, AppHost::kAccepted);
    EXPECT_TRUE(capture.contains("SSTP - App Host : MSG HER RCV from a device that is not being served - dropped"));
}

TEST_F(DownloadTest, StaleAnswerOfAnEarlierPhaseIsDropped) {
    imageOfBlocks(3);
    admitAndStart(1);
    readyAll(*this, 1);
    ASSERT_TRUE(cycleUntilSent());  // first GWR
    capture.clear();
    answer(0, kMsgHES, 2);  // the answer to a repeated HES, arriving in the sweep
    answer(0, kMsgHER, 0);
    EXPECT_EQ(capture.messages(), (std::vector<std::string>{
                                      "SSTP - App Host : MSG HES RCV out of turn - dropped",
                                      "SSTP - App Host : MSG HER RCV out of turn - dropped"}));
    EXPECT_EQ(host->step(), AppHost::kStepGwrSweep);
    int gwr = 1;
    while (cycleUntilSent() && sent(link.frames.size() - 1).type == kMsgGWR) ++gwr;
    EXPECT_EQ(gwr, 3);
}

TEST_F(DownloadTest, BlocksTooLongForAFrameAreRefusedNotOverrun) {
    imageOfBlocks(1, 200);
    admitAndStart(1);
    readyAll(*this, 1);
    const auto before = link.frames.size();
    run(150);
    EXPECT_EQ(link.frames.size(), before);  // nothing sent
    EXPECT_TRUE(capture.contains("SSTP - Mac : Write Req Error"));
}

TEST_F(DownloadTest, InvalidImageEndsTheSweepSilently) {
    imageOfBlocks(3);
    admitAndStart(1);
    readyAll(*this, 1);
    image.valid = false;
    capture.clear();
    EXPECT_FALSE(cycleUntilSent());
    EXPECT_FALSE(host->isActive());
    EXPECT_EQ(capture.messages(), std::vector<std::string>{"SSTP - App Host : Transfering entire program now !"});
}

}  // namespace
}  // namespace dorvane
