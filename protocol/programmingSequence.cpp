// The parameter programming sequence: PMR, then every block with PWR, each
// acknowledged, then PIN, all to the first device of the table.
#include "protocol/appHost.h"
#include "protocol/logText.h"

namespace dorvane {

namespace {
constexpr std::size_t kPwrCapacity = FrameLayers::kMaxSckPayload;
}

// Step 9
void AppHost::stepPmrSend() {
    if (deviceCount_ == 0) {
        endSequence();
        return;
    }
    if (table_[0].status == kMemoryReady) {
        ports_.log->print(1, "SSTP - App Host : Programming memory now !");
        frameIndex_ = 0;
        retry_ = 0;
        step_ = kStepPwrSend;
        return;
    }
    if (retry_++ >= 8) {
        if (ports_.settings->transfertMode != 0) {
            ports_.log->print(1, "SSTP - App Host : Authenticate keys seem to be wrong");
        } else {
            ports_.log->print(1, "SSTP - App Host : MSG PMR TRS too much retry for device " DORVANE_NO "%u", 0u);
        }
        endSequence();
        return;
    }
    ports_.log->print(1, "SSTP - App Host : MSG PMR TRS for device " DORVANE_NO "%u", 0u);
    sendSeedRequest(kMsgPMR, table_[0].address);
    startTimer(256);
    step_ = kStepPmrWait;
}

// Step 10
void AppHost::stepPmrWait() {
    if (!timerExpired()) return;
    ports_.log->print(1, "SSTP - App Host : MSG PMR TRS On retry " DORVANE_NO "%u for device " DORVANE_NO "%u",
                      static_cast<unsigned>(retry_), 0u);
    stepPmrSend();
}

void AppHost::answerPmr(std::uint8_t status) {
    step_ = kStepPmrSend;
    if (status == 0) {
        retry_ = 0;
        ports_.log->print(1, "SSTP - App Host : MSG PMR RCV + Status OK");
        table_[0].status = kMemoryReady;
    } else {
        ports_.log->print(1, "SSTP - App Host : MSG PMR RCV + Status NOK");
        table_[0].status = kDropped;
    }
}

// Step 11
void AppHost::stepPwrSend() {
    std::uint8_t* payload = frames_.sckPayloadArea();
    std::uint32_t loadAddress = 0;
    const std::uint8_t length = readBlock(frameIndex_, payload, kPwrCapacity, loadAddress);
    if (length == 0) {
        retry_ = 0;
        step_ = kStepPinSend;
        return;
    }
    if (retry_++ >= 8) {
        ports_.log->print(1, "SSTP - App Host : MSG PWR TRS too much retry for device " DORVANE_NO "%u", 0u);
        endSequence();
        return;
    }
    if (length == 255) {
        ports_.log->print(1, "SSTP - App Host : Internal error can't read the frame " DORVANE_NO "%u",
                          static_cast<unsigned>(frameIndex_));
        endSequence();
        return;
    }
    ports_.log->print(1, "SSTP - App Host : MSG PWR TRS - Sending frame " DORVANE_NO "%u",
                      static_cast<unsigned>(frameIndex_));
    if (ports_.settings->jammerMode == 1 && length <= kPwrCapacity) {
        scrambler_.restart(seed_);
        scrambler_.scramble(payload, length);
    }
    awaiting_ = kMsgPWR;
    frames_.sckSendRequest(table_[0].address, kMsgPWR, loadAddress & 0xFFFFFFu, payload, length);
    startTimer(256);
    step_ = kStepPwrWait;
}

// Step 12
void AppHost::stepPwrWait() {
    if (!timerExpired()) return;
    ports_.log->print(1, "SSTP - App Host : MSG PWR TRS On retry " DORVANE_NO "%u for device " DORVANE_NO "%u",
                      static_cast<unsigned>(retry_), 0u);
    stepPwrSend();
}

void AppHost::answerPwr(std::uint8_t status) {
    step_ = kStepPwrSend;
    if (status == 0) {
        retry_ = 0;
        ports_.log->print(1, "SSTP - App Host : MSG PWR RCV + Status OK");
        ++frameIndex_;
    } else {
        ports_.log->print(1, "SSTP - App Host : MSG PWR RCV + Status NOK");
    }
}

// Step 13
void AppHost::stepPinSend() {
    if (table_[0].status == kLaunched) {
        ports_.log->print(1, "SSTP - App Host : Parameters have been downloaded !!");
        endSequence();
        return;
    }
    if (retry_++ >= 8) {
        ports_.log->print(1, "SSTP - App Host : MSG PIN TRS too much retry for device " DORVANE_NO "%u", 0u);
        endSequence();
        return;
    }
    ports_.log->print(1, "SSTP - App Host : MSG PIN TRS for device " DORVANE_NO "%u", 0u);
    const std::uint8_t zero = 0;
    sendRequestTo(table_[0].address, kMsgPIN, &zero, 1);
    startTimer(256);
    step_ = kStepPinWait;
}

// Step 14
void AppHost::stepPinWait() {
    if (!timerExpired()) return;
    ports_.log->print(1, "SSTP - App Host : MSG PIN TRS On retry " DORVANE_NO "%u for device " DORVANE_NO "%u",
                      static_cast<unsigned>(retry_), 0u);
    stepPinSend();
}

void AppHost::answerPin(std::uint8_t status) {
    step_ = kStepPinSend;
    if (status == 0) {
        retry_ = 0;
        ports_.log->print(1, "SSTP - App Host : MSG PIN RCV + Status OK");
        table_[0].status = kLaunched;
    } else {
        ports_.log->print(1, "SSTP - App Host : MSG PIN RCV + Status NOK");
    }
}

}  // namespace dorvane
