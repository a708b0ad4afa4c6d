// The program in serial mode, through the virtual dongle on a pseudo-terminal
// named COM7 in a serial device directory of the test's own: the dongle
// configuration the dongle sees (escape timing, every command line, "ATO"),
// then a transfer to the simulated devices behind the dongle; a dongle that
// never answers; and a dongle unplugged in the middle of a transfer.
#include <QLineEdit>
#include <QtTest>

#include <signal.h>

#include <algorithm>
#include <vector>

#include "tests/integration/integrationSupport.h"

using namespace dorvane;
using namespace dorvane::integration;

namespace {

const QByteArray kDongleScript = "ATS500=12\r\nATS501=7\r\nATS510=869525\r\n";
const QStringList kDongleLines = {"ATS500=12", "ATS501=7", "ATS510=869525"};

// One line of the virtual dongle's log: "<ms> <event> [detail]".
struct DongleEvent {
    double ms = 0;
    QString event;
    QString detail;
};

std::vector<DongleEvent> readDongleLog(const QString& path) {
    std::vector<DongleEvent> events;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return events;
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QString line = QString::fromLatin1(raw);
        if (line.isEmpty()) continue;
        DongleEvent e;
        e.ms = line.section(' ', 0, 0).toDouble();
        e.event = line.section(' ', 1, 1);
        e.detail = line.section(' ', 2);
        events.push_back(e);
    }
    return events;
}

// The virtual dongle, named COM7 in dir, carrying frames to the fleet's port.
struct Dongle {
    bool start(const ProgramDirectory& dir, std::uint16_t fleetPort, std::uint16_t listenPort,
               const QStringList& extra = {}) {
        logPath = dir.file("dongle.log");
        QStringList args = {"--link", dir.file("COM7"), "--log", logPath, "--udp-listen", QString::number(listenPort)};
        if (fleetPort != 0) args << "--udp-peer" << QString::number(fleetPort);
        args << extra;
        if (!child.start(QStringLiteral(DORVANE_DONGLE_PROGRAM), args)) return false;
        return child.waitForOutputLine(QStringLiteral("ready ")).startsWith(QLatin1String("ready "));
    }
    std::vector<DongleEvent> log() const { return readDongleLog(logPath); }
    // Times of the single "+" writes the dongle received, up to its escape.
    std::vector<double> plusTimes() const {
        std::vector<double> times;
        for (const DongleEvent& e : log()) {
            if (e.event == QLatin1String("escape")) break;
            if (e.event == QLatin1String("rx") && e.detail == QLatin1String("2b")) times.push_back(e.ms);
        }
        return times;
    }
    QStringList commands() const {
        QStringList lines;
        for (const DongleEvent& e : log())
            if (e.event == QLatin1String("cmd")) lines << e.detail;
        return lines;
    }
    Child child;
    QString logPath;
};

QString configText(const ProgramDirectory& dir, bool savedPort) {
    QString text = QStringLiteral("[DEVICE]\nTransfert Mode=0\n[SYSTEM]\nSerial Directory=%1\n")
                       .arg(QString::fromStdString(dir.path()));
    if (savedPort) text += QStringLiteral("COM=COM7\n");
    return text;
}

}  // namespace

class SerialTest : public QObject {
    Q_OBJECT
private slots:
    void startUpConfiguresTheDongleAndUpdatesTheFleet();
    void silentDongleGivesUpAndKeepsThePortOpen();
    void unplugMidTransferNeitherHangsNorSpins();
};

