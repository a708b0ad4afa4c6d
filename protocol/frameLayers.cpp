#include "protocol/frameLayers.h"

#include <cstring>

namespace dorvane {

const std::uint8_t kBroadcastAddress[kAddressSize] = {0, 0, 0, 0, 0, 0, 0, 0};

// ---- Phy -----------------------------------------------------------------

bool FrameLayers::phyInit() {
    buffer_[kOffsetLength] = 0;
    fill_ = 0;
    log_.print(1, "SSTP - Phy : Initialization");
    return true;
}

bool FrameLayers::phySend(std::uint8_t payloadLength) {
    if (payloadLength > kMaxPhyPayload) return false;
    std::uint8_t sum = 0;
    for (std::uint8_t i = 0; i < payloadLength; ++i) sum = static_cast<std::uint8_t>(sum + buffer_[2 + i]);
    buffer_[0] = kStartByte;
    buffer_[kOffsetLength] = payloadLength;
    buffer_[2 + payloadLength] = static_cast<std::uint8_t>(-sum);
    // A frame partly received when the host sends is abandoned.
    fill_ = 0;
    return link_->send(buffer_, static_cast<std::uint8_t>(payloadLength + 3));
}

bool FrameLayers::phyReceive(std::uint8_t count, const std::uint8_t* bytes) {
    if (count == 0 || bytes == nullptr || static_cast<unsigned>(fill_) + count > kFrameSize) {
        fill_ = 0;
        return false;
    }
    if (fill_ == 0) {
        const void* start = std::memchr(bytes, kStartByte, count);
        if (start == nullptr) return true;  // noise while hunting: discarded
        const std::size_t at = static_cast<const std::uint8_t*>(start) - bytes;
        std::memcpy(buffer_, bytes + at, count - at);
        fill_ = static_cast<std::uint8_t>(count - at);
    } else {
        std::memcpy(buffer_ + fill_, bytes, count);
        fill_ = static_cast<std::uint8_t>(fill_ + count);
    }
    if (fill_ < 3) return true;
    const std::uint8_t length = buffer_[kOffsetLength];
    if (length > fill_ - 3) return true;
    // Complete: bytes behind the frame in the same chunk are discarded.
    fill_ = 0;
    std::uint8_t sum = 0;
    for (std::uint8_t i = 0; i <= length; ++i) sum = static_cast<std::uint8_t>(sum + buffer_[2 + i]);
    if (sum != 0) return false;
    return macReceive(length);
}

// ---- Mac -----------------------------------------------------------------

bool FrameLayers::macInit() {
    std::memset(buffer_ + kOffsetSource, 0, 2 * kAddressSize);
    log_.print(1, "SSTP - Mac : Initialization");
    return phyInit();
}

bool FrameLayers::macSend(const std::uint8_t* destination, std::uint8_t sckLength) {
    if (sckLength == 0 || sckLength > kMaxMacPayload || destination == nullptr) {
        log_.print(1, "SSTP - Mac : Write Error");
        return false;
    }
    // Destination first: the caller may pass the source field of the frame
    // just received.
    std::memmove(buffer_ + kOffsetDestination, destination, kAddressSize);
    std::memcpy(buffer_ + kOffsetSource, ownAddress_, kAddressSize);
    return phySend(static_cast<std::uint8_t>(sckLength + 16));
}

bool FrameLayers::macReceive(std::uint8_t phyLength) {
    if (phyLength < 16 || phyLength > kMaxPhyPayload) {
        log_.print(1, "SSTP - Mac : Read Error");
        return false;
    }
    const std::uint8_t* destination = buffer_ + kOffsetDestination;
    if (std::memcmp(destination, ownAddress_, kAddressSize) != 0 &&
        std::memcmp(destination, kBroadcastAddress, kAddressSize) != 0) {
        log_.print(1, "SSTP - Mac : Frame not addressed to this device");
        return false;
    }
    return sckReceive(static_cast<std::uint8_t>(phyLength - 16));
}

// ---- Sck -----------------------------------------------------------------

bool FrameLayers::sckInit() {
    log_.print(1, "SSTP - Sck : Initialization");
    return macInit();
}

bool FrameLayers::sckSend(const std::uint8_t* destination, std::uint8_t byte0, std::uint8_t byte1,
                          std::uint8_t byte2, std::uint8_t byte3, const std::uint8_t* payload, std::uint8_t n,
                          const char* errorLine) {
    if (destination == nullptr || (n > 0 && (n > kMaxSckPayload || payload == nullptr))) {
        log_.print(1, "%s", errorLine);
        return false;
    }
    // The destination may point into the buffer (the sender of the frame
    // being answered): keep a copy before the header overwrites anything.
    std::uint8_t to[kAddressSize];
    std::memcpy(to, destination, kAddressSize);
    if (n > 0 && payload != buffer_ + kOffsetSckPayload) std::memmove(buffer_ + kOffsetSckPayload, payload, n);
    buffer_[kOffsetSckHeader + 0] = byte0;
    buffer_[kOffsetSckHeader + 1] = byte1;
    buffer_[kOffsetSckHeader + 2] = byte2;
    buffer_[kOffsetSckHeader + 3] = byte3;
    return macSend(to, static_cast<std::uint8_t>(n + 4));
}

bool FrameLayers::sckSendRequest(const std::uint8_t* destination, std::uint8_t type, std::uint32_t parameter,
                                 const std::uint8_t* payload, std::uint8_t n) {
    return sckSend(destination, static_cast<std::uint8_t>(type & 0x7F), static_cast<std::uint8_t>(parameter),
                   static_cast<std::uint8_t>(parameter >> 8), static_cast<std::uint8_t>(parameter >> 16), payload,
                   n, "SSTP - Mac : Write Req Error");
}

bool FrameLayers::sckSendAnswer(const std::uint8_t* destination, std::uint8_t type, std::uint8_t status,
                                std::uint16_t value, const std::uint8_t* payload, std::uint8_t n) {
    return sckSend(destination, static_cast<std::uint8_t>(type | 0x80), status, static_cast<std::uint8_t>(value),
                   static_cast<std::uint8_t>(value >> 8), payload, n, "SSTP - Mac : Write Ans Error");
}

bool FrameLayers::sckReceive(std::uint8_t sckLength) {
    if (sckLength < 4 || sckLength > kMaxMacPayload) {
        log_.print(1, "SSTP - Mac : Read Error");
        return false;
    }
    std::uint8_t* header = buffer_ + kOffsetSckHeader;
    const std::uint8_t* payload = buffer_ + kOffsetSckPayload;
    const std::uint8_t payloadLength = static_cast<std::uint8_t>(sckLength - 4);
    if (upper_ == nullptr) return false;
    if (header[0] & 0x80) {
        header[0] = static_cast<std::uint8_t>(header[0] & 0x7F);
        const std::uint16_t value = static_cast<std::uint16_t>(header[2] | (header[3] << 8));
        return upper_->onAnswer(header[0], header[1], value, payload, payloadLength);
    }
    const std::uint32_t parameter =
        static_cast<std::uint32_t>(header[1]) | (static_cast<std::uint32_t>(header[2]) << 8) |
        (static_cast<std::uint32_t>(header[3]) << 16);
    return upper_->onRequest(header[0], parameter, payload, payloadLength);
}

}  // namespace dorvane
