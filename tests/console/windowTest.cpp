// The main window driven as the operator drives it: start-up and its fatal
// stops, the configuration it reads and writes back, the command buttons,
// the authorisation toggle, the grid's colours, the console notifications,
// the countdown, the event log view and the Open button.
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <functional>
#include <memory>

#include "console/hostConfiguration.h"
#include "console/mainWindow.h"
#include "tests/console/consoleTestSupport.h"

using namespace dorvane;
using namespace dorvane::console;
using namespace dorvane::console::test;

namespace {

const std::uint8_t kDevice1[8] = {0x70, 0xB3, 0xD5, 0x7E, 0xD0, 0x00, 0x10, 0x01};
const std::uint8_t kDevice2[8] = {0x70, 0xB3, 0xD5, 0x7E, 0xD0, 0x00, 0x10, 0x02};

QString q(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

// A program directory, the stand-ins and the window over them.
struct Bench {
    explicit Bench(const QByteArray& config = QByteArray(), bool catalogue = true, QStringList arguments = {})
        : rig(directory, std::move(arguments)) {
        if (catalogue) directory.writeCatalogue();
        if (!config.isNull()) directory.writeConfig(config);
    }
    // Creates and shows the window; returns once the start-up has finished or stopped.
    TFMain& start() {
        window = std::make_unique<TFMain>(rig.environment);
        window->show();
        (void)QTest::qWaitFor([this] { return window->startupDone() || !rig.dialogs.boxes.empty(); }, 5000);
        QCoreApplication::processEvents();
        return *window;
    }
    // Started, with the host cycle driven by hand on the test clock from here on.
    TFMain& startManual() {
        start();
        window->TimerSys->stop();
        return *window;
    }
    void tick(std::uint32_t ms = 1) {
        rig.clock.advance(ms);
        window->TimerSysTimer();
    }
    void loadImage(int blocks = 4) {
        directory.write(QStringLiteral("V1.2.3.4_PROD.txt"), plainImage(blocks));
        std::string message;
        QVERIFY2(window->loader().load(true, false, directory.path() + "/V1.2.3.4_PROD.txt", "", message),
                 message.c_str());
    }
    // An admitted hello: the App Host becomes Connecting.
    void connectDevice(const std::uint8_t* device = kDevice1) {
        feed(*window, helloFrame(device, window->hostSettings().hostAddress, 3));
    }
    void close() {
        window->close();
        QCoreApplication::processEvents();
    }
    QByteArray config() const { return directory.read(QStringLiteral("LoRaHost.cfg")); }
    bool lockExists() const { return directory.exists(QStringLiteral("Dorvane.lck")); }

    ProgramDirectory directory;
    WindowRig rig;
    std::unique_ptr<TFMain> window;
};

QColor cellColour(TFMain& w, int viewRow, int column) {
    return w.cxGridTableView->data(w.cxGridTableView->index(viewRow, column), Qt::BackgroundRole).value<QColor>();
}

std::string cell(TFMain& w, int record, int column) {
    char text[64];
    return w.grid().readCell(record, column, text, sizeof text) ? text : "<none>";
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void startsWithDefaultsAndWritesTheFileAtClose();
    void readsTheConfiguration();
    void writesBackFiveKeysAndKeepsEveryOtherLine();
    void supervisingPageAndControlServer_data();
    void supervisingPageAndControlServer();
    void failedControlServerStopsTheStartUpButLosesNoSetting();
    void loopbackAndSerialLinks();
    void fatalStops_data();
    void fatalStops();
    void buttonsWhileIdle();
    void buttonsWhileConnecting();
    void hotStartRunsTheTransferAndGiveUpEndsIt();
    void authorisationToggle();
    void hiddenAuthorisationAlwaysAuthorises();
    void cellColoursFollowTheViewAndTheUpdateText();
    void notifications_data();
    void notifications();
    void countdownText_data();
    void countdownText();
    void countdownGoesOnAcrossTheTickCountWrap();
    void vanishedMovesTheWindowOffScreen();
    void eventLogColoursAndNewestLine();
    void eventLogKeepsTheNewestLinesUpToItsBound();
    void openFlow_data();
    void openFlow();
    void openRefusedWhileConnecting();
    void portSelectionBox();
};

void WindowTest::startsWithDefaultsAndWritesTheFileAtClose() {
    Bench b;
    TFMain& w = b.startManual();
    QVERIFY(w.startupDone());
    QVERIFY(b.rig.dialogs.boxes.empty());
    const std::uint8_t address[8] = {1, 2, 3, 4, 5, 6, 7, 1};
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(w.hostSettings().hostAddress), 8),
             QByteArray(reinterpret_cast<const char*>(address), 8));
    QCOMPARE(w.udpPort(), 57000);
    QCOMPARE(w.hostSettings().peerPort, 56700);
    QCOMPARE(w.httpPort(), 56700);
    QCOMPARE(w.seTimeOut->value(), 5);
    QCOMPARE(w.seTimeOut->minimum(), 1);
    QCOMPARE(w.seFault->value(), 100);
    QVERIFY(w.cxAuthorization->isHidden());
    QVERIFY(w.gbFault->isHidden());
    QVERIFY(!w.loopbackMode());
    QCOMPARE(w.hostSettings().transfertMode, 1);
    QCOMPARE(w.hostSettings().jammerMode, 1);
    QVERIFY(!w.hostSettings().technicianMode);
    QVERIFY(b.rig.opener.pages.empty());
    QVERIFY(b.rig.server.ports.empty());
    QCOMPARE(b.rig.links.applied, QStringList{QString()});  // serial mode, empty selection box
    QVERIFY(w.dongleCommands() == nullptr);
    QCOMPARE(w.image().version().configuration, kNoConfiguration);
    QVERIFY(b.lockExists());
    QCOMPARE(w.windowTitle(), QStringLiteral("Firmware Over The Air :: Dorvane"));
    QCOMPARE(w.size(), QSize(789, 522));

    // Before the first host cycle the panel shows the design text; the first
    // cycle's notification 2 replaces it.
    {
        TFMain fresh(b.rig.environment);
        QCOMPARE(fresh.sInfo->panelText(3), QStringLiteral("Waiting for LoRa device to connect"));
        QCOMPARE(fresh.sInfo->panelText(0), QStringLiteral("No firmware file loaded"));
        QCOMPARE(fresh.sInfo->panelText(1), QStringLiteral("No firmware version"));
        QCOMPARE(fresh.sInfo->panelText(2), QStringLiteral("No cfg version"));
    }
    b.tick();
    QVERIFY(w.appHost().firstCycleDone());
    QCOMPARE(w.sInfo->panelText(3), QStringLiteral("Waiting for LoRa devices to connect"));
    QVERIFY(w.reDisplay->lineText(0).endsWith(QStringLiteral(" : *** Assert debug initialization ***")));

