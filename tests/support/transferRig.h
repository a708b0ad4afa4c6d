// The host stack and a simulated device fleet in one process, on one fake
// clock: the real App Host with the real device admission, wired to the
// fleet as its link. Every tick advances the clock 1 ms, runs one host cycle
// and delivers what the medium has due, so a transfer of minutes of
// protocol time runs in milliseconds.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "protocol/appHost.h"
#include "protocol/deviceAdmission.h"
#include "protocol/eventLog.h"
#include "tests/support/fakes.h"
#include "tools/devsim/simFleet.h"

namespace dorvane::test {

// A uniform random (n) with a seed, for the host's time-out jitter; or
// always 0, for runs without jitter.
class SeededRandom final : public IRandom {
public:
    explicit SeededRandom(std::uint64_t seed, bool alwaysZero = false) : rng_(seed), zero_(alwaysZero) {}
    std::uint32_t random(std::uint32_t n) override {
        return n == 0 || zero_ ? 0 : static_cast<std::uint32_t>(rng_() % n);
    }

private:
    std::mt19937_64 rng_;
    bool zero_;
};

// Counts log lines and keeps none, for long runs.
class CountingSink final : public ILogSink {
public:
    void appendLine(const char*, LogColour) override { ++lines; }
    std::uint64_t lines = 0;
};

// The fleet's way up into the host, in-process.
class InProcessHostLink final : public devsim::IHostLink {
public:
    void toHost(const std::uint8_t* bytes, std::uint8_t count) override {
        if (!timed || host->state() != AppHost::kTransferring) {
            host->phyReceive(count, bytes);
            return;
        }
        const auto t0 = std::chrono::steady_clock::now();
        host->phyReceive(count, bytes);
        hostNs += std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - t0).count();
    }
    AppHost* host = nullptr;
    bool timed = false;  // measure the time inside the host while it transfers
    std::int64_t hostNs = 0;
};

struct RigOptions {
    devsim::FleetOptions fleet;
    bool captureLog = true;     // keep every log line (tests); off: count them (benchmarks)
    std::uint64_t hostRandomSeed = 7;
    bool hostJitter = true;     // off: every random (n) of the host is 0
    std::uint8_t minutes = 1;   // connecting time-out: 1 minute counts down 30 s
    bool timeHost = false;      // measure the time spent inside the host while it transfers
};

struct RunResult {
    bool started = false;
    bool ended = false;
    std::uint64_t startMs = 0;
    std::uint64_t endMs = 0;
    std::uint64_t durationMs() const { return endMs - startMs; }
};

// A product image for tests: count blocks of blockSize bytes in sections of
// sectionBlocks blocks (each section starts a new load address, as an "@"
// line does), the last block of every section shorter.
inline std::vector<devsim::ImageBlock> makeImageBlocks(std::size_t count, std::size_t blockSize,
                                                       std::uint64_t seed, std::uint32_t base = 0x4400,
                                                       std::size_t sectionBlocks = 150) {
    std::mt19937_64 rng(seed);
    std::vector<devsim::ImageBlock> blocks;
    std::uint32_t address = base;
    for (std::size_t i = 0; i < count; ++i) {
        const bool sectionEnd = (i + 1) % sectionBlocks == 0 || i + 1 == count;
        devsim::ImageBlock b;
        b.address = address;
        b.data.resize(sectionEnd ? blockSize / 2 + 3 : blockSize);
        for (auto& byte : b.data) byte = static_cast<std::uint8_t>(rng());
        address += static_cast<std::uint32_t>(b.data.size());
        if (sectionEnd) address = (address + 0x1000u) & ~0xFFFu;
        blocks.push_back(std::move(b));
    }
    return blocks;
}

inline devsim::DeviceConfig makeDeviceConfig(std::size_t i) {
    devsim::DeviceConfig c;
    const std::uint8_t address[8] = {0xA0, 0x00, 0x00, 0x00, 0x00, 0x00, static_cast<std::uint8_t>(i >> 8),
                                     static_cast<std::uint8_t>(i + 1)};
    std::memcpy(c.address, address, 8);
    c.product = "PROD";
    c.major = 1;
    c.minor = 2;
    c.corrective = 3;
    c.build = 99;
    std::mt19937_64 rng(0xC0FFEE + i);
    for (auto& key : c.keys)
        for (auto& byte : key) byte = static_cast<std::uint8_t>(rng());
    return c;
}

class TransferRig {
public:
    explicit TransferRig(const RigOptions& options = RigOptions{})
        : options_(options),
          log(options.captureLog ? static_cast<ILogSink*>(&capture) : static_cast<ILogSink*>(&counting), &capture),
          random(options.hostRandomSeed, !options.hostJitter),
          admission(grid, controls, settings, capture),
          fleet(clock, hostLink, options.fleet) {
        controls.minutes = options.minutes;
        admission.setImage(&image);
        admission.setKeyStore(&keys);
        AppHost::Ports ports;
        ports.log = &log;
        ports.clock = &clock;
        ports.random = &random;
        ports.settings = &settings;
        ports.link = &fleet;
        ports.console = &console;
        ports.admission = &admission;
        ports.image = &image;
        ports.keys = &keys;
        ports.progress = &progress;
        host = std::make_unique<AppHost>(ports);
        hostLink.host = host.get();
        hostLink.timed = options.timeHost;
    }

