// The program in loopback mode updates a simulated fleet over UDP: the
// operator opens a package with the Open button, the devices come into the
// grid, Hot Start runs the transfer, and every device ends with the exact
// image. The host drops its share of the datagrams it receives by the
// success rate; the sequences recover by their retries.
#include <QtTest>

#include "tests/integration/integrationSupport.h"

using namespace dorvane;
using namespace dorvane::integration;

class LoopbackTest : public QObject {
    Q_OBJECT
private slots:
    void firmwareTo10DevicesAt100();
    void firmwareTo10DevicesAt70();
    void configurationToOneDevice();

private:
    void update(int devices, int successRate, int configuration);
};

// A package of 24 blocks (a configuration package when configuration >= 0)
// to a fleet of `devices` at the success rate.
void LoopbackTest::update(int devices, int successRate, int configuration) {
    ProgramDirectory dir;
    dir.writeCatalogue();
    const QString package = makePackage(dir, 24, configuration);
    QVERIFY2(!package.isEmpty(), "dorvane-package did not make the package");

    const std::uint16_t hostPort = freeUdpPort();
    QVERIFY(hostPort != 0);
    Devsim fleet;
    QStringList fleetArgs = {"--devices", QString::number(devices), "--image", dir.file("image.txt"), "--require-image"};
    // A configuration goes to a device of the same version holding another configuration.
    if (configuration >= 0) fleetArgs << "--version" << "1.2.3.4" << "--config" << "3";
    QVERIFY2(fleet.start(hostPort, fleetArgs), fleet.child.errorText.constData());

    dir.writeConfig(QStringLiteral("[DEBUG]\nHOST=1\nSuccess Rate=%1\n[HOST]\nPort=%2\nPeer Port=%3\n"
                                   "[DEVICE]\nTransfert Mode=0\n")
                        .arg(successRate).arg(hostPort).arg(fleet.port).toLatin1());
    Host host(dir);
    TFMain& w = host.start();
    QVERIFY2(w.startupDone(), host.lastBox().c_str());
    QVERIFY(host.dialogs.boxes.empty());
    QVERIFY(w.loopbackMode());
    QCOMPARE(w.seFault->value(), successRate);

    QVERIFY2(host.open(package), host.lastBox().c_str());
    QString why;
    // The HPD wait is 5 s, and at 70 % about one answer in three is lost.
    const bool done = host.runTransfer(devices, 20000, successRate < 100 ? 150000 : 60000, why);
    QVERIFY2(done, qPrintable(why));
    // Every device was served to the end (none dropped after its retries).
    QCOMPARE(host.logLinesWith(QStringLiteral("too much retry")), 0);
    if (successRate < 100) QVERIFY(host.logLinesWith(QStringLiteral("retry")) > 0);

    int status = -2;
    const QString state = configuration >= 0 ? QStringLiteral("configured") : QStringLiteral("launched");
    const int good = fleet.finish(state, status);
    QVERIFY2(status == 0, qPrintable(fleet.report.join('\n')));
    QVERIFY2(good == devices, qPrintable(fleet.report.join('\n')));
    w.close();
    QVERIFY(w.shutdownDone());
}

void LoopbackTest::firmwareTo10DevicesAt100() { update(10, 100, -1); }
void LoopbackTest::firmwareTo10DevicesAt70() { update(10, 70, -1); }
void LoopbackTest::configurationToOneDevice() { update(1, 100, 12); }

QTEST_MAIN(LoopbackTest)
#include "loopbackTest.moc"