    b.close();
    QVERIFY(w.shutdownDone());
    QVERIFY(!b.lockExists());
    QCOMPARE(b.config(), QByteArray("[HOST]\nPeer Port=56700\nPort=57000\nTime Out=5\n[SYSTEM]\nCOM=\n[DEBUG]\n"
                                    "Success Rate=100\n"));
}

void WindowTest::readsTheConfiguration() {
    struct Case {
        const char* name;
        QByteArray config;
        std::function<QString(TFMain&)> probe;
        QString expected;
    };
    auto authorisation = [](TFMain& w) {
        return w.cxAuthorization->isHidden() ? QStringLiteral("hidden") : w.cxAuthorization->text();
    };
    auto address = [](TFMain& w) {
        return QByteArray(reinterpret_cast<const char*>(w.hostSettings().hostAddress), 8).toHex();
    };
    const Case cases[] = {
        {"Authorization=true is not a number", "[HOST]\nAuthorization=true\n", authorisation, "hidden"},
        {"Authorization=1 shows the toggle", "[HOST]\nAuthorization=1\n", authorisation, "Unauthorized"},
        {"names without case", "[host]\n  authorization  =  1  \n", authorisation, "Unauthorized"},
        {"hexadecimal port", "[HOST]\nPort=0xDEA8\n", [](TFMain& w) { return QString::number(w.udpPort()); }, "57000"},
        {"dollar port", "[HOST]\nPort=$DEA9\n", [](TFMain& w) { return QString::number(w.udpPort()); }, "57001"},
        {"peer port keeps 16 bits", "[HOST]\nPeer Port=65537\n",
         [](TFMain& w) { return QString::number(w.hostSettings().peerPort); }, "1"},
        {"HTTP port", "[HTTP]\nPort=8080\n", [](TFMain& w) { return QString::number(w.httpPort()); }, "8080"},
        {"success rate into its box", "[DEBUG]\nSuccess Rate=250\n",
         [](TFMain& w) { return QString::number(w.seFault->value()); }, "100"},
        {"negative success rate", "[DEBUG]\nSuccess Rate=-4\n",
         [](TFMain& w) { return QString::number(w.seFault->value()); }, "0"},
        {"time out above the box", "[HOST]\nTime Out=45\n",
         [](TFMain& w) { return QString::number(w.seTimeOut->value()); }, "30"},
        {"time out 0 outside technician mode", "[HOST]\nTime Out=0\n",
         [](TFMain& w) { return QString::number(w.seTimeOut->value()); }, "1"},
        {"time out 0 in technician mode", "[HOST]\nTime Out=0\nTechnician Mode=1\n",
         [](TFMain& w) { return QString("%1/%2").arg(w.seTimeOut->value()).arg(w.seTimeOut->minimum()); }, "0/0"},
        {"time out -3 in technician mode", "[HOST]\nTime Out=-3\nTechnician Mode=1\n",
         [](TFMain& w) { return QString::number(w.seTimeOut->value()); }, "0"},
        {"transfert and jammer modes keep 8 bits", "[DEVICE]\nTransfert Mode=258\nJammer Mode=0x101\n",
         [](TFMain& w) {
             return QString("%1/%2").arg(w.hostSettings().transfertMode).arg(w.hostSettings().jammerMode);
         },
         "2/1"},
        {"flags", "[HOST]\nStrict Configuration Update=1\nTechnician Mode=2\n[DEVICE]\nSoftware File UnJammed=-1\n",
         [](TFMain& w) {
             const HostSettings& s = w.hostSettings();
             return QString("%1%2%3").arg(int(s.strictConfigurationUpdate)).arg(int(s.technicianMode)).arg(int(s.softwareFileUnJammed));
         },
         "111"},
        {"flags off by default", "",
         [](TFMain& w) {
             const HostSettings& s = w.hostSettings();
             return QString("%1%2%3").arg(int(s.strictConfigurationUpdate)).arg(int(s.technicianMode)).arg(int(s.softwareFileUnJammed));
         },
         "000"},
        {"full address", "[DEVICE]\nADDRESS=0x1122334455667788\n", address, "1122334455667788"},
        {"address without 0x loses two digits", "[DEVICE]\nADDRESS=1122334455667788\n", address, "2233445566778801"},
        {"empty address", "[DEVICE]\nADDRESS=\n", address, "0000000000000001"},
        {"loopback mode", "[DEBUG]\nHOST=1\n",
         [](TFMain& w) { return QString("%1/%2").arg(int(w.loopbackMode())).arg(int(!w.gbFault->isHidden())); }, "1/1"},
    };
    for (const auto& c : cases) {
        Bench b(c.config);
        TFMain& w = b.start();
        QVERIFY2(w.startupDone(), c.name);
        QCOMPARE(c.probe(w), c.expected);
        b.close();
    }
}

void WindowTest::writesBackFiveKeysAndKeepsEveryOtherLine() {
    const QByteArray before =
        "; bench 3\r\n"
        "[HOST]\r\n"
        "Time Out = 45\r\n"
        "Authorization=0\r\n"
        "\r\n"
        "[HTTP]\r\n"
        "WebSite=\r\n"
        "Vanished=0\r\n"
        "[DEBUG]\r\n"
        "Success Rate=250\r\n"
        "[DEVICE]\r\n"
        "ADDRESS=0x1122334455667788";
    Bench b(before);
    TFMain& w = b.start();
    // A Time Out outside the box's range comes back in range: the file never
    // keeps a value the window cannot show.
    QCOMPARE(w.seTimeOut->value(), 30);
    w.seTimeOut->setValue(12);
    w.seFault->setValue(70);
    b.rig.links.name = QStringLiteral("COM4");
    b.close();
    QCOMPARE(b.config(),
             QByteArray("; bench 3\r\n"
                        "[HOST]\r\n"
                        "Time Out=12\r\n"
                        "Authorization=0\r\n"
                        "Peer Port=56700\r\n"
                        "Port=57000\r\n"
                        "\r\n"
                        "[HTTP]\r\n"
                        "WebSite=\r\n"
                        "Vanished=0\r\n"
                        "[DEBUG]\r\n"
                        "Success Rate=70\r\n"
                        "[DEVICE]\r\n"
                        "ADDRESS=0x1122334455667788\r\n"
                        "[SYSTEM]\r\n"
                        "COM=COM4\r\n"));

    // Left alone by the operator, an out-of-range Time Out goes back in range.
    Bench untouched("[HOST]\nTime Out=45\n");
    untouched.start();
    untouched.close();
    QVERIFY(untouched.config().startsWith("[HOST]\nTime Out=30\n"));
}