void SerialTest::startUpConfiguresTheDongleAndUpdatesTheFleet() {
    ProgramDirectory dir;
    dir.writeCatalogue();
    dir.write(QStringLiteral("LoRaDongle.cfg"), kDongleScript);
    const QString package = makePackage(dir, 24);
    QVERIFY(!package.isEmpty());

    const std::uint16_t dongleUdp = freeUdpPort();
    Devsim fleet;
    QVERIFY2(fleet.start(dongleUdp, {"--devices", "5", "--image", dir.file("image.txt"), "--require-image"}),
             fleet.child.errorText.constData());
    Dongle dongle;
    QVERIFY(dongle.start(dir, fleet.port, dongleUdp));

    // The port saved at the last close, SYSTEM/COM, is applied at start-up.
    dir.writeConfig(configText(dir, true).toLatin1());
    Host host(dir);
    const double beforeShow = monotonicMs();
    TFMain& w = host.start();
    QVERIFY2(w.startupDone(), host.lastBox().c_str());
    QVERIFY(!w.loopbackMode());
    QVERIFY(host.links->isSerialOpen());
    QCOMPARE(w.cbFoTaPortList->currentText(), QStringLiteral("COM7"));

    // The escape: 192 ms of silence after the port opened, then three "+"
    // 96 ms apart, each counted from just before its write.
    const std::vector<double> plus = dongle.plusTimes();
    QCOMPARE(plus.size(), std::size_t(3));
    QVERIFY2(plus[0] - beforeShow >= 191.0, qPrintable(QString::number(plus[0] - beforeShow)));
    for (int i = 1; i < 3; ++i) {
        const double gap = plus[i] - plus[i - 1];
        QVERIFY2(gap >= 94.0 && gap <= 96.0 + 100.0, qPrintable(QStringLiteral("gap %1 ms").arg(gap)));
    }
    // Every command line in turn, then "ATO"; the dongle is back in data mode.
    QCOMPARE(dongle.commands(), QStringList(kDongleLines) << "ATO");
    const auto events = dongle.log();
    QVERIFY(std::any_of(events.begin(), events.end(), [](const DongleEvent& e) {
        return e.event == QLatin1String("mode") && e.detail == QLatin1String("data");
    }));
    QCOMPARE(host.logLinesWith(QStringLiteral("did not answer")), 0);

    QVERIFY2(host.open(package), host.lastBox().c_str());
    QString why;
    QVERIFY2(host.runTransfer(5, 20000, 60000, why), qPrintable(why));
    QCOMPARE(host.logLinesWith(QStringLiteral("too much retry")), 0);
    int status = -2;
    const int good = fleet.finish(QStringLiteral("launched"), status);
    QVERIFY2(status == 0 && good == 5, qPrintable(fleet.report.join('\n')));
    w.close();
    QVERIFY(w.shutdownDone());
    QVERIFY(dir.read(QStringLiteral("LoRaHost.cfg")).contains("COM=COM7"));
}

void SerialTest::silentDongleGivesUpAndKeepsThePortOpen() {
    ProgramDirectory dir;
    dir.writeCatalogue();
    dir.write(QStringLiteral("LoRaDongle.cfg"), kDongleScript);
    Dongle dongle;
    QVERIFY(dongle.start(dir, 0, 0, {"--fault", "silent"}));
    dir.writeConfig(configText(dir, false).toLatin1());
    Host host(dir);
    TFMain& w = host.start();
    QVERIFY2(w.startupDone(), host.lastBox().c_str());
    QVERIFY(!host.links->isSerialOpen());

    // The probe lists COM7; the operator types it and presses Return.
    QTest::mousePress(w.cbFoTaPortList->lineEdit(), Qt::LeftButton);
    QVERIFY(w.cbFoTaPortList->findText(QStringLiteral("COM7")) >= 0);
    w.cbFoTaPortList->lineEdit()->selectAll();
    QTest::keyClicks(w.cbFoTaPortList->lineEdit(), QStringLiteral("COM7"));
    const int logLines = w.reDisplay->lineCount();
    const std::uint64_t ticks = w.tickCount();
    const double t0 = monotonicMs();
    QTest::keyClick(w.cbFoTaPortList->lineEdit(), Qt::Key_Return);
    const double took = monotonicMs() - t0;

    // 192 + 3 x 96 + 384 + 384 ms, the user interface served all along.
    QVERIFY2(took >= 1240.0 && took <= 1248.0 + 600.0, qPrintable(QStringLiteral("%1 ms").arg(took)));
    QVERIFY2(w.tickCount() - ticks > 200, qPrintable(QStringLiteral("%1 host cycles").arg(w.tickCount() - ticks)));
    QVERIFY(host.links->isSerialOpen());
    QCOMPARE(host.links->serialPortName(), QStringLiteral("COM7"));
    // One line says so, and nothing else is logged.
    QCOMPARE(w.reDisplay->lineCount(), logLines + 1);
    QVERIFY2(host.lastLogLine().endsWith(QStringLiteral("Dongle : the dongle on COM7 did not answer")),
             qPrintable(host.lastLogLine()));
    // What the dongle saw: the escape, the attempt to leave command mode, no command line.
    QCOMPARE(dongle.plusTimes().size(), std::size_t(3));
    QByteArray after;
    bool pastPlus = false;
    int plusSeen = 0;
    for (const DongleEvent& e : dongle.log()) {
        if (e.event != QLatin1String("rx")) continue;
        if (!pastPlus) {
            if (e.detail == QLatin1String("2b") && ++plusSeen == 3) pastPlus = true;
            continue;
        }
        after += QByteArray::fromHex(e.detail.toLatin1());
    }
    QCOMPARE(after, QByteArray("\r\nATO\r\n\r\n"));
    w.close();
}

