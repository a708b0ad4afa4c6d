// One simulated end device. It runs the same frame layers as the host, with
// its own address, and plays the device's part of every SSTP exchange: it
// says hello until answered, deciphers and checks the hello answer, and then
// answers HER, HES, HFL, HPD (firmware download) or PMR, PWR, PIN (parameter
// programming), storing what GWR and PWR bring into its flash model.
//
// Time and the medium are the fleet's business: the device only reacts to
// frames and to the fleet's hello ticks, and hands every frame it sends to
// its outlet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/eventLog.h"
#include "protocol/frameLayers.h"
#include "protocol/frameScrambler.h"
#include "protocol/ports.h"
#include "tools/devsim/simMemory.h"

namespace dorvane::devsim {

// From which request on a device stops answering.
enum class Mute : std::uint8_t {
    None,
    Always,    // not even a hello: the host never learns of it
    FromHer,   // says hello and takes the answer, then silent
    FromHes,   // answers HER only
    FromHfl,   // answers HER and HES, hears the sweep, then silent
    FromHpd,   // silent only when told to launch
    FromPmr,   // silent for the parameter programming
};

// Faults to order, per device. Those that act on the medium (losses,
// deafness, corruption, delays) are applied by the fleet.
struct DeviceFaults {
    Mute mute = Mute::None;
    std::uint32_t answerDelayMs = 0;     // every answer goes out this much later
    bool crashInHfl = false;             // HFL answered with a crash status
    bool refusePmr = false;              // PMR always refused
    bool wrongKeys = false;              // holds keys that differ from the host's list
    std::uint32_t hesInProgress = 0;     // "in progress" answers before "succeeded"
    bool hesForever = false;             // never gets its memory ready
    bool memoryFault = false;            // HES answered "memory fault"
    bool hflAlternates = false;          // reports its two lowest missing frames in turn
    // Medium, this device only. Negative: the fleet's rate.
    double lossToDevice = -1.0;
    double lossToHost = -1.0;
    // GWR copies of given frame numbers that never reach the device.
    struct Deafness {
        std::uint16_t frame = 0;
        std::uint32_t copies = 0;        // the first copies lost; kEveryCopy: all
    };
    static constexpr std::uint32_t kEveryCopy = 0xFFFFFFFFu;
    std::vector<Deafness> deaf;
    // Loses every GWR copy whose running number is a multiple of this (0: off).
    std::uint32_t gwrLossPeriod = 0;
    // The first copy of this frame number has a data byte flipped in flight,
    // with the Phy checksum made good again: corruption that only the image
    // checksum can catch.
    std::int32_t corruptFrame = -1;
};

struct DeviceConfig {
    std::uint8_t address[kAddressSize] = {};
    std::string product = "PROD";
    std::uint8_t major = 1, minor = 0, corrective = 0;
    std::uint32_t build = 0;  // 24-bit
    std::uint16_t configuration = 0xFFFF;
    // ABP_NwkSKey, ABP_AppSKey, OTA_AppKey.
    std::uint8_t keys[3][16] = {};
    DeviceFaults faults;
};

enum class DeviceState : std::uint8_t {
    Hello,          // saying hello, no answer yet
    Rejected,       // the hello answer did not prove the host knows it
    NotConcerned,   // answered with 0 connecting minutes
    Connected,      // answered, waiting for the transfer
    Accepted,       // HER taken, preparing memory
    MemoryReady,    // HES succeeded; takes GWR frames
    Launched,       // HPD with the right checksum: the bootloader will run
    HpdRefused,     // HPD with a checksum that does not match what it holds
    Crashed,        // answered HFL with a crash
    MemoryFault,    // answered HES with a memory fault
    ConfigOpen,     // PMR accepted, takes PWR blocks
    Configured,     // PIN accepted
};

const char* stateName(DeviceState state);

class SimDevice;

// Where a device's frames go: the fleet puts them on the medium.
class IDeviceOutlet {
public:
    virtual ~IDeviceOutlet() = default;
    // answer: false for hellos (sent on the device's own timer).
    virtual void fromDevice(SimDevice& device, const std::uint8_t* bytes, std::uint8_t count, bool answer) = 0;
};

struct DeviceCounters {
    std::uint32_t hellos = 0;
    std::uint32_t helloAnswers = 0;
    std::uint32_t identityMismatches = 0;
    std::uint32_t gwrStored = 0;       // GWR frames taken (copies included)
    std::uint32_t gwrIgnored = 0;      // GWR frames heard outside a transfer
    std::uint32_t malformed = 0;       // frames too short for their message
    std::uint32_t conflicts = 0;       // a frame number seen with another address or length
    std::uint32_t hflAnswers = 0;
    std::uint32_t lostReports = 0;     // HFL answers naming a frame below the highest held
    std::uint32_t hesAnswers = 0;
    std::uint32_t pwrWrites = 0;
    std::uint32_t pmrRefusals = 0;
    std::uint32_t hpdChecksumHost = 0; // the checksum of the last HPD
    std::uint32_t hpdChecksumOwn = 0;  // what the device computed
};

class SimDevice final : public ISckUpper, public ILinkSender {
public:
    SimDevice(const DeviceConfig& config, std::size_t index, std::uint32_t flashSize, std::uint64_t seed,
              IDeviceOutlet& outlet);
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    // A hello with a fresh nonce, when the device is still looking for a host.
    void sayHello();
    bool wantsHello() const;