void WindowTest::supervisingPageAndControlServer_data() {
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QString>("pageOpened");  // empty: the opener is not asked
    QTest::addColumn<bool>("serverStarted");
    QTest::addColumn<QString>("authorisation");

    const QByteArray page = "[HOST]\nAuthorization=1\n[HTTP]\nPort=56999\nWebSite=http://bench/page.html\n";
    QTest::newRow("page opens: server runs, toggle hidden")
        << page << QStringList{} << true << "http://bench/page.html" << true << "hidden";
    QTest::newRow("page fails: no server, toggle shown")
        << page << QStringList{} << false << "http://bench/page.html" << false << "Unauthorized";
    QTest::newRow("argument replaces the page")
        << page << QStringList{"WebSite=http://other/"} << true << "http://other/" << true << "hidden";
    QTest::newRow("argument in other case is ignored")
        << page << QStringList{"website=http://other/"} << true << "http://bench/page.html" << true << "hidden";
    QTest::newRow("argument alone")
        << QByteArray("[HOST]\nAuthorization=1\n") << QStringList{"WebSite=http://x/", "more"} << true << "http://x/"
        << true << "hidden";
    QTest::newRow("no page: opener not asked, no server")
        << QByteArray("[HOST]\nAuthorization=1\n") << QStringList{} << true << "" << false << "Unauthorized";
}

void WindowTest::supervisingPageAndControlServer() {
    QFETCH(QByteArray, config);
    QFETCH(QStringList, arguments);
    QFETCH(bool, opens);
    QFETCH(QString, pageOpened);
    QFETCH(bool, serverStarted);
    QFETCH(QString, authorisation);
    Bench b(config, true, arguments);
    b.rig.opener.result = opens;
    TFMain& w = b.start();
    QVERIFY(w.startupDone());
    if (pageOpened.isEmpty()) {
        QVERIFY(b.rig.opener.pages.empty());
    } else {
        QCOMPARE(b.rig.opener.pages.size(), std::size_t(1));
        QCOMPARE(q(b.rig.opener.pages[0]), pageOpened);
    }
    QCOMPARE(w.controlServerRunning(), serverStarted);
    if (serverStarted) QCOMPARE(b.rig.server.ports.back(), w.httpPort());
    QCOMPARE(w.cxAuthorization->isHidden() ? QStringLiteral("hidden") : w.cxAuthorization->text(), authorisation);
    b.close();
}

void WindowTest::failedControlServerStopsTheStartUpButLosesNoSetting() {
    Bench b("[HTTP]\nWebSite=http://bench/\n[DEBUG]\nSuccess Rate=40\n[HOST]\nTime Out=9\n");
    b.rig.server.startResult = false;
    TFMain& w = b.start();
    QCOMPARE(b.rig.dialogs.boxes.size(), std::size_t(1));
    QCOMPARE(b.rig.dialogs.boxes[0].kind, BoxKind::Error);
    QCOMPARE(b.rig.dialogs.boxes[0].buttons, BoxButtons::Ok);
    QCOMPARE(b.rig.dialogs.boxes[0].text, std::string(kConfigCorruptedMessage));
    QTRY_VERIFY(w.shutdownDone());  // the posted close ran the shutdown
    QVERIFY(!w.isVisible());
    QVERIFY(!w.startupDone());
    QCOMPARE(w.tickCount(), std::uint64_t(0));
    QVERIFY(!b.lockExists());
    // The success rate was not read before the stop; the file keeps its value
    // instead of the box's default.
    QCOMPARE(b.config(), QByteArray("[HTTP]\nWebSite=http://bench/\n[DEBUG]\nSuccess Rate=40\n[HOST]\nTime Out=9\n"
                                    "Peer Port=56700\nPort=57000\n[SYSTEM]\nCOM=COM1\n"));
}

void WindowTest::loopbackAndSerialLinks() {
    {
        Bench b("[DEBUG]\nHOST=1\n[HOST]\nPort=57100\nPeer Port=56800\n");
        TFMain& w = b.start();
        QVERIFY(w.startupDone());
        QCOMPARE(b.rig.links.loopbackStarts.size(), std::size_t(1));
        QCOMPARE(b.rig.links.loopbackStarts[0], (std::pair<std::uint16_t, std::uint16_t>(57100, 56800)));
        QVERIFY(b.rig.links.applied.isEmpty());  // no serial port in loopback mode
        QVERIFY(!w.gbFault->isHidden());
        b.close();
    }
    {
        // The operator is told when the loopback link cannot listen; the program runs on.
        Bench b("[DEBUG]\nHOST=1\n");
        b.rig.links.loopbackResult = false;
        TFMain& w = b.start();
        QTRY_VERIFY(w.startupDone());
        QCOMPARE(b.rig.dialogs.boxes.size(), std::size_t(1));
        QCOMPARE(b.rig.dialogs.boxes[0].text, std::string(kLoopbackFailedMessage));
        QVERIFY(b.lockExists());
        b.close();
    }
    {
        // Serial mode: the selection is applied with the dongle command list.
        Bench b;
        b.directory.write(QStringLiteral("LoRaDongle.cfg"), "ATS502=1\r\nATS503=2\r\n");
        TFMain& w = b.start();
        QVERIFY(w.dongleCommands() != nullptr);
        QCOMPARE(b.rig.links.appliedWithCommands.size(), std::size_t(1));
        QCOMPARE(b.rig.links.appliedWithCommands[0], (QStringList{"ATS502=1", "ATS503=2"}));
        QVERIFY(b.rig.links.loopbackStarts.empty());
        QVERIFY(w.cbFoTaPortList->currentText().isEmpty());
        b.close();
        QVERIFY(w.dongleCommands() == nullptr);  // discarded at shutdown
    }
}

