#include <gtest/gtest.h>

#include <QHostAddress>
#include <QSignalSpy>
#include <QUdpSocket>

#include <vector>

#include "links/links.h"
#include "protocol/frameLayers.h"
#include "tests/links/linksTestSupport.h"
#include "tests/support/hostHarness.h"

namespace dorvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A link whose serial device directory is a fresh temporary directory, with a
// pseudo-terminal linked there as COM7.
struct Serial : ::testing::Test {
    Serial()
        : link(random, [this] { return rate; }, [this](std::uint8_t n, const std::uint8_t* b) { deliver(n, b); }) {
        deliver = [this](std::uint8_t n, const std::uint8_t* b) {
            received.insert(received.end(), b, b + n);
            ++chunks;
        };
    }

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(pty.ok());
        ASSERT_TRUE(pty.linkAs(dir.path() + "/COM7"));
        link.setDeviceDirectory(dir.path());
        link.setPortName("COM7");
    }

    QTemporaryDir dir;
    test::Pty pty;
    test::FakeRandom random;
    int rate = 100;
    Bytes received;
    int chunks = 0;
    PhyReceiveFn deliver;  // where the link's bytes go
    SerialLink link;
};

TEST_F(Serial, PortNamesAndDevicePaths) {
    struct Case {
        const char* directory;
        const char* name;
        const char* path;
    };
    const Case cases[] = {
        {"/dev", "COM3", "/dev/COM3"},
        {"/srv/ports/", "COM12", "/srv/ports/COM12"},
        {"/srv/ports", "/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"/dev", "/dev/serial/by-id/usb-X-if00", "/dev/serial/by-id/usb-X-if00"},
        {"/dev", "ttyACM0", "/dev/ttyACM0"},
        {"/dev", "", ""},
        {"", "COM1", "/dev/COM1"},
    };
    for (const Case& c : cases) {
        link.setDeviceDirectory(c.directory);
        EXPECT_EQ(link.devicePath(c.name), QString(c.path)) << c.directory << " " << c.name;
    }
    test::FakeRandom r;
    SerialLink fresh(r, {}, {});
    EXPECT_EQ(fresh.deviceDirectory(), QString("/dev"));
    EXPECT_EQ(fresh.portName(), QString("COM1"));
}

TEST_F(Serial, OpensTheComNameAt57600EightNOneWithoutFlowControl) {
    ASSERT_TRUE(link.open());
    EXPECT_TRUE(link.isOpen());
    termios t{};
    ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B57600));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);

    // Opening again reopens; closing is final.
    const std::uint32_t session = link.session();
    ASSERT_TRUE(link.open());
    EXPECT_NE(link.session(), session);
    link.close();
    EXPECT_FALSE(link.isOpen());
}

TEST_F(Serial, PortsThatDoNotOpenFailSilently) {
    ASSERT_TRUE(QFile::link("/nonexistent/tty", dir.path() + "/COM8"));  // dangling
    for (const char* name : {"COM9", "COM8", "", "/nonexistent/ttyUSB9"}) {
        link.setPortName(name);
        EXPECT_FALSE(link.open()) << name;
        EXPECT_FALSE(link.isOpen()) << name;
    }
    const Bytes frame = {0x24, 1, 7, 0xF9};
    EXPECT_FALSE(link.write(frame.data(), frame.size()));
}

TEST_F(Serial, WriteIsOneBlockOnTheLine) {
    ASSERT_TRUE(link.open());
    const Bytes frame = {0x24, 3, 1, 2, 3, 0xFA};
    ASSERT_TRUE(link.write(frame.data(), frame.size()));
    Bytes seen;
    ASSERT_TRUE(test::runUntil([&] {
        const Bytes more = pty.read();
        seen.insert(seen.end(), more.begin(), more.end());
        return seen.size() >= frame.size();
    }, 2000));
    EXPECT_EQ(seen, frame);
}

TEST_F(Serial, BacklogLongerThanTheReceiveBufferAllArrivesInOrder) {
    ASSERT_TRUE(link.open());
    Bytes sent(700);
    for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<std::uint8_t>(i * 7);
    pty.write(sent);
    ASSERT_TRUE(test::runUntil([&] { return received.size() >= sent.size(); }, 3000));
    EXPECT_EQ(received, sent);
}

