#include "protocol/appHost.h"

#include <cstring>

#include "protocol/helloCipher.h"
#include "protocol/logText.h"

namespace dorvane {

// ---- One-shot timer --------------------------------------------------------

namespace {
void timerStart(OneShotTimer& t, IClock& clock, std::uint32_t ms) {
    t.lastTick = clock.tickCount();
    t.remaining = ms;
    t.armed = true;
}
void timerStop(OneShotTimer& t) { t.armed = false; }
bool timerExpired(OneShotTimer& t, IClock& clock) {
    if (!t.armed) return false;
    if (t.remaining == 0) return true;
    const std::uint32_t now = clock.tickCount();
    const std::uint32_t elapsed = now - t.lastTick;  // wraps with the tick counter
    t.lastTick = now;
    if (t.remaining > elapsed) {
        t.remaining -= elapsed;
        return false;
    }
    t.remaining = 0;
    return true;
}
std::uint32_t timerRemaining(const OneShotTimer& t) { return t.remaining; }
void timerReset(OneShotTimer& t) { t.armed = false; }
}  // namespace

const OneShotTimerOps kOneShotTimerOps = {timerStart, timerStop, timerExpired, timerRemaining, timerReset};

// ---- App Host --------------------------------------------------------------

AppHost::AppHost(const Ports& ports)
    : ports_(ports), frames_(*ports.log, ports.settings->hostAddress, *ports.link) {
    frames_.setUpper(this);
}

void AppHost::notify(std::uint8_t event) {
    if (ports_.console != nullptr) ports_.console->notify(event);
}

bool AppHost::isConfigurationPackage() const {
    return ports_.image != nullptr && ports_.image->isValid() && ports_.image->isConfigurationPackage();
}

void AppHost::hostCycle() {
    if (!firstCycleDone_) {
        ports_.log->line("*** Assert debug initialization ***");
        ports_.log->print(1, "FoTa App Host - Version : %02u.%02u", 1u, 0u);
        init();
        firstCycleDone_ = true;
    }
    cycleStep();
}

void AppHost::init() {
    kOneShotTimerOps.stop(timer_);
    retry_ = 0;
    currentIndex_ = 0;
    deviceCount_ = 0;
    frameIndex_ = 0;
    framesSent_ = 0;
    step_ = kStepNone;
    state_ = kDisconnected;
    notify(kIdle);
    ports_.log->print(1, "SSTP App Host - Initialization");
    frames_.sckInit();
}

void AppHost::drawTransferSeed() {
    // The low 16 bits of the tick counter, read until they are neither 0 nor
    // the seed mask. A tick counter that does not move (it always does on a
    // running system) cannot hang the cycle: after many reads the draw falls
    // back to the random function.
    for (int attempt = 0; attempt < 100000; ++attempt) {
        const std::uint16_t value = static_cast<std::uint16_t>(ports_.clock->tickCount() & 0xFFFFu);
        if (value != 0 && value != kSeedMask) {
            seed_ = value;
            return;
        }
    }
    std::uint16_t value = static_cast<std::uint16_t>(1 + jitter(0xFFFE));
    if (value == kSeedMask) value = static_cast<std::uint16_t>(value + 1);
    seed_ = value;
}

void AppHost::cycleStep() {
    switch (state_) {
    case kDisconnected:
        return;
    case kConnecting:
        if (!timerExpired()) return;
        currentIndex_ = 0;
        retry_ = 0;
        step_ = isConfigurationPackage() ? kStepPmrSend : kStepHerSend;
        // Per-transfer bookkeeping of the device bounds.
        lastLostFrame_ = kNoLostFrame;
        lostRepeat_ = 0;
        lostFrameDevice_ = -1;
        resendsForDevice_ = 0;
        std::memset(inProgressPolls_, 0, sizeof inProgressPolls_);
        awaiting_ = kNothingAwaited;
        ports_.log->print(1, "SSTP - App Host : It's started  !!");
        drawTransferSeed();
        state_ = kTransferring;
        notify(kTransferStarted);
        return;
    case kTransferring:
        switch (step_) {
        case kStepHerSend: stepHerSend(); break;
        case kStepHerWait: stepHerWait(); break;
        case kStepHesSend: stepHesSend(); break;
        case kStepHesWait: stepHesWait(); break;
        case kStepGwrSweep: stepGwrSweep(); break;
        case kStepGwrResend: stepGwrResend(); break;
        case kStepHflHpdSend: stepHflHpdSend(); break;
        case kStepHflHpdWait: stepHflHpdWait(); break;
        case kStepPmrSend: stepPmrSend(); break;
        case kStepPmrWait: stepPmrWait(); break;
        case kStepPwrSend: stepPwrSend(); break;
        case kStepPwrWait: stepPwrWait(); break;
        case kStepPinSend: stepPinSend(); break;
        case kStepPinWait: stepPinWait(); break;
        default: break;
        }
        return;
    default:
        return;
    }
}

void AppHost::endSequence() {
    state_ = kDisconnected;
    notify(kIdle);
}

bool AppHost::startNow() {
    if (state_ != kConnecting) return false;
    startTimer(0);
    return true;
}

bool AppHost::giveUp() {
    if (state_ == kDisconnected) return false;
    ports_.log->print(1, "SSTP - App Host : Download has been given up by user !!");
    state_ = kDisconnected;
    notify(kIdle);
    return true;
}

void AppHost::setCurrentStatus(std::uint8_t status) {
    // Only entries in use are written; nothing lands outside the table.
    if (currentIndex_ < deviceCount_) table_[currentIndex_].status = status;
}

void AppHost::wrappingAdvance() {
    ++currentIndex_;
    if (currentIndex_ >= deviceCount_) currentIndex_ = 0;
}

// ---- Requests (hello) ------------------------------------------------------

namespace {
// The hello fields, or false when the payload is too short for them: below 13
// bytes, or a product name that runs past the bytes that arrived.
bool parseHello(const std::uint8_t* payload, std::uint8_t length, const std::uint8_t* sender, Hello& hello) {
    if (payload == nullptr || length < 13) return false;
    const std::uint8_t nameLength = payload[12];
    if (13u + nameLength > length) return false;
    hello.address = sender;
    hello.major = payload[4];
    hello.minor = payload[5];
    hello.corrective = payload[6];
    hello.build = static_cast<std::uint32_t>(payload[7]) | (static_cast<std::uint32_t>(payload[8]) << 8) |
                  (static_cast<std::uint32_t>(payload[9]) << 16);
    hello.configuration = static_cast<std::uint16_t>(payload[10] | (payload[11] << 8));
    hello.productName = reinterpret_cast<const char*>(payload + 13);
    hello.productNameLength = nameLength;
    return true;
}
}  // namespace

bool AppHost::onRequest(std::uint8_t type, std::uint32_t /*parameter*/, const std::uint8_t* payload,
                        std::uint8_t length) {
    switch (state_) {
    case kDisconnected:
        ports_.log->print(1, "SSTP App Host - Receive Message On Disconnected State");
        currentIndex_ = 0;
        deviceCount_ = 0;
        break;
    case kConnecting:
        break;
    case kTransferring:
        return notAnswered(type, payload, length, nullptr);
    default:
        return false;
    }
    if (type != kMsgELO) return false;
    return handleHello(payload, length);
}

bool AppHost::handleHello(const std::uint8_t* payload, std::uint8_t length) {
    // The answer is built over the frame being handled, so keep the sender and
    // the hello in fixed storage of our own first.
    std::uint8_t sender[kAddressSize];
    std::memcpy(sender, frames_.senderAddress(), kAddressSize);
    std::uint8_t hello[FrameLayers::kMaxSckPayload] = {};
    if (payload != nullptr) std::memcpy(hello, payload, length <= sizeof hello ? length : sizeof hello);

    Hello fields;
    if (!parseHello(payload != nullptr ? hello : nullptr, length, sender, fields)) {
        ports_.log->print(1, "SSTP - App Host : MSG ELO not agreed !!");
        return false;
    }
    const AdmissionResult result = ports_.admission != nullptr ? ports_.admission->evaluate(fields) : AdmissionResult{};
    if (!result.admitted) return notAnswered(kMsgELO, hello, length, &fields);

    std::uint8_t identity[7];
    if (!buildIdentityBytes(sender, ports_.settings->transfertMode, ports_.keys, identity)) {
        return notAnswered(kMsgELO, hello, length, &fields);
    }

    if (result.minutes > 0) {
        bool known = false;
        for (std::uint16_t i = 0; i < deviceCount_; ++i) {
            if (std::memcmp(table_[i].address, sender, kAddressSize) == 0) {
                known = true;
                break;
            }
        }
        if (!known) {
            if (deviceCount_ >= kMaxDevices) {
                ports_.log->print(1, "SSTP - App Host : MSG ELO refused, the device table is full (%u devices)",
                                  static_cast<unsigned>(kMaxDevices));
                return false;
            }
            std::memcpy(table_[deviceCount_].address, sender, kAddressSize);
            table_[deviceCount_].status = 0;
            ++deviceCount_;
        }
    }

    std::uint8_t block[8];
    buildHelloAnswerBlock(identity, result.minutes, hello, block);
    const bool configuration = isConfigurationPackage();
    const std::uint16_t value = static_cast<std::uint16_t>((configuration ? 1 : 0) |
                                                           ((ports_.settings->transfertMode != 0 ? 1 : 0) << 8));
    if (!frames_.sckSendAnswer(sender, kMsgELO, 0, value, block, sizeof block)) {
        return notAnswered(kMsgELO, hello, length, &fields);
    }
    ports_.log->print(1, "SSTP - App Host : MSG ELO TRS");
    if (result.minutes > 0) {
        ports_.log->print(1, "SSTP - App Host : MSG ELO ANS + Device " DORVANE_NO "%u",
                          static_cast<unsigned>(deviceCount_ - 1));
        if (state_ == kDisconnected) {
            startTimer(configuration ? 256u : static_cast<std::uint32_t>(result.minutes) * 60000u - 30000u);
            state_ = kConnecting;
            notify(kDevicesPending);
        }
    } else {
        ports_.log->print(1, "SSTP - App Host : MSG ELO ANS but Device " DORVANE_NO "%u is NOT concerned",
                          static_cast<unsigned>(deviceCount_));
    }
    return true;
}

bool AppHost::notAnswered(std::uint8_t type, const std::uint8_t* payload, std::uint8_t length, const Hello* hello) {
    if (type != kMsgELO || payload == nullptr || length < 13) return false;
    Hello parsed;
    std::uint8_t sender[kAddressSize];
    std::uint8_t copy[FrameLayers::kMaxSckPayload] = {};
    if (hello == nullptr) {
        std::memcpy(sender, frames_.senderAddress(), kAddressSize);
        std::memcpy(copy, payload, length <= sizeof copy ? length : sizeof copy);
        if (!parseHello(copy, length, sender, parsed)) return false;
        hello = &parsed;
    }
    ports_.log->print(1, "SSTP - App Host : MSG ELO TRS");
    if (ports_.admission != nullptr) {
        for (std::uint16_t i = 0; i < deviceCount_; ++i) {
            if (std::memcmp(table_[i].address, hello->address, kAddressSize) == 0) ports_.admission->evaluate(*hello);
        }
    }
    return false;
}

// ---- Answers ---------------------------------------------------------------

bool AppHost::answerFromServedDevice(const char* mnemonic) {
    // The device the sequence is serving: the current entry (entry 0 for the
    // programming sequence, whose current index stays 0).
    if (currentIndex_ < deviceCount_ &&
        std::memcmp(frames_.senderAddress(), table_[currentIndex_].address, kAddressSize) == 0) {
        return true;
    }
    ports_.log->print(1, "SSTP - App Host : MSG %s RCV from a device that is not being served - dropped", mnemonic);
    return false;
}

bool AppHost::onAnswer(std::uint8_t type, std::uint8_t status, std::uint16_t value, const std::uint8_t* /*payload*/,
                       std::uint8_t /*length*/) {
    if (state_ != kTransferring) {
        ports_.log->print(1, "SSTP - App Host : State uncompatible with the msg - what a mess !!");
        return false;
    }
    const char* mnemonic = nullptr;
    switch (type) {
    case kMsgHER: mnemonic = "HER"; break;
    case kMsgHES: mnemonic = "HES"; break;
    case kMsgHFL: mnemonic = "HFL"; break;
    case kMsgHPD: mnemonic = "HPD"; break;
    case kMsgPMR: mnemonic = "PMR"; break;
    case kMsgPWR: mnemonic = "PWR"; break;
    case kMsgPIN: mnemonic = "PIN"; break;
    default:
        ports_.log->print(1, "SSTP - App Host : MSG unmanaged - what's that !!");
        return false;
    }
    if (!answerFromServedDevice(mnemonic)) return false;
    if (type != awaiting_) {
        ports_.log->print(1, "SSTP - App Host : MSG %s RCV out of turn - dropped", mnemonic);
        return false;
    }
    awaiting_ = kNothingAwaited;
    switch (type) {
    case kMsgHER: answerHer(status); break;
    case kMsgHES: answerHes(status); break;
    case kMsgHFL: answerHfl(status, value); break;
    case kMsgHPD: answerHpd(status); break;
    case kMsgPMR: answerPmr(status); break;
    case kMsgPWR: answerPwr(status); break;
    case kMsgPIN: answerPin(status); break;
    default: break;
    }
    return true;
}

// ---- Block reader and seed requests ----------------------------------------

std::uint8_t AppHost::readBlock(std::uint32_t number, std::uint8_t* destination, std::size_t capacity,
                                std::uint32_t& loadAddress) {
    const IFirmwareImage* image = ports_.image;
    if (image == nullptr || !image->isValid() || image->blockCount() == 0 || destination == nullptr) return 255;
    if (number >= image->blockCount()) {
        if (ports_.progress != nullptr) ports_.progress->setToMaximum();
        return 0;
    }
    std::uint8_t length = 0;
    const std::uint8_t* data = nullptr;
    if (!image->block(number, length, loadAddress, data)) return 255;
    // Never past the frame buffer: a block longer than a frame can carry is
    // cut here and then refused whole by the Sck layer, as it must be.
    if (data != nullptr) std::memcpy(destination, data, length <= capacity ? length : capacity);
    if (ports_.progress != nullptr) ports_.progress->setPosition(number);
    return length;
}

bool AppHost::sendSeedRequest(std::uint8_t type, const std::uint8_t* destination) {
    std::uint8_t payload[3];
    payload[0] = ports_.settings->jammerMode;
    std::uint8_t n = 1;
    if (ports_.settings->jammerMode == 1) {
        const std::uint16_t masked = static_cast<std::uint16_t>(seed_ ^ kSeedMask);
        payload[1] = static_cast<std::uint8_t>(masked);
        payload[2] = static_cast<std::uint8_t>(masked >> 8);
        n = 3;
    }
    return sendRequestTo(destination, type, payload, n);
}

bool AppHost::sendRequestTo(const std::uint8_t* destination, std::uint8_t type, const std::uint8_t* payload,
                            std::uint8_t n) {
    awaiting_ = type;
    return frames_.sckSendRequest(destination, type, 0, payload, n);
}

}  // namespace dorvane