void WindowTest::fatalStops_data() {
    QTest::addColumn<bool>("catalogue");
    QTest::addColumn<QByteArray>("catalogueText");
    QTest::addColumn<bool>("staleLock");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing catalogue") << false << QByteArray() << false
                                       << q(firmware::kCatalogueMissingMessage);
    QTest::newRow("empty catalogue") << true << QByteArray("") << false << q(firmware::kCatalogueCorruptedMessage);
    QTest::newRow("stale lock file") << true << QByteArray(kCatalogueText) << true << q(kAlreadyRunningMessage);
}

void WindowTest::fatalStops() {
    QFETCH(bool, catalogue);
    QFETCH(QByteArray, catalogueText);
    QFETCH(bool, staleLock);
    QFETCH(QString, message);
    Bench b(QByteArray(), false);
    if (catalogue) b.directory.write(QStringLiteral("LoRaHostEmbeddedProducts.json"), catalogueText);
    if (staleLock) b.directory.write(QStringLiteral("Dorvane.lck"), "");
    TFMain& w = b.start();
    QCOMPARE(b.rig.dialogs.boxes.size(), std::size_t(1));
    QCOMPARE(b.rig.dialogs.boxes[0].kind, BoxKind::Error);
    QCOMPARE(q(b.rig.dialogs.boxes[0].text), message);
    // The window is still there behind the box; the close comes from the posted request.
    QVERIFY(!b.lockExists() || staleLock);
    QTRY_VERIFY(w.shutdownDone());
    QVERIFY(!w.isVisible());
    QCOMPARE(w.tickCount(), std::uint64_t(0));
    QVERIFY(!b.lockExists());  // a stale lock file is cleared too, so the next start proceeds
    QVERIFY(b.config().startsWith("[HOST]\nPeer Port=56700\n"));

    Bench again(QByteArray(), true);
    again.directory.writeCatalogue();
    QVERIFY(again.start().startupDone());
    again.close();
}

void WindowTest::buttonsWhileIdle() {
    Bench b;
    TFMain& w = b.startManual();
    b.tick();
    auto& boxes = b.rig.dialogs.boxes;

    // Hot Start: the "inactive" error box, whatever the grid shows.
    w.grid().appendRow();
    QTest::mousePress(w.cxStart, Qt::RightButton);
    QCOMPARE(boxes.size(), std::size_t(1));
    QCOMPARE(boxes[0].kind, BoxKind::Error);
    QCOMPARE(boxes[0].text, std::string(kInactiveMessage));

    // Give Up: nothing at all.
    QTest::mousePress(w.cxGiveUp, Qt::LeftButton);
    QCOMPARE(boxes.size(), std::size_t(1));

    // Help: the program's version.
    QTest::mousePress(w.cxHelp, Qt::MiddleButton);
    QCOMPARE(boxes.size(), std::size_t(2));
    QCOMPARE(boxes[1].kind, BoxKind::Information);
    QCOMPARE(boxes[1].text, std::string("Software version V1.0.0.0\r\nWritten by Tarvinel"));

    // Clean: grid and log emptied.
    w.grid().appendRow();
    QVERIFY(w.reDisplay->lineCount() > 0);
    QTest::mousePress(w.cxClean, Qt::LeftButton);
    QCOMPARE(w.grid().rowCount(), 0);
    QCOMPARE(w.reDisplay->lineCount(), 0);
    QCOMPARE(boxes.size(), std::size_t(2));

    // A button reacts to the press; a release or a keyboard press does nothing.
    QTest::mouseRelease(w.cxStart, Qt::LeftButton);
    QTest::keyClick(w.cxStart, Qt::Key_Space);
    QCOMPARE(boxes.size(), std::size_t(2));

    // Quit with the right mouse button quits.
    QTest::mousePress(w.cxBPQuit, Qt::RightButton);
    QVERIFY(w.shutdownDone());
    QVERIFY(!w.isVisible());
}

void WindowTest::buttonsWhileConnecting() {
    Bench b("[DEVICE]\nTransfert Mode=0\n");
    TFMain& w = b.startManual();
    b.tick();
    b.loadImage();
    b.connectDevice();
    QVERIFY(w.appHost().isConnecting());
    auto& boxes = b.rig.dialogs.boxes;
    const int lines = w.reDisplay->lineCount();

    QTest::mousePress(w.cxBPQuit, Qt::LeftButton);
    QCOMPARE(boxes.size(), std::size_t(1));
    QCOMPARE(boxes[0].kind, BoxKind::Error);
    QCOMPARE(boxes[0].text, std::string(kRunningMessage));
    QVERIFY(!w.shutdownDone());

    QTest::mousePress(w.cxClean, Qt::LeftButton);
    QCOMPARE(boxes.size(), std::size_t(2));
    QCOMPARE(boxes[1].kind, BoxKind::Information);
    QCOMPARE(boxes[1].text, std::string(kCantCleanMessage));
    QCOMPARE(w.grid().rowCount(), 1);
    QCOMPARE(w.reDisplay->lineCount(), lines);

    // Give Up asks; Cancel leaves the transfer pending, and the protocol runs
    // while the question is open.
    b.rig.dialogs.boxAnswers = {false};
    std::uint64_t ticksDuringBox = 0;
    b.rig.dialogs.onBox = [&] {
        const std::uint64_t before = w.tickCount();
        b.tick();
        ticksDuringBox = w.tickCount() - before;
    };
    QTest::mousePress(w.cxGiveUp, Qt::LeftButton);
    QCOMPARE(boxes.size(), std::size_t(3));
    QCOMPARE(boxes[2].kind, BoxKind::Information);
    QCOMPARE(boxes[2].buttons, BoxButtons::OkCancel);
    QCOMPARE(boxes[2].text, std::string(kAbortQuestion));
    QCOMPARE(ticksDuringBox, std::uint64_t(1));
    QVERIFY(w.appHost().isConnecting());
    b.rig.dialogs.onBox = nullptr;

    b.rig.dialogs.boxAnswers = {true};
    QTest::mousePress(w.cxGiveUp, Qt::LeftButton);
    QVERIFY(!w.appHost().isActive());
    QCOMPARE(w.sInfo->panelText(3), q(kWaitingText));
    QVERIFY(w.seTimeOut->isEnabled());

    // Idle again: Quit closes.
    QTest::mousePress(w.cxBPQuit, Qt::LeftButton);
    QVERIFY(w.shutdownDone());
}

