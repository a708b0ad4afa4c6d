// The program's life around the main window: the single-instance guard, the
// termination signals that close the window as its close box does, and the
// application object that shows an error escaping an event handler.
#pragma once

#include <QApplication>
#include <QObject>

class QSocketNotifier;

namespace dorvane::console {

class IDialogs;

// One instance per machine: an abstract-namespace Unix socket named
// "Dorvane". The kernel releases the name when the process ends, however it
// ends, so a crash never leaves the machine locked.
class SingleInstanceGuard {
public:
    SingleInstanceGuard() = default;
    ~SingleInstanceGuard();
    SingleInstanceGuard(const SingleInstanceGuard&) = delete;
    SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

    // True when this process now holds the name; false when another process
    // holds it or the name cannot be taken.
    bool acquire(const char* name = "Dorvane");

private:
    int fd_ = -1;
};

// SIGTERM, SIGINT and SIGHUP, delivered on the user-interface thread as the
// signal terminationRequested (through a pipe written by the handler).
class TerminationSignals final : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    bool isInstalled() const { return notifier_ != nullptr; }

signals:
    void terminationRequested(int signalNumber);

private:
    void readSignal();
    QSocketNotifier* notifier_ = nullptr;
};

// The application: an error that escapes the handling of an event is shown
// in an error box and the program goes on.
class DorvaneApplication final : public QApplication {
    Q_OBJECT
public:
    DorvaneApplication(int& argc, char** argv);
    void setDialogs(IDialogs* dialogs) { dialogs_ = dialogs; }
    bool notify(QObject* receiver, QEvent* event) override;

private:
    IDialogs* dialogs_ = nullptr;
};

// The whole program: guard, application, window, message loop. Returns 0.
int runProgram(int argc, char** argv);

}  // namespace dorvane::console
