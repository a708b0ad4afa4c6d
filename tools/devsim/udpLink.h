// The fleet's link to a host over UDP on 127.0.0.1: one frame per datagram,
// received on the listening port, sent to the host's port from the same
// socket. POSIX sockets.
#pragma once

#include <cstdint>
#include <string>

#include "tools/devsim/simFleet.h"

namespace dorvane::devsim {

class UdpHostLink final : public IHostLink {
public:
    UdpHostLink() = default;
    ~UdpHostLink() override;
    UdpHostLink(const UdpHostLink&) = delete;
    UdpHostLink& operator=(const UdpHostLink&) = delete;

    // Binds 127.0.0.1:listenPort (0: any free port) and aims at hostPort.
    bool open(std::uint16_t listenPort, std::uint16_t hostPort, std::string& error);
    std::uint16_t boundPort() const { return boundPort_; }

    void toHost(const std::uint8_t* bytes, std::uint8_t count) override;

    // Waits up to timeoutMs for datagrams and hands each to the fleet.
    // Returns the number of datagrams taken.
    int receive(SimFleet& fleet, int timeoutMs);

    std::uint32_t sendFailures() const { return sendFailures_; }

private:
    int fd_ = -1;
    std::uint16_t boundPort_ = 0;
    std::uint16_t hostPort_ = 0;
    std::uint32_t sendFailures_ = 0;
};

}  // namespace dorvane::devsim
