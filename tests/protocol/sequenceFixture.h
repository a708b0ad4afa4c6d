// A host with admitted devices and a loaded image, stepped by hand: the test
// reads each frame the host sends and answers it as a device would.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/appHost.h"
#include "tests/support/hostHarness.h"

namespace dorvane::test {

inline const std::uint8_t kSeqHost[8] = {1, 2, 3, 4, 5, 6, 7, 1};
inline const std::string kDeg = "\xB0";

inline std::vector<std::uint8_t> deviceAddress(int n) { return {0xB0, 0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(n)}; }

struct SequenceTest : ::testing::Test, HostFixture {
    void SetUp() override { host->hostCycle(); }

    void imageOfBlocks(int count, std::size_t length = 16, std::uint32_t base = 0xF000) {
        image.blocks.clear();
        for (int i = 0; i < count; ++i) {
            FakeBlock b{base + static_cast<std::uint32_t>(i * length), std::vector<std::uint8_t>(length)};
            for (std::size_t k = 0; k < length; ++k) b.data[k] = static_cast<std::uint8_t>(i * 31 + k);
            image.blocks.push_back(b);
        }
        image.sum = 0x12345678;
    }
    // Admits devices 0..n-1 and starts the transfer at the next cycle.
    void admitAndStart(int n) {
        for (int i = 0; i < n; ++i) {
            auto a = deviceAddress(i);
            DeviceFrames frames(a.data());
            const std::uint8_t nonce[4] = {1, 2, 3, static_cast<std::uint8_t>(i)};
            feed(frames.request(kSeqHost, kMsgELO, 0, helloPayload(nonce, 1, 0, 0, 0, 0xFFFF, "PROD")));
        }
        ASSERT_TRUE(host->startNow());
        host->hostCycle();
        ASSERT_EQ(host->state(), AppHost::kTransferring);
        link.frames.clear();
        capture.clear();
    }
    void answer(int device, std::uint8_t type, std::uint8_t status, std::uint16_t value = 0) {
        auto a = deviceAddress(device);
        DeviceFrames frames(a.data());
        feed(frames.answer(kSeqHost, type, status, value));
    }
    // Runs cycles (1 ms each) until the host sends a frame or the limit passes.
    bool cycleUntilSent(std::uint32_t limitMs = 10000) {
        const auto before = link.frames.size();
        for (std::uint32_t i = 0; i < limitMs; ++i) {
            host->hostCycle();
            if (link.frames.size() > before) return true;
            if (!host->isActive()) return false;
            clock.advance(1);
        }
        return false;
    }
    SentFrame sent(std::size_t i) const { return parseFrame(link.frames.at(i)); }
    int deviceOf(const SentFrame& f) const { return f.destination[7]; }
};

}  // namespace dorvane::test
