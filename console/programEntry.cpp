#include "console/programEntry.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <exception>
#include <memory>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "console/dialogs.h"
#include "console/mainWindow.h"
#include "console/realLinks.h"

namespace dorvane::console {

namespace {

int signalPipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int signalNumber) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (signalPipe[1] >= 0) {
        const ssize_t written = ::write(signalPipe[1], &byte, 1);
        (void)written;
    }
    errno = saved;
}

constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

}  // namespace

SingleInstanceGuard::~SingleInstanceGuard() {
    if (fd_ >= 0) ::close(fd_);
}

bool SingleInstanceGuard::acquire(const char* name) {
    if (fd_ >= 0) return true;
    const std::size_t length = std::strlen(name);
    sockaddr_un address{};
    if (length == 0 || length + 1 > sizeof address.sun_path) return false;
    // Not inherited by the processes the program starts (the page opener).
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    address.sun_family = AF_UNIX;
    address.sun_path[0] = '\0';  // abstract namespace: no file, released with the process
    std::memcpy(address.sun_path + 1, name, length);
    const socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        signalPipe[0] = signalPipe[1] = -1;
        return;
    }
    notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::readSignal);
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : kTerminationSignals) sigaction(s, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
    if (notifier_ == nullptr) return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int s : kTerminationSignals) sigaction(s, &action, nullptr);
}

void TerminationSignals::readSignal() {
    unsigned char byte = 0;
    while (::read(signalPipe[0], &byte, 1) == 1) emit terminationRequested(byte);
}

DorvaneApplication::DorvaneApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool DorvaneApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        if (dialogs_ != nullptr) dialogs_->messageBox(BoxKind::Error, BoxButtons::Ok, e.what());
    } catch (...) {
        if (dialogs_ != nullptr) dialogs_->messageBox(BoxKind::Error, BoxButtons::Ok, "Unexpected error");
    }
    return false;
}

int runProgram(int argc, char** argv) {
    SingleInstanceGuard guard;
    if (!guard.acquire()) return 0;  // another instance runs on this machine: silently

    DorvaneApplication app(argc, argv);
    QCoreApplication::setApplicationName(QString::fromLatin1(kProductName));
    QtDialogs dialogs;
    app.setDialogs(&dialogs);
    TerminationSignals termination;
    try {
        ConsoleEnvironment environment;
        environment.executableDirectory = QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString();
        environment.arguments = QCoreApplication::arguments().mid(1);
        environment.dialogs = &dialogs;
        // The links outlive the window: its shutdown still asks them for the
        // serial port's name.
        std::unique_ptr<RealLinks> links;
        TFMain FMain(environment);
        links = std::make_unique<RealLinks>(FMain.randomSource(), FMain.clockSource());
        links->attach(FMain);
        FMain.setLinks(*links);
        dialogs.setParent(&FMain);
        // A service manager or a terminal stops the program: close the window
        // as its close box does (the shutdown runs), then leave every event
        // loop, a modal box's included.
        QObject::connect(&termination, &TerminationSignals::terminationRequested, &FMain, [&FMain](int) {
            FMain.close();
            QCoreApplication::exit(0);
        });
        FMain.show();
        QApplication::exec();
        dialogs.setParent(nullptr);
    } catch (const std::exception& e) {
        dialogs.setParent(nullptr);
        dialogs.messageBox(BoxKind::Error, BoxButtons::Ok, e.what());
    } catch (...) {
        dialogs.setParent(nullptr);
        dialogs.messageBox(BoxKind::Error, BoxButtons::Ok, "Unexpected error");
    }
    return 0;
}

}  // namespace dorvane::console
