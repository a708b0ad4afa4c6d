#include <gtest/gtest.h>

#include <QHostAddress>
#include <QUdpSocket>

#include <vector>

#include "links/links.h"
#include "tests/links/linksTestSupport.h"
#include "tests/support/fakes.h"

namespace dorvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A link on a free port, a plain socket as the simulator, and what reaches Phy.
struct Loopback : ::testing::Test {
    Loopback()
        : link(random, [this] { return rate; },
               [this](std::uint8_t n, const std::uint8_t* b) { chunks.emplace_back(b, b + n); }) {}

    void SetUp() override {
        ASSERT_TRUE(link.start(0));
        ASSERT_TRUE(simulator.bind(QHostAddress(QHostAddress::LocalHost), 0));
        link.setPeerPort(simulator.localPort());
    }

    // Sends datagrams to the link and waits until the kernel holds them all,
    // without running the event loop, so one read event finds them together.
    void sendToLink(const std::vector<Bytes>& datagrams, QUdpSocket& from) {
        for (const Bytes& d : datagrams)
            from.writeDatagram(reinterpret_cast<const char*>(d.data()), static_cast<qint64>(d.size()),
                               QHostAddress(QHostAddress::LocalHost), link.boundPort());
        usleep(20000);
    }

    test::FakeRandom random;
    int rate = 100;
    std::vector<Bytes> chunks;
    UdpLoopbackLink link;
    QUdpSocket simulator;
};

TEST_F(Loopback, StartStopAndPorts) {
    EXPECT_TRUE(link.isActive());
    EXPECT_EQ(link.localPort(), 0);
    EXPECT_NE(link.boundPort(), 0);

    // A port that is taken cannot be bound a second time.
    test::FakeRandom r2;
    UdpLoopbackLink second(r2, [] { return 100; }, {});
    EXPECT_FALSE(second.start(link.boundPort()));
    EXPECT_FALSE(second.isActive());
    EXPECT_EQ(second.localPort(), link.boundPort());

    link.stop();
    EXPECT_FALSE(link.isActive());
    EXPECT_EQ(link.boundPort(), 0);
    const Bytes frame = {0x24, 1, 7, 0xF9};
    EXPECT_FALSE(link.send(frame.data(), frame.size()));
}

TEST_F(Loopback, DefaultsAreTheHostsPorts) {
    test::FakeRandom r;
    UdpLoopbackLink fresh(r, {}, {});
    EXPECT_EQ(fresh.localPort(), 57000);
    EXPECT_EQ(fresh.peerPort(), 56700);
    EXPECT_FALSE(fresh.isActive());
}

TEST_F(Loopback, SendGoesFromTheListeningPortAsOneDatagram) {
    const Bytes frame = {0x24, 3, 1, 2, 3, 0xFA};
    ASSERT_TRUE(link.send(frame.data(), frame.size()));
    ASSERT_TRUE(test::runUntil([&] { return simulator.hasPendingDatagrams(); }, 2000));
    char buffer[512];
    QHostAddress from;
    quint16 fromPort = 0;
    const qint64 n = simulator.readDatagram(buffer, sizeof buffer, &from, &fromPort);
    EXPECT_EQ(Bytes(buffer, buffer + n), frame);
    EXPECT_EQ(fromPort, link.boundPort());  // where the simulator's answers go
    EXPECT_FALSE(simulator.hasPendingDatagrams());
}

TEST_F(Loopback, EveryPendingDatagramIsReadInOneEvent) {
    sendToLink({{1}, {2, 2}, {3, 3, 3}}, simulator);
    link.IdUDPServerUDPRead();  // one read event, as if readyRead came once
    EXPECT_EQ(chunks, (std::vector<Bytes>{{1}, {2, 2}, {3, 3, 3}}));
    EXPECT_EQ(random.calls, 3);  // one draw per datagram
}

TEST_F(Loopback, ReadyReadDeliversThroughTheEventLoop) {
    sendToLink({{9, 8, 7}}, simulator);
    ASSERT_TRUE(test::runUntil([&] { return !chunks.empty(); }, 2000));
    EXPECT_EQ(chunks.front(), (Bytes{9, 8, 7}));
}

TEST_F(Loopback, LongDatagramIsCutTo255Bytes) {
    Bytes big(300);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i);
    sendToLink({big, {0x55}}, simulator);
    link.IdUDPServerUDPRead();
    ASSERT_EQ(chunks.size(), 2u);  // the rest is lost, not delivered as a datagram of its own
    EXPECT_EQ(chunks[0], Bytes(big.begin(), big.begin() + 255));
    EXPECT_EQ(chunks[1], Bytes{0x55});
}

// One draw per datagram: below the rate it passes, otherwise it is lost.
TEST_F(Loopback, SuccessRateDrawsPerDatagram) {
    struct Case {
        int rate;
        std::vector<std::uint32_t> draws;
        std::vector<Bytes> expected;
    };
    const std::vector<Case> cases = {
        {100, {99, 0, 50}, {{1}, {2}, {3}}},
        {70, {69, 70, 0}, {{1}, {3}}},
        {0, {0, 0, 0}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        chunks.clear();
        rate = c.rate;
        random.script.assign(c.draws.begin(), c.draws.end());
        sendToLink({{1}, {2}, {3}}, simulator);
        link.IdUDPServerUDPRead();
        EXPECT_EQ(chunks, c.expected);
        EXPECT_TRUE(random.script.empty());
        EXPECT_FALSE(simulator.hasPendingDatagrams());
    }
}

TEST_F(Loopback, DatagramsFromAnySourceAreAccepted) {
    QUdpSocket other;
    ASSERT_TRUE(other.bind(QHostAddress(QHostAddress::LocalHost), 0));
    sendToLink({{1}}, simulator);
    sendToLink({{2}}, other);
    link.IdUDPServerUDPRead();
    EXPECT_EQ(chunks, (std::vector<Bytes>{{1}, {2}}));
}

TEST_F(Loopback, SendingToAnAbsentPeerDoesNotStopTheServer) {
    QUdpSocket gone;
    ASSERT_TRUE(gone.bind(QHostAddress(QHostAddress::LocalHost), 0));
    link.setPeerPort(gone.localPort());
    gone.close();
    const Bytes frame = {0x24, 1, 7, 0xF9};
    link.send(frame.data(), frame.size());
    test::runEventLoop(50);
    sendToLink({{4, 4}}, simulator);
    ASSERT_TRUE(test::runUntil([&] { return !chunks.empty(); }, 2000));
    EXPECT_EQ(chunks.front(), (Bytes{4, 4}));
    EXPECT_TRUE(link.isActive());
}

}  // namespace
}  // namespace dorvane
