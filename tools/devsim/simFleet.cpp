#include "tools/devsim/simFleet.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "protocol/frameLayers.h"

namespace dorvane::devsim {

namespace {
std::uint64_t addressKey(const std::uint8_t* a) {
    std::uint64_t k = 0;
    for (std::size_t i = 0; i < kAddressSize; ++i) k = k << 8 | a[i];
    return k;
}

// A whole Phy frame with room for an Sck header: start byte, length, and
// the length's bytes plus the checksum present.
bool wholeFrame(const std::uint8_t* bytes, std::size_t count) {
    return count >= 22 && bytes[0] == FrameLayers::kStartByte && static_cast<std::size_t>(bytes[1]) + 3 <= count;
}

bool isGwr(const std::uint8_t* bytes, std::size_t count) {
    return wholeFrame(bytes, count) && bytes[FrameLayers::kOffsetSckHeader] == kMsgGWR && bytes[1] >= 16 + 4 + 2;
}

std::uint16_t gwrFrameNumber(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[FrameLayers::kOffsetSckPayload] |
                                      (bytes[FrameLayers::kOffsetSckPayload + 1] << 8));
}
}  // namespace

SimFleet::SimFleet(IClock& clock, IHostLink& host, const FleetOptions& options)
    : clock_(clock), host_(host), options_(options), rng_(options.seed) {}

SimFleet::~SimFleet() = default;

std::uint64_t SimFleet::clockNow() {
    const std::uint32_t tick = clock_.tickCount();
    if (!clockStarted_) {
        clockStarted_ = true;
        now_ = tick;
    } else {
        now_ += static_cast<std::uint32_t>(tick - lastTick_);  // across the 32-bit wrap
    }
    lastTick_ = tick;
    return now_;
}

bool SimFleet::draw(double p) {
    if (p <= 0.0) return false;
    if (p >= 1.0) return true;
    const double u = static_cast<double>(rng_() >> 11) * (1.0 / 9007199254740992.0);
    return u < p;
}

void SimFleet::schedule(Event& e) {
    e.order = order_++;
    queue_.push(e);
}

SimDevice& SimFleet::add(const DeviceConfig& config) {
    Slot slot;
    const std::size_t index = slots_.size();
    slot.device = std::make_unique<SimDevice>(config, index, options_.flashSize,
                                              options_.seed * 0x100000001B3ull + index + 1,
                                              static_cast<IDeviceOutlet&>(*this));
    byAddress_.emplace(addressKey(config.address), index);
    slots_.push_back(std::move(slot));

    Event e{};
    e.kind = Kind::Hello;
    e.device = static_cast<std::int32_t>(index);
    const std::uint32_t interval = options_.helloIntervalMs > 0 ? options_.helloIntervalMs : 1;
    e.time = clockNow() + (options_.randomFirstHello ? rng_() % interval : index + 1);
    schedule(e);
    return *slots_.back().device;
}

bool SimFleet::send(const std::uint8_t* bytes, std::uint8_t count) {
    fromHost(bytes, count);
    return true;
}

void SimFleet::fromHost(const std::uint8_t* bytes, std::size_t count) {
    if (bytes == nullptr || count == 0) return;
    if (count > 255) count = 255;
    const std::uint64_t now = clockNow();
    ++hostFrames_;
    if (wholeFrame(bytes, count)) ++hostFramesByType_[bytes[FrameLayers::kOffsetSckHeader] & 0x7F];
    if (options_.trace) {
        trace_.push_back(TraceEntry{now, true, -1, std::vector<std::uint8_t>(bytes, bytes + count), false});
    }

    Event e{};
    e.kind = Kind::ToDevices;
    e.time = now + options_.latencyToDevicesMs;
    e.count = static_cast<std::uint8_t>(count);
    std::memcpy(e.bytes, bytes, count);
    if (isGwr(bytes, count)) {
        const std::uint16_t frame = gwrFrameNumber(bytes);
        if (frame >= broadcastBefore_.size()) broadcastBefore_.resize(static_cast<std::size_t>(frame) + 1, false);
        e.resend = broadcastBefore_[frame];
        broadcastBefore_[frame] = true;
    }
    schedule(e);
}

void SimFleet::fromDevice(SimDevice& device, const std::uint8_t* bytes, std::uint8_t count, bool answer) {
    Slot& slot = slots_[device.index()];
    const std::uint64_t now = clockNow();
    const double p = device.config().faults.lossToHost >= 0.0 ? device.config().faults.lossToHost : options_.lossToHost;
    const bool lost = draw(p);
    if (options_.trace) {
        trace_.push_back(TraceEntry{now, false, static_cast<std::int32_t>(device.index()),
                                    std::vector<std::uint8_t>(bytes, bytes + count), lost});
    }
    if (lost) {
        ++slot.medium.lostToHost;
        return;
    }
    Event e{};
    e.kind = Kind::ToHost;
    e.device = static_cast<std::int32_t>(device.index());
    e.time = now + options_.latencyToHostMs + (answer ? device.config().faults.answerDelayMs : 0);
    e.count = count;
    std::memcpy(e.bytes, bytes, count);
    schedule(e);
}

