// The real program, copied into a temporary directory with its files and
// run there under the offscreen platform: the configuration file written at
// close, the fatal stops, the single-instance guard, the termination signals
// and the supervising page. A box the program shows is echoed on its
// standard error; the tests read it there and end the program with SIGTERM,
// which closes the window as its close box does.
//
// Only one Dorvane runs per machine, so these tests must not run alongside
// each other or any other test that starts the program.
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

#include <sys/types.h>

#ifndef DORVANE_PROGRAM
#error "DORVANE_PROGRAM must name the built program"
#endif

namespace {

constexpr int kWaitMs = 30000;  // the sanitizer build starts slowly

const QByteArray kCatalogue =
    "[\n  {\n    \"embedded product name\": \"PROD\",\n    \"transfer buffer size\": 16,\n"
    "    \"displayed product name\": \"Product One\"\n  }\n]\n";

const QByteArray kDefaultConfig =
    "[HOST]\nPeer Port=56700\nPort=57000\nTime Out=5\n[SYSTEM]\nCOM=\n[DEBUG]\nSuccess Rate=100\n";

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    return probe.serverPort();
}

bool listening(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(2000);
}

// One copy of the program in a directory of its own.
class Program {
public:
    explicit Program(bool catalogue = true) {
        const QString target = dir_.filePath(QStringLiteral("Dorvane"));
        QFile::copy(QStringLiteral(DORVANE_PROGRAM), target);
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (catalogue) write("LoRaHostEmbeddedProducts.json", kCatalogue);
        runtime_.setAutoRemove(true);
        QFile::setPermissions(runtime_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    ~Program() {
        if (process_ && process_->state() != QProcess::NotRunning) {
            process_->kill();
            process_->waitForFinished(kWaitMs);
        }
    }
    QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }
    void write(const char* name, const QByteArray& bytes) const {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QByteArray read(const char* name) const {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<absent>");
    }
    bool exists(const char* name) const { return QFile::exists(path(name)); }

    // Started from another working directory: the program finds its files
    // beside itself.
    void start(const QStringList& arguments = {}, const QString& pathPrefix = QString()) {
        process_ = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
        if (!pathPrefix.isEmpty())
            environment.insert(QStringLiteral("PATH"), pathPrefix + QLatin1Char(':') + environment.value("PATH"));
        process_->setProcessEnvironment(environment);
        process_->setWorkingDirectory(QDir::tempPath());
        process_->setProgram(path("Dorvane"));
        process_->setArguments(arguments);
        process_->start();
        QVERIFY(process_->waitForStarted(kWaitMs));
    }
    bool running() const { return process_ && process_->state() == QProcess::Running; }
    void signal(int number) const { ::kill(static_cast<pid_t>(process_->processId()), number); }
    // The exit code, or -1 when the program did not end in time or crashed.
    int waitExit() {
        if (!process_->waitForFinished(kWaitMs)) return -1;
        stderr_ += process_->readAllStandardError();
        return process_->exitStatus() == QProcess::NormalExit ? process_->exitCode() : -1;
    }
    QByteArray standardError() {
        stderr_ += process_->readAllStandardError();
        return stderr_;
    }
    bool waitForError(const QByteArray& text) {
        return QTest::qWaitFor([&] { return standardError().contains(text) || !running(); }, kWaitMs) &&
               standardError().contains(text);
    }
    bool waitForFile(const char* name) {
        return QTest::qWaitFor([&] { return exists(name) || !running(); }, kWaitMs) && exists(name);
    }

private:
    QTemporaryDir dir_;
    QTemporaryDir runtime_;
    std::unique_ptr<QProcess> process_;
    QByteArray stderr_;
};

}  // namespace

class ProgramTest : public QObject {
    Q_OBJECT
private slots:
    void stopsOnASignalLikeTheCloseBox_data();
    void stopsOnASignalLikeTheCloseBox();
    void staleLockFileStopsOneStartOnly();
    void missingCatalogueStopsTheStart();
    void secondInstanceOnTheMachineEndsAtOnce();
    void aKilledInstanceLeavesTheMachineFree();
    void supervisingPage_data();
    void supervisingPage();
    void controlServerPortTaken();
    void unwritableConfigurationIsReported();
};

void ProgramTest::stopsOnASignalLikeTheCloseBox_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void ProgramTest::stopsOnASignalLikeTheCloseBox() {
    QFETCH(int, signalNumber);
    Program p;
    QVERIFY(!p.exists("LoRaHost.cfg"));
    p.start();
    QVERIFY2(p.waitForFile("Dorvane.lck"), p.standardError().constData());
    QTest::qWait(200);  // the host cycle runs
    QVERIFY(p.running());
    p.signal(signalNumber);
    QCOMPARE(p.waitExit(), 0);
    QVERIFY(!p.exists("Dorvane.lck"));
    QCOMPARE(p.read("LoRaHost.cfg"), kDefaultConfig);
    QVERIFY2(!p.standardError().contains("box:"), p.standardError().constData());
}

void ProgramTest::staleLockFileStopsOneStartOnly() {
    Program p;
    p.write("Dorvane.lck", "");
    p.start();
    QVERIFY(p.waitForError("Dorvane: error box: Dorvane is already running !! Make sure nobody uses it before "
                           "launching it"));
    QVERIFY(p.running());  // the box waits for the operator
    p.signal(SIGTERM);
    QCOMPARE(p.waitExit(), 0);
    QVERIFY(!p.exists("Dorvane.lck"));
    QCOMPARE(p.read("LoRaHost.cfg"), kDefaultConfig);

    p.start();
    QVERIFY2(p.waitForFile("Dorvane.lck"), p.standardError().constData());
    p.signal(SIGTERM);
    QCOMPARE(p.waitExit(), 0);
    QVERIFY(!p.exists("Dorvane.lck"));
}

void ProgramTest::missingCatalogueStopsTheStart() {
    Program p(false);
    p.start();
    QVERIFY(p.waitForError("Dorvane: error box: The file \"LoRaHostEmbeddedProducts.json\" is not present ! Dorvane "
                           "will be shut down !!"));
    QVERIFY(!p.exists("Dorvane.lck"));
    p.signal(SIGTERM);
    QCOMPARE(p.waitExit(), 0);
    QVERIFY(!p.exists("Dorvane.lck"));
    QCOMPARE(p.read("LoRaHost.cfg"), kDefaultConfig);
}

void ProgramTest::secondInstanceOnTheMachineEndsAtOnce() {
    Program first;
    first.start();
    QVERIFY2(first.waitForFile("Dorvane.lck"), first.standardError().constData());

    Program second;
    second.start();
    QCOMPARE(second.waitExit(), 0);
    QCOMPARE(second.standardError(), QByteArray());  // no box, no window, no message
    QVERIFY(!second.exists("LoRaHost.cfg"));        // it never got as far as a window
    QVERIFY(!second.exists("Dorvane.lck"));

    QVERIFY(first.running());
    QVERIFY(first.exists("Dorvane.lck"));
    first.signal(SIGTERM);
    QCOMPARE(first.waitExit(), 0);
}

void ProgramTest::aKilledInstanceLeavesTheMachineFree() {
    Program crashed;
    crashed.start();
    QVERIFY(crashed.waitForFile("Dorvane.lck"));
    crashed.signal(SIGKILL);
    QCOMPARE(crashed.waitExit(), -1);
    QVERIFY(crashed.exists("Dorvane.lck"));  // left behind in its own directory

    Program next;
    next.start();
    QVERIFY2(next.waitForFile("Dorvane.lck"), next.standardError().constData());
    next.signal(SIGTERM);
    QCOMPARE(next.waitExit(), 0);
}

void ProgramTest::supervisingPage_data() {
    QTest::addColumn<int>("openerStatus");
    QTest::addColumn<bool>("serverListens");
    QTest::newRow("opener fails: no HTTP server") << 1 << false;
    QTest::newRow("opener succeeds: the server's port is taken") << 0 << true;
}

void ProgramTest::supervisingPage() {
    QFETCH(int, openerStatus);
    QFETCH(bool, serverListens);
    Program p;
    QTemporaryDir stub;
    const QString opened = stub.filePath(QStringLiteral("opened"));
    {
        QFile script(stub.filePath(QStringLiteral("xdg-open")));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\nprintf '%s' \"$*\" > '%1'\nexit %2\n").arg(opened).arg(openerStatus).toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const quint16 port = freePort();
    const QByteArray page = "http://127.0.0.1:" + QByteArray::number(port) + "/Supervisor.html";
    p.write("LoRaHost.cfg", "[HOST]\nAuthorization=1\n[HTTP]\nPort=" + QByteArray::number(port) + "\nWebSite=" + page + "\n");
    p.start({}, stub.path());
    QVERIFY2(p.waitForFile("Dorvane.lck"), p.standardError().constData());
    QFile record(opened);
    QVERIFY(record.open(QIODevice::ReadOnly));
    QCOMPARE(record.readAll(), page);
    QCOMPARE(listening(port), serverListens);
    p.signal(SIGTERM);
    QCOMPARE(p.waitExit(), 0);
}

void ProgramTest::controlServerPortTaken() {
    Program p;
    QTemporaryDir stub;
    {
        QFile script(stub.filePath(QStringLiteral("xdg-open")));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nexit 0\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::Any, 0));
    p.write("LoRaHost.cfg", "[HTTP]\nPort=" + QByteArray::number(holder.serverPort()) + "\nWebSite=http://x/\n");
    p.start({}, stub.path());
    QVERIFY(p.waitForError(
        "Dorvane: error box: Configuration file is corrupted !! The application will be shut down !!"));
    QVERIFY(!p.exists("Dorvane.lck"));
    p.signal(SIGTERM);
    QCOMPARE(p.waitExit(), 0);
    QCOMPARE(p.read("LoRaHost.cfg"),
             "[HTTP]\nPort=" + QByteArray::number(holder.serverPort()) +
                 "\nWebSite=http://x/\n[HOST]\nPeer Port=56700\nPort=57000\nTime Out=5\n[SYSTEM]\nCOM=COM1\n[DEBUG]\n"
                 "Success Rate=100\n");
}

void ProgramTest::unwritableConfigurationIsReported() {
    Program p;
    QVERIFY(QDir(p.path("")).mkdir(QStringLiteral("LoRaHost.cfg")));  // a directory where the file should be
    p.start();
    QVERIFY2(p.waitForFile("Dorvane.lck"), p.standardError().constData());
    p.signal(SIGTERM);
    QCOMPARE(p.waitExit(), 0);  // the close goes on
    QVERIFY(!p.exists("Dorvane.lck"));
    const QByteArray expected = "Dorvane: the configuration file " + QFile::encodeName(p.path("LoRaHost.cfg")) +
                                " was not written: ";
    QVERIFY2(p.standardError().contains(expected), p.standardError().constData());
}

QTEST_GUILESS_MAIN(ProgramTest)
#include "programTest.moc"
