// Real pseudo-terminals, a monotonic clock, event-loop helpers and the
// virtual dongle process for the link tests.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/ports.h"

namespace dorvane::test {

inline double monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// The system's millisecond tick, as the host uses it.
class SteadyClock final : public IClock {
public:
    std::uint32_t tickCount() override { return static_cast<std::uint32_t>(static_cast<std::uint64_t>(monotonicMs())); }
};

// Processor time used by this process so far, in ms.
inline double cpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

// Runs the event loop (sleeping while idle) for ms.
inline void runEventLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until the condition holds or ms have passed.
inline bool runUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() >= ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        usleep(500);
    }
    return true;
}

// A pseudo-terminal whose slave side the host opens by path (or by a COM name
// linked to it). The test keeps the slave open too, so that the master does
// not report a hang-up while the host's port is closed; both sides are raw.
class Pty {
public:
    Pty() {
        char name[256] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return;
        slaveName_ = name;
        termios t{};
        tcgetattr(slave_, &t);
        cfmakeraw(&t);
        tcsetattr(slave_, TCSANOW, &t);
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() { unplug(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return master_ >= 0; }
    const std::string& slaveName() const { return slaveName_; }
    int master() const { return master_; }

    // Links dir/name to the slave, as a udev rule or a symbolic link would.
    bool linkAs(const QString& path) const {
        ::unlink(path.toLocal8Bit().constData());
        return ::symlink(slaveName_.c_str(), path.toLocal8Bit().constData()) == 0;
    }

    void write(const std::vector<std::uint8_t>& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) {
                if (errno == EAGAIN || errno == EINTR) {
                    usleep(1000);
                    continue;
                }
                return;
            }
            done += static_cast<std::size_t>(n);
        }
    }
    void write(const std::string& text) const { write(std::vector<std::uint8_t>(text.begin(), text.end())); }

    // What the host has written so far.
    std::vector<std::uint8_t> read() const {
        std::vector<std::uint8_t> out;
        std::uint8_t buffer[4096];
        for (;;) {
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) break;
            out.insert(out.end(), buffer, buffer + n);
        }
        return out;
    }

    // The far end goes away.
    void unplug() {
        if (master_ >= 0) ::close(master_);
        if (slave_ >= 0) ::close(slave_);
        master_ = slave_ = -1;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slaveName_;
};

inline std::string text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// One line of the virtual dongle's log.
struct DongleEvent {
    double ms = 0;
    std::string event;
    std::string detail;
};

inline std::vector<DongleEvent> readDongleLog(const QString& path) {
    std::vector<DongleEvent> events;
    std::ifstream in(path.toStdString());
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream s(line);
        DongleEvent e;
        s >> e.ms >> e.event;
        std::getline(s, e.detail);
        if (!e.detail.empty() && e.detail[0] == ' ') e.detail.erase(0, 1);
        events.push_back(e);
    }
    return events;
}

inline std::vector<std::uint8_t> fromHex(const std::string& hex) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// The virtual dongle, run as its own process.
class DongleProcess {
public:
    // Starts dorvane-dongle with the link name and log in dir; extra options follow.
    bool start(const QString& dir, const QString& linkName, const QStringList& extra = {}) {
        linkPath = dir + "/" + linkName;
        logPath = dir + "/dongle.log";
        QStringList args = {"--link", linkPath, "--log", logPath, "--udp-listen", "0"};
        args << extra;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(DORVANE_DONGLE_PATH), args);
        if (!process.waitForStarted(5000)) return false;
        QElapsedTimer t;
        t.start();
        while (!process.canReadLine()) {
            if (t.elapsed() > 5000 || process.state() != QProcess::Running) return false;
            process.waitForReadyRead(100);
        }
        ready = QString::fromLatin1(process.readLine()).trimmed();
        const int at = ready.indexOf("udp-listen=");
        if (at >= 0) udpListen = static_cast<std::uint16_t>(ready.mid(at + 11).section(' ', 0, 0).toUInt());
        return ready.startsWith("ready ");
    }
    ~DongleProcess() {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(3000)) {
                process.kill();
                process.waitForFinished(3000);
            }
        }
    }
    std::vector<DongleEvent> log() const { return readDongleLog(logPath); }

    QProcess process;
    QString ready;
    QString linkPath;
    QString logPath;
    std::uint16_t udpListen = 0;
};

}  // namespace dorvane::test