TEST_F(Serial, FailedDrawLeavesTheBytesWaiting) {
    rate = 50;
    random.script = {50, 99, 49};  // fail, fail, pass
    ASSERT_TRUE(link.open());
    pty.write("abc");
    ASSERT_TRUE(test::runUntil([&] { return random.calls >= 1; }, 2000));
    test::runEventLoop(30);
    EXPECT_TRUE(received.empty());
    pty.write("de");
    ASSERT_TRUE(test::runUntil([&] { return random.calls >= 2; }, 2000));
    test::runEventLoop(30);
    EXPECT_TRUE(received.empty());
    pty.write("f");
    ASSERT_TRUE(test::runUntil([&] { return !received.empty(); }, 2000));
    test::runEventLoop(30);
    EXPECT_EQ(test::text(received), "abcdef");  // nothing lost, nothing doubled
    EXPECT_EQ(random.calls, 3);
}

TEST_F(Serial, SuccessRateZeroPassesNothing) {
    rate = 0;
    ASSERT_TRUE(link.open());
    pty.write("$noise");
    ASSERT_TRUE(test::runUntil([&] { return random.calls >= 1; }, 2000));
    test::runEventLoop(50);
    EXPECT_TRUE(received.empty());
}

// The link feeds real frame layers: frames that arrive together in one read
// all reach the layer above, noise and all.
struct SerialFrames : Serial {
    SerialFrames() : log(nullptr, nullptr), layers(log, kHost, nowhere) {
        layers.setUpper(&upper);
        deliver = [this](std::uint8_t n, const std::uint8_t* b) { layers.phyReceive(n, b); };
    }
    struct Upper final : ISckUpper {
        bool onRequest(std::uint8_t type, std::uint32_t parameter, const std::uint8_t*, std::uint8_t) override {
            requests.push_back({type, parameter});
            return true;
        }
        bool onAnswer(std::uint8_t, std::uint8_t, std::uint16_t, const std::uint8_t*, std::uint8_t) override {
            return true;
        }
        std::vector<std::pair<std::uint8_t, std::uint32_t>> requests;
    };
    static constexpr std::uint8_t kHost[8] = {1, 2, 3, 4, 5, 6, 7, 1};
    static constexpr std::uint8_t kDevice[8] = {9, 8, 7, 6, 5, 4, 3, 2};
    Bytes frame(std::uint32_t parameter, std::size_t payload) {
        test::DeviceFrames device(kDevice);
        return device.request(kHost, kMsgELO, parameter, Bytes(payload, 0x24));
    }
    EventLog log;
    test::CaptureLink nowhere;
    FrameLayers layers;
    Upper upper;
};

TEST_F(SerialFrames, FramesArrivingTogetherAllReachTheFrameLayer) {
    ASSERT_TRUE(link.open());
    Bytes burst = {0x00, 0x11};  // noise in front
    for (std::uint32_t p = 1; p <= 6; ++p) {
        const Bytes f = frame(p, 40 + p * 5);  // six frames of 63..93 bytes: several receive buffers' worth
        burst.insert(burst.end(), f.begin(), f.end());
    }
    pty.write(burst);
    ASSERT_TRUE(test::runUntil([&] { return upper.requests.size() >= 6; }, 3000));
    test::runEventLoop(30);
    ASSERT_EQ(upper.requests.size(), 6u);
    for (std::uint32_t p = 1; p <= 6; ++p) EXPECT_EQ(upper.requests[p - 1].second, p);
}

TEST_F(Serial, FarEndGoneClosesThePortWithoutSpinning) {
    QSignalSpy lost(&link, &SerialLink::closedOnError);
    ASSERT_TRUE(link.open());
    pty.unplug();
    ASSERT_TRUE(test::runUntil([&] { return !link.isOpen(); }, 2000));
    EXPECT_EQ(lost.count(), 1);
    const double cpu0 = test::cpuMs();
    test::runEventLoop(1000);
    EXPECT_LT(test::cpuMs() - cpu0, 300.0);  // an idle event loop, not a read-error loop
    const Bytes frame = {0x24, 1, 7, 0xF9};
    EXPECT_FALSE(link.write(frame.data(), frame.size()));
}

