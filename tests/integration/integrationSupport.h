// The whole program in the test process: the real main window with the real
// links (UDP loopback or the serial port), driven as the operator drives it,
// and the device fleet simulator, the virtual dongle and the package tool as
// child processes. Every run has its own program directory and free ports.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QHostAddress>
#include <QProcess>
#include <QStringList>
#include <QUdpSocket>
#include <QtTest>

#include <sys/resource.h>
#include <time.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "console/mainWindow.h"
#include "console/realLinks.h"
#include "tests/console/consoleTestSupport.h"

namespace dorvane::integration {

using console::TFMain;
using console::test::ProgramDirectory;
using console::test::ScriptedDialogs;

inline double monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Processor time this process has used so far, in ms.
inline double cpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

// A UDP port that nothing holds at the moment.
inline std::uint16_t freeUdpPort() {
    QUdpSocket socket;
    if (!socket.bind(QHostAddress::Any, 0)) return 0;
    return socket.localPort();
}

// Runs the event loop, as the program does, until the condition holds or ms
// have passed; false on time-out. (QTest::qWait sleeps 10 ms between its
// passes, which would slow the 1 ms host cycle down to about 100 Hz.)
inline bool runUntil(const std::function<bool()>& done, int ms) {
    if (done()) return true;
    QEventLoop loop;
    QElapsedTimer elapsed;
    elapsed.start();
    bool result = false;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) {
            result = true;
            loop.quit();
        } else if (elapsed.elapsed() >= ms) {
            loop.quit();
        }
    });
    check.start(2);
    loop.exec();
    return result;
}

// Runs the event loop for ms.
inline void runFor(int ms) { (void)runUntil([] { return false; }, ms); }

// A child program whose output is kept.
class Child {
public:
    ~Child() { stop(); }

    bool start(const QString& program, const QStringList& arguments) {
        process.start(program, arguments);
        return process.waitForStarted(5000);
    }
    // Reads standard error until a line holds `marker`; returns that line.
    QString waitForErrorLine(const QString& marker, int ms = 10000) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            while (process.canReadLine()) {
                const QByteArray line = process.readLine();
                errorText += line;
                if (QString::fromLatin1(line).contains(marker)) return QString::fromLatin1(line).trimmed();
            }
            if (process.state() != QProcess::Running) return {};
            process.waitForReadyRead(50);
        }
        return {};
    }
    // Reads standard output until a line holds `marker`.
    QString waitForOutputLine(const QString& marker, int ms = 10000) {
        process.setReadChannel(QProcess::StandardOutput);
        QString found = waitForErrorLine(marker, ms);
        process.setReadChannel(QProcess::StandardError);
        return found;
    }
    // Asks the program to stop (SIGTERM) and waits for it; its exit status,
    // or -1 when it had to be killed or crashed.
    int stop(int ms = 10000) {
        if (process.state() == QProcess::NotRunning) return finishedStatus();
        process.terminate();
        if (!process.waitForFinished(ms)) {
            process.kill();
            process.waitForFinished(3000);
            return -1;
        }
        return finishedStatus();
    }
    int finishedStatus() const {
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    QStringList outputLines() {
        outputText += process.readAllStandardOutput();
        return QString::fromLatin1(outputText).split('\n', Qt::SkipEmptyParts);
    }

    QProcess process;
    QByteArray errorText;
    QByteArray outputText;
};

// The device fleet simulator on a port of its own, sending to the host's port.
class Devsim {
public:
    bool start(std::uint16_t hostPort, const QStringList& extra) {
        child.process.setReadChannel(QProcess::StandardError);
        QStringList args = {"--listen-port", "0", "--host-port", QString::number(hostPort), "--hello-interval", "200",
                            "--run-time", "300"};
        args << extra;
        if (!child.start(QStringLiteral(DORVANE_DEVSIM_PROGRAM), args)) return false;
        const QString line = child.waitForErrorLine(QStringLiteral("listening on 127.0.0.1:"));
        if (line.isEmpty()) return false;
        port = static_cast<std::uint16_t>(line.section("127.0.0.1:", 1, 1).section(',', 0, 0).toUInt());
        return port != 0;
    }
    // Stops the fleet and counts the devices whose report line says
    // "state=<state> image=match"; status is the program's exit status.
    int finish(const QString& state, int& status) {
        status = child.stop();
        int count = 0;
        report = child.outputLines();
        for (const QString& l : report) {
            if (l.startsWith(QLatin1String("device 0x")) && l.contains(" state=" + state + " image=match ")) ++count;
        }
        return count;
    }
    Child child;
    std::uint16_t port = 0;
    QStringList report;
};

