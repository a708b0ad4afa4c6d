// A fleet of simulated devices on one shared medium. A frame from the host
// reaches every device it is addressed to (all of them for the broadcast
// address), each through its own draw of the host-to-device loss; a device's
// frame reaches the host through a draw of the device-to-host loss. Time is
// the shared clock's: the fleet delivers what is due whenever it is polled,
// so with a fake clock a whole transfer runs in milliseconds.
//
// The host's side is a seam: in-process the fleet is the host's link sender
// and hands frames up to the host's Phy receive entry; over UDP the program
// carries them in datagrams (and a virtual dongle could carry them later).
#pragma once

#include <cstdint>
#include <memory>
#include <queue>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "protocol/ports.h"
#include "tools/devsim/simDevice.h"
#include "tools/devsim/simMemory.h"

namespace dorvane::devsim {

// The fleet's way to the host.
class IHostLink {
public:
    virtual ~IHostLink() = default;
    virtual void toHost(const std::uint8_t* bytes, std::uint8_t count) = 0;
};

struct FleetOptions {
    // Per frame and per direction: the chance that one frame does not reach
    // one receiver. Host to device is drawn for every device that would
    // receive the frame; device to host once per frame.
    double lossToDevices = 0.0;
    double lossToHost = 0.0;
    std::uint64_t seed = 1;
    std::uint32_t helloIntervalMs = 1000;
    // First hellos at random points of the first interval (a fleet switched
    // on at once does not speak in one burst); off: device i first speaks
    // i ms after it was added, so the host admits them in the order added.
    bool randomFirstHello = true;
    std::uint32_t flashSize = kFlash256k;
    std::uint32_t latencyToDevicesMs = 0;
    std::uint32_t latencyToHostMs = 0;
    bool trace = false;
};

// Everything that crossed the medium, when tracing.
struct TraceEntry {
    std::uint64_t time = 0;
    bool fromHost = false;
    std::int32_t device = -1;  // the sender (device frames) or -1 (host frames)
    std::vector<std::uint8_t> bytes;
    bool lost = false;         // a device frame that did not reach the host
};

struct MediumCounters {
    std::uint32_t framesIn = 0;          // frames from the host that reached the device
    std::uint32_t gwrIn = 0;             // GWR copies that reached it
    std::uint32_t resentIn = 0;          // of those, frames the host had broadcast before
    std::uint32_t lostToDevice = 0;
    std::uint32_t lostToHost = 0;
    std::uint32_t deafDropped = 0;
    std::uint32_t corrupted = 0;
};

struct DeviceReport {
    std::uint8_t address[kAddressSize] = {};
    DeviceState state = DeviceState::Hello;
    bool mute = false;
    bool hasData = false;
    bool imageMatch = false;
    std::uint32_t firstDifference = 0;
    std::uint32_t framesHeld = 0;
    DeviceCounters device;
    MediumCounters medium;
};

class SimFleet final : public ILinkSender, private IDeviceOutlet {
public:
    SimFleet(IClock& clock, IHostLink& host, const FleetOptions& options);
    ~SimFleet() override;

    SimDevice& add(const DeviceConfig& config);
    std::size_t size() const { return slots_.size(); }
    SimDevice& device(std::size_t i) { return *slots_[i].device; }
    const SimDevice& device(std::size_t i) const { return *slots_[i].device; }

    // A frame from the host onto the medium (the host's link send routine
    // in-process; a datagram's bytes over UDP).
    bool send(const std::uint8_t* bytes, std::uint8_t count) override;
    void fromHost(const std::uint8_t* bytes, std::size_t count);

    // Delivers everything due by now: frames to devices, frames to the host,
    // hellos.
    void poll();
    // Milliseconds until the next thing is due (0: due now), or -1 when
    // nothing is scheduled.
    std::int64_t msUntilNext();

    // The memory every device should end with.
    void setExpectedImage(const std::vector<ImageBlock>& blocks) { expected_ = SimMemory::fromBlocks(blocks); }
    const SimMemory& expectedImage() const { return expected_; }

    DeviceReport report(std::size_t i) const;
    // "device 0x... state=... image=match|mismatch|none frames=... resent=..."
    std::string reportLine(std::size_t i) const;
    // Every non-mute device has reached a state that nothing will change.
    bool allFinal() const;

    const std::vector<TraceEntry>& trace() const { return trace_; }
    std::uint32_t hostFrames() const { return hostFrames_; }
    std::uint32_t hostFramesOfType(std::uint8_t type) const { return hostFramesByType_[type & 0x7F]; }
    std::uint64_t now() { return clockNow(); }

private:
    enum class Kind : std::uint8_t { ToDevices, ToHost, Hello };
    struct Event {
        std::uint64_t time;
        std::uint64_t order;
        Kind kind;
        std::int32_t device;
        bool resend;
        std::uint8_t count;
        std::uint8_t bytes[255];
    };
    struct Later {
        bool operator()(const Event& a, const Event& b) const {
            return a.time != b.time ? a.time > b.time : a.order > b.order;
        }
    };
    struct Slot {
        std::unique_ptr<SimDevice> device;
        MediumCounters medium;
        std::uint32_t gwrCopies = 0;   // GWR copies that came its way, lost or not
        std::vector<std::uint32_t> deafSeen;  // per entry of the device's deafness list
        bool corruptDone = false;
    };

    void fromDevice(SimDevice& device, const std::uint8_t* bytes, std::uint8_t count, bool answer) override;
    std::uint64_t clockNow();
    bool draw(double p);
    void schedule(Event& e);
    void deliverToDevices(const Event& e);
    void deliverTo(Slot& slot, const Event& e, bool gwr, std::uint16_t frame);

    IClock& clock_;
    IHostLink& host_;
    FleetOptions options_;
    std::mt19937_64 rng_;
    std::vector<Slot> slots_;
    std::unordered_map<std::uint64_t, std::size_t> byAddress_;
    std::priority_queue<Event, std::vector<Event>, Later> queue_;
    std::uint64_t order_ = 0;
    bool clockStarted_ = false;
    std::uint32_t lastTick_ = 0;
    std::uint64_t now_ = 0;
    std::vector<bool> broadcastBefore_;  // GWR frame numbers the host has sent
    SimMemory expected_;
    std::vector<TraceEntry> trace_;
    std::uint32_t hostFrames_ = 0;
    std::uint32_t hostFramesByType_[128] = {};
};

}  // namespace dorvane::devsim