    // A device on the medium; listed: its keys go into the host's keys list.
    devsim::SimDevice& addDevice(const devsim::DeviceConfig& c, bool listed = true) {
        if (listed) {
            FakeKeyRecord r{};
            std::memcpy(r.address, c.address, 8);
            std::memcpy(r.nwk, c.keys[0], 16);
            std::memcpy(r.app, c.keys[1], 16);
            std::memcpy(r.appKey, c.keys[2], 16);
            keys.records.push_back(r);
        }
        return fleet.add(c);
    }
    void addDevices(std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) addDevice(makeDeviceConfig(fleet.size()));
    }

    // Loads a firmware package V1.2.3.100 of product PROD.
    void loadFirmware(const std::vector<devsim::ImageBlock>& blocks) { load(blocks, kNoConfiguration); }
    // Loads a configuration package C1.2.3.100 of product PROD.
    void loadConfiguration(const std::vector<devsim::ImageBlock>& blocks, std::uint16_t configuration) {
        load(blocks, configuration);
    }

    void tick() {
        cycle();
        fleet.poll();
    }
    void runFor(std::uint64_t ms) {
        for (std::uint64_t i = 0; i < ms; ++i) tick();
    }
    // Runs until the host has started a transfer and come back to idle. It
    // stops in the cycle that ends the sequence, before the medium delivers
    // anything more, so the host's device table is as the sequence left it
    // (a request that reaches an idle host empties it).
    RunResult run(std::uint64_t limitMs = 4ull * 3600 * 1000) {
        RunResult r;
        for (std::uint64_t i = 0; i < limitMs; ++i) {
            cycle();
            if (r.started && host->state() == AppHost::kDisconnected) {
                r.ended = true;
                r.endMs = clock.now();
                break;
            }
            fleet.poll();
            if (!r.started && host->state() == AppHost::kTransferring) {
                r.started = true;
                r.startMs = clock.now();
            }
        }
        return r;
    }

    // The device's entry in the host's device table, or -1.
    int tableIndex(const devsim::SimDevice& device) const {
        for (std::uint16_t i = 0; i < host->deviceCount(); ++i) {
            if (std::memcmp(host->entry(i).address, device.config().address, 8) == 0) return i;
        }
        return -1;
    }

    std::size_t countInState(devsim::DeviceState state) const {
        std::size_t n = 0;
        for (std::size_t i = 0; i < fleet.size(); ++i) n += fleet.device(i).state() == state ? 1 : 0;
        return n;
    }
    // Time inside the host while it transfers: its cycles and its receive
    // entry (timeHost). Answers never make it send, so timedFrames counts
    // every frame of the transfer.
    std::int64_t hostNs() const { return hostCycleNs + hostLink.hostNs; }

private:
    void cycle() {
        clock.advance(1);
        if (options_.timeHost && host->state() == AppHost::kTransferring) {
            const std::uint32_t before = fleet.hostFrames();
            const auto t0 = std::chrono::steady_clock::now();
            host->hostCycle();
            const std::int64_t ns =
                std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - t0).count();
            hostCycleNs += ns;
            timedFrames += fleet.hostFrames() - before;
            if (fleet.hostFrames() == before) {
                idleCycleNs += ns;
                ++idleCycles;
            }
        } else {
            host->hostCycle();
        }
    }

    void load(const std::vector<devsim::ImageBlock>& blocks, std::uint16_t configuration) {
        image.blocks.clear();
        for (const auto& b : blocks) image.blocks.push_back(FakeBlock{b.address, b.data});
        image.sum = devsim::imageChecksum(blocks, devsim::kFlash256k);
        image.record.major = 1;
        image.record.minor = 2;
        image.record.corrective = 3;
        image.record.build = 100;
        image.record.configuration = configuration;
        image.product = "PROD";
        image.valid = true;
        fleet.setExpectedImage(blocks);
    }

    RigOptions options_;

public:
    CaptureLog capture;
    CountingSink counting;
    EventLog log;
    FakeClock clock;
    SeededRandom random;
    HostSettings settings;
    FakeConsole console;
    FakeImage image;
    FakeKeys keys;
    FakeProgress progress;
    FakeGrid grid;
    FakeControls controls;
    DeviceAdmission admission;
    InProcessHostLink hostLink;
    devsim::SimFleet fleet;
    std::unique_ptr<AppHost> host;
    // timeHost, while the host transfers: frames it sent, time in its cycles.
    std::uint64_t timedFrames = 0;
    std::int64_t hostCycleNs = 0;
    std::int64_t idleCycleNs = 0;  // of that, in cycles that sent nothing
    std::uint64_t idleCycles = 0;
};

}  // namespace dorvane::test
