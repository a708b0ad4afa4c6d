// A host App Host wired to fakes, and a device-side frame builder that makes
// real frames with the same frame layers, so tests go through Phy/Mac/Sck.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "protocol/appHost.h"
#include "protocol/eventLog.h"
#include "protocol/frameLayers.h"
#include "tests/support/fakes.h"

namespace dorvane::test {

// A frame as it went out: the Sck header fields and payload.
struct SentFrame {
    std::vector<std::uint8_t> raw;
    std::vector<std::uint8_t> source, destination;
    std::uint8_t type = 0;
    bool answer = false;
    std::uint32_t parameter = 0;  // requests
    std::uint8_t status = 0;      // answers
    std::uint16_t value = 0;      // answers
    std::vector<std::uint8_t> payload;
};

inline SentFrame parseFrame(const std::vector<std::uint8_t>& raw) {
    SentFrame f;
    f.raw = raw;
    f.source.assign(raw.begin() + 2, raw.begin() + 10);
    f.destination.assign(raw.begin() + 10, raw.begin() + 18);
    const std::uint8_t b0 = raw[18];
    f.answer = (b0 & 0x80) != 0;
    f.type = b0 & 0x7F;
    f.parameter = raw[19] | (raw[20] << 8) | (raw[21] << 16);
    f.status = raw[19];
    f.value = static_cast<std::uint16_t>(raw[20] | (raw[21] << 8));
    const std::size_t length = raw[1];
    f.payload.assign(raw.begin() + 22, raw.begin() + 2 + length);
    return f;
}

// Builds device-side frames (requests and answers) from a given address.
class DeviceFrames {
public:
    explicit DeviceFrames(const std::uint8_t* address) : log_(nullptr, nullptr), layers_(log_, own_, link_) {
        std::memcpy(own_, address, 8);
    }
    std::vector<std::uint8_t> request(const std::uint8_t* to, std::uint8_t type, std::uint32_t parameter,
                                      const std::vector<std::uint8_t>& payload) {
        link_.frames.clear();
        layers_.sckSendRequest(to, type, parameter, payload.data(), static_cast<std::uint8_t>(payload.size()));
        return link_.frames.empty() ? std::vector<std::uint8_t>{} : link_.frames.back();
    }
    std::vector<std::uint8_t> answer(const std::uint8_t* to, std::uint8_t type, std::uint8_t status,
                                     std::uint16_t value, const std::vector<std::uint8_t>& payload = {}) {
        link_.frames.clear();
        layers_.sckSendAnswer(to, type, status, value, payload.data(), static_cast<std::uint8_t>(payload.size()));
        return link_.frames.empty() ? std::vector<std::uint8_t>{} : link_.frames.back();
    }
    std::uint8_t own_[8];

private:
    EventLog log_;
    CaptureLink link_;
    FrameLayers layers_;
};

inline std::vector<std::uint8_t> helloPayload(const std::uint8_t nonce[4], std::uint8_t major, std::uint8_t minor,
                                              std::uint8_t corrective, std::uint32_t build,
                                              std::uint16_t configuration, const std::string& name) {
    std::vector<std::uint8_t> p = {nonce[0], nonce[1], nonce[2], nonce[3], major, minor, corrective,
                                   static_cast<std::uint8_t>(build), static_cast<std::uint8_t>(build >> 8),
                                   static_cast<std::uint8_t>(build >> 16),
                                   static_cast<std::uint8_t>(configuration),
                                   static_cast<std::uint8_t>(configuration >> 8),
                                   static_cast<std::uint8_t>(name.size())};
    p.insert(p.end(), name.begin(), name.end());
    return p;
}

// Admission that admits (or not) with given minutes and records its calls.
class ScriptedAdmission final : public IDeviceAdmission {
public:
    AdmissionResult evaluate(const Hello& hello) override {
        calls.push_back(std::string(hello.productName, hello.productNameLength));
        return result;
    }
    AdmissionResult result{true, 5};
    std::vector<std::string> calls;
};

struct HostFixture {
    HostFixture() : log(&capture, &capture) {
        AppHost::Ports ports;
        ports.log = &log;
        ports.clock = &clock;
        ports.random = &random;
        ports.settings = &settings;
        ports.link = &link;
        ports.console = &console;
        ports.admission = &admission;
        ports.image = &image;
        ports.keys = &keys;
        ports.progress = &progress;
        host = std::make_unique<AppHost>(ports);
    }
    void feed(const std::vector<std::uint8_t>& bytes) {
        host->phyReceive(static_cast<std::uint8_t>(bytes.size()), bytes.data());
    }
    SentFrame lastSent() const { return parseFrame(link.frames.back()); }
    // Runs host cycles, advancing the clock 1 ms per cycle.
    void run(std::uint32_t ms) {
        for (std::uint32_t i = 0; i < ms; ++i) {
            clock.advance(1);
            host->hostCycle();
        }
    }

    CaptureLog capture;
    EventLog log;
    FakeClock clock;
    FakeRandom random;
    HostSettings settings;
    CaptureLink link;
    FakeConsole console;
    ScriptedAdmission admission;
    FakeImage image;
    FakeKeys keys;
    FakeProgress progress;
    std::unique_ptr<AppHost> host;
};

}  // namespace dorvane::test
