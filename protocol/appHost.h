// The App Host: the top SSTP layer on the host side. It answers hellos, keeps
// the device table for the next transfer, counts down to the start, and then
// runs the firmware download sequence (firmware package) or the parameter
// programming sequence (configuration package) one step per host cycle.
//
// Driven from the host cycle (every 1 ms tick) and from the Sck layer's
// request and answer upcalls; everything runs on one thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/eventLog.h"
#include "protocol/frameLayers.h"
#include "protocol/frameScrambler.h"
#include "protocol/ports.h"

namespace dorvane {

// The hello as the device admission sees it.
struct Hello {
    const std::uint8_t* address = nullptr;  // 8 bytes
    std::uint8_t major = 0;
    std::uint8_t minor = 0;
    std::uint8_t corrective = 0;
    std::uint32_t build = 0;  // 24-bit
    std::uint16_t configuration = 0;
    const char* productName = nullptr;  // not terminated
    std::uint8_t productNameLength = 0;
};

struct AdmissionResult {
    bool admitted = false;
    std::uint8_t minutes = 0;
};

class IDeviceAdmission {
public:
    virtual ~IDeviceAdmission() = default;
    virtual AdmissionResult evaluate(const Hello& hello) = 0;
};

// One-shot timer state; its five operations are reached through a fixed table.
struct OneShotTimer {
    bool armed = false;
    std::uint32_t lastTick = 0;
    std::uint32_t remaining = 0;
};

struct OneShotTimerOps {
    void (*start)(OneShotTimer&, IClock&, std::uint32_t ms);
    void (*stop)(OneShotTimer&);
    bool (*expired)(OneShotTimer&, IClock&);
    std::uint32_t (*remaining)(const OneShotTimer&);
    void (*reset)(OneShotTimer&);
};

extern const OneShotTimerOps kOneShotTimerOps;

class AppHost final : public ISckUpper {
public:
    enum State : std::uint8_t { kDisconnected = 0, kConnecting = 1, kTransferring = 2 };
    enum Step : std::uint8_t {
        kStepNone = 0,
        kStepHerSend = 1,
        kStepHerWait = 2,
        kStepHesSend = 3,
        kStepHesWait = 4,
        kStepGwrSweep = 5,
        kStepGwrResend = 6,
        kStepHflHpdSend = 7,
        kStepHflHpdWait = 8,
        kStepPmrSend = 9,
        kStepPmrWait = 10,
        kStepPwrSend = 11,
        kStepPwrWait = 12,
        kStepPinSend = 13,
        kStepPinWait = 14,
    };
    enum DeviceStatus : std::uint8_t {
        kDropped = 0,
        kAccepted = 1,
        kMemoryReady = 2,
        kProgrammed = 3,
        kLaunched = 4,
    };

    static constexpr std::uint16_t kMaxDevices = 512;
    static constexpr std::uint16_t kSeedMask = 0xC3A6;
    static constexpr std::uint16_t kNoSeed = 0xFFFF;
    // Bounds that keep one device from holding a transfer forever: HES
    // "in progress" answers from one device, and lost-frame reports from one
    // device (every resend, whichever frame). Generous: a device that is merely
    // slow or loses half its frames still finishes.
    static constexpr std::uint16_t kMaxInProgressPolls = 2000;
    static constexpr std::uint32_t kMaxResendsPerDeviceFactor = 4;  // × frames sent
    static constexpr std::uint32_t kMinResendsPerDevice = 64;

    struct DeviceEntry {
        std::uint8_t address[kAddressSize] = {};
        std::uint8_t status = 0;
    };

    // Everything the App Host reads or calls outside itself. Pointers may be
    // null: no admission admits nobody, no image reads as "no image".
    struct Ports {
        EventLog* log = nullptr;
        IClock* clock = nullptr;
        IRandom* random = nullptr;
        const HostSettings* settings = nullptr;
        ILinkSender* link = nullptr;
        IConsoleNotify* console = nullptr;
        IDeviceAdmission* admission = nullptr;
        const IFirmwareImage* image = nullptr;
        const IKeyStore* keys = nullptr;
        IProgressBar* progress = nullptr;
    };

    explicit AppHost(const Ports& ports);

    // Later parts plug in here.
    void setConsole(IConsoleNotify* console) { ports_.console = console; }
    void setAdmission(IDeviceAdmission* admission) { ports_.admission = admission; }
    void setImage(const IFirmwareImage* image) { ports_.image = image; }
    void setKeyStore(const IKeyStore* keys) { ports_.keys = keys; }
    void setProgressBar(IProgressBar* progress) { ports_.progress = progress; }
    void setLink(ILinkSender& link) { frames_.setLink(link); }

    // Host cycle: called on every tick. Never waits; at most one step.
    void hostCycle();
    // Received bytes from a link, straight to the Phy receive entry.
    bool phyReceive(std::uint8_t count, const std::uint8_t* bytes) { return frames_.phyReceive(count, bytes); }

