// The firmware download sequence: HER to every device in table order, HES
// polling of the accepted ones, one GWR sweep over the whole image, then per
// device HFL with lost-frame resends and finally HPD.
#include <cstring>

#include "protocol/appHost.h"
#include "protocol/logText.h"

namespace dorvane {

namespace {
constexpr std::size_t kGwrDataOffset = 2;  // behind the frame number
// Data bytes a GWR frame can hold behind the header and the frame number.
constexpr std::size_t kGwrDataCapacity = FrameLayers::kMaxSckPayload - kGwrDataOffset;
}  // namespace

// Step 1
void AppHost::stepHerSend() {
    if (currentIndex_ < deviceCount_) {
        ports_.log->print(1, "SSTP - App Host : MSG HER TRS for device " DORVANE_NO "%u",
                          static_cast<unsigned>(currentIndex_));
        sendSeedRequest(kMsgHER, table_[currentIndex_].address);
        startTimer(256 + jitter(32));
        step_ = kStepHerWait;
        return;
    }
    for (std::uint16_t i = 0; i < deviceCount_; ++i) {
        if (table_[i].status == kAccepted) {
            ports_.log->print(1, "SSTP - App Host : Checking memory status now !");
            currentIndex_ = 0;
            retry_ = 0;
            step_ = kStepHesSend;
            return;
        }
    }
    ports_.log->print(1, "SSTP - App Host : No device ready for downloading. Giving up !");
    endSequence();
}

// Step 2
void AppHost::stepHerWait() {
    if (!timerExpired()) return;
    if (retry_++ >= 8) {
        ports_.log->print(1, "SSTP - App Host : MSG HER TRS too much retry for device " DORVANE_NO "%u",
                          static_cast<unsigned>(currentIndex_));
        retry_ = 0;
        ++currentIndex_;
    } else {
        ports_.log->print(1, "SSTP - App Host : MSG HER TRS On retry " DORVANE_NO "%u for device " DORVANE_NO "%u",
                          static_cast<unsigned>(retry_), static_cast<unsigned>(currentIndex_));
    }
    stepHerSend();
}

void AppHost::answerHer(std::uint8_t status) {
    retry_ = 0;
    step_ = kStepHerSend;
    if (status == 0 || status == 1) {
        ports_.log->print(1, "SSTP - App Host : MSG HER RCV + Status OK");
        setCurrentStatus(kAccepted);
    } else if (status == 255) {
        ports_.log->print(1, "SSTP - App Host : MSG HER RCV + Status NOK");
        setCurrentStatus(kDropped);
    } else {
        ports_.log->print(1, "SSTP - App Host : MSG HER RCV + Status Fatal Error");
        setCurrentStatus(kDropped);
    }
    ++currentIndex_;
}

// Step 3
void AppHost::stepHesSend() {
    for (std::uint16_t n = 0; n < deviceCount_; ++n) {
        wrappingAdvance();
        if (table_[currentIndex_].status == kAccepted) {
            ports_.log->print(1, "SSTP - App Host : MSG HES TRS for device " DORVANE_NO "%u",
                              static_cast<unsigned>(currentIndex_));
            const std::uint8_t zero = 0;
            sendRequestTo(table_[currentIndex_].address, kMsgHES, &zero, 1);
            startTimer(256 + jitter(32));
            step_ = kStepHesWait;
            return;
        }
    }
    for (std::uint16_t i = 0; i < deviceCount_; ++i) {
        if (table_[i].status == kMemoryReady) {
            ports_.log->print(1, "SSTP - App Host : Transfering entire program now !");
            startTimer(96);
            frameIndex_ = 0;
            framesSent_ = 0;
            step_ = kStepGwrSweep;
            return;
        }
    }
    endSequence();
}

// Step 4
void AppHost::stepHesWait() {
    if (!timerExpired()) return;
    if (retry_++ >= 8) {
        ports_.log->print(1, "SSTP - App Host : MSG HES TRS too much retry for device " DORVANE_NO "%u",
                          static_cast<unsigned>(currentIndex_));
        retry_ = 0;
        setCurrentStatus(kDropped);
        ++currentIndex_;
    } else {
        ports_.log->print(1, "SSTP - App Host : MSG HES TRS On retry " DORVANE_NO "%u for device " DORVANE_NO "%u",
                          static_cast<unsigned>(retry_), static_cast<unsigned>(currentIndex_));
    }
    stepHesSend();
}

void AppHost::answerHes(std::uint8_t status) {
    retry_ = 0;
    step_ = kStepHesSend;
    switch (status) {
    case 0:
        ports_.log->print(1, "SSTP - App Host : MSG HES RCV + Status 'Fatal Error'");
        setCurrentStatus(kDropped);
        break;
    case 1:
        ports_.log->print(1, "SSTP - App Host : MSG HES RCV + Status 'In progress'");
        // A device that never gets its memory ready must not hold the
        // transfer forever.
        if (++inProgressPolls_[currentIndex_] > kMaxInProgressPolls) {
            ports_.log->print(1,
                              "SSTP - App Host : MSG HES RCV + Device " DORVANE_NO
                              "%u still in progress after %u polls - dropped",
                              static_cast<unsigned>(currentIndex_), static_cast<unsigned>(kMaxInProgressPolls));
            setCurrentStatus(kDropped);
        } else {
            setCurrentStatus(kAccepted);
        }
        break;
    case 2:
        ports_.log->print(1, "SSTP - App Host : MSG HES RCV + Status 'Succeeded'");
        setCurrentStatus(kMemoryReady);
        break;
    case 255:
        ports_.log->print(1, "SSTP - App Host : MSG HES RCV + Status 'Memory fault'");
        setCurrentStatus(kDropped);
        break;
    default:
        ports_.log->print(1, "SSTP - App Host : MSG HES RCV + Status 'Default unknown'");
        setCurrentStatus(kDropped);
        break;
    }
}

// Step 5
void AppHost::stepGwrSweep() {
    if (!timerExpired()) return;
    std::uint8_t* payload = frames_.sckPayloadArea();
    std::uint32_t loadAddress = 0;
    const std::uint8_t length = readBlock(framesSent_, payload + kGwrDataOffset, kGwrDataCapacity, loadAddress);
    if (length == 255) {
        endSequence();
        return;
    }
    if (length == 0) {
        retry_ = 0;
        lostRepeat_ = 0;
        lastLostFrame_ = kNoLostFrame;
        lostFrameDevice_ = -1;
        step_ = kStepHflHpdSend;
        return;
    }
    ports_.log->print(1, "SSTP - App Host : MSG GWR TRS - Sending frame " DORVANE_NO "%u",
                      static_cast<unsigned>(framesSent_));
    payload[0] = static_cast<std::uint8_t>(framesSent_);
    payload[1] = static_cast<std::uint8_t>(framesSent_ >> 8);
    ++framesSent_;
    if (ports_.settings->jammerMode == 1 && length <= kGwrDataCapacity) {
        scrambler_.restart(seed_);
        scrambler_.scramble(payload + kGwrDataOffset, length);
    }
    awaiting_ = kNothingAwaited;
    frames_.sckSendRequest(kBroadcastAddress, kMsgGWR, loadAddress & 0xFFFFFFu, payload,
                           static_cast<std::uint8_t>(length + kGwrDataOffset));
    startTimer(96 + jitter(12));
}

// Step 6
void AppHost::stepGwrResend() {
    std::uint8_t* payload = frames_.sckPayloadArea();
    std::uint32_t loadAddress = 0;
    const std::uint8_t length = readBlock(frameIndex_, payload + kGwrDataOffset, kGwrDataCapacity, loadAddress);
    if (length == 0) {
        step_ = kStepHflHpdSend;
        return;
    }
    // The lost-frame bookkeeping belongs to one device: another device's
    // losses never shorten this one's resends.
    if (lostFrameDevice_ != static_cast<std::int32_t>(currentIndex_)) {
        lostFrameDevice_ = currentIndex_;
        lastLostFrame_ = kNoLostFrame;
        lostRepeat_ = 0;
        resendsForDevice_ = 0;
    }
    if (static_cast<std::int32_t>(frameIndex_) == lastLostFrame_) {
        if (++lostRepeat_ >= 6) {
            ports_.log->print(1, "SSTP - App Host : MSG GWR TRS too much retry for device " DORVANE_NO "%u",
                              static_cast<unsigned>(currentIndex_));
            retry_ = 0;
            lastLostFrame_ = kNoLostFrame;
            lostRepeat_ = 0;
            setCurrentStatus(kDropped);
            step_ = kStepHflHpdSend;
            return;
        }
    } else {
        lastLostFrame_ = frameIndex_;
        lostRepeat_ = 0;
    }
    if (length == 255) {
        ports_.log->print(1, "SSTP - App Host : Internal error can't read the frame " DORVANE_NO "%u",
                          static_cast<unsigned>(frameIndex_));
        endSequence();
        return;
    }
    // A device that keeps losing frames (each one recovered, but never the
    // last) must not hold the transfer forever either.
    std::uint32_t bound = kMaxResendsPerDeviceFactor * framesSent_;
    if (bound < kMinResendsPerDevice) bound = kMinResendsPerDevice;
    if (++resendsForDevice_ > bound) {
        ports_.log->print(1,
                          "SSTP - App Host : MSG GWR TRS too many lost frames for device " DORVANE_NO
                          "%u (%u resends) - dropped",
                          static_cast<unsigned>(currentIndex_), static_cast<unsigned>(bound));
        retry_ = 0;
        setCurrentStatus(kDropped);
        step_ = kStepHflHpdSend;
        return;
    }
    ports_.log->print(1, "SSTP - App Host : MSG GWR TRS - Re Sending frame " DORVANE_NO "%u",
                      static_cast<unsigned>(frameIndex_));
    payload[0] = static_cast<std::uint8_t>(frameIndex_);
    payload[1] = static_cast<std::uint8_t>(frameIndex_ >> 8);
    if (ports_.settings->jammerMode == 1 && length <= kGwrDataCapacity) {
        scrambler_.restart(seed_);
        scrambler_.scramble(payload + kGwrDataOffset, length);
    }
    awaiting_ = kNothingAwaited;
    frames_.sckSendRequest(kBroadcastAddress, kMsgGWR, loadAddress & 0xFFFFFFu, payload,
                           static_cast<std::uint8_t>(length + kGwrDataOffset));
    startTimer(96 + jitter(12));
    step_ = kStepHflHpdWait;
}

// Step 7
void AppHost::stepHflHpdSend() {
    for (std::uint16_t n = 0; n < deviceCount_; ++n) {
        const std::uint8_t status =
            currentIndex_ < deviceCount_ ? table_[currentIndex_].status : static_cast<std::uint8_t>(kDropped);
        if (status == kMemoryReady) {
            ports_.log->print(1, "SSTP - App Host : MSG HFL TRS asking for device " DORVANE_NO "%u",
                              static_cast<unsigned>(currentIndex_));
            const std::uint8_t zero = 0;
            sendRequestTo(table_[currentIndex_].address, kMsgHFL, &zero, 1);
            startTimer(512 + jitter(64));
            step_ = kStepHflHpdWait;
            return;
        }
        if (status == kProgrammed) {
            ports_.log->print(1,
                              "SSTP - App Host : MSG HPD TRS asking for device " DORVANE_NO
                              "%u to execute bootloader",
                              static_cast<unsigned>(currentIndex_));
            const std::uint32_t checksum = ports_.image != nullptr ? ports_.image->checksum() : 0;
            const std::uint8_t bytes[4] = {
                static_cast<std::uint8_t>(checksum), static_cast<std::uint8_t>(checksum >> 8),
                static_cast<std::uint8_t>(checksum >> 16), static_cast<std::uint8_t>(checksum >> 24)};
            sendRequestTo(table_[currentIndex_].address, kMsgHPD, bytes, 4);
            startTimer(5120);
            step_ = kStepHflHpdWait;
            return;
        }
        ports_.log->print(1, "SSTP - App Host : Searching next device " DORVANE_NO "%u",
                          static_cast<unsigned>(currentIndex_));
        wrappingAdvance();
    }
    endSequence();
}

// Step 8
void AppHost::stepHflHpdWait() {
    if (!timerExpired()) return;
    if (retry_++ >= 8) {
        ports_.log->print(1, "SSTP - App Host : MSG HFL TRS too much retry for device " DORVANE_NO "%u",
                          static_cast<unsigned>(currentIndex_));
        retry_ = 0;
        setCurrentStatus(kDropped);
    } else {
        ports_.log->print(1, "SSTP - App Host : MSG HFL TRS retry for device " DORVANE_NO "%u",
                          static_cast<unsigned>(currentIndex_));
    }
    stepHflHpdSend();
}

void AppHost::answerHfl(std::uint8_t status, std::uint16_t value) {
    step_ = kStepHflHpdSend;
    if (status == 0) {
        retry_ = 0;
        if (value < framesSent_) {
            ports_.log->print(1, "SSTP - App Host : MSG HFL RCV + Lost frame " DORVANE_NO "%u",
                              static_cast<unsigned>(value));
            frameIndex_ = value;
            step_ = kStepGwrResend;
        } else {
            ports_.log->print(1, "SSTP - App Host : MSG HFL RCV + All programmed");
            setCurrentStatus(kProgrammed);
        }
    } else {
        ports_.log->print(1, "SSTP - App Host : MSG HFL RCV + Big crash");
        setCurrentStatus(kDropped);
    }
}

void AppHost::answerHpd(std::uint8_t status) {
    step_ = kStepHflHpdSend;
    if (status == 0) {
        retry_ = 0;
        ports_.log->print(1, "SSTP - App Host : MSG HPD RCV + Bootloader will be executed");
        setCurrentStatus(kLaunched);
    } else {
        ports_.log->print(1, "SSTP - App Host : MSG HPD RCV + Something is wrong !!");
        setCurrentStatus(kDropped);
    }
}

}  // namespace dorvane