void SimFleet::deliverTo(Slot& slot, const Event& e, bool gwr, std::uint16_t frame) {
    const DeviceFaults& faults = slot.device->config().faults;
    if (gwr) {
        ++slot.gwrCopies;
        if (slot.deafSeen.size() < faults.deaf.size()) slot.deafSeen.resize(faults.deaf.size(), 0);
        for (std::size_t k = 0; k < faults.deaf.size(); ++k) {
            if (faults.deaf[k].frame != frame || slot.deafSeen[k] >= faults.deaf[k].copies) continue;
            ++slot.deafSeen[k];
            ++slot.medium.deafDropped;
            return;
        }
        if (faults.gwrLossPeriod > 0 && slot.gwrCopies % faults.gwrLossPeriod == 0) {
            ++slot.medium.lostToDevice;
            return;
        }
    }
    if (draw(faults.lossToDevice >= 0.0 ? faults.lossToDevice : options_.lossToDevices)) {
        ++slot.medium.lostToDevice;
        return;
    }
    ++slot.medium.framesIn;
    if (gwr) {
        ++slot.medium.gwrIn;
        if (e.resend) ++slot.medium.resentIn;
        if (faults.corruptFrame >= 0 && frame == faults.corruptFrame && !slot.corruptDone &&
            e.count > FrameLayers::kOffsetSckPayload + 3) {
            // Flip the first data byte and make the Phy checksum good again.
            std::uint8_t copy[255];
            std::memcpy(copy, e.bytes, e.count);
            copy[FrameLayers::kOffsetSckPayload + 2] ^= 0x5A;
            const std::uint8_t length = copy[1];
            std::uint8_t sum = 0;
            for (std::uint8_t i = 0; i < length; ++i) sum = static_cast<std::uint8_t>(sum + copy[2 + i]);
            copy[2 + length] = static_cast<std::uint8_t>(-sum);
            slot.corruptDone = true;
            ++slot.medium.corrupted;
            slot.device->receive(copy, e.count);
            return;
        }
    }
    slot.device->receive(e.bytes, e.count);
}

void SimFleet::deliverToDevices(const Event& e) {
    const bool whole = wholeFrame(e.bytes, e.count);
    const bool gwr = isGwr(e.bytes, e.count);
    const std::uint16_t frame = gwr ? gwrFrameNumber(e.bytes) : 0;
    bool broadcast = true;
    if (whole) {
        const std::uint8_t* destination = e.bytes + FrameLayers::kOffsetDestination;
        broadcast = std::memcmp(destination, kBroadcastAddress, kAddressSize) == 0;
        if (!broadcast) {
            // A frame for one address: the others would hear it and drop it
            // in their Mac layer, which changes nothing for them.
            const auto it = byAddress_.find(addressKey(destination));
            if (it != byAddress_.end()) deliverTo(slots_[it->second], e, false, 0);
            return;
        }
    }
    for (Slot& slot : slots_) deliverTo(slot, e, gwr, frame);
}

void SimFleet::poll() {
    const std::uint64_t now = clockNow();
    while (!queue_.empty() && queue_.top().time <= now) {
        const Event e = queue_.top();
        queue_.pop();
        switch (e.kind) {
        case Kind::ToDevices:
            deliverToDevices(e);
            break;
        case Kind::ToHost:
            host_.toHost(e.bytes, e.count);
            break;
        case Kind::Hello: {
            SimDevice& d = *slots_[e.device].device;
            if (!d.wantsHello()) break;
            d.sayHello();
            Event next = e;
            next.time = now + (options_.helloIntervalMs > 0 ? options_.helloIntervalMs : 1);
            schedule(next);
            break;
        }
        }
    }
}

std::int64_t SimFleet::msUntilNext() {
    if (queue_.empty()) return -1;
    const std::uint64_t now = clockNow();
    const std::uint64_t t = queue_.top().time;
    return t <= now ? 0 : static_cast<std::int64_t>(t - now);
}

DeviceReport SimFleet::report(std::size_t i) const {
    const Slot& slot = slots_[i];
    const SimDevice& d = *slot.device;
    DeviceReport r;
    std::memcpy(r.address, d.config().address, kAddressSize);
    r.state = d.state();
    r.mute = d.isMute();
    r.hasData = !d.memory().empty();
    r.imageMatch = r.hasData && !d.memory().firstDifference(expected_, r.firstDifference);
    if (!r.hasData) r.firstDifference = 0;
    r.framesHeld = d.framesHeld();
    r.device = d.counters();
    r.medium = slot.medium;
    return r;
}

std::string SimFleet::reportLine(std::size_t i) const {
    const DeviceReport r = report(i);
    char line[320];
    int n = std::snprintf(line, sizeof line, "device 0x");
    for (std::size_t b = 0; b < kAddressSize; ++b) n += std::snprintf(line + n, sizeof line - n, "%02X", r.address[b]);
    const char* image = !r.hasData ? "none" : r.imageMatch ? "match" : "mismatch";
    n += std::snprintf(line + n, sizeof line - n,
                       " state=%s image=%s frames=%" PRIu32 " resent=%" PRIu32 " held=%" PRIu32 " asked=%" PRIu32
                       " pwr=%" PRIu32 " lost-in=%" PRIu32 " lost-out=%" PRIu32,
                       stateName(r.state), image, r.medium.gwrIn, r.medium.resentIn, r.framesHeld,
                       r.device.lostReports, r.device.pwrWrites, r.medium.lostToDevice + r.medium.deafDropped,
                       r.medium.lostToHost);
    if (r.hasData && !r.imageMatch) {
        std::snprintf(line + n, sizeof line - n, " first-difference=0x%06" PRIX32, r.firstDifference);
    }
    return line;
}

bool SimFleet::allFinal() const {
    for (const Slot& slot : slots_) {
        if (!slot.device->isMute() && !slot.device->isFinal()) return false;
    }
    return true;
}

}  // namespace dorvane::devsim
