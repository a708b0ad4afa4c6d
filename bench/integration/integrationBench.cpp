// GWR pacing of the real program over UDP: the main window with the real
// links in loopback mode, the device fleet simulator as a child process. The
// benchmark times every GWR frame as it leaves the host during the broadcast
// and compares the intervals with the nominal 96 + random(12) ms (96..107 ms),
// and measures the processor time the host uses during the transfer.
//
//   integration_bench [--blocks N] [--devices N]   (defaults 100 and 5)
#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tests/integration/integrationSupport.h"

using namespace dorvane;
using namespace dorvane::integration;

namespace {

// The real links, with the send routine timed: the time of every frame that
// the App Host sends while its broadcast sweep (step 5) runs.
class TimedLinks final : public console::ILinkControl, public ILinkSender {
public:
    explicit TimedLinks(console::RealLinks& real) : real_(real) {}
    void watch(AppHost* host) { host_ = host; }

    bool send(const std::uint8_t* bytes, std::uint8_t count) override {
        if (host_ != nullptr && host_->state() == AppHost::kTransferring && host_->step() == 5)
            sweep.push_back(monotonicMs());
        return real_.sender().send(bytes, count);
    }
    ILinkSender& sender() override { return *this; }
    bool startLoopback(std::uint16_t localPort, std::uint16_t peerPort) override {
        return real_.startLoopback(localPort, peerPort);
    }
    void applyPortSelection(const QString& name, const QStringList* commands) override {
        real_.applyPortSelection(name, commands);
    }
    bool isSerialOpen() override { return real_.isSerialOpen(); }
    QString serialPortName() override { return real_.serialPortName(); }
    QStringList probePorts() override { return real_.probePorts(); }
    void setSerialDirectory(const QString& directory) override { real_.setSerialDirectory(directory); }

    std::vector<double> sweep;

private:
    console::RealLinks& real_;
    AppHost* host_ = nullptr;
};

int parse(int argc, char** argv, const char* name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return std::atoi(argv[i + 1]);
    return fallback;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int blocks = std::max(2, parse(argc, argv, "--blocks", 100));
    const int devices = std::max(1, parse(argc, argv, "--devices", 5));

    ProgramDirectory dir;
    dir.writeCatalogue();
    const QString package = makePackage(dir, blocks);
    if (package.isEmpty()) {
        std::fprintf(stderr, "integration_bench: dorvane-package failed\n");
        return 1;
    }
    const std::uint16_t hostPort = freeUdpPort();
    Devsim fleet;
    if (!fleet.start(hostPort, {"--devices", QString::number(devices), "--image", dir.file("image.txt"),
                                "--require-image"})) {
        std::fprintf(stderr, "integration_bench: the simulator did not start\n");
        return 1;
    }
    dir.writeConfig(QStringLiteral("[DEBUG]\nHOST=1\n[HOST]\nPort=%1\nPeer Port=%2\n[DEVICE]\nTransfert Mode=0\n")
                        .arg(hostPort).arg(fleet.port).toLatin1());

    int result = 0;
    {
        Host host(dir);
        host.window = std::make_unique<TFMain>(host.environment);
        host.links = std::make_unique<console::RealLinks>(host.window->randomSource(), host.window->clockSource());
        host.links->attach(*host.window);
        TimedLinks timed(*host.links);
        host.window->setLinks(timed);
        timed.watch(&host.window->appHost());
        host.window->show();
        (void)runUntil([&] { return host.window->startupDone(); }, 10000);
        if (!host.open(package)) {
            std::fprintf(stderr, "integration_bench: the package did not load: %s\n", host.lastBox().c_str());
            return 1;
        }
        AppHost& a = host.window->appHost();
        if (!runUntil([&] { return a.deviceCount() == devices; }, 30000)) {
            std::fprintf(stderr, "integration_bench: only %u devices admitted\n", unsigned(a.deviceCount()));
            return 1;
        }
        const double cpu0 = cpuMs(), wall0 = monotonicMs();
        QTest::mousePress(host.window->cxStart, Qt::LeftButton);
        const bool ended = runUntil([&] { return a.state() == AppHost::kTransferring; }, 2000) &&
                           runUntil([&] { return !a.isActive(); }, 600000);
        const double cpu = cpuMs() - cpu0, wall = monotonicMs() - wall0;
        int status = -2;
        const int good = fleet.finish(QStringLiteral("launched"), status);

        std::vector<double> gaps;
        for (std::size_t i = 1; i < timed.sweep.size(); ++i) gaps.push_back(timed.sweep[i] - timed.sweep[i - 1]);
        double sum = 0, lo = 1e9, hi = 0;
        int outside = 0;
        for (double g : gaps) {
            sum += g;
            lo = std::min(lo, g);
            hi = std::max(hi, g);
            // A 1 ms host cycle can put a frame up to a tick past its time-out.
            if (g < 96.0 || g >= 109.0) ++outside;
        }
        const double mean = gaps.empty() ? 0 : sum / static_cast<double>(gaps.size());
        std::sort(gaps.begin(), gaps.end());
        const double p99 = gaps.empty() ? 0 : gaps[std::min(gaps.size() - 1, gaps.size() * 99 / 100)];

        std::printf("GWR pacing over UDP, %d blocks to %d devices (real window, real links, dorvane-devsim)\n",
                    blocks, devices);
        std::printf("%-34s %12s %12s\n", "", "measured", "nominal");
        std::printf("%-34s %12zu %12d\n", "GWR frames in the broadcast", timed.sweep.size(), blocks);
        std::printf("%-34s %9.2f ms %12s\n", "mean interval", mean, "101.50 ms");
        std::printf("%-34s %9.2f ms %12s\n", "minimum interval", gaps.empty() ? 0.0 : lo, "96 ms");
        std::printf("%-34s %9.2f ms %12s\n", "99th percentile interval", p99, "");
        std::printf("%-34s %9.2f ms %12s\n", "maximum interval", hi, "107 ms");
        std::printf("%-34s %12d %12s\n", "intervals outside 96..108 ms", outside, "0");
        std::printf("%-34s %10.2f s %12s\n", "transfer (Hot Start to idle)", wall / 1000.0, "");
        std::printf("%-34s %10.1f %% %12s\n", "host CPU during the transfer", 100.0 * cpu / wall, "");
        std::printf("%-34s %9.3f ms %12s\n", "host CPU per GWR frame (transfer)",
                    gaps.empty() ? 0.0 : cpu / static_cast<double>(timed.sweep.size()), "");
        std::printf("%-34s %12d %12d\n", "devices with the exact image", good, devices);
        if (!ended || status != 0 || good != devices) {
            std::fprintf(stderr, "integration_bench: the transfer did not complete (ended %d, simulator status %d)\n",
                         int(ended), status);
            result = 1;
        }
        host.window->close();
        host.window.reset();
    }
    return result;
}
