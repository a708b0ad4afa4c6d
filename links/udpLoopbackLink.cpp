#include <QHostAddress>
#include <QUdpSocket>

#include "links/links.h"

namespace dorvane {

namespace {
constexpr qint64 kReceiveBuffer = 255;
}

struct UdpLoopbackLink::Impl {
    Impl(IRandom& r, SuccessRateFn rate, PhyReceiveFn phy) : random(r), successRate(std::move(rate)), phyReceive(std::move(phy)) {}

    IRandom& random;
    SuccessRateFn successRate;
    PhyReceiveFn phyReceive;
    QUdpSocket* socket = nullptr;  // owned through the QObject tree
    std::uint16_t localPort = kDefaultLocalPort;
    std::uint16_t peerPort = kDefaultPeerPort;
    std::uint8_t buffer[kReceiveBuffer] = {};
};

UdpLoopbackLink::UdpLoopbackLink(IRandom& random, SuccessRateFn successRate, PhyReceiveFn phyReceive, QObject* parent)
    : QObject(parent), d_(std::make_unique<Impl>(random, std::move(successRate), std::move(phyReceive))) {
    d_->socket = new QUdpSocket(this);
    connect(d_->socket, &QUdpSocket::readyRead, this, [this] { IdUDPServerUDPRead(); });
}

UdpLoopbackLink::~UdpLoopbackLink() {
    d_->socket->disconnect(this);
    d_->socket->close();
}

bool UdpLoopbackLink::start(std::uint16_t localPort) {
    stop();
    d_->localPort = localPort;
    // Not shared: a port that another program holds is a failure, not a
    // second listener that would see only part of the traffic.
    return d_->socket->bind(QHostAddress(QHostAddress::AnyIPv4), localPort, QAbstractSocket::DontShareAddress);
}

void UdpLoopbackLink::stop() {
    if (d_->socket->state() != QAbstractSocket::UnconnectedState) d_->socket->close();
}

bool UdpLoopbackLink::isActive() const { return d_->socket->state() == QAbstractSocket::BoundState; }

std::uint16_t UdpLoopbackLink::localPort() const { return d_->localPort; }
void UdpLoopbackLink::setLocalPort(std::uint16_t port) { d_->localPort = port; }
std::uint16_t UdpLoopbackLink::boundPort() const { return isActive() ? d_->socket->localPort() : 0; }
void UdpLoopbackLink::setPeerPort(std::uint16_t port) { d_->peerPort = port; }
std::uint16_t UdpLoopbackLink::peerPort() const { return d_->peerPort; }

bool UdpLoopbackLink::send(const std::uint8_t* bytes, std::size_t count) {
    if (bytes == nullptr || count == 0 || !isActive()) return false;
    const qint64 sent = d_->socket->writeDatagram(reinterpret_cast<const char*>(bytes), static_cast<qint64>(count),
                                                  QHostAddress(QHostAddress::LocalHost), d_->peerPort);
    return sent == static_cast<qint64>(count);
}

void UdpLoopbackLink::IdUDPServerUDPRead() {
    QUdpSocket& socket = *d_->socket;
    // One read event may stand for several datagrams.
    while (isActive() && socket.hasPendingDatagrams()) {
        const int rate = d_->successRate ? d_->successRate() : 100;
        const std::uint32_t r = d_->random.random(100);
        // The rest of a datagram longer than the buffer is lost.
        const qint64 n = socket.readDatagram(reinterpret_cast<char*>(d_->buffer), kReceiveBuffer);
        if (n < 0) break;  // a pending error, not a datagram
        if (static_cast<int>(r) >= rate) continue;  // simulated loss
        if (n > 0 && d_->phyReceive) d_->phyReceive(static_cast<std::uint8_t>(n), d_->buffer);
    }
}

}  // namespace dorvane
