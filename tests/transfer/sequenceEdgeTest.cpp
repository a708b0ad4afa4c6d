// Edge cases of the two sequences, shown against the simulated fleet: retry
// limits and their log lines, time-outs seen on the medium, lost-frame
// bookkeeping, and the bounds that keep one device from holding a transfer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/logText.h"
#include "tests/support/transferRig.h"

namespace dorvane::test {
namespace {

using devsim::DeviceState;

std::string no(unsigned n) { return std::string(DORVANE_NO) + std::to_string(n); }

struct SeenFrame {
    std::uint64_t time;
    std::vector<std::uint8_t> destination;
    std::vector<std::uint8_t> payload;  // Sck payload
};

// The host's frames of one type, as the medium saw them.
std::vector<SeenFrame> hostFrames(const TransferRig& rig, std::uint8_t type) {
    std::vector<SeenFrame> out;
    for (const auto& t : rig.fleet.trace()) {
        if (!t.fromHost || t.bytes.size() < 23 || (t.bytes[18] & 0x7F) != type) continue;
        out.push_back(SeenFrame{t.time, std::vector<std::uint8_t>(t.bytes.begin() + 10, t.bytes.begin() + 18),
                                std::vector<std::uint8_t>(t.bytes.begin() + 22, t.bytes.end() - 1)});
    }
    return out;
}

bool sentTo(const SeenFrame& f, const devsim::SimDevice& d) {
    return std::equal(f.destination.begin(), f.destination.end(), d.config().address);
}

RigOptions ordered() {
    RigOptions o;
    o.fleet.randomFirstHello = false;  // the host's table in the order the devices were added
    o.fleet.trace = true;
    return o;
}

constexpr std::size_t kBlocks = 400;

TEST(HerLimit, ASilentDeviceIsAskedNineTimesThenSkipped) {
    TransferRig rig(ordered());
    rig.loadFirmware(makeImageBlocks(40, 64, 1));
    devsim::DeviceConfig mute = makeDeviceConfig(0);
    mute.faults.mute = devsim::Mute::FromHer;
    rig.addDevice(mute);
    rig.addDevice(makeDeviceConfig(1));
    ASSERT_TRUE(rig.run().ended);

    std::vector<SeenFrame> her;
    for (const auto& f : hostFrames(rig, kMsgHER))
        if (sentTo(f, rig.fleet.device(0))) her.push_back(f);
    ASSERT_EQ(her.size(), 9u);
    for (std::size_t i = 1; i < her.size(); ++i) {
        const std::uint64_t gap = her[i].time - her[i - 1].time;
        EXPECT_GE(gap, 256u);
        EXPECT_LE(gap, 287u);
    }
    for (unsigned retry = 1; retry <= 8; ++retry) {
        EXPECT_TRUE(rig.capture.contains("SSTP - App Host : MSG HER TRS On retry " + no(retry) + " for device " + no(0)));
    }
    EXPECT_FALSE(rig.capture.contains("SSTP - App Host : MSG HER TRS On retry " + no(9) + " for device " + no(0)));
    EXPECT_TRUE(rig.capture.contains("SSTP - App Host : MSG HER TRS too much retry for device " + no(0)));
    EXPECT_EQ(rig.host->entry(0).status, AppHost::kDropped);
    EXPECT_EQ(rig.fleet.device(1).state(), DeviceState::Launched);
}

TEST(HesPolling, AlternatesBetweenDevicesInProgress) {
    TransferRig rig(ordered());
    rig.loadFirmware(makeImageBlocks(20, 64, 1));
    for (std::size_t i = 0; i < 2; ++i) {
        devsim::DeviceConfig c = makeDeviceConfig(i);
        c.faults.hesInProgress = 3;
        rig.addDevice(c);
    }
    ASSERT_TRUE(rig.run().ended);
    const auto hes = hostFrames(rig, kMsgHES);
    ASSERT_EQ(hes.size(), 8u);  // 3 × in progress + succeeded, each
    for (std::size_t i = 1; i < hes.size(); ++i) {
        EXPECT_NE(hes[i].destination, hes[i - 1].destination) << "HES " << i << " went to the same device again";
    }
    EXPECT_EQ(rig.capture.count("SSTP - App Host : MSG HES RCV + Status 'In progress'"), 6);
    EXPECT_EQ(rig.countInState(DeviceState::Launched), 2u);
}

TEST(HesPolling, ASlowDeviceFinishesAndOneThatNeverGetsReadyIsDropped) {
    TransferRig rig(ordered());
    rig.loadFirmware(makeImageBlocks(20, 64, 1));
    devsim::DeviceConfig slow = makeDeviceConfig(0);
    slow.faults.hesInProgress = 300;
    devsim::DeviceConfig stuck = makeDeviceConfig(1);
    stuck.faults.hesForever = true;
    rig.addDevice(slow);
    rig.addDevice(stuck);
    rig.addDevice(makeDeviceConfig(2));
    ASSERT_TRUE(rig.run().ended);
    EXPECT_EQ(rig.fleet.device(0).state(), DeviceState::Launched);
    EXPECT_EQ(rig.fleet.device(2).state(), DeviceState::Launched);
    EXPECT_EQ(rig.fleet.device(1).state(), DeviceState::Accepted);
    EXPECT_EQ(rig.host->entry(1).status, AppHost::kDropped);
    char line[160];
    std::snprintf(line, sizeof line,
                  "SSTP - App Host : MSG HES RCV + Device %s still in progress after %u polls - dropped",
                  no(1).c_str(), static_cast<unsigned>(AppHost::kMaxInProgressPolls));
    EXPECT_TRUE(rig.capture.contains(line));
    EXPECT_EQ(rig.fleet.device(1).counters().hesAnswers, AppHost::kMaxInProgressPolls + 1u);
}

TEST(HesPolling, DroppingTheLastDeviceStillComesBackToTheFirst) {
    // The last device of the table gives no HES answer: dropping it moves
    // the index past the count, and the next advance must wrap to the first
    // device, which is still in progress.
    TransferRig rig(ordered());
    rig.loadFirmware(makeImageBlocks(20, 64, 1));
    devsim::DeviceConfig first = makeDeviceConfig(0);
    first.faults.hesInProgress = 2;
    devsim::DeviceConfig last = makeDeviceConfig(1);
    last.faults.mute = devsim::Mute::FromHes;
    rig.addDevice(first);
    rig.addDevice(last);
    ASSERT_TRUE(rig.run().ended);
    EXPECT_TRUE(rig.capture.contains("SSTP - App Host : MSG HES TRS too much retry for device " + no(1)));
    EXPECT_EQ(rig.fleet.device(0).state(), DeviceState::Launched);
}

TEST(LostFrames, TheSeventhRequestForTheSameFrameDropsTheDevice) {
    TransferRig rig(ordered());
    rig.loadFirmware(makeImageBlocks(kBlocks, 64, 1));
    devsim::DeviceConfig deaf = makeDeviceConfig(0);
    deaf.faults.deaf = {{5, devsim::DeviceFaults::kEveryCopy}};
    rig.addDevice(deaf);
    rig.addDevice(makeDeviceConfig(1));
    ASSERT_TRUE(rig.run().ended);
    EXPECT_EQ(rig.capture.count("SSTP - App Host : MSG HFL RCV + Lost frame " + no(5)), 7);
    EXPECT_EQ(rig.capture.count("SSTP - App Host : MSG GWR TRS - Re Sending frame " + no(5)), 6);
    EXPECT_TRUE(rig.capture.contains("SSTP - App Host : MSG GWR TRS too much retry for device " + no(0)));
    EXPECT_EQ(rig.host->entry(0).status, AppHost::kDropped);
    EXPECT_EQ(rig.fleet.device(0).state(), DeviceState::MemoryReady);
    EXPECT_EQ(rig.fleet.device(1).state(), DeviceState::Launched);
    // Every resend went to the broadcast address.
    for (const auto& f : hostFrames(rig, kMsgGWR)) {
        EXPECT_EQ(f.destination, std::vector<std::uint8_t>(8, 0));
    }
}

TEST(LostFrames, EachDeviceGetsItsOwnSixResends) {
    // The first device asked for frame 5 three times; the second, which lost
    // every copy so far, needs five resends of its own. Were the repeat count
    // carried over from the first device, it would be dropped after three.
    TransferRig rig(ordered());
    rig.loadFirmware(makeImageBlocks(kBlocks, 64, 1));
    devsim::DeviceConfig first = makeDeviceConfig(0);
    first.faults.deaf = {{5, 3}};  // the sweep's copy and two resends
    devsim::DeviceConfig second = makeDeviceConfig(1);
    second.faults.deaf = {{5, 8}};
    rig.addDevice(first);
    rig.addDevice(second);
    ASSERT_TRUE(rig.run().ended);
    const auto hfl = hostFrames(rig, kMsgHFL);
    ASSERT_FALSE(hfl.empty());
    ASSERT_TRUE(sentTo(hfl.front(), rig.fleet.device(0))) << "the test needs the first device served first";
    EXPECT_EQ(rig.capture.count("SSTP - App Host : MSG GWR TRS - Re Sending frame " + no(5)), 8);
    EXPECT_EQ(rig.fleet.device(0).state(), DeviceState::Launched);
    EXPECT_EQ(rig.fleet.device(1).state(), DeviceState::Launched);
    EXPECT_FALSE(rig.capture.contains("SSTP - App Host : MSG GWR TRS too much retry for device " + no(1)));
}

TEST(LostFrames, Frame255IsAFrameLikeAnyOther) {
    // "No lost frame" is a value no 16-bit frame number takes: the first
    // request for frame 255 is a first request, with six resends behind it.
    TransferRig rig(ordered());
    rig.loadFirmware(makeImageBlocks(kBlocks, 64, 1));
    devsim::DeviceConfig c = makeDeviceConfig(0);
    c.faults.deaf = {{255, 6}};  // the sweep's copy and five resends
    rig.addDevice(c);
    ASSERT_TRUE(rig.run().ended);
    EXPECT_EQ(rig.capture.count("SSTP - App Host : MSG GWR TRS - Re Sending frame " + no(255)), 6);
    EXPECT_EQ(rig.fleet.device(0).state(), DeviceState::Launched);
}

TEST(LostFrames, ABlockLongerThanAFrameIsRefusedAndNothingOverflows) {
    // A block that no frame can carry (the loader refuses such products; the
    // stack must stay safe anyway): the Sck layer refuses the frame, the
    // device asks for it until the repeat limit, and the run ends.
    TransferRig rig(ordered());
    auto blocks = makeImageBlocks(20, 64, 1);
    blocks[7].data.assign(200, 0xA5);
    rig.loadFirmware(blocks);
    rig.addDevices(2);
    ASSERT_TRUE(rig.run().ended);
    EXPECT_GE(rig.capture.count("SSTP - Mac : Write Req Error"), 1);
    EXPECT_EQ(rig.countInState(DeviceState::Launched), 0u);
    for (std::size_t i = 0; i < 2; ++i) EXPECT_EQ(rig.fleet.device(i).lowestMissing(), 7u);
    for (const auto& f : hostFrames(rig, kMsgGWR)) EXPECT_LE(f.payload.size(), 73u);

    RigOptions o = ordered();
    o.fleet.helloIntervalMs = 100;
    TransferRig config(o);
    auto parameters = makeImageBlocks(3, 40, 2, 0x1800);
    parameters[1].data.assign(100, 0x5A);
    config.loadConfiguration(parameters, 7);
    devsim::DeviceConfig d = makeDeviceConfig(0);
    d.configuration = 3;
    config.addDevice(d);
    ASSERT_TRUE(config.run().ended);
    EXPECT_TRUE(config.capture.contains("SSTP - App Host : MSG PWR TRS too much retry for device " + no(0)));
    EXPECT_EQ(config.fleet.device(0).parameterWrites().size(), 1u);
}

TEST(LostFrames, TrailingFramesLostInTheSweepAreAskedForToo) {
    // Holding frames 0..n-1 without a gap the device reports n: a frame lost
    // at the end of the sweep is asked for like any other.
    TransferRig rig(ordered());
    rig.loadFirmware(makeImageBlocks(kBlocks, 64, 1));
    devsim::DeviceConfig c = makeDeviceConfig(0);
    c.faults.deaf = {{kBlocks - 1, 1}};
    rig.addDevice(c);
    ASSERT_TRUE(rig.run().ended);
    EXPECT_TRUE(rig.capture.contains("SSTP - App Host : MSG HFL RCV + Lost frame " + no(kBlocks - 1)));
    EXPECT_EQ(rig.fleet.device(0).state(), DeviceState::Launched);
    EXPECT_TRUE(rig.fleet.report(0).imageMatch);
}

TEST(LostFrames, ALossyDeviceStillFinishes) {
    // Every other GWR copy lost: half the sweep, and half of the resends.
    TransferRig rig(ordered());
    rig.loadFirmware(makeImageBlocks(kBlocks, 64, 1));
    devsim::DeviceConfig c = makeDeviceConfig(0);
    c.faults.gwrLossPeriod = 2;
    rig.addDevice(c);
    rig.addDevice(makeDeviceConfig(1));
    ASSERT_TRUE(rig.run().ended);
    const devsim::DeviceReport r = rig.fleet.report(0);
    EXPECT_EQ(r.state, DeviceState::Launched);
    EXPECT_TRUE(r.imageMatch);
    EXPECT_GE(r.medium.resentIn, kBlocks / 2 / 2);
    EXPECT_GT(rig.fleet.hostFramesOfType(kMsgGWR), kBlocks + kBlocks / 2);
    EXPECT_EQ(rig.fleet.device(1).state(), DeviceState::Launched);
}

TEST(LostFrames, ADeviceThatNeverSettlesIsDroppedByTheResendBound) {
    // Frames 3 and 5 never arrive and the device names them in turn, so the
    // same frame is never asked for twice in a row: only the bound on one
    // device's resends ends it.
    TransferRig rig(ordered());
    rig.loadFirmware(makeImageBlocks(kBlocks, 64, 1));
    devsim::DeviceConfig c = makeDeviceConfig(0);
    c.faults.deaf = {{3, devsim::DeviceFaults::kEveryCopy}, {5, devsim::DeviceFaults::kEveryCopy}};
    c.faults.hflAlternates = true;
    rig.addDevice(c);
    rig.addDevice(makeDeviceConfig(1));
    const RunResult r = rig.run();
    ASSERT_TRUE(r.ended);
    const std::uint32_t bound = AppHost::kMaxResendsPerDeviceFactor * kBlocks;
    char line[200];
    std::snprintf(line, sizeof line,
                  "SSTP - App Host : MSG GWR TRS too many lost frames for device %s (%u resends) - dropped",
                  no(0).c_str(), static_cast<unsigned>(bound));
    EXPECT_TRUE(rig.capture.contains(line));
    EXPECT_EQ(rig.host->entry(0).status, AppHost::kDropped);
    EXPECT_EQ(rig.fleet.device(1).state(), DeviceState::Launched);
}

TEST(Hpd, CarriesTheChecksumLittleEndianAndWaits5120ms) {
    TransferRig rig(ordered());
    rig.loadFirmware(makeImageBlocks(40, 64, 1));
    devsim::DeviceConfig c = makeDeviceConfig(0);
    c.faults.mute = devsim::Mute::FromHpd;
    rig.addDevice(c);
    ASSERT_TRUE(rig.run().ended);
    const auto hpd = hostFrames(rig, kMsgHPD);
    ASSERT_EQ(hpd.size(), 9u);
    const std::uint32_t sum = rig.image.checksum();
    const std::vector<std::uint8_t> le = {static_cast<std::uint8_t>(sum), static_cast<std::uint8_t>(sum >> 8),
                                          static_cast<std::uint8_t>(sum >> 16), static_cast<std::uint8_t>(sum >> 24)};
    for (std::size_t i = 0; i < hpd.size(); ++i) {
        EXPECT_EQ(hpd[i].payload, le);
        if (i > 0) {
            EXPECT_EQ(hpd[i].time - hpd[i - 1].time, 5120u);
        }
    }
    EXPECT_EQ(rig.capture.count("SSTP - App Host : MSG HFL TRS retry for device " + no(0)), 8);
    EXPECT_TRUE(rig.capture.contains("SSTP - App Host : MSG HFL TRS too much retry for device " + no(0)));
    // The device held everything and agreed with the checksum it was not
    // allowed to answer.
    EXPECT_TRUE(rig.fleet.report(0).imageMatch);
    EXPECT_EQ(rig.fleet.device(0).memory().flashChecksum(devsim::kFlash256k), sum);
}

TEST(PmrLimit, EightSendsThenTheRunEnds) {
    struct Case {
        std::uint8_t transfertMode;
        const char* last;
    } cases[] = {{1, "SSTP - App Host : Authenticate keys seem to be wrong"},
                 {0, nullptr}};
    // A device that does not answer: eight sends, 256 ms apart.
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.transfertMode));
        RigOptions o = ordered();
        o.fleet.helloIntervalMs = 100;
        TransferRig rig(o);
        rig.settings.transfertMode = c.transfertMode;
        rig.loadConfiguration(makeImageBlocks(3, 40, 2, 0x1800), 7);
        devsim::DeviceConfig d = makeDeviceConfig(0);
        d.configuration = 3;
        d.faults.mute = devsim::Mute::FromPmr;
        rig.addDevice(d);
        ASSERT_TRUE(rig.run().ended);
        const auto pmr = hostFrames(rig, kMsgPMR);
        ASSERT_EQ(pmr.size(), 8u);
        for (std::size_t i = 1; i < pmr.size(); ++i) EXPECT_EQ(pmr[i].time - pmr[i - 1].time, 256u);
        EXPECT_TRUE(rig.capture.contains("SSTP - App Host : MSG PMR TRS On retry " + no(8) + " for device " + no(0)));
        const std::string last = c.last != nullptr ? c.last
                                                   : "SSTP - App Host : MSG PMR TRS too much retry for device " + no(0);
        EXPECT_EQ(rig.capture.messages().back(), last);
        EXPECT_EQ(hostFrames(rig, kMsgPWR).size(), 0u);
    }
}

