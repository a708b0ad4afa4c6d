// What the main window needs from the platform and from parts that are
// plugged in later: the tick count, random(n), the date-and-time text, the
// desktop's opener for the supervising page, the HTTP control server's start,
// and the device links.
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <random>
#include <string>

#include "protocol/ports.h"

class QTcpServer;

namespace dorvane::console {

// Milliseconds since the system started (CLOCK_MONOTONIC), 32-bit, wrapping.
class MonotonicClock final : public IClock {
public:
    std::uint32_t tickCount() override;
};

// random(n), seeded once at start-up from the calendar time.
class SeededRandom final : public IRandom {
public:
    void seed(std::uint32_t value) { engine_.seed(value); }
    std::uint32_t random(std::uint32_t n) override;

private:
    std::mt19937 engine_{1};
};

// The locale's long time format without its time-zone field.
QString longTimeFormat(const QLocale& locale);
// The locale's short date, a blank and its long time; the time is left out
// at exactly 00:00:00. Single-byte (Latin-1) text.
std::string dateTimeText(const QDateTime& when, const QLocale& locale);

class LocaleDateTimeText final : public IDateTimeText {
public:
    void now(char* out, std::size_t size) override;
};

// Opens the supervising page with the desktop's default handler.
class IPageOpener {
public:
    virtual ~IPageOpener() = default;
    // True when the page was handed to the handler with success.
    virtual bool open(const std::string& page) = 0;
};

// Runs "xdg-open page" and counts the page as opened when the opener started
// and exited with status 0 within the time limit. The opener is looked up on
// the PATH.
class XdgPageOpener final : public IPageOpener {
public:
    static constexpr int kTimeLimitMs = 15000;
    bool open(const std::string& page) override;
};

// The HTTP control server, as far as the start-up is concerned.
class IControlServer {
public:
    virtual ~IControlServer() = default;
    // Starts listening on the port; false when it cannot.
    virtual bool start(std::uint16_t port) = 0;
    virtual bool isRunning() const = 0;
};

// Holds the control server's port until the HTTP control server itself is
// plugged in: it listens on all addresses (so a port that another program
// holds fails the start as the real server would) and closes every
// connection it accepts without an answer.
class ListeningControlServer final : public QObject, public IControlServer {
    Q_OBJECT
public:
    explicit ListeningControlServer(QObject* parent = nullptr);
    ~ListeningControlServer() override;
    bool start(std::uint16_t port) override;
    bool isRunning() const override;

private:
    QTcpServer* server_;
};

// The device links as the main window drives them: the start-up link set-up,
// the port selection box's two actions and the values written back at close.
// LinkSeam below is what the window uses until the links are plugged in.
class ILinkControl {
public:
    virtual ~ILinkControl() = default;
    // The one link send routine the App Host sends through.
    virtual ILinkSender& sender() = 0;
    // Loopback mode at start-up: listen on the local port, send to the peer port.
    virtual bool startLoopback(std::uint16_t localPort, std::uint16_t peerPort) = 0;
    // Close the serial port, name it, open it, configure the dongle.
    virtual void applyPortSelection(const QString& portName, const QStringList* dongleCommands) = 0;
    virtual bool isSerialOpen() = 0;
    // The serial port's current name (written back as SYSTEM/COM).
    virtual QString serialPortName() = 0;
    // The port probe behind the selection box.
    virtual QStringList probePorts() = 0;
    // The directory in which a "COMn" name stands for a device node.
    virtual void setSerialDirectory(const QString& /*directory*/) {}
};

// No links: frames go nowhere, the serial port never opens. The serial port
// keeps the name last applied ("COM1" before any).
class LinkSeam final : public ILinkControl {
public:
    class NoSender final : public ILinkSender {
    public:
        bool send(const std::uint8_t*, std::uint8_t) override { return true; }
    };
    ILinkSender& sender() override { return sender_; }
    bool startLoopback(std::uint16_t, std::uint16_t) override { return true; }
    void applyPortSelection(const QString& portName, const QStringList*) override { portName_ = portName; }
    bool isSerialOpen() override { return false; }
    QString serialPortName() override { return portName_; }
    QStringList probePorts() override { return {}; }

private:
    NoSender sender_;
    QString portName_ = QStringLiteral("COM1");
};

}  // namespace dorvane::console