// Runs dorvane-package: a package of `blocks` 16-byte blocks for PROD 1.2.3.4
// (a configuration package when configuration >= 0) in the directory. Writes
// the TI-TXT text as image.txt beside it, for the simulator to compare with.
inline QString makePackage(const ProgramDirectory& dir, int blocks, int configuration = -1) {
    dir.write(QStringLiteral("image.txt"), console::test::plainImage(blocks));
    QStringList args = {"pack", dir.file("image.txt"), "--product", "PROD", "--version", "1.2.3.4", "--directory",
                        QString::fromStdString(dir.path())};
    if (configuration >= 0) args << "--configuration" << QString::number(configuration);
    QProcess p;
    p.start(QStringLiteral(DORVANE_PACKAGE_PROGRAM), args);
    if (!p.waitForFinished(10000) || p.exitCode() != 0) return {};
    const QString name = configuration >= 0
                             ? QStringLiteral("C1.2.3.4_PROD.%1.qfwp").arg(configuration)
                             : QStringLiteral("V1.2.3.4_PROD.qfwp");
    return dir.exists(name) ? dir.file(name) : QString();
}

// The real window with the real links, over a program directory, as the
// program wires them; the window's clock is the system's tick count.
struct Host {
    explicit Host(const ProgramDirectory& directory) {
        environment.executableDirectory = directory.path();
        environment.dialogs = &dialogs;
        environment.pageOpener = &opener;
        environment.controlServer = &server;
    }
    ~Host() {
        if (window && !window->shutdownDone()) window->close();
        window.reset();
    }
    // Creates the window, plugs the links in and shows it; returns once the
    // start-up has finished (or stopped with a box).
    TFMain& start() {
        window = std::make_unique<TFMain>(environment);
        links = std::make_unique<console::RealLinks>(window->randomSource(), window->clockSource());
        links->attach(*window);
        window->setLinks(*links);
        window->show();
        (void)runUntil([this] { return window->startupDone() || !dialogs.boxes.empty(); }, 10000);
        // The first host cycle sets the stack up and logs its start.
        if (window->startupDone()) (void)runUntil([this] { return window->appHost().firstCycleDone(); }, 5000);
        return *window;
    }
    // Presses Open and answers the file dialog with the package.
    bool open(const QString& package) {
        const std::size_t before = dialogs.boxes.size();
        dialogs.fileAnswers = {QFile::encodeName(package).toStdString()};
        QTest::mousePress(window->cxBPOpen, Qt::LeftButton);
        return dialogs.boxes.size() == before + 1 && dialogs.boxes.back().kind == console::BoxKind::Information;
    }
    std::string lastBox() const { return dialogs.boxes.empty() ? std::string("none") : dialogs.boxes.back().text; }
    // Lines of the event log view that contain the text.
    int logLinesWith(const QString& text) const {
        int n = 0;
        for (int i = 0; i < window->reDisplay->lineCount(); ++i) n += window->reDisplay->lineText(i).contains(text);
        return n;
    }
    QString lastLogLine() const {
        const int n = window->reDisplay->lineCount();
        return n > 0 ? window->reDisplay->lineText(n - 1) : QStringLiteral("<empty log>");
    }
    // The devices in the grid once `count` of them are admitted, Hot Start
    // pressed, and the transfer followed to its end. False (with the reason)
    // when a stage does not come within its time.
    bool runTransfer(int count, int admitMs, int transferMs, QString& why) {
        auto& host = window->appHost();
        if (!runUntil([&] { return host.deviceCount() == count && window->grid().rowCount() == count; },
                             admitMs)) {
            why = QStringLiteral("admitted %1 of %2, grid rows %3, last log line: %4")
                      .arg(host.deviceCount()).arg(count).arg(window->grid().rowCount()).arg(lastLogLine());
            return false;
        }
        QTest::mousePress(window->cxStart, Qt::LeftButton);
        if (!runUntil([&] { return host.state() == AppHost::kTransferring; }, 2000)) {
            why = QStringLiteral("Hot Start did not start the transfer, state %1").arg(int(host.state()));
            return false;
        }
        if (!runUntil([&] { return !host.isActive(); }, transferMs)) {
            why = QStringLiteral("the transfer did not end, step %1, last log line: %2").arg(int(host.step())).arg(lastLogLine());
            return false;
        }
        return true;
    }

    console::ConsoleEnvironment environment;
    ScriptedDialogs dialogs;
    console::test::ScriptedOpener opener;
    console::test::FakeControlServer server;
    // The links outlive the window: its shutdown asks them for the port's name.
    std::unique_ptr<console::RealLinks> links;
    std::unique_ptr<TFMain> window;
};

}  // namespace dorvane::integration