TEST(PmrLimit, ARefusingDeviceIsAskedEightTimesAndTheRunEnds) {
    RigOptions o = ordered();
    o.fleet.helloIntervalMs = 100;
    TransferRig rig(o);
    rig.loadConfiguration(makeImageBlocks(3, 40, 2, 0x1800), 7);
    devsim::DeviceConfig d = makeDeviceConfig(0);
    d.configuration = 3;
    d.faults.refusePmr = true;
    rig.addDevice(d);
    ASSERT_TRUE(rig.run().ended);
    EXPECT_EQ(hostFrames(rig, kMsgPMR).size(), 8u);
    EXPECT_EQ(rig.capture.count("SSTP - App Host : MSG PMR RCV + Status NOK"), 8);
    EXPECT_EQ(rig.capture.messages().back(), "SSTP - App Host : Authenticate keys seem to be wrong");
    EXPECT_EQ(rig.fleet.device(0).counters().pmrRefusals, 8u);
    EXPECT_TRUE(rig.fleet.device(0).memory().empty());
}

TEST(GiveUp, StopsAllSendingAtOnce) {
    TransferRig rig(ordered());
    rig.loadFirmware(makeImageBlocks(kBlocks, 64, 1));
    rig.addDevices(2);
    for (int i = 0; i < 200000 && rig.host->framesSent() < 20; ++i) rig.tick();
    ASSERT_EQ(rig.host->framesSent(), 20);
    ASSERT_TRUE(rig.host->giveUp());
    const std::uint32_t sent = rig.fleet.hostFrames();
    rig.runFor(10000);
    EXPECT_EQ(rig.fleet.hostFrames(), sent);
    EXPECT_TRUE(rig.capture.contains("SSTP - App Host : Download has been given up by user !!"));
    EXPECT_EQ(rig.countInState(DeviceState::MemoryReady), 2u);
}

