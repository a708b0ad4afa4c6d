#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/appHost.h"
#include "protocol/helloCipher.h"
#include "tests/support/hostHarness.h"

namespace dorvane {
namespace {

using test::DeviceFrames;
using test::helloPayload;
using test::HostFixture;

const std::uint8_t kHost[8] = {1, 2, 3, 4, 5, 6, 7, 1};
const std::uint8_t kNonce[4] = {0x11, 0x22, 0x33, 0x44};
const std::string kDegree = "\xB0";

std::vector<std::uint8_t> addressOf(int n) {
    return {0xA0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
}

struct AppHostTest : ::testing::Test, HostFixture {
    AppHostTest() {
        host->hostCycle();  // start-up of the stack
        capture.clear();
        console.events.clear();
    }
    void hello(int device, std::vector<std::uint8_t> payload = {}) {
        auto address = addressOf(device);
        DeviceFrames frames(address.data());
        if (payload.empty()) payload = helloPayload(kNonce, 1, 0, 0, 1, 0xFFFF, "PROD");
        feed(frames.request(kHost, kMsgELO, 0, payload));
    }
    void answer(int device, std::uint8_t type, std::uint8_t status, std::uint16_t value = 0) {
        auto address = addressOf(device);
        DeviceFrames frames(address.data());
        feed(frames.answer(kHost, type, status, value));
    }
};

TEST(AppHostStartup, FirstCycleLogsInOrderAndNotifiesIdle) {
    HostFixture f;
    f.host->hostCycle();
    EXPECT_EQ(f.capture.messages(),
              (std::vector<std::string>{"*** Assert debug initialization ***", "FoTa App Host - Version : 01.00",
                                        "SSTP App Host - Initialization", "SSTP - Sck : Initialization",
                                        "SSTP - Mac : Initialization", "SSTP - Phy : Initialization"}));
    EXPECT_EQ(f.console.events, std::vector<int>{kIdle});
    f.host->hostCycle();
    EXPECT_EQ(f.capture.lines.size(), 6u);  // only once
}

TEST_F(AppHostTest, FirmwareHelloIsAnsweredAndStartsA270SecondCountdown) {
    hello(1);
    ASSERT_EQ(link.frames.size(), 1u);
    auto sent = lastSent();
    EXPECT_TRUE(sent.answer);
    EXPECT_EQ(sent.type, kMsgELO);
    EXPECT_EQ(sent.status, 0);
    EXPECT_EQ(sent.value, 0x0100);  // firmware package, Transfert Mode 1
    EXPECT_EQ(sent.destination, addressOf(1));
    // The block: identity bytes from the (absent) keys, minutes 5, enciphered.
    std::uint8_t identity[7], expected[8];
    ASSERT_TRUE(buildIdentityBytes(addressOf(1).data(), 1, &keys, identity));
    buildHelloAnswerBlock(identity, 5, kNonce, expected);
    EXPECT_EQ(sent.payload, std::vector<std::uint8_t>(expected, expected + 8));

    EXPECT_EQ(capture.messages(),
              (std::vector<std::string>{"SSTP App Host - Receive Message On Disconnected State",
                                        "SSTP - App Host : MSG ELO TRS",
                                        "SSTP - App Host : MSG ELO ANS + Device n" + kDegree + "0"}));
    EXPECT_TRUE(host->isConnecting());
    EXPECT_EQ(host->timeToStart(), 270000u);
    EXPECT_EQ(console.events, std::vector<int>{kDevicesPending});

    clock.advance(269999);
    host->hostCycle();
    EXPECT_TRUE(host->isConnecting());
    EXPECT_EQ(host->timeToStart(), 1u);
    clock.advance(1);
    host->hostCycle();
    EXPECT_EQ(host->state(), AppHost::kTransferring);
    EXPECT_EQ(host->step(), AppHost::kStepHerSend);
    EXPECT_TRUE(capture.contains("SSTP - App Host : It's started  !!"));
    EXPECT_EQ(console.events, (std::vector<int>{kDevicesPending, kTransferStarted}));
    EXPECT_NE(host->transferSeed(), 0);
    EXPECT_NE(host->transferSeed(), AppHost::kSeedMask);
}

TEST_F(AppHostTest, ConfigurationPackageCountsDown256msAndStartsWithPmr) {
    image.record.configuration = 7;
    hello(1);
    EXPECT_EQ(lastSent().value, 0x0101);
    EXPECT_EQ(host->timeToStart(), 256u);
    run(256);
    EXPECT_EQ(host->state(), AppHost::kTransferring);
    EXPECT_EQ(host->step(), AppHost::kStepPmrSend);
}

TEST_F(AppHostTest, CountdownSurvivesTickWrap) {
    clock.set(0xFFFFFF00u);
    hello(1);
    clock.advance(0x100);  // wraps to 0
    host->hostCycle();
    EXPECT_EQ(host->timeToStart(), 270000u - 0x100);
    clock.advance(270000 - 0x100);
    host->hostCycle();
    EXPECT_EQ(host->state(), AppHost::kTransferring);
}

TEST_F(AppHostTest, SecondHelloIsAnsweredAgainWithoutANewEntryOrLongerCountdown) {
    hello(1);
    clock.advance(1000);
    host->hostCycle();
    hello(1);
    hello(2);
    EXPECT_EQ(link.frames.size(), 3u);
    EXPECT_EQ(host->deviceCount(), 2);
    host->hostCycle();
    EXPECT_EQ(host->timeToStart(), 269000u);
}

TEST_F(AppHostTest, ShortAndMalformedHellosAreNotAgreed) {
    std::vector<std::uint8_t> twelve(12, 0);
    hello(1, twelve);
    // The name length byte points past the bytes that arrived.
    auto lying = helloPayload(kNonce, 1, 0, 0, 1, 0xFFFF, "PROD");
    lying[12] = 60;
    hello(1, lying);
    EXPECT_EQ(capture.count("SSTP - App Host : MSG ELO not agreed !!"), 2);
    EXPECT_TRUE(link.frames.empty());
    EXPECT_TRUE(admission.calls.empty());
}

TEST_F(AppHostTest, RequestOtherThanHelloWhileDisconnectedEmptiesTheTable) {
    hello(1);
    host->giveUp();
    capture.clear();
    auto address = addressOf(3);
    DeviceFrames frames(address.data());
    feed(frames.request(kHost, kMsgHER, 0, {}));
    EXPECT_EQ(host->deviceCount(), 0);
    EXPECT_EQ(capture.messages(),
              std::vector<std::string>{"SSTP App Host - Receive Message On Disconnected State"});
}

TEST_F(AppHostTest, NotConcernedDeviceIsAnsweredWithZeroMinutesAndNoEntry) {
    admission.result = {true, 0};
    hello(1);
    EXPECT_EQ(link.frames.size(), 1u);
    EXPECT_EQ(host->deviceCount(), 0);
    EXPECT_FALSE(host->isActive());
    EXPECT_TRUE(capture.contains("SSTP - App Host : MSG ELO ANS but Device n" + kDegree + "0 is NOT concerned"));
}

TEST_F(AppHostTest, RefusedOrUnknownModeIsNotAnswered) {
    admission.result = {false, 0};
    hello(1);
    settings.transfertMode = 2;
    admission.result = {true, 5};
    hello(2);
    EXPECT_TRUE(link.frames.empty());
    EXPECT_FALSE(host->isActive());
    EXPECT_EQ(capture.count("SSTP - App Host : MSG ELO TRS"), 2);
}

TEST_F(AppHostTest, HelloWhileTransferringIsNotAnsweredButRefreshesTheRow) {
    hello(1);
    host->startNow();
    host->hostCycle();
    ASSERT_EQ(host->state(), AppHost::kTransferring);
    link.frames.clear();
    admission.calls.clear();
    hello(1);
    hello(2);  // not in the table: no refresh
    EXPECT_TRUE(link.frames.empty());
    EXPECT_EQ(admission.calls.size(), 1u);
}

TEST_F(AppHostTest, StartNowAndGiveUp) {
    EXPECT_FALSE(host->startNow());
    EXPECT_FALSE(host->giveUp());
    hello(1);
    EXPECT_TRUE(host->startNow());
    EXPECT_TRUE(host->isConnecting());
    host->hostCycle();
    EXPECT_EQ(host->state(), AppHost::kTransferring);
    host->hostCycle();  // HER goes out
    const auto sent = link.frames.size();
    EXPECT_TRUE(host->giveUp());
    EXPECT_TRUE(capture.contains("SSTP - App Host : Download has been given up by user !!"));
    EXPECT_EQ(console.events.back(), kIdle);
    run(2000);
    EXPECT_EQ(link.frames.size(), sent);
    capture.clear();
    answer(1, kMsgHER, 0);
    EXPECT_EQ(capture.messages(),
              std::vector<std::string>{"SSTP - App Host : State uncompatible with the msg - what a mess !!"});
}

TEST_F(AppHostTest, AnswersOutsideTransferOrOfUnknownTypeAreDropped) {
    hello(1);
    capture.clear();
    answer(1, kMsgHER, 0);
    EXPECT_TRUE(capture.contains("SSTP - App Host : State uncompatible with the msg - what a mess !!"));
    host->startNow();
    host->hostCycle();
    capture.clear();
    answer(1, 5, 0);
    EXPECT_EQ(capture.messages(), std::vector<std::string>{"SSTP - App Host : MSG unmanaged - what's that !!"});
}

TEST_F(AppHostTest, AnswerFromAnotherDeviceIsNotCredited) {
    hello(1);
    hello(2);
    host->startNow();
    host->hostCycle();
    host->hostCycle();  // HER to device 0
    answer(2, kMsgHER, 0);
    EXPECT_EQ(host->entry(0).status, 0);
    EXPECT_EQ(host->currentIndex(), 0);
    EXPECT_TRUE(capture.contains("SSTP - App Host : MSG HER RCV from a device that is not being served - dropped"));
    answer(1, kMsgHER, 0);
    EXPECT_EQ(host->entry(0).status, AppHost::kAccepted);
    EXPECT_EQ(host->currentIndex(), 1);
}

TEST_F(AppHostTest, The513thDeviceIsRefusedWithItsOwnLine) {
    for (int i = 0; i < 512; ++i) hello(i);
    EXPECT_EQ(host->deviceCount(), 512);
    link.frames.clear();
    hello(512);
    EXPECT_EQ(host->deviceCount(), 512);
    EXPECT_TRUE(link.frames.empty());
    EXPECT_TRUE(capture.contains("SSTP - App Host : MSG ELO refused, the device table is full (512 devices)"));
    hello(511);  // a known device is still answered
    EXPECT_EQ(link.frames.size(), 1u);
}

TEST(OneShotTimer, Operations) {
    test::FakeClock clock(100);
    OneShotTimer t;
    EXPECT_FALSE(kOneShotTimerOps.expired(t, clock));
    kOneShotTimerOps.start(t, clock, 50);
    clock.advance(30);
    EXPECT_FALSE(kOneShotTimerOps.expired(t, clock));
    EXPECT_EQ(kOneShotTimerOps.remaining(t), 20u);
    clock.advance(25);
    EXPECT_TRUE(kOneShotTimerOps.expired(t, clock));
    EXPECT_TRUE(kOneShotTimerOps.expired(t, clock));  // stays expired
    EXPECT_EQ(kOneShotTimerOps.remaining(t), 0u);
    kOneShotTimerOps.stop(t);
    EXPECT_FALSE(kOneShotTimerOps.expired(t, clock));
    kOneShotTimerOps.start(t, clock, 0);
    EXPECT_TRUE(kOneShotTimerOps.expired(t, clock));
    kOneShotTimerOps.reset(t);
    EXPECT_FALSE(kOneShotTimerOps.expired(t, clock));
}

TEST(TransferSeed, NeverZeroNorTheMask) {
    for (std::uint32_t low : {0x0000u, 0xC3A6u}) {
        HostFixture f;
        f.host->hostCycle();
        auto address = addressOf(1);
        DeviceFrames frames(address.data());
        f.feed(frames.request(kHost, kMsgELO, 0, helloPayload(kNonce, 1, 0, 0, 1, 0xFFFF, "PROD")));
        f.host->startNow();
        f.clock.set(0x50000 | low);
        f.clock.setStepPerRead(1);
        f.host->hostCycle();
        EXPECT_EQ(f.host->state(), AppHost::kTransferring);
        EXPECT_NE(f.host->transferSeed(), 0);
        EXPECT_NE(f.host->transferSeed(), AppHost::kSeedMask);
    }
}

}  // namespace
}  // namespace dorvane