TEST_F(Serial, ProbeListsComPortsThenSystemPortsAndLeavesTheLinkClosed) {
    test::Pty com3, other;
    ASSERT_TRUE(com3.linkAs(dir.path() + "/COM3"));
    ASSERT_TRUE(QFile::link("/nonexistent/tty", dir.path() + "/COM5"));
    const QString otherPath = QString::fromStdString(other.slaveName());
    link.setSystemPorts([&] {
        // COM3's own device (listed already), a port that opens, one that does not.
        return QStringList{QString::fromStdString(com3.slaveName()), otherPath, "/nonexistent/ttyUSB0"};
    });
    ASSERT_TRUE(link.open());  // the dongle's port is free again for the probe
    const QStringList found = link.probe();
    EXPECT_EQ(found, (QStringList{"COM3", "COM7", otherPath}));
    EXPECT_FALSE(link.isOpen());
    EXPECT_EQ(link.portName(), QString("COM7"));
}

TEST_F(Serial, ProbeWithoutPortsIsEmpty) {
    link.setDeviceDirectory(dir.path() + "/empty");
    link.setSystemPorts([] { return QStringList{}; });
    EXPECT_TRUE(link.probe().isEmpty());
    EXPECT_FALSE(link.isOpen());
}

TEST_F(Serial, ControlServerListNamesTheLinksOwnBusyPort) {
    test::Pty com2;
    ASSERT_TRUE(com2.linkAs(dir.path() + "/COM2"));
    ASSERT_TRUE(link.open());
    EXPECT_EQ(link.controlServerPortList(), (QStringList{"COM2", "COM7"}));
    EXPECT_TRUE(link.isOpen());  // not disturbed
    link.setPortName("/dev/ttyUSB9");
    EXPECT_EQ(link.controlServerPortList(), (QStringList{"COM2"}));  // COM7 is held, and not by that name
}

// The send routine picks the link by mode and always reports success.
TEST_F(Serial, LinkSenderPicksTheLinkAndSwallowsFailures) {
    test::FakeRandom r;
    UdpLoopbackLink udp(r, {}, {});
    QUdpSocket simulator;
    ASSERT_TRUE(simulator.bind(QHostAddress(QHostAddress::LocalHost), 0));
    udp.setPeerPort(simulator.localPort());
    bool loopback = false;
    LinkSender sender(link, udp, [&] { return loopback; });
    const Bytes frame = {0x24, 1, 7, 0xF9};

    struct Case {
        bool loopback, serialOpen, udpActive;
        bool onSerial, onUdp;
    };
    const Case cases[] = {
        {false, true, true, true, false},
        {false, false, true, false, false},
        {true, true, true, false, true},
        {true, true, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.loopback << c.serialOpen << c.udpActive);
        loopback = c.loopback;
        if (c.serialOpen) {
            ASSERT_TRUE(link.open());
        } else {
            link.close();
        }
        if (c.udpActive) {
            ASSERT_TRUE(udp.start(0));
        } else {
            udp.stop();
        }
        pty.read();
        EXPECT_TRUE(sender.send(frame.data(), static_cast<std::uint8_t>(frame.size())));
        test::runEventLoop(30);
        EXPECT_EQ(pty.read() == frame, c.onSerial);
        EXPECT_EQ(simulator.hasPendingDatagrams(), c.onUdp);
        while (simulator.hasPendingDatagrams()) simulator.readDatagram(nullptr, 0);
    }
}

TEST_F(Serial, ApplyPortSelection) {
    test::SteadyClock clock;
    std::vector<std::string> logged;
    DongleConfigurator configurator(clock, [&](const char* m) { logged.emplace_back(m); });
    test::Pty com4;
    ASSERT_TRUE(com4.linkAs(dir.path() + "/COM4"));

    // No command list: the port opens and the dongle is not touched.
    applyPortSelection(link, configurator, nullptr, "COM4");
    EXPECT_TRUE(link.isOpen());
    EXPECT_EQ(link.portName(), QString("COM4"));
    test::runEventLoop(100);
    EXPECT_TRUE(com4.read().empty());

    // A port that does not exist: the previous one is closed, nothing is said.
    const QStringList commands = {"ATS500=1"};
    applyPortSelection(link, configurator, &commands, "COM99");
    EXPECT_FALSE(link.isOpen());
    EXPECT_EQ(link.portName(), QString("COM99"));
    EXPECT_TRUE(logged.empty());
    EXPECT_FALSE(configurator.isConfiguring());
}

}  // namespace
}  // namespace dorvane