void WindowTest::hotStartRunsTheTransferAndGiveUpEndsIt() {
    Bench b("[DEVICE]\nTransfert Mode=0\n[HOST]\nAuthorization=1\n");
    TFMain& w = b.startManual();
    b.tick();
    b.loadImage(8);
    QTest::mousePress(w.cxAuthorization, Qt::LeftButton);
    QCOMPARE(w.cxAuthorization->text(), QStringLiteral("Authorized"));
    b.connectDevice();
    QVERIFY(w.appHost().isConnecting());
    QVERIFY(w.reDisplay->lineCount() > 6);

    QTest::mousePress(w.cxStart, Qt::LeftButton);
    QVERIFY(b.rig.dialogs.boxes.empty());
    QVERIFY(w.appHost().isConnecting());  // the start comes with the next host cycle
    b.tick();
    QCOMPARE(w.appHost().state(), AppHost::kTransferring);
    QVERIFY(w.cxProgressBar->isVisible());
    QCOMPARE(w.cxProgressBar->value(), 0);
    QCOMPARE(w.cxProgressBar->maximum(), 9);  // eight data blocks and the closing one
    QCOMPARE(w.reDisplay->lineCount(), 0);  // the log of a transfer starts empty
    QCOMPARE(w.sInfo->panelText(3), QString());

    // Hot Start during the transfer: nothing, and no box.
    QTest::mousePress(w.cxStart, Qt::LeftButton);
    QVERIFY(b.rig.dialogs.boxes.empty());
    QCOMPARE(w.appHost().state(), AppHost::kTransferring);

    // Closing is refused by Quit, not by the close box.
    QTest::mousePress(w.cxBPQuit, Qt::LeftButton);
    QVERIFY(!w.shutdownDone());

    b.rig.dialogs.boxAnswers = {true};
    QTest::mousePress(w.cxGiveUp, Qt::LeftButton);
    QVERIFY(!w.appHost().isActive());
    QVERIFY(!w.cxProgressBar->isVisible());
    QCOMPARE(w.cxAuthorization->text(), QStringLiteral("Unauthorized"));  // a fresh authorisation for the next one
    QVERIFY(w.reDisplay->lineText(w.reDisplay->lineCount() - 1).endsWith(
        QStringLiteral("SSTP - App Host : Download has been given up by user !!")));
    b.close();
}

void WindowTest::authorisationToggle() {
    Bench b("[DEVICE]\nTransfert Mode=0\n[HOST]\nAuthorization=1\n");
    TFMain& w = b.startManual();
    b.tick();
    b.loadImage();
    QCOMPARE(w.cxAuthorization->text(), QStringLiteral("Unauthorized"));
    QCOMPARE(w.cxAuthorization->faceColour(), QColor(166, 202, 240));
    QCOMPARE(w.cxAuthorization->textColour(), QColor(255, 0, 0));
    QVERIFY(!w.isAuthorised());

    // An eligible device while unauthorised: "Off", not admitted.
    b.connectDevice(kDevice2);
    QCOMPARE(cell(w, 0, kColUpdate), std::string("Off"));
    QVERIFY(!w.appHost().isActive());

    QTest::mousePress(w.cxAuthorization, Qt::RightButton);
    QCOMPARE(w.cxAuthorization->text(), QStringLiteral("Authorized"));
    QCOMPARE(w.cxAuthorization->faceColour(), QColor(255, 0, 0));
    QCOMPARE(w.cxAuthorization->textColour(), QColor(255, 255, 0));
    QVERIFY(w.isAuthorised());
    QTest::mousePress(w.cxAuthorization, Qt::LeftButton);
    QCOMPARE(w.cxAuthorization->text(), QStringLiteral("Unauthorized"));
    QTest::mousePress(w.cxAuthorization, Qt::LeftButton);

    b.connectDevice();
    QVERIFY(w.appHost().isConnecting());
    QVERIFY(!w.cxAuthorization->isEnabled());  // disabled while devices are pending
    // Withdrawing is ignored while the App Host is active, yet reported as done.
    QVERIFY(w.setAuthorisation(false));
    QVERIFY(w.isAuthorised());
    QCOMPARE(w.cxAuthorization->text(), QStringLiteral("Authorized"));
    b.close();
}

void WindowTest::hiddenAuthorisationAlwaysAuthorises() {
    Bench b("[DEVICE]\nTransfert Mode=0\n");
    TFMain& w = b.startManual();
    b.tick();
    QVERIFY(w.cxAuthorization->isHidden());
    QVERIFY(!w.setAuthorisation(false));
    QVERIFY(!w.setAuthorisation(true));
    QVERIFY(w.isAuthorised());
    b.loadImage();
    b.connectDevice();
    QCOMPARE(cell(w, 0, kColUpdate), std::string("Yes"));
    QVERIFY(w.appHost().isConnecting());
    b.rig.dialogs.boxAnswers = {true};
    QTest::mousePress(w.cxGiveUp, Qt::LeftButton);  // notification 2: still authorised
    QVERIFY(w.isAuthorised());
    b.close();
}