void SerialTest::unplugMidTransferNeitherHangsNorSpins() {
    ProgramDirectory dir;
    dir.writeCatalogue();
    dir.write(QStringLiteral("LoRaDongle.cfg"), kDongleScript);
    const QString package = makePackage(dir, 30);
    QVERIFY(!package.isEmpty());
    const std::uint16_t dongleUdp = freeUdpPort();
    Devsim fleet;
    QVERIFY(fleet.start(dongleUdp, {"--devices", "1", "--image", dir.file("image.txt")}));
    Dongle dongle;
    QVERIFY(dongle.start(dir, fleet.port, dongleUdp));
    dir.writeConfig(configText(dir, true).toLatin1());
    Host host(dir);
    TFMain& w = host.start();
    QVERIFY2(w.startupDone(), host.lastBox().c_str());
    QVERIFY(host.links->isSerialOpen());
    QVERIFY(host.open(package));
    auto& app = w.appHost();
    QVERIFY2(runUntil([&] { return app.deviceCount() == 1; }, 20000), qPrintable(host.lastLogLine()));

    // The host's own use of the processor while the transfer runs.
    QTest::mousePress(w.cxStart, Qt::LeftButton);
    QVERIFY(runUntil([&] { return w.cxProgressBar->value() >= 3; }, 20000));
    double cpu0 = cpuMs(), wall0 = monotonicMs();
    runFor(500);
    const double busyBefore = (cpuMs() - cpu0) / (monotonicMs() - wall0);

    // Unplugged during the broadcast.
    ::kill(static_cast<pid_t>(dongle.child.process.processId()), SIGUSR1);
    QVERIFY(dongle.child.process.waitForFinished(5000));
    QVERIFY(runUntil([&] { return !host.links->isSerialOpen(); }, 2000));

    // A second after the unplug: the processor is not spun, the host cycle
    // and the rest of the user interface are served.
    const std::uint64_t ticks = w.tickCount();
    bool timerFired = false;
    QTimer::singleShot(100, [&] { timerFired = true; });
    cpu0 = cpuMs();
    wall0 = monotonicMs();
    runFor(1000);
    const double busyAfter = (cpuMs() - cpu0) / (monotonicMs() - wall0);
    qInfo("processor use: %.1f %% during the transfer, %.1f %% after the unplug", 100 * busyBefore, 100 * busyAfter);
    QVERIFY2(busyAfter < 0.5, qPrintable(QStringLiteral("%1 %").arg(100 * busyAfter)));
    QVERIFY(timerFired);
    QVERIFY2(w.tickCount() - ticks > 200, qPrintable(QStringLiteral("%1 host cycles").arg(w.tickCount() - ticks)));
    QVERIFY(app.state() == AppHost::kTransferring);

    // The device no longer answers: the sequence gives up on it and ends by itself.
    QVERIFY2(runUntil([&] { return !app.isActive(); }, 40000), qPrintable(host.lastLogLine()));
    QCOMPARE(host.logLinesWith(QString::fromLatin1("SSTP - App Host : MSG HFL TRS too much retry for device n\xB0" "0")), 1);
    QVERIFY(!w.cxProgressBar->isVisible());
    fleet.child.stop();
    w.close();
    QVERIFY(w.shutdownDone());
}

QTEST_MAIN(SerialTest)
#include "serialTest.moc"
