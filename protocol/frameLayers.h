// The three lower SSTP layers over one 96-byte frame buffer.
//
// Phy: start byte 0x24, length L (<= 93), L payload bytes, checksum (two's
// complement of the payload byte sum). Mac: 8-byte source and destination in
// front of every message, incoming frames filtered by destination. Sck: a
// 4-byte header that tells requests (bit 7 of byte 0 clear) from answers.
//
// The same buffer holds the outgoing frame while it is built and sent and the
// incoming frame while it is reassembled and handed upward; an upper layer may
// answer from inside its receive handler, writing over the frame it handles.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/eventLog.h"
#include "protocol/ports.h"

namespace dorvane {

// What the Sck layer hands incoming messages to.
class ISckUpper {
public:
    virtual ~ISckUpper() = default;
    virtual bool onRequest(std::uint8_t type, std::uint32_t parameter, const std::uint8_t* payload,
                           std::uint8_t length) = 0;
    virtual bool onAnswer(std::uint8_t type, std::uint8_t status, std::uint16_t value,
                          const std::uint8_t* payload, std::uint8_t length) = 0;
};

// Message types.
enum MessageType : std::uint8_t {
    kMsgELO = 0,
    kMsgGWR = 8,
    kMsgHER = 16,
    kMsgHES = 17,
    kMsgHFL = 24,
    kMsgHPD = 31,
    kMsgPMR = 32,
    kMsgPWR = 40,
    kMsgPIN = 47,
};

extern const std::uint8_t kBroadcastAddress[kAddressSize];

class FrameLayers {
public:
    static constexpr std::size_t kFrameSize = 96;
    static constexpr std::uint8_t kStartByte = 0x24;
    static constexpr std::uint8_t kMaxPhyPayload = 93;
    static constexpr std::uint8_t kMaxMacPayload = 77;
    static constexpr std::uint8_t kMaxSckPayload = 73;
    static constexpr std::size_t kOffsetLength = 1;
    static constexpr std::size_t kOffsetSource = 2;
    static constexpr std::size_t kOffsetDestination = 10;
    static constexpr std::size_t kOffsetSckHeader = 18;
    static constexpr std::size_t kOffsetSckPayload = 22;

    // ownAddress is read at every send and filter (the host address for the
    // host; a device's own address when the simulator runs these layers).
    FrameLayers(EventLog& log, const std::uint8_t* ownAddress, ILinkSender& link)
        : log_(log), ownAddress_(ownAddress), link_(&link) {}

    void setUpper(ISckUpper* upper) { upper_ = upper; }
    void setLink(ILinkSender& link) { link_ = &link; }

    // Phy
    bool phyInit();
    bool phySend(std::uint8_t payloadLength);
    // Every received chunk (1..255 bytes, cut anywhere) in arrival order.
    bool phyReceive(std::uint8_t count, const std::uint8_t* bytes);

    // Mac
    bool macInit();
    bool macSend(const std::uint8_t* destination, std::uint8_t sckLength);
    bool macReceive(std::uint8_t phyLength);
    // The source field of the frame being handled; valid until the next send.
    const std::uint8_t* senderAddress() const { return buffer_ + kOffsetSource; }

    // Sck
    bool sckInit();
    bool sckSendRequest(const std::uint8_t* destination, std::uint8_t type, std::uint32_t parameter,
                        const std::uint8_t* payload, std::uint8_t n);
    bool sckSendAnswer(const std::uint8_t* destination, std::uint8_t type, std::uint8_t status,
                       std::uint16_t value, const std::uint8_t* payload, std::uint8_t n);
    bool sckReceive(std::uint8_t sckLength);

    // Where an outgoing Sck payload is built in place.
    std::uint8_t* sckPayloadArea() { return buffer_ + kOffsetSckPayload; }
    const std::uint8_t* buffer() const { return buffer_; }
    std::uint8_t fillCount() const { return fill_; }

private:
    bool sckSend(const std::uint8_t* destination, std::uint8_t byte0, std::uint8_t byte1,
                 std::uint8_t byte2, std::uint8_t byte3, const std::uint8_t* payload, std::uint8_t n,
                 const char* errorLine);

    EventLog& log_;
    const std::uint8_t* ownAddress_;
    ILinkSender* link_;
    ISckUpper* upper_ = nullptr;
    std::uint8_t buffer_[kFrameSize] = {};
    std::uint8_t fill_ = 0;
};

}  // namespace dorvane