void WindowTest::cellColoursFollowTheViewAndTheUpdateText() {
    Bench b;
    TFMain& w = b.startManual();
    IDeviceGrid& grid = w.grid();
    struct Row {
        const char* address;
        const char* build;
        const char* update;
    };
    const Row rows[] = {
        {"0x05", "3", "Off"}, {"0x04", "3", "yes"}, {"0x03", "3", "Yes"}, {"0x02", "3", "No"}, {"0x01", "", "Yes"},
    };
    for (const auto& r : rows) {
        const int row = grid.appendRow();
        grid.writeCell(row, kColAddress, r.address);
        grid.writeCell(row, kColBuild, r.build);
        grid.writeCell(row, kColUpdate, r.update);
    }
    const QColor skyBlue(166, 202, 240);
    const QColor light = w.palette().color(QPalette::Light);
    QCOMPARE(w.cxStyleRepository.cxStyle1, light);
    QCOMPARE(cellColour(w, 0, kColTime), skyBlue);
    QCOMPARE(cellColour(w, 1, kColTime), light);
    QCOMPARE(cellColour(w, 0, kColUpdate), QColor(255, 128, 0));  // "Off": orange
    QCOMPARE(cellColour(w, 1, kColUpdate), QColor(255, 128, 0));  // "yes" is not "Yes"
    QCOMPARE(cellColour(w, 2, kColUpdate), QColor(255, 0, 0));
    QCOMPARE(cellColour(w, 3, kColUpdate), QColor(192, 220, 192));
    QCOMPARE(cellColour(w, 4, kColUpdate), skyBlue);  // no build: the row's colour
    QCOMPARE(cellColour(w, 2, kColType), skyBlue);

    // Cells are read-only to the operator.
    QVERIFY(!(w.cxGridTableView->flags(w.cxGridTableView->index(0, kColAddress)) & Qt::ItemIsEditable));

    // Sorting the view by Address: the records keep their order; the row
    // colours follow the positions in the view.
    w.cxGrid->sortByColumn(kColAddress, Qt::AscendingOrder);
    QCOMPARE(cell(w, 0, kColAddress), std::string("0x05"));
    QCOMPARE(w.cxGridTableView->index(0, kColAddress).data().toString(), QStringLiteral("0x01"));
    QCOMPARE(cellColour(w, 0, kColUpdate), skyBlue);               // 0x01, no build
    QCOMPARE(cellColour(w, 1, kColUpdate), QColor(192, 220, 192));  // 0x02 "No"
    QCOMPARE(cellColour(w, 1, kColTime), light);
    // A row appended while sorted lands in its sorted place in the view, and at
    // the end of the records.
    const int added = grid.appendRow();
    grid.writeCell(added, kColAddress, "0x00");
    QCOMPARE(added, 5);
    QCOMPARE(w.cxGridTableView->index(0, kColAddress).data().toString(), QStringLiteral("0x00"));
    QVERIFY(grid.makeLastRowCurrent());
    QCOMPARE(w.cxGrid->currentIndex().row(), 0);
    QVERIFY(grid.deleteRow(0));
    QCOMPARE(cell(w, 0, kColAddress), std::string("0x04"));
    QVERIFY(!grid.deleteRow(7));
    char text[4];
    QVERIFY(!grid.readCell(0, kGridColumnCount, text, sizeof text));
    QVERIFY(grid.setLineColour(0, 0, 255));
    b.close();
}

void WindowTest::notifications_data() {
    QTest::addColumn<int>("event");
    QTest::addColumn<QString>("panel");
    QTest::addColumn<bool>("controlsEnabled");
    QTest::addColumn<bool>("progressShown");
    QTest::addColumn<bool>("logCleared");
    QTest::newRow("0 devices pending") << 0 << "" << false << false << false;
    QTest::newRow("1 transfer started") << 1 << "" << true << true << true;
    QTest::newRow("2 idle") << 2 << "Waiting for LoRa devices to connect" << true << false << false;
}

void WindowTest::notifications() {
    QFETCH(int, event);
    QFETCH(QString, panel);
    QFETCH(bool, controlsEnabled);
    QFETCH(bool, progressShown);
    QFETCH(bool, logCleared);
    Bench b("[HOST]\nAuthorization=1\n");
    TFMain& w = b.startManual();
    QTest::mousePress(w.cxAuthorization, Qt::LeftButton);
    QCOMPARE(w.cxAuthorization->text(), QStringLiteral("Authorized"));
    w.eventLog().line("before");
    w.sInfo->setPanelText(3, "design");
    w.cxProgressBar->setRange(0, 10);
    w.cxProgressBar->setPosition(5);
    w.notify(static_cast<std::uint8_t>(event));
    QCOMPARE(w.sInfo->panelText(3), panel);
    for (QWidget* control : {static_cast<QWidget*>(w.seTimeOut), static_cast<QWidget*>(w.cxCBFlashSize),
                             static_cast<QWidget*>(w.cbFoTaPortList), static_cast<QWidget*>(w.cxAuthorization)})
        QCOMPARE(control->isEnabled(), controlsEnabled);
    QCOMPARE(w.cxProgressBar->isVisible(), progressShown);
    if (progressShown) QCOMPARE(w.cxProgressBar->value(), 0);
    QCOMPARE(w.reDisplay->lineCount() == 0, logCleared);
    // Idle asks for a fresh authorisation.
    QCOMPARE(w.cxAuthorization->text(), QString(event == 2 ? "Unauthorized" : "Authorized"));
    b.close();
}

void WindowTest::countdownText_data() {
    QTest::addColumn<int>("minutes");
    QTest::addColumn<int>("elapsed");
    QTest::addColumn<QString>("text");
    // A firmware package starts minutes x 60,000 - 30,000 ms after the first admission.
    QTest::newRow("5 min at once") << 5 << 0 << "Downloading firmware to LoRa device(s) in 4min 30sec";
    QTest::newRow("5 min, 1 ms later") << 5 << 1 << "Downloading firmware to LoRa device(s) in 4min 29sec";
    QTest::newRow("59,999 ms left") << 2 << 30001 << "Downloading firmware to LoRa device(s) in 0min 59sec";
    QTest::newRow("60,000 ms left") << 2 << 30000 << "Downloading firmware to LoRa device(s) in 1min 0sec";
}

void WindowTest::countdownText() {
    QFETCH(int, minutes);
    QFETCH(int, elapsed);
    QFETCH(QString, text);
    Bench b("[DEVICE]\nTransfert Mode=0\n");
    TFMain& w = b.startManual();
    b.tick();
    b.loadImage();
    w.seTimeOut->setValue(minutes);
    b.rig.clock.advance(1000);  // the last refresh is a second old
    b.connectDevice();
    QVERIFY(w.appHost().isConnecting());
    QCOMPARE(w.sInfo->panelText(3), QString());
    b.tick(static_cast<std::uint32_t>(elapsed));
    QCOMPARE(w.sInfo->panelText(3), text);
    // Not refreshed again within the second.
    b.tick(900);
    QCOMPARE(w.sInfo->panelText(3), text);
    b.close();
}

void WindowTest::countdownGoesOnAcrossTheTickCountWrap() {
    Bench b("[DEVICE]\nTransfert Mode=0\n");
    TFMain& w = b.startManual();
    b.rig.clock.set(0xFFFFF000u);
    b.tick();
    b.loadImage();
    // Outside Connecting the timer leaves the panel alone.
    w.sInfo->setPanelText(3, "left alone");
    b.tick(2000);
    QCOMPARE(w.sInfo->panelText(3), QStringLiteral("left alone"));

    b.connectDevice();
    b.tick(1000);  // the reference is now just below the wrap
    QCOMPARE(w.sInfo->panelText(3), QStringLiteral("Downloading firmware to LoRa device(s) in 4min 29sec"));
    // Two seconds without a tick (a modal box, a busy moment) across the wrap
    // of the 32-bit tick count: the text is refreshed all the same.
    b.tick(2000);
    QVERIFY(b.rig.clock.now() < 0x10000u);
    QCOMPARE(w.sInfo->panelText(3), QStringLiteral("Downloading firmware to LoRa device(s) in 4min 27sec"));
    b.tick(1000);
    QCOMPARE(w.sInfo->panelText(3), QStringLiteral("Downloading firmware to LoRa device(s) in 4min 26sec"));
    b.close();
}

