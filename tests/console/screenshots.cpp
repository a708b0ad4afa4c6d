// Renders the main window in three states and saves them as PNG files:
// idle with devices in the grid, counting down, and transferring with the
// progress bar. The devices are real hellos fed to the window's App Host and
// the transfer is a real download sequence answered by those devices.
//
//   QT_QPA_PLATFORM=offscreen console_screenshots <output directory>
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QTimer>

#include <cstdio>

#include "tests/console/consoleTestSupport.h"

using namespace dorvane;
using namespace dorvane::console;
using namespace dorvane::console::test;

namespace {

void settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

// Host cycles on the test clock, 1 ms each.
void run(TFMain& window, WindowRig& rig, int ms) {
    for (int i = 0; i < ms; ++i) {
        rig.clock.advance(1);
        window.TimerSysTimer();
    }
    settle();
}

bool save(TFMain& window, const QString& path) {
    settle();
    const bool ok = window.grab().save(path, "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    QDir().mkpath(out);

    ProgramDirectory directory;
    directory.writeCatalogue();
    directory.writeConfig("[HOST]\nAuthorization=1\n[DEVICE]\nTransfert Mode=0\n");
    directory.write(QStringLiteral("V1.2.3.4_PROD.txt"), plainImage(40));

    WindowRig rig(directory);
    TFMain window(rig.environment);
    window.show();
    while (!window.startupDone()) QCoreApplication::processEvents();
    window.TimerSys->stop();  // the screenshots drive the host cycle on their own clock
    window.cbFoTaPortList->addItems({QStringLiteral("COM1"), QStringLiteral("COM3")});
    window.cbFoTaPortList->setEditText(QStringLiteral("COM3"));
    run(window, rig, 5);

    std::string message;
    const std::string image = directory.path() + "/V1.2.3.4_PROD.txt";
    if (!window.loader().load(true, false, image, "", message)) {
        std::fprintf(stderr, "load failed: %s\n", message.c_str());
        return 1;
    }
    const std::uint8_t* host = window.hostSettings().hostAddress;
    const std::uint8_t devices[6][8] = {
        {0x70, 0xB3, 0xD5, 0x7E, 0xD0, 0x00, 0x10, 0x01}, {0x70, 0xB3, 0xD5, 0x7E, 0xD0, 0x00, 0x10, 0x02},
        {0x70, 0xB3, 0xD5, 0x7E, 0xD0, 0x00, 0x10, 0x03}, {0x70, 0xB3, 0xD5, 0x7E, 0xD0, 0x00, 0x10, 0x04},
        {0x70, 0xB3, 0xD5, 0x7E, 0xD0, 0x00, 0x10, 0x05}, {0x70, 0xB3, 0xD5, 0x7E, 0xD0, 0x00, 0x10, 0x06},
    };
    // Unauthorized: an eligible device shows "Off"; a device that already
    // runs the image, and one of another product, show "No".
    feed(window, helloFrame(devices[0], host, 3));
    run(window, rig, 400);
    feed(window, helloFrame(devices[1], host, 4));
    run(window, rig, 300);
    feed(window, helloFrame(devices[2], host, 1, "OTHER"));
    run(window, rig, 300);
    feed(window, helloFrame(devices[3], host, 2));
    run(window, rig, 300);
    if (!save(window, out + QStringLiteral("/console-idle.png"))) return 1;

    // Authorized: the next hellos are admitted and the countdown runs.
    window.cxAuthorizationMouseDown();
    feed(window, helloFrame(devices[4], host, 3));
    run(window, rig, 200);
    feed(window, helloFrame(devices[5], host, 2));
    run(window, rig, 200);
    feed(window, helloFrame(devices[0], host, 3));
    run(window, rig, 23000);
    if (!save(window, out + QStringLiteral("/console-countdown.png"))) return 1;

    // Hot Start, then the devices answer HER and HES and the broadcast runs.
    window.cxStartMouseDown();
    dorvane::test::DeviceFrames answerer(devices[4]);
    for (int guard = 0; guard < 200000; ++guard) {
        const auto step = window.appHost().step();
        if (window.appHost().state() == AppHost::kTransferring && step == AppHost::kStepHerWait)
            feed(window, answerer.answer(host, kMsgHER, 0, 0));
        else if (window.appHost().state() == AppHost::kTransferring && step == AppHost::kStepHesWait)
            feed(window, answerer.answer(host, kMsgHES, 2, 0));
        run(window, rig, 1);
        if (step == AppHost::kStepGwrSweep && window.appHost().framesSent() >= 23) break;
    }
    if (!window.cxProgressBar->isVisible()) {
        std::fprintf(stderr, "the transfer did not start\n");
        return 1;
    }
    if (!save(window, out + QStringLiteral("/console-transfer.png"))) return 1;
    return 0;
}
