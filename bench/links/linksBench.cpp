// Link benchmark: what the links cost the host, on this machine.
//
//   udp round trip     a 96-byte frame sent by the loopback link, echoed by a
//                      plain socket on another thread, back through the read
//                      event to the Phy entry: latency per frame.
//   serial round trip  the same over a pseudo-terminal (the serial link, an
//                      echo thread on the master side).
//   serial intake      a backlog of frames written at once to the line; the
//                      time until every byte has reached the Phy entry, one
//                      byte per call, against the line's 57,600 baud.
//   dialogue CPU       processor time used during a dongle dialogue that gets
//                      no answer (about 1.25 s of waiting): the waits must not spin.
//
//   links_bench [--frames N]   (default 2000)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "links/links.h"

using namespace dorvane;

namespace {

class Random final : public IRandom {
public:
    std::uint32_t random(std::uint32_t n) override { return n == 0 ? 0 : static_cast<std::uint32_t>(std::rand()) % n; }
};

class Clock final : public IClock {
public:
    Clock() { timer_.start(); }
    std::uint32_t tickCount() override { return static_cast<std::uint32_t>(timer_.elapsed()); }

private:
    QElapsedTimer timer_;
};

double cpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

void report(const char* name, std::vector<double> us, double cpu) {
    std::sort(us.begin(), us.end());
    double sum = 0;
    for (double v : us) sum += v;
    const auto at = [&](double q) { return us[static_cast<std::size_t>(q * static_cast<double>(us.size() - 1))]; };
    std::printf("%-18s %6zu frames  mean %7.1f us  p50 %7.1f  p99 %7.1f  max %8.1f  host CPU %5.1f us/frame\n", name,
                us.size(), sum / static_cast<double>(us.size()), at(0.5), at(0.99), us.back(),
                cpu * 1000.0 / static_cast<double>(us.size()));
}

// Runs the event loop until done() or 2 s.
template <class F>
bool pumpUntil(F done) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > 2000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

void udpRoundTrip(int frames) {
    const int echo = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(echo, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(echo, reinterpret_cast<sockaddr*>(&a), &len);
    std::atomic<bool> stop{false};
    std::thread echoThread([&] {
        std::uint8_t b[512];
        while (!stop) {
            pollfd p{echo, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            sockaddr_in from{};
            socklen_t fl = sizeof from;
            const ssize_t n = ::recvfrom(echo, b, sizeof b, 0, reinterpret_cast<sockaddr*>(&from), &fl);
            if (n > 0) ::sendto(echo, b, static_cast<std::size_t>(n), 0, reinterpret_cast<sockaddr*>(&from), fl);
        }
    });

    Random random;
    int received = 0;
    UdpLoopbackLink link(random, [] { return 100; }, [&](std::uint8_t, const std::uint8_t*) { ++received; });
    link.start(0);
    link.setPeerPort(ntohs(a.sin_port));
    std::vector<std::uint8_t> frame(96, 0x5A);
    std::vector<double> us;
    const double cpu0 = cpuMs();
    for (int i = 0; i < frames; ++i) {
        QElapsedTimer t;
        t.start();
        const int before = received;
        link.send(frame.data(), frame.size());
        if (!pumpUntil([&] { return received > before; })) break;
        us.push_back(static_cast<double>(t.nsecsElapsed()) / 1000.0);
    }
    report("udp round trip", us, cpuMs() - cpu0);
    stop = true;
    echoThread.join();
    ::close(echo);
}

struct Pty {
    Pty() {
        char name[256];
        openpty(&master, &slave, name, nullptr, nullptr);
        path = name;
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
    }
    ~Pty() {
        ::close(master);
        ::close(slave);
    }
    int master = -1, slave = -1;
    std::string path;
};

void serialRoundTrip(int frames) {
    Pty pty;
    std::atomic<bool> stop{false};
    std::thread echoThread([&] {
        std::uint8_t b[4096];
        while (!stop) {
            pollfd p{pty.master, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = ::read(pty.master, b, sizeof b);
            if (n > 0) (void)!::write(pty.master, b, static_cast<std::size_t>(n));
        }
    });
    Random random;
    std::size_t bytes = 0;
    SerialLink link(random, [] { return 100; }, [&](std::uint8_t n, const std::uint8_t*) { bytes += n; });
    link.setPortName(QString::fromStdString(pty.path));
    if (!link.open()) {
        std::printf("serial round trip: cannot open %s\n", pty.path.c_str());
    } else {
        std::vector<std::uint8_t> frame(96, 0x5A);
        std::vector<double> us;
        const double cpu0 = cpuMs();
        for (int i = 0; i < frames; ++i) {
            QElapsedTimer t;
            t.start();
            const std::size_t target = bytes + frame.size();
            link.write(frame.data(), frame.size());
            if (!pumpUntil([&] { return bytes >= target; })) break;
            us.push_back(static_cast<double>(t.nsecsElapsed()) / 1000.0);
        }
        report("serial round trip", us, cpuMs() - cpu0);
    }
    stop = true;
    echoThread.join();
}

void serialIntake(int frames) {
    Pty pty;
    ::fcntl(pty.master, F_SETFL, ::fcntl(pty.master, F_GETFL) | O_NONBLOCK);
    Random random;
    std::size_t bytes = 0;
    SerialLink link(random, [] { return 100; }, [&](std::uint8_t n, const std::uint8_t*) { bytes += n; });
    link.setPortName(QString::fromStdString(pty.path));
    if (!link.open()) return;
    const std::size_t total = 96 * static_cast<std::size_t>(frames);
    const std::vector<std::uint8_t> backlog(total, 0x5A);
    QElapsedTimer t;
    t.start();
    const double cpu0 = cpuMs();
    std::size_t written = 0;
    while (bytes < total && t.elapsed() < 20000) {
        while (written < total) {
            const ssize_t n = ::write(pty.master, backlog.data() + written, total - written);
            if (n <= 0) break;  // line buffer full: let the host read
            written += static_cast<std::size_t>(n);
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
    const double rate = static_cast<double>(bytes) / (ms / 1000.0);
    std::printf("serial intake      %6zu bytes in %.1f ms: %.0f bytes/s = %.0f x the line's 5760 bytes/s, "
                "host CPU %.2f us/byte\n",
                bytes, ms, rate, rate / 5760.0, (cpuMs() - cpu0) * 1000.0 / static_cast<double>(bytes));
}

void dialogueCpu() {
    Pty pty;  // nothing answers on the far end
    Random random;
    Clock clock;
    SerialLink link(random, [] { return 100; }, {});
    link.setPortName(QString::fromStdString(pty.path));
    if (!link.open()) return;
    DongleConfigurator configurator(clock, {});
    const QStringList commands = {"ATS500=1"};
    QElapsedTimer t;
    t.start();
    const double cpu0 = cpuMs();
    const bool ok = configurator.configure(&commands, link);
    const double cpu = cpuMs() - cpu0;
    std::printf("dialogue CPU       silent dongle: %s after %lld ms, host CPU %.1f ms (%.1f %% of one core)\n",
                ok ? "configured" : "gave up", static_cast<long long>(t.elapsed()), cpu,
                100.0 * cpu / static_cast<double>(t.elapsed()));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int frames = 2000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
            frames = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: links_bench [--frames N]\n");
            return 2;
        }
    }
    udpRoundTrip(frames);
    serialRoundTrip(frames);
    serialIntake(frames);
    dialogueCpu();
    return 0;
}