    // Queries and commands for the console.
    bool isActive() const { return state_ != kDisconnected; }
    bool isConnecting() const { return state_ == kConnecting; }
    std::uint32_t timeToStart() const { return kOneShotTimerOps.remaining(timer_); }
    bool startNow();
    bool giveUp();

    // ISckUpper
    bool onRequest(std::uint8_t type, std::uint32_t parameter, const std::uint8_t* payload,
                   std::uint8_t length) override;
    bool onAnswer(std::uint8_t type, std::uint8_t status, std::uint16_t value, const std::uint8_t* payload,
                  std::uint8_t length) override;

    // Read-only views, for the console, tests and benchmarks.
    State state() const { return static_cast<State>(state_); }
    std::uint8_t step() const { return step_; }
    std::uint16_t deviceCount() const { return deviceCount_; }
    std::uint16_t currentIndex() const { return currentIndex_; }
    const DeviceEntry& entry(std::uint16_t index) const { return table_[index < kMaxDevices ? index : 0]; }
    std::uint16_t transferSeed() const { return seed_; }
    std::uint8_t retryCounter() const { return retry_; }
    std::uint16_t framesSent() const { return framesSent_; }
    bool firstCycleDone() const { return firstCycleDone_; }
    FrameLayers& frames() { return frames_; }

private:
    void init();
    void cycleStep();
    void endSequence();
    void notify(std::uint8_t event);
    bool isConfigurationPackage() const;
    void drawTransferSeed();
    void startTimer(std::uint32_t ms) { kOneShotTimerOps.start(timer_, *ports_.clock, ms); }
    bool timerExpired() { return kOneShotTimerOps.expired(timer_, *ports_.clock); }
    std::uint32_t jitter(std::uint32_t n) { return ports_.random ? ports_.random->random(n) : 0; }
    bool currentInTable() const { return currentIndex_ < deviceCount_; }
    void setCurrentStatus(std::uint8_t status);
    void wrappingAdvance();
    bool answerFromServedDevice(const char* mnemonic);
    bool sendRequestTo(const std::uint8_t* destination, std::uint8_t type, const std::uint8_t* payload, std::uint8_t n);

    // Request handling
    bool handleHello(const std::uint8_t* payload, std::uint8_t length);
    bool notAnswered(std::uint8_t type, const std::uint8_t* payload, std::uint8_t length, const Hello* hello);

    // Block reader: 255 no image, 0 end, else the block's length.
    std::uint8_t readBlock(std::uint32_t number, std::uint8_t* destination, std::size_t capacity,
                           std::uint32_t& loadAddress);

    // Firmware download sequence (steps 1..8)
    void stepHerSend();
    void stepHerWait();
    void stepHesSend();
    void stepHesWait();
    void stepGwrSweep();
    void stepGwrResend();
    void stepHflHpdSend();
    void stepHflHpdWait();
    void answerHer(std::uint8_t status);
    void answerHes(std::uint8_t status);
    void answerHfl(std::uint8_t status, std::uint16_t value);
    void answerHpd(std::uint8_t status);
    bool sendSeedRequest(std::uint8_t type, const std::uint8_t* destination);

    // Parameter programming sequence (steps 9..14)
    void stepPmrSend();
    void stepPmrWait();
    void stepPwrSend();
    void stepPwrWait();
    void stepPinSend();
    void stepPinWait();
    void answerPmr(std::uint8_t status);
    void answerPwr(std::uint8_t status);
    void answerPin(std::uint8_t status);

    Ports ports_;
    FrameLayers frames_;
    FrameScrambler scrambler_;
    OneShotTimer timer_;

    std::uint8_t state_ = kDisconnected;
    std::uint8_t step_ = kStepNone;
    bool firstCycleDone_ = false;
    DeviceEntry table_[kMaxDevices];
    std::uint16_t deviceCount_ = 0;
    std::uint16_t currentIndex_ = 0;
    std::uint8_t retry_ = 0;
    std::uint16_t framesSent_ = 0;
    std::uint16_t frameIndex_ = 0;
    std::uint16_t seed_ = kNoSeed;

    // Lost-frame bookkeeping, per device: no frame number can equal kNoLostFrame.
    static constexpr std::int32_t kNoLostFrame = -1;
    std::int32_t lastLostFrame_ = kNoLostFrame;
    std::uint8_t lostRepeat_ = 0;
    std::int32_t lostFrameDevice_ = -1;  // the device the two values above belong to
    std::uint32_t resendsForDevice_ = 0;
    std::uint16_t inProgressPolls_[kMaxDevices] = {};
    // The request whose answer the sequence is waiting for. An answer of any
    // other type is stale (its request was already answered, or timed out and
    // the sequence moved on) and must not move the sequence.
    static constexpr std::uint8_t kNothingAwaited = 0xFF;
    std::uint8_t awaiting_ = kNothingAwaited;
};

}  // namespace dorvane
