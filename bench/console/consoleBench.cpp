// Measures the idle program and the event log view:
//  - ticks of the host cycle timer per second, and the CPU the idle program
//    uses, with the real window, clock and stack running its 1 ms timer;
//  - the cost of one log line in the view at the start, and once the view
//    holds 200,000 lines (where it begins to drop the oldest), with the
//    window on screen and the event loop (painting included) run every 100
//    lines as the host cycle would let it run.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "console/logView.h"
#include "console/mainWindow.h"

using namespace dorvane;
using namespace dorvane::console;

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long residentKiB() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * 4;
}

// Accepts every box, so the measurement never waits for an operator.
class NoDialogs final : public IDialogs {
public:
    bool messageBox(BoxKind, BoxButtons, const std::string& text) override {
        std::fprintf(stderr, "box: %s\n", text.c_str());
        return true;
    }
    bool openFile(const FileDialogPreset&, std::string&) override { return false; }
};

// The event loop as the program runs it, for a while.
void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void idle(double seconds) {
    QTemporaryDir dir;
    QFile catalogue(dir.filePath(QStringLiteral("LoRaHostEmbeddedProducts.json")));
    catalogue.open(QIODevice::WriteOnly);
    catalogue.write("\"embedded product name\": \"PROD\",\n\"transfer buffer size\": 64,\n"
                    "\"displayed product name\": \"Product\"\n");
    catalogue.close();
    NoDialogs dialogs;
    ConsoleEnvironment environment;
    environment.executableDirectory = QFile::encodeName(dir.path()).toStdString();
    environment.dialogs = &dialogs;
    TFMain window(environment);
    window.show();
    while (!window.startupDone()) QCoreApplication::processEvents();
    // Let the first cycles (start-up log lines) pass.
    runFor(300);

    const std::uint64_t ticks0 = window.tickCount();
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    runFor(static_cast<int>(seconds * 1000));
    const double elapsed = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpu0;
    const double ticks = static_cast<double>(window.tickCount() - ticks0);
    std::printf("idle program (%.1f s): %.0f ticks/s, CPU %.1f %% of one core\n", elapsed, ticks / elapsed,
                100.0 * cpu / elapsed);
    window.close();
}

const char* kLines[] = {
    "SSTP - App Host : MSG GWR TRS - Sending frame n\xB0%u",
    "SSTP - App Host : MSG HFL RCV + Status OK",
    "SSTP - App Host : MSG ELO TRS",
    "SSTP - Mac : Write Error",
};

// Microseconds per line over `count` lines, the event loop run every 100 lines.
double appendLines(LogView& view, int count, int& serial, double* worst) {
    char line[200];
    QElapsedTimer t;
    t.start();
    qint64 last = 0;
    for (int i = 0; i < count; ++i, ++serial) {
        std::snprintf(line, sizeof line, "24/05/2023 14:03:27 : ");
        std::snprintf(line + 22, sizeof line - 22, kLines[serial % 4], static_cast<unsigned>(serial));
        view.appendLine(line, static_cast<LogColour>(serial % 8));
        if (i % 100 == 99) QCoreApplication::processEvents();
        if (worst != nullptr) {
            const qint64 now = t.nsecsElapsed();
            *worst = std::max(*worst, static_cast<double>(now - last) / 1000.0);
            last = now;
        }
    }
    return static_cast<double>(t.nsecsElapsed()) / 1000.0 / count;
}

void logView() {
    QWidget window;
    window.resize(789, 522);
    LogView view(&window);
    view.setGeometry(3, 255, 782, 176);
    window.show();
    QCoreApplication::processEvents();
    const long rss0 = residentKiB();
    int serial = 0;
    const double first = appendLines(view, 2000, serial, nullptr);
    std::printf("log view, first 2,000 lines: %.1f us/line\n", first);
    QElapsedTimer fill;
    fill.start();
    appendLines(view, LogView::kMaxLines - serial, serial, nullptr);
    std::printf("log view, filled to %d lines in %.1f s; resident memory +%ld MiB\n", view.lineCount(),
                static_cast<double>(fill.elapsed()) / 1000.0, (residentKiB() - rss0) / 1024);
    double worst = 0;
    const double after = appendLines(view, 10000, serial, &worst);
    std::printf("log view, 10,000 lines past 200,000 (oldest dropped %d at a time): %.1f us/line, "
                "slowest single line %.1f ms\n",
                LogView::kTrimChunk, after, worst / 1000.0);
    std::printf("log view now holds %d lines; resident memory +%ld MiB\n", view.lineCount(),
                (residentKiB() - rss0) / 1024);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    idle(seconds > 0 ? seconds : 5.0);
    logView();
    return 0;
}