TEST(LateAnswers, WithinTheWaitsTheyCostNoRetry) {
    TransferRig rig(ordered());
    rig.loadFirmware(makeImageBlocks(kBlocks, 64, 1));
    devsim::DeviceConfig c = makeDeviceConfig(0);
    c.faults.answerDelayMs = 200;  // below the shortest wait, 256 ms
    rig.addDevice(c);
    rig.addDevice(makeDeviceConfig(1));
    ASSERT_TRUE(rig.run().ended);
    EXPECT_EQ(rig.countInState(DeviceState::Launched), 2u);
    for (const auto& m : rig.capture.messages()) EXPECT_EQ(m.find("retry"), std::string::npos) << m;
}

TEST(LateAnswers, AnAnswerAfterItsWaitDoesNotRestartAPhase) {
    // A device that answers 600 ms late is asked again before its answer
    // arrives; the first answer moves the sequence on, and the answers to the
    // repeated requests come in while the host is already in a later phase.
    TransferRig rig(ordered());
    rig.loadFirmware(makeImageBlocks(kBlocks, 64, 1));
    devsim::DeviceConfig c = makeDeviceConfig(0);
    c.faults.answerDelayMs = 600;
    rig.addDevice(c);
    ASSERT_TRUE(rig.run().ended);
    EXPECT_EQ(rig.fleet.device(0).state(), DeviceState::Launched);
    EXPECT_EQ(rig.capture.count("SSTP - App Host : Checking memory status now !"), 1);
    EXPECT_EQ(rig.capture.count("SSTP - App Host : Transfering entire program now !"), 1);
    EXPECT_EQ(rig.fleet.hostFramesOfType(kMsgGWR), kBlocks) << "the sweep was restarted";
}

}  // namespace
}  // namespace dorvane::test
