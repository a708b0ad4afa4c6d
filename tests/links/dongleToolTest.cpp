#include <gtest/gtest.h>

#include <QHostAddress>
#include <QSignalSpy>
#include <QUdpSocket>

#include <signal.h>

#include <memory>
#include <string>
#include <vector>

#include "links/links.h"
#include "tests/links/linksTestSupport.h"
#include "tests/support/fakes.h"

namespace dorvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The host's serial link and dongle dialogue against dorvane-dongle, which
// stands on a pseudo-terminal linked as COM7 and relays frames to a UDP
// socket of the test (the device simulator's place).
struct VirtualDongle : ::testing::Test {
    VirtualDongle()
        : link(random, [] { return 100; },
               [this](std::uint8_t n, const std::uint8_t* b) { toStack.insert(toStack.end(), b, b + n); }),
          configurator(clock, [this](const char* m) { logged.emplace_back(m); }) {}

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(simulator.bind(QHostAddress(QHostAddress::LocalHost), 0));
        link.setDeviceDirectory(dir.path());
        link.setPortName("COM7");
    }

    void startDongle(const QStringList& extra = {}) {
        dongle = std::make_unique<test::DongleProcess>();
        ASSERT_TRUE(dongle->start(dir.path(), "COM7",
                                  QStringList{"--udp-peer", QString::number(simulator.localPort())} + extra))
            << dongle->ready.toStdString();
    }

    std::vector<test::DongleEvent> events(const std::string& name) const {
        std::vector<test::DongleEvent> out;
        for (const auto& e : dongle->log())
            if (e.event == name) out.push_back(e);
        return out;
    }
    std::vector<std::string> commandLines() const {
        std::vector<std::string> out;
        for (const auto& e : events("cmd")) out.push_back(e.detail);
        return out;
    }
    // When each "+" reached the dongle.
    std::vector<double> plusTimes() const {
        std::vector<double> out;
        for (const auto& e : events("rx"))
            for (std::uint8_t b : test::fromHex(e.detail))
                if (b == '+') out.push_back(e.ms);
        return out;
    }
    std::vector<Bytes> datagrams() {
        std::vector<Bytes> out;
        while (simulator.hasPendingDatagrams()) {
            Bytes d(static_cast<std::size_t>(simulator.pendingDatagramSize()));
            simulator.readDatagram(reinterpret_cast<char*>(d.data()), static_cast<qint64>(d.size()));
            out.push_back(d);
        }
        return out;
    }

    QTemporaryDir dir;
    QUdpSocket simulator;
    std::unique_ptr<test::DongleProcess> dongle;
    test::FakeRandom random;
    test::SteadyClock clock;
    Bytes toStack;
    std::vector<std::string> logged;
    SerialLink link;
    DongleConfigurator configurator;
    const QStringList commands = {"ATS500=12", "ATS501=7", "ATS510=0"};
};

TEST_F(VirtualDongle, ConfiguresTheDongleThenCarriesFrames) {
    startDongle();
    ASSERT_TRUE(link.open());
    const double start = test::monotonicMs();
    ASSERT_TRUE(configurator.configure(&commands, link));
    EXPECT_TRUE(logged.empty());

    const std::vector<double> plus = plusTimes();
    ASSERT_EQ(plus.size(), 3u);
    EXPECT_GE(plus[0] - start, 192.0 - 1.0);
    EXPECT_GE(plus[1] - plus[0], 96.0 - 5.0);  // arrival times carry the scheduler's jitter
    EXPECT_LT(plus[1] - plus[0], 96.0 + 60.0);
    EXPECT_GE(plus[2] - plus[1], 96.0 - 5.0);
    EXPECT_LT(plus[2] - plus[1], 96.0 + 60.0);
    EXPECT_EQ(commandLines(), (std::vector<std::string>{"ATS500=12", "ATS501=7", "ATS510=0", "ATO"}));
    EXPECT_EQ(events("escape").size(), 1u);
    ASSERT_EQ(events("mode").size(), 1u);
    EXPECT_EQ(events("mode")[0].detail, "data");

    // Host to devices: two frames written together leave as two datagrams.
    const Bytes a = {0x24, 3, 1, 2, 3, 0xFA};
    const Bytes b = {0x24, 2, 0x10, 0x20, 0xD0};
    Bytes both = a;
    both.insert(both.end(), b.begin(), b.end());
    ASSERT_TRUE(link.write(both.data(), both.size()));
    std::vector<Bytes> got;
    ASSERT_TRUE(test::runUntil([&] {
        for (auto& d : datagrams()) got.push_back(d);
        return got.size() >= 2;
    }, 3000));
    EXPECT_EQ(got, (std::vector<Bytes>{a, b}));

    // Devices to host: a datagram reaches the stack unchanged.
    simulator.writeDatagram(reinterpret_cast<const char*>(a.data()), static_cast<qint64>(a.size()),
                            QHostAddress(QHostAddress::LocalHost), dongle->udpListen);
    ASSERT_TRUE(test::runUntil([&] { return toStack.size() >= a.size(); }, 3000));
    EXPECT_EQ(toStack, a);
}

