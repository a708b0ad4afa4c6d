#include "tools/devsim/simDevice.h"

#include <cstring>

#include "protocol/appHost.h"
#include "protocol/helloCipher.h"
#include "tools/devsim/helloDecipher.h"

namespace dorvane::devsim {

namespace {
// Answer statuses as the host reads them.
constexpr std::uint8_t kOk = 0;
constexpr std::uint8_t kHerNok = 255;
constexpr std::uint8_t kHerFatal = 2;
constexpr std::uint8_t kHesFatal = 0;
constexpr std::uint8_t kHesInProgress = 1;
constexpr std::uint8_t kHesSucceeded = 2;
constexpr std::uint8_t kHesMemoryFault = 255;
constexpr std::uint8_t kHflCrash = 1;
constexpr std::uint8_t kRefused = 1;

std::uint64_t splitmix(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}
}  // namespace

const char* stateName(DeviceState state) {
    switch (state) {
    case DeviceState::Hello: return "hello";
    case DeviceState::Rejected: return "rejected";
    case DeviceState::NotConcerned: return "not-concerned";
    case DeviceState::Connected: return "connected";
    case DeviceState::Accepted: return "accepted";
    case DeviceState::MemoryReady: return "memory-ready";
    case DeviceState::Launched: return "launched";
    case DeviceState::HpdRefused: return "hpd-refused";
    case DeviceState::Crashed: return "crashed";
    case DeviceState::MemoryFault: return "memory-fault";
    case DeviceState::ConfigOpen: return "config-open";
    case DeviceState::Configured: return "configured";
    }
    return "?";
}

SimDevice::SimDevice(const DeviceConfig& config, std::size_t index, std::uint32_t flashSize, std::uint64_t seed,
                     IDeviceOutlet& outlet)
    : config_(config),
      index_(index),
      flashSize_(flashSize),
      rng_(seed),
      outlet_(outlet),
      log_(nullptr, nullptr),
      layers_(log_, config_.address, *this) {
    layers_.setUpper(this);
    layers_.sckInit();
}

std::uint32_t SimDevice::nextRandom() { return static_cast<std::uint32_t>(splitmix(rng_) >> 32); }

bool SimDevice::wantsHello() const { return state_ == DeviceState::Hello && config_.faults.mute != Mute::Always; }

bool SimDevice::isFinal() const {
    switch (state_) {
    case DeviceState::Launched:
    case DeviceState::HpdRefused:
    case DeviceState::Crashed:
    case DeviceState::MemoryFault:
    case DeviceState::Configured:
    case DeviceState::NotConcerned:
    case DeviceState::Rejected:
        return true;
    default:
        return false;
    }
}

void SimDevice::sayHello() {
    if (!wantsHello()) return;
    // A fresh nonce for every hello; the one before is kept, so that an
    // answer to the previous hello that crossed this one still opens.
    std::memcpy(previousNonce_, nonce_, 4);
    havePreviousNonce_ = counters_.hellos > 0;
    const std::uint32_t r = nextRandom();
    for (int i = 0; i < 4; ++i) nonce_[i] = static_cast<std::uint8_t>(r >> (8 * i));

    std::uint8_t p[13 + 128];
    std::memcpy(p, nonce_, 4);
    p[4] = config_.major;
    p[5] = config_.minor;
    p[6] = config_.corrective;
    p[7] = static_cast<std::uint8_t>(config_.build);
    p[8] = static_cast<std::uint8_t>(config_.build >> 8);
    p[9] = static_cast<std::uint8_t>(config_.build >> 16);
    p[10] = static_cast<std::uint8_t>(config_.configuration);
    p[11] = static_cast<std::uint8_t>(config_.configuration >> 8);
    // A hello must fit one frame: the name is cut to what the payload holds.
    const std::size_t room = FrameLayers::kMaxSckPayload - 13;
    const std::size_t nameLength = config_.product.size() < room ? config_.product.size() : room;
    p[12] = static_cast<std::uint8_t>(nameLength);
    std::memcpy(p + 13, config_.product.data(), nameLength);
    ++counters_.hellos;
    sendingAnswer_ = false;
    layers_.sckSendRequest(kBroadcastAddress, kMsgELO, 0, p, static_cast<std::uint8_t>(13 + nameLength));
}

void SimDevice::receive(const std::uint8_t* bytes, std::uint8_t count) { layers_.phyReceive(count, bytes); }

bool SimDevice::send(const std::uint8_t* bytes, std::uint8_t count) {
    outlet_.fromDevice(*this, bytes, count, sendingAnswer_);
    return true;
}

bool SimDevice::silentFor(std::uint8_t type) const {
    switch (config_.faults.mute) {
    case Mute::None: return false;
    case Mute::Always:
    case Mute::FromHer: return true;
    case Mute::FromHes: return type != kMsgHER;
    case Mute::FromHfl: return type != kMsgHER && type != kMsgHES;
    case Mute::FromHpd: return type == kMsgHPD;
    case Mute::FromPmr: return type == kMsgPMR || type == kMsgPWR || type == kMsgPIN;
    }
    return false;
}

bool SimDevice::answer(std::uint8_t type, std::uint8_t status, std::uint16_t value) {
    // The answer goes to the host over the request being handled.
    sendingAnswer_ = true;
    const bool sent = layers_.sckSendAnswer(hostAddress_, type, status, value, nullptr, 0);
    sendingAnswer_ = false;
    return sent;
}

// ---- Hello answer ----------------------------------------------------------

bool SimDevice::identityMatches(const std::uint8_t identity[7], bool keysMode) const {
    std::uint8_t expected[7];
    if (!keysMode) {
        std::memcpy(expected, config_.address, 7);
    } else {
        std::uint8_t k[3][16];
        std::memcpy(k, config_.keys, sizeof k);
        if (config_.faults.wrongKeys) k[0][0] ^= 0x01;
        deriveIdentityBytes(k[0], k[1], k[2], expected);
    }
    return std::memcmp(identity, expected, 7) == 0;
}

bool SimDevice::onHelloAnswer(std::uint16_t value, const std::uint8_t* payload, std::uint8_t length) {
    if (state_ != DeviceState::Hello) return false;
    if (length != 8 || payload == nullptr) {
        ++counters_.malformed;
        return false;
    }
    ++counters_.helloAnswers;
    // The high byte of the value tells how the host proves it knows us:
    // 0 by our address, 1 by our keys.
    const bool keysMode = (value >> 8) != 0;
    std::uint8_t identity[7];
    std::uint8_t minutes = 0;
    openHelloAnswer(payload, nonce_, identity, minutes);
    bool matches = identityMatches(identity, keysMode);
    if (!matches && havePreviousNonce_) {
        openHelloAnswer(payload, previousNonce_, identity, minutes);
        matches = identityMatches(identity, keysMode);
    }
    std::memcpy(hostAddress_, layers_.senderAddress(), kAddressSize);
    hostKnown_ = true;
    if (!matches) {
        ++counters_.identityMismatches;
        state_ = DeviceState::Rejected;
        return false;
    }
    minutes_ = minutes;
    state_ = minutes == 0 ? DeviceState::NotConcerned : DeviceState::Connected;
    return true;
}

bool SimDevice::onAnswer(std::uint8_t type, std::uint8_t /*status*/, std::uint16_t value, const std::uint8_t* payload,
                         std::uint8_t length) {
    // Devices hear answers only to their own hello.
    if (type != kMsgELO) return false;
    return onHelloAnswer(value, payload, length);
}

// ---- Requests --------------------------------------------------------------

bool SimDevice::takeSeed(const std::uint8_t* payload, std::uint8_t length) {
    if (payload == nullptr || length < 1) return false;
    const std::uint8_t jammer = payload[0];
    if (jammer > 2) return false;
    if (jammer == 1) {
        if (length < 3) return false;
        seed_ = static_cast<std::uint16_t>((payload[1] | (payload[2] << 8)) ^ AppHost::kSeedMask);
    } else {
        seed_ = 0;
    }
    jammer_ = jammer;
    return true;
}

void SimDevice::startTransfer() {
    memory_.clear();
    frames_.clear();
    framesHeld_ = 0;
    lowestMissing_ = 0;
    highestHeld_ = -1;
    pwr_.clear();
    hesLeft_ = config_.faults.hesInProgress;
    reportSecond_ = false;
}

std::uint32_t SimDevice::missingAfter(std::uint32_t frame) const {
    std::uint32_t f = frame + 1;
    while (f < frames_.size() && frames_[f].held) ++f;
    return f;
}

void SimDevice::onGwr(std::uint32_t parameter, const std::uint8_t* payload, std::uint8_t length) {
    if (state_ != DeviceState::MemoryReady) {
        ++counters_.gwrIgnored;
        return;
    }
    if (payload == nullptr || length < 3) {
        ++counters_.malformed;
        return;
    }
    const std::uint16_t frame = static_cast<std::uint16_t>(payload[0] | (payload[1] << 8));
    const std::uint8_t count = static_cast<std::uint8_t>(length - 2);
    std::uint8_t data[FrameLayers::kMaxSckPayload];
    std::memcpy(data, payload + 2, count);
    if (jammer_ == 1) {
        scrambler_.restart(seed_);
        scrambler_.descramble(data, count);
    }
    const std::uint32_t address = parameter & 0xFFFFFFu;
    if (frame >= frames_.size()) frames_.resize(static_cast<std::size_t>(frame) + 1);
    FrameRecord& record = frames_[frame];
    if (record.held && (record.address != address || record.length != count)) ++counters_.conflicts;
    memory_.write(address, data, count);
    if (!record.held) {
        record.held = true;
        ++framesHeld_;
        if (frame > highestHeld_) highestHeld_ = frame;
    }
    record.address = address;
    record.length = count;
    while (lowestMissing_ < frames_.size() && frames_[lowestMissing_].held) ++lowestMissing_;
    ++counters_.gwrStored;
}

bool SimDevice::onRequest(std::uint8_t type, std::uint32_t parameter, const std::uint8_t* payload,
                          std::uint8_t length) {
    // Only the host that answered our hello is listened to.
    if (!hostKnown_ || std::memcmp(layers_.senderAddress(), hostAddress_, kAddressSize) != 0) {
        if (type == kMsgGWR) ++counters_.gwrIgnored;
        return false;
    }
    if (type == kMsgGWR) {
        onGwr(parameter, payload, length);
        return false;
    }
    if (silentFor(type)) return false;

    // A device that could not verify the host says no where it can.
    if (state_ == DeviceState::Rejected) {
        if (type == kMsgHER) return answer(type, kHerNok);
        if (type == kMsgPMR) {
            ++counters_.pmrRefusals;
            return answer(type, kRefused);
        }
        return false;
    }

    switch (type) {
    case kMsgHER:
        if (state_ == DeviceState::Hello || state_ == DeviceState::NotConcerned) return false;
        if (!takeSeed(payload, length)) return answer(type, kHerFatal);
        // HER opens a transfer: whatever a transfer before left is dropped.
        startTransfer();
        state_ = DeviceState::Accepted;
        return answer(type, kOk);

    case kMsgHES:
        ++counters_.hesAnswers;
        if (state_ == DeviceState::MemoryReady) return answer(type, kHesSucceeded);
        if (state_ == DeviceState::MemoryFault) return answer(type, kHesMemoryFault);
        if (state_ != DeviceState::Accepted) return answer(type, kHesFatal);
        if (config_.faults.memoryFault) {
            state_ = DeviceState::MemoryFault;
            return answer(type, kHesMemoryFault);
        }
        if (config_.faults.hesForever) return answer(type, kHesInProgress);
        if (hesLeft_ > 0) {
            --hesLeft_;
            return answer(type, kHesInProgress);
        }
        state_ = DeviceState::MemoryReady;
        return answer(type, kHesSucceeded);

    case kMsgHFL: {
        if (state_ == DeviceState::Crashed) return answer(type, kHflCrash);
        if (state_ != DeviceState::MemoryReady && state_ != DeviceState::Launched &&
            state_ != DeviceState::HpdRefused) {
            return false;
        }
        if (config_.faults.crashInHfl) {
            state_ = DeviceState::Crashed;
            return answer(type, kHflCrash);
        }
        std::uint32_t report = lowestMissing_;
        if (config_.faults.hflAlternates) {
            if (reportSecond_) report = missingAfter(lowestMissing_);
            reportSecond_ = !reportSecond_;
        }
        if (report > 0xFFFF) report = 0xFFFF;
        ++counters_.hflAnswers;
        if (static_cast<std::int64_t>(report) < highestHeld_) ++counters_.lostReports;
        return answer(type, kOk, static_cast<std::uint16_t>(report));
    }

    case kMsgHPD: {
        if (state_ == DeviceState::Launched) return answer(type, kOk);
        if (state_ == DeviceState::HpdRefused) return answer(type, kRefused);
        if (state_ != DeviceState::MemoryReady) return false;
        if (payload == nullptr || length < 4) {
            ++counters_.malformed;
            return answer(type, kRefused);
        }
        counters_.hpdChecksumHost = static_cast<std::uint32_t>(payload[0]) |
                                    (static_cast<std::uint32_t>(payload[1]) << 8) |
                                    (static_cast<std::uint32_t>(payload[2]) << 16) |
                                    (static_cast<std::uint32_t>(payload[3]) << 24);
        counters_.hpdChecksumOwn = memory_.flashChecksum(flashSize_);
        if (counters_.hpdChecksumOwn != counters_.hpdChecksumHost) {
            state_ = DeviceState::HpdRefused;
            return answer(type, kRefused);
        }
        state_ = DeviceState::Launched;
        return answer(type, kOk);
    }

    case kMsgPMR:
        if (state_ != DeviceState::Connected && state_ != DeviceState::ConfigOpen) return false;
        if (config_.faults.refusePmr || !takeSeed(payload, length)) {
            ++counters_.pmrRefusals;
            return answer(type, kRefused);
        }
        if (state_ == DeviceState::Connected) startTransfer();
        state_ = DeviceState::ConfigOpen;
        return answer(type, kOk);

    case kMsgPWR: {
        if (state_ != DeviceState::ConfigOpen) return false;
        if (payload == nullptr || length == 0) {
            ++counters_.malformed;
            return answer(type, kRefused);
        }
        ImageBlock block;
        block.address = parameter & 0xFFFFFFu;
        block.data.assign(payload, payload + length);
        if (jammer_ == 1) {
            scrambler_.restart(seed_);
            scrambler_.descramble(block.data.data(), block.data.size());
        }
        memory_.write(block.address, block.data.data(), block.data.size());
        pwr_.push_back(std::move(block));
        ++counters_.pwrWrites;
        return answer(type, kOk);
    }

    case kMsgPIN:
        if (state_ == DeviceState::Configured) return answer(type, kOk);
        if (state_ != DeviceState::ConfigOpen) return false;
        state_ = DeviceState::Configured;
        return answer(type, kOk);

    default:
        return false;
    }
}

}  // namespace dorvane::devsim
