#include <gtest/gtest.h>

#include <vector>

#include "protocol/frameLayers.h"
#include "tests/support/fakes.h"
#include "tests/support/hostHarness.h"

namespace dorvane {
namespace {

using test::CaptureLink;
using test::CaptureLog;

// Records what reaches the App Host side.
class RecordingUpper final : public ISckUpper {
public:
    struct Call {
        bool answer;
        std::uint8_t type;
        std::uint32_t parameter;
        std::uint8_t status;
        std::uint16_t value;
        std::vector<std::uint8_t> payload;
    };
    bool onRequest(std::uint8_t type, std::uint32_t parameter, const std::uint8_t* payload,
                   std::uint8_t length) override {
        calls.push_back({false, type, parameter, 0, 0, {payload, payload + length}});
        return true;
    }
    bool onAnswer(std::uint8_t type, std::uint8_t status, std::uint16_t value, const std::uint8_t* payload,
                  std::uint8_t length) override {
        calls.push_back({true, type, 0, status, value, {payload, payload + length}});
        return true;
    }
    std::vector<Call> calls;
};

const std::uint8_t kHost[8] = {1, 2, 3, 4, 5, 6, 7, 1};
const std::uint8_t kDevice[8] = {0x70, 0xB3, 0xD5, 0x7E, 0xD0, 0x00, 0x12, 0x34};
const std::uint8_t kOther[8] = {9, 9, 9, 9, 9, 9, 9, 9};

struct Layers : ::testing::Test {
    Layers() : log(&capture, &capture), layers(log, kHost, link) { layers.setUpper(&upper); }
    bool feed(const std::vector<std::uint8_t>& chunk) {
        return layers.phyReceive(static_cast<std::uint8_t>(chunk.size()), chunk.data());
    }
    std::vector<std::uint8_t> frameFromDevice(const std::uint8_t* to, std::uint8_t type,
                                              std::vector<std::uint8_t> payload) {
        test::DeviceFrames device(kDevice);
        return device.request(to, type, 0x123456, payload);
    }
    CaptureLog capture;
    EventLog log;
    CaptureLink link;
    RecordingUpper upper;
    FrameLayers layers;
};

TEST_F(Layers, InitLogsInOrder) {
    layers.sckInit();
    EXPECT_EQ(capture.messages(), (std::vector<std::string>{"SSTP - Sck : Initialization",
                                                            "SSTP - Mac : Initialization",
                                                            "SSTP - Phy : Initialization"}));
}

TEST_F(Layers, PhyChecksumIsTwosComplementOfPayloadSum) {
    std::uint8_t* b = const_cast<std::uint8_t*>(layers.buffer());
    b[2] = 1;
    b[3] = 2;
    b[4] = 3;
    ASSERT_TRUE(layers.phySend(3));
    ASSERT_EQ(link.frames.size(), 1u);
    EXPECT_EQ(link.frames[0], (std::vector<std::uint8_t>{0x24, 3, 1, 2, 3, 0xFA}));
    EXPECT_FALSE(layers.phySend(94));
    EXPECT_EQ(link.frames.size(), 1u);
    EXPECT_TRUE(capture.lines.empty());
}

TEST_F(Layers, RequestIsByteExact) {
    const std::uint8_t payload[3] = {1, 0xAA, 0x55};
    ASSERT_TRUE(layers.sckSendRequest(kDevice, 16, 0xABCDEF12, payload, 3));
    const std::vector<std::uint8_t> expected = {
        0x24, 23,                                              // start, L = 16 + 4 + 3
        1, 2, 3, 4, 5, 6, 7, 1,                                // source: host
        0x70, 0xB3, 0xD5, 0x7E, 0xD0, 0x00, 0x12, 0x34,        // destination
        16, 0x12, 0xEF, 0xCD,                                  // type, low 24 bits LE
        1, 0xAA, 0x55,                                         // payload
        0x00};                                                 // checksum placeholder
    ASSERT_EQ(link.frames.size(), 1u);
    const auto& f = link.frames[0];
    ASSERT_EQ(f.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end() - 1, f.begin()));
    std::uint8_t sum = 0;
    for (std::size_t i = 2; i < f.size(); ++i) sum = static_cast<std::uint8_t>(sum + f[i]);
    EXPECT_EQ(sum, 0);
}

TEST_F(Layers, AnswerSetsBit7AndValueLittleEndian) {
    const std::uint8_t payload[2] = {7, 8};
    ASSERT_TRUE(layers.sckSendAnswer(kDevice, 0, 0, 0x0101, payload, 2));
    const auto& f = link.frames.at(0);
    EXPECT_EQ(f[18], 0x80);
    EXPECT_EQ(f[19], 0);
    EXPECT_EQ(f[20], 0x01);
    EXPECT_EQ(f[21], 0x01);
}

TEST_F(Layers, SendLimitsAndTheirLogLines) {
    std::vector<std::uint8_t> big(74, 0);
    EXPECT_TRUE(layers.sckSendRequest(kDevice, 8, 0, nullptr, 0));
    EXPECT_FALSE(layers.sckSendRequest(kDevice, 8, 0, big.data(), 74));
    EXPECT_FALSE(layers.sckSendRequest(kDevice, 8, 0, nullptr, 3));
    EXPECT_FALSE(layers.sckSendRequest(nullptr, 8, 0, nullptr, 0));
    EXPECT_FALSE(layers.sckSendAnswer(kDevice, 8, 0, 0, big.data(), 74));
    EXPECT_FALSE(layers.macSend(kDevice, 0));
    EXPECT_FALSE(layers.macSend(kDevice, 78));
    EXPECT_EQ(capture.messages(), (std::vector<std::string>{
                                      "SSTP - Mac : Write Req Error", "SSTP - Mac : Write Req Error",
                                      "SSTP - Mac : Write Req Error", "SSTP - Mac : Write Ans Error",
                                      "SSTP - Mac : Write Error", "SSTP - Mac : Write Error"}));
    EXPECT_EQ(link.frames.size(), 1u);
}

TEST_F(Layers, ReassemblesAcrossEveryCutWithNoiseInFront) {
    auto frame = frameFromDevice(kHost, 0, {1, 2, 3, 4, 5});
    std::vector<std::uint8_t> stream = {0x00, 0x13, 0xFF};  // noise, no start byte
    stream.insert(stream.end(), frame.begin(), frame.end());
    for (std::size_t cut = 1; cut < stream.size(); ++cut) {
        upper.calls.clear();
        std::vector<std::uint8_t> a(stream.begin(), stream.begin() + cut), b(stream.begin() + cut, stream.end());
        feed(a);
        feed(b);
        ASSERT_EQ(upper.calls.size(), 1u) << "cut at " << cut;
        EXPECT_EQ(upper.calls[0].type, 0);
        EXPECT_EQ(upper.calls[0].parameter, 0x123456u);
        EXPECT_EQ(upper.calls[0].payload, (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
        EXPECT_EQ(layers.fillCount(), 0);
    }
    // Byte by byte as well.
    upper.calls.clear();
    for (std::uint8_t byte : stream) feed({byte});
    EXPECT_EQ(upper.calls.size(), 1u);
}

TEST_F(Layers, TwoFramesInOneChunkOnlyTheFirstArrives) {
    auto a = frameFromDevice(kHost, 0, {1});
    auto b = frameFromDevice(kHost, 0, {2});
    a.insert(a.end(), b.begin(), b.end());
    feed(a);
    ASSERT_EQ(upper.calls.size(), 1u);
    EXPECT_EQ(upper.calls[0].payload, (std::vector<std::uint8_t>{1}));
}

TEST_F(Layers, OverflowingChunkIsDiscardedWholeAndHuntingRestarts) {
    auto frame = frameFromDevice(kHost, 0, {1, 2, 3});
    std::vector<std::uint8_t> partial(frame.begin(), frame.begin() + 10);
    feed(partial);
    std::vector<std::uint8_t> overflow(90, 0x24);
    EXPECT_FALSE(feed(overflow));
    EXPECT_EQ(layers.fillCount(), 0);
    feed(frame);
    EXPECT_EQ(upper.calls.size(), 1u);
}

TEST_F(Layers, LengthAbove93NeverCompletes) {
    std::vector<std::uint8_t> bogus = {0x24, 94};
    bogus.resize(60, 0);
    EXPECT_TRUE(feed(bogus));
    EXPECT_FALSE(feed(std::vector<std::uint8_t>(40, 0)));  // would pass 96
    EXPECT_EQ(layers.fillCount(), 0);
    EXPECT_TRUE(upper.calls.empty());
}

TEST_F(Layers, BadChecksumIsDroppedSilently) {
    auto frame = frameFromDevice(kHost, 0, {1, 2, 3});
    frame.back() ^= 1;
    EXPECT_FALSE(feed(frame));
    EXPECT_TRUE(upper.calls.empty());
    EXPECT_TRUE(capture.lines.empty());
}

TEST_F(Layers, DestinationFilter) {
    feed(frameFromDevice(kBroadcastAddress, 0, {}));
    feed(frameFromDevice(kHost, 0, {}));
    EXPECT_EQ(upper.calls.size(), 2u);
    EXPECT_TRUE(upper.calls[0].payload.empty());
    EXPECT_FALSE(feed(frameFromDevice(kOther, 0, {})));
    EXPECT_EQ(upper.calls.size(), 2u);
    EXPECT_EQ(capture.messages(), std::vector<std::string>{"SSTP - Mac : Frame not addressed to this device"});
}

TEST_F(Layers, ShortMacAndSckFramesAreReadErrors) {
    // A Phy frame whose payload is 10 bytes (no room for the addresses).
    std::vector<std::uint8_t> shortMac = {0x24, 10, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    std::uint8_t sum = 0;
    for (std::size_t i = 2; i < shortMac.size(); ++i) sum = static_cast<std::uint8_t>(sum + shortMac[i]);
    shortMac.push_back(static_cast<std::uint8_t>(-sum));
    EXPECT_FALSE(feed(shortMac));
    // 16 address bytes + 3 bytes: too short for an Sck header.
    std::vector<std::uint8_t> shortSck = {0x24, 19};
    shortSck.insert(shortSck.end(), kDevice, kDevice + 8);
    shortSck.insert(shortSck.end(), kHost, kHost + 8);
    shortSck.insert(shortSck.end(), {0, 0, 0});
    sum = 0;
    for (std::size_t i = 2; i < shortSck.size(); ++i) sum = static_cast<std::uint8_t>(sum + shortSck[i]);
    shortSck.push_back(static_cast<std::uint8_t>(-sum));
    EXPECT_FALSE(feed(shortSck));
    EXPECT_EQ(capture.messages(),
              (std::vector<std::string>{"SSTP - Mac : Read Error", "SSTP - Mac : Read Error"}));
}

TEST_F(Layers, AnswerTypeHasBit7ClearedInPlace) {
    test::DeviceFrames device(kDevice);
    feed(device.answer(kHost, 16, 1, 0x0203, {9}));
    ASSERT_EQ(upper.calls.size(), 1u);
    EXPECT_TRUE(upper.calls[0].answer);
    EXPECT_EQ(upper.calls[0].type, 16);
    EXPECT_EQ(upper.calls[0].status, 1);
    EXPECT_EQ(upper.calls[0].value, 0x0203);
    EXPECT_EQ(layers.buffer()[FrameLayers::kOffsetSckHeader], 0x10);
}

TEST_F(Layers, SendingAbandonsAHalfReceivedFrame) {
    auto frame = frameFromDevice(kHost, 0, {1, 2, 3});
    feed(std::vector<std::uint8_t>(frame.begin(), frame.begin() + 8));
    EXPECT_GT(layers.fillCount(), 0);
    layers.sckSendRequest(kDevice, 17, 0, nullptr, 0);
    EXPECT_EQ(layers.fillCount(), 0);
    feed(std::vector<std::uint8_t>(frame.begin() + 8, frame.end()));
    EXPECT_TRUE(upper.calls.empty());
}

TEST_F(Layers, AnswerToTheSenderOfTheFrameBeingHandled) {
    // The destination may be the source field of the frame just received.
    class Answering final : public ISckUpper {
    public:
        explicit Answering(FrameLayers& l) : layers(l) {}
        bool onRequest(std::uint8_t, std::uint32_t, const std::uint8_t*, std::uint8_t) override {
            const std::uint8_t block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
            return layers.sckSendAnswer(layers.senderAddress(), 0, 0, 0, block, 8);
        }
        bool onAnswer(std::uint8_t, std::uint8_t, std::uint16_t, const std::uint8_t*, std::uint8_t) override {
            return false;
        }
        FrameLayers& layers;
    } answering(layers);
    layers.setUpper(&answering);
    feed(frameFromDevice(kHost, 0, {0xAA, 0xBB}));
    ASSERT_EQ(link.frames.size(), 1u);
    auto sent = test::parseFrame(link.frames[0]);
    EXPECT_EQ(sent.destination, std::vector<std::uint8_t>(kDevice, kDevice + 8));
    EXPECT_EQ(sent.source, std::vector<std::uint8_t>(kHost, kHost + 8));
    EXPECT_EQ(sent.payload, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
}

}  // namespace
}  // namespace dorvane