// Dongles that fail in the dialogue: the result, how long it took, what the
// dongle saw. The port stays open and one line is logged.
TEST_F(VirtualDongle, FaultyDongles) {
    struct Case {
        const char* fault;
        std::vector<std::string> lines;
        double minMs, maxMs;
    };
    const Case cases[] = {
        // 192 + 3 x 96 + 384 + 384: no answer to the escape, none to "ATO".
        {"silent", {}, 1248 - 10, 1248 + 300},
        // The escape is answered (about 54 ms into its reply wait), nothing after it.
        {"escape-only", {"ATS500=12", "ATO"}, 480 + 2 * 384, 480 + 384 + 2 * 384 + 300},
        {"drop-ato", {"ATS500=12", "ATS501=7", "ATS510=0", "ATO"}, 480 + 384, 3000},
        // Stuck in command mode: every escape unanswered, every "ATO" answered,
        // until the retries run out.
        {"ato-only", {"+++", "ATO", "+++", "ATO", "+++", "ATO", "+++", "ATO"}, 4 * (480 + 384) - 20, 4 * (480 + 384) + 400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        logged.clear();
        startDongle({"--fault", c.fault});
        ASSERT_TRUE(link.open());
        const double start = test::monotonicMs();
        EXPECT_FALSE(configurator.configure(&commands, link));
        const double took = test::monotonicMs() - start;
        EXPECT_GE(took, c.minMs);
        EXPECT_LE(took, c.maxMs);
        EXPECT_TRUE(link.isOpen());
        EXPECT_FALSE(configurator.isConfiguring());
        EXPECT_EQ(logged, std::vector<std::string>{"Dongle : the dongle on COM7 did not answer"});
        EXPECT_EQ(commandLines(), c.lines);
        link.close();
    }
}

TEST_F(VirtualDongle, SilentDongleSawTheEscapeAndTheReturnToDataMode) {
    startDongle({"--fault", "silent"});
    ASSERT_TRUE(link.open());
    EXPECT_FALSE(configurator.configure(&commands, link));
    std::string seen;
    for (const auto& e : events("rx"))
        for (std::uint8_t b : test::fromHex(e.detail)) seen += static_cast<char>(b);
    EXPECT_EQ(seen, "+++\r\nATO\r\n\r\n");
    EXPECT_TRUE(events("reply").empty());
}

// The dongle goes away while frames are being sent: the program neither hangs
// in a write nor spins on the port's read errors.
TEST_F(VirtualDongle, UnpluggedMidTransfer) {
    for (const bool bySignal : {false, true}) {
        SCOPED_TRACE(bySignal ? "on a signal" : "after 300 data bytes");
        startDongle(bySignal ? QStringList{} : QStringList{"--unplug-after", "300"});
        QSignalSpy lost(&link, &SerialLink::closedOnError);
        ASSERT_TRUE(link.open());
        UdpLoopbackLink udp(random, {}, {});
        LinkSender sender(link, udp, [] { return false; });
        const Bytes frame(96, 0x55);
        int sent = 0;
        QTimer transfer;
        transfer.setInterval(5);
        QObject::connect(&transfer, &QTimer::timeout, [&] {
            EXPECT_TRUE(sender.send(frame.data(), static_cast<std::uint8_t>(frame.size())));
            if (++sent == 10 && bySignal) ::kill(static_cast<pid_t>(dongle->process.processId()), SIGUSR1);
        });
        transfer.start();
        ASSERT_TRUE(test::runUntil([&] { return !link.isOpen(); }, 3000));
        EXPECT_EQ(lost.count(), 1);
        const double cpu0 = test::cpuMs();
        test::runEventLoop(1000);  // the transfer keeps sending into the void
        EXPECT_LT(test::cpuMs() - cpu0, 300.0);
        EXPECT_GT(sent, 100);
        transfer.stop();
        EXPECT_TRUE(dongle->process.state() == QProcess::NotRunning || dongle->process.waitForFinished(3000));
        EXPECT_EQ(events("unplug").size(), 1u);
    }
}

}  // namespace
}  // namespace dorvane