    // Bytes from the medium, as one chunk.
    void receive(const std::uint8_t* bytes, std::uint8_t count);

    const DeviceConfig& config() const { return config_; }
    std::size_t index() const { return index_; }
    DeviceState state() const { return state_; }
    std::uint8_t minutes() const { return minutes_; }
    std::uint8_t jammerMode() const { return jammer_; }
    std::uint16_t seed() const { return seed_; }
    const SimMemory& memory() const { return memory_; }
    const DeviceCounters& counters() const { return counters_; }
    std::uint32_t framesHeld() const { return framesHeld_; }
    // The lowest frame number not held (what HFL reports).
    std::uint32_t lowestMissing() const { return lowestMissing_; }
    // Blocks written by PWR, in order: load address and descrambled bytes.
    const std::vector<ImageBlock>& parameterWrites() const { return pwr_; }
    bool isMute() const { return config_.faults.mute != Mute::None; }
    // Done with whatever it was doing: nothing more will change it.
    bool isFinal() const;

    // ISckUpper
    bool onRequest(std::uint8_t type, std::uint32_t parameter, const std::uint8_t* payload,
                   std::uint8_t length) override;
    bool onAnswer(std::uint8_t type, std::uint8_t status, std::uint16_t value, const std::uint8_t* payload,
                  std::uint8_t length) override;
    // ILinkSender: what the device's Phy sends.
    bool send(const std::uint8_t* bytes, std::uint8_t count) override;

private:
    struct FrameRecord {
        bool held = false;
        std::uint8_t length = 0;
        std::uint32_t address = 0;
    };

    std::uint32_t nextRandom();
    bool silentFor(std::uint8_t type) const;
    bool answer(std::uint8_t type, std::uint8_t status, std::uint16_t value = 0);
    bool takeSeed(const std::uint8_t* payload, std::uint8_t length);
    void startTransfer();
    bool onHelloAnswer(std::uint16_t value, const std::uint8_t* payload, std::uint8_t length);
    bool identityMatches(const std::uint8_t identity[7], bool keysMode) const;
    void onGwr(std::uint32_t parameter, const std::uint8_t* payload, std::uint8_t length);
    std::uint32_t missingAfter(std::uint32_t frame) const;

    DeviceConfig config_;
    std::size_t index_;
    std::uint32_t flashSize_;
    std::uint64_t rng_;
    IDeviceOutlet& outlet_;
    EventLog log_;
    FrameLayers layers_;
    FrameScrambler scrambler_;
    bool sendingAnswer_ = false;

    DeviceState state_ = DeviceState::Hello;
    std::uint8_t nonce_[4] = {};
    std::uint8_t previousNonce_[4] = {};
    bool havePreviousNonce_ = false;
    std::uint8_t hostAddress_[kAddressSize] = {};
    bool hostKnown_ = false;
    std::uint8_t minutes_ = 0;
    std::uint8_t jammer_ = 0;
    std::uint16_t seed_ = 0;
    std::uint32_t hesLeft_ = 0;
    bool reportSecond_ = false;

    SimMemory memory_;
    std::vector<FrameRecord> frames_;
    std::uint32_t framesHeld_ = 0;
    std::uint32_t lowestMissing_ = 0;
    std::int64_t highestHeld_ = -1;
    std::vector<ImageBlock> pwr_;
    DeviceCounters counters_;
};

}  // namespace dorvane::devsim
