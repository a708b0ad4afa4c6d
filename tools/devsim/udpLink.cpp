#include "tools/devsim/udpLink.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace dorvane::devsim {

namespace {
sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}
}  // namespace

UdpHostLink::~UdpHostLink() {
    if (fd_ >= 0) ::close(fd_);
}

bool UdpHostLink::open(std::uint16_t listenPort, std::uint16_t hostPort, std::string& error) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd_ < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    sockaddr_in a = loopback(listenPort);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(listenPort) + ": " + std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    socklen_t length = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length);
    boundPort_ = ntohs(a.sin_port);
    hostPort_ = hostPort;
    return true;
}

void UdpHostLink::toHost(const std::uint8_t* bytes, std::uint8_t count) {
    if (fd_ < 0) return;
    const sockaddr_in to = loopback(hostPort_);
    if (::sendto(fd_, bytes, count, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) != count) ++sendFailures_;
}

int UdpHostLink::receive(SimFleet& fleet, int timeoutMs) {
    if (fd_ < 0) return 0;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0 || (p.revents & POLLIN) == 0) return 0;
    int taken = 0;
    std::uint8_t buffer[512];
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0) break;
        fleet.fromHost(buffer, static_cast<std::size_t>(n));
        ++taken;
    }
    return taken;
}

}  // namespace dorvane::devsim