void WindowTest::vanishedMovesTheWindowOffScreen() {
    {
        Bench b("[HTTP]\nVanished=1\n");
        TFMain& w = b.start();
        QTRY_VERIFY(w.tickCount() > 1);  // and the window goes on working
        // Out of sight, up and to the left of the screen (the offscreen
        // platform settles the frame a border's width from where it was put).
        QVERIFY(w.geometry().right() < 0);
        QVERIFY(w.geometry().bottom() < 0);
        QVERIFY(w.pos().x() <= -w.width());
        QVERIFY(w.pos().y() <= -w.height());
        QVERIFY(w.isVisible());
        QVERIFY(w.appHost().firstCycleDone());
        b.close();
    }
    {
        Bench b("[HTTP]\nVanished=0\n");
        TFMain& w = b.start();
        QTRY_VERIFY(w.tickCount() > 1);
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(w.pos(), area.center() - QPoint(w.width() / 2, w.height() / 2));
        b.close();
    }
}

void WindowTest::eventLogColoursAndNewestLine() {
    Bench b;
    TFMain& w = b.startManual();
    b.tick();  // the stack's start-up lines
    LogView& log = *w.reDisplay;
    QCOMPARE(log.lineColour(0), QColor(0, 0, 0));  // "*** Assert debug initialization ***"
    QCOMPARE(log.lineColour(1), QColor(0, 0, 0));  // the version line
    const QColor highlight = w.palette().color(QPalette::Highlight);
    QVERIFY(log.lineText(2).endsWith(QStringLiteral("SSTP App Host - Initialization")));
    QCOMPARE(log.lineColour(2), highlight);
    QCOMPARE(log.lineColour(5), highlight);

    w.eventLog().line("SSTP - App Host : MSG HES RCV + Status 'Succeeded'");
    QCOMPARE(log.lineColour(log.lineCount() - 1), QColor(128, 0, 128));
    w.eventLog().line("SSTP - Mac : Write Error");  // no keyword: the colour of the line before
    QCOMPARE(log.lineColour(log.lineCount() - 1), QColor(128, 0, 128));
    w.eventLog().print(1, "Initialization of ELO n\xB0%u", 3u);
    QCOMPARE(log.lineColour(log.lineCount() - 1), QColor(0, 0, 128));
    QVERIFY(log.lineText(log.lineCount() - 1).endsWith(QString::fromLatin1("Initialization of ELO n\xB0" "3")));

    const struct {
        LogColour colour;
        QColor rgb;
    } colours[] = {{LogColour::Navy, {0, 0, 128}},   {LogColour::Teal, {0, 128, 128}},
                   {LogColour::Purple, {128, 0, 128}}, {LogColour::Green, {0, 128, 0}},
                   {LogColour::Olive, {128, 128, 0}},  {LogColour::Fuchsia, {255, 0, 255}},
                   {LogColour::Black, {0, 0, 0}},      {LogColour::Highlight, highlight}};
    for (const auto& c : colours) {
        log.appendLine("x", c.colour);
        QCOMPARE(log.lineColour(log.lineCount() - 1), c.rgb);
    }

    // The newest line is brought into sight once the burst is over.
    for (int i = 0; i < 300; ++i) w.eventLog().print(1, "line %d", i);
    QCoreApplication::processEvents();
    QCOMPARE(log.verticalScrollBar()->value(), log.verticalScrollBar()->maximum());
    QVERIFY(log.verticalScrollBar()->maximum() > 0);
    b.close();
}

void WindowTest::eventLogKeepsTheNewestLinesUpToItsBound() {
    QCOMPARE(LogView().maxLines(), 200000);
    // The same rule on a small bound: at least the newest 50 lines, the
    // oldest dropped 10 at a time.
    LogView log(nullptr, 50, 10);
    char text[32];
    for (int i = 0; i < 60; ++i) {
        std::snprintf(text, sizeof text, "line %d", i);
        log.appendLine(text, i % 2 ? LogColour::Navy : LogColour::Teal);
    }
    QCOMPARE(log.lineCount(), 60);
    log.appendLine("line 60", LogColour::Green);
    QCOMPARE(log.lineCount(), 50);
    QCOMPARE(log.lineText(0), QStringLiteral("line 11"));
    QCOMPARE(log.lineColour(0), QColor(0, 0, 128));
    QCOMPARE(log.lineText(49), QStringLiteral("line 60"));
    QCOMPARE(log.lineColour(49), QColor(0, 128, 0));
    log.clearLog();
    QCOMPARE(log.lineCount(), 0);
    log.appendLine("first", LogColour::Navy);
    QCOMPARE(log.lineCount(), 1);
    QCOMPARE(log.lineText(0), QStringLiteral("first"));
}

void WindowTest::openFlow_data() {
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<bool>("developmentDirectoryExists");
    QTest::addColumn<QString>("firmwareFile");  // empty: the dialog is cancelled
    QTest::addColumn<QString>("keysFile");      // empty: cancelled; "-": not asked
    QTest::addColumn<QString>("firmwarePreset");
    QTest::addColumn<int>("boxKind");  // -1: no box
    QTest::addColumn<QString>("boxText");

    const QByteArray plainNoKeys = "[DEVICE]\nSoftware File UnJammed=1\nTransfert Mode=0\n";
    QTest::newRow("plain file, no keys: loaded")
        << plainNoKeys << false << "V1.2.3.4_PROD.txt" << "-" << "*.txt|Text File" << int(BoxKind::Information)
        << "Memory loading is completed";
    QTest::newRow("firmware dialog cancelled: nothing")
        << QByteArray("") << false << "" << "-" << "*.qfwp|Tarvin File" << -1 << "";
    QTest::newRow("keys dialog cancelled")
        << QByteArray("") << false << "V1.2.3.4_PROD.qfwp" << "" << "*.qfwp|Tarvin File" << int(BoxKind::Error)
        << QString::fromLatin1("Action arr\xEAt\xE9" "e par l'utilisateur !!");
    QTest::newRow("keys list refused by the loader")
        << QByteArray("[DEVICE]\nSoftware File UnJammed=1\n") << false << "V1.2.3.4_PROD.txt"
        << "ListeProduits_1.txt" << "*.txt|Text File" << int(BoxKind::Error) << "Unknown file !!";
    QTest::newRow("technician with a development directory: plain")
        << QByteArray("[HOST]\nTechnician Mode=1\n[DEVICE]\nTransfert Mode=0\n") << true << "V1.2.3.4_PROD.txt"
        << "-" << "*.txt|Text File" << int(BoxKind::Information) << "Memory loading is completed";
    QTest::newRow("technician without one: package")
        << QByteArray("[HOST]\nTechnician Mode=1\n[DEVICE]\nTransfert Mode=0\n") << false << "V1.2.3.4_PROD.qfwp"
        << "-" << "*.qfwp|Tarvin File" << int(BoxKind::Error) << "Impossible to read the file : ";
    QTest::newRow("unknown product")
        << plainNoKeys << false << "V1.2.3.4_OTHER.txt" << "-" << "*.txt|Text File" << int(BoxKind::Error)
        << "Unknown product !!";
}

void WindowTest::openFlow() {
    QFETCH(QByteArray, config);
    QFETCH(bool, developmentDirectoryExists);
    QFETCH(QString, firmwareFile);
    QFETCH(QString, keysFile);
    QFETCH(QString, firmwarePreset);
    QFETCH(int, boxKind);
    QFETCH(QString, boxText);
    Bench b(config);
    QTemporaryDir development;
    if (developmentDirectoryExists) b.rig.environment.developmentDirectories = {development.path().toStdString()};
    b.directory.write(QStringLiteral("V1.2.3.4_PROD.txt"), plainImage(3));
    b.directory.write(QStringLiteral("V1.2.3.4_OTHER.txt"), plainImage(3));
    b.directory.write(QStringLiteral("ListeProduits_1.txt"), "not a keys list\n");
    TFMain& w = b.startManual();
    auto full = [&](const QString& name) { return name.isEmpty() ? std::string() : b.directory.path() + "/" + name.toStdString(); };
    b.rig.dialogs.fileAnswers.push_back(full(firmwareFile));
    if (keysFile != QLatin1String("-")) b.rig.dialogs.fileAnswers.push_back(full(keysFile));

    QTest::mousePress(w.cxBPOpen, Qt::LeftButton);

    const auto& dialogs = b.rig.dialogs.dialogs;
    QVERIFY(!dialogs.empty());
    QCOMPARE(dialogs[0].title, std::string("Configuration File"));
    QCOMPARE(q(dialogs[0].fileName + "|" + dialogs[0].filterCaption), firmwarePreset);
    if (keysFile == QLatin1String("-") || firmwareFile.isEmpty()) {
        QCOMPARE(dialogs.size(), std::size_t(1));
    } else {
        QCOMPARE(dialogs.size(), std::size_t(2));
        QCOMPARE(dialogs[1].title, std::string("Keys File"));
        QCOMPARE(dialogs[1].fileName, std::string("ListeProduits*.txt"));
        QCOMPARE(dialogs[1].filterCaption, std::string("Text File"));
    }
    const auto& boxes = b.rig.dialogs.boxes;
    if (boxKind < 0) {
        QVERIFY(boxes.empty());
    } else {
        QCOMPARE(boxes.size(), std::size_t(1));
        QCOMPARE(int(boxes[0].kind), boxKind);
        QCOMPARE(boxes[0].buttons, BoxButtons::Ok);
        QVERIFY2(q(boxes[0].text).startsWith(boxText), boxes[0].text.c_str());
    }
    const bool loaded = boxKind == int(BoxKind::Information);
    QCOMPARE(w.image().isValid(), loaded);
    QCOMPARE(w.sInfo->panelText(0), QString(loaded ? "Product One" : "No firmware file loaded"));
    if (loaded) QCOMPARE(w.cxProgressBar->maximum(), 4);  // three data blocks and the closing one
    b.close();
}

void WindowTest::openRefusedWhileConnecting() {
    Bench b("[DEVICE]\nSoftware File UnJammed=1\nTransfert Mode=0\n");
    TFMain& w = b.startManual();
    b.tick();
    b.loadImage();
    b.connectDevice();
    QVERIFY(w.appHost().isConnecting());
    b.rig.dialogs.fileAnswers.push_back(b.directory.path() + "/V1.2.3.4_PROD.txt");
    QTest::mousePress(w.cxBPOpen, Qt::LeftButton);
    QCOMPARE(b.rig.dialogs.boxes.size(), std::size_t(1));
    QCOMPARE(b.rig.dialogs.boxes[0].kind, BoxKind::Error);
    QCOMPARE(b.rig.dialogs.boxes[0].text, std::string(firmware::kHostActiveMessage));
    QVERIFY(w.image().isValid());
    b.close();
}

void WindowTest::portSelectionBox() {
    Bench b;
    TFMain& w = b.startManual();
    b.rig.links.probeResult = {QStringLiteral("COM1"), QStringLiteral("COM7")};
    b.rig.links.opens = {QStringLiteral("COM7")};
    // A press on the box runs the probe and keeps the box's text.
    w.cbFoTaPortList->setEditText(QStringLiteral("COM9"));
    QTest::mousePress(w.cbFoTaPortList->lineEdit(), Qt::LeftButton);
    QCOMPARE(b.rig.links.probes, 1);
    QCOMPARE(w.cbFoTaPortList->count(), 2);
    QCOMPARE(w.cbFoTaPortList->currentText(), QStringLiteral("COM9"));
    // Typing a port and confirming it applies the selection.
    w.cbFoTaPortList->lineEdit()->selectAll();
    QTest::keyClicks(w.cbFoTaPortList->lineEdit(), QStringLiteral("COM7"));
    QTest::keyClick(w.cbFoTaPortList->lineEdit(), Qt::Key_Return);
    QCOMPARE(b.rig.links.applied.back(), QStringLiteral("COM7"));
    QVERIFY(b.rig.links.isSerialOpen());
    b.close();
    QVERIFY(b.config().contains("[SYSTEM]\nCOM=COM7\n"));
}

QTEST_MAIN(WindowTest)
#include "windowTest.moc"
