// The device links: the serial link to the dongle, the UDP loopback link to a
// device simulator, the link send routine that picks between them, and the
// dongle's AT-command configuration. Qt classes; everything runs on the
// user-interface thread.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

#include "protocol/ports.h"

class QSerialPort;
class QUdpSocket;

namespace dorvane {

// Hands received bytes to the stack's Phy receive entry (chunks of 1..255).
using PhyReceiveFn = std::function<void(std::uint8_t count, const std::uint8_t* bytes)>;
// The success-rate box's current value, 0..100.
using SuccessRateFn = std::function<int()>;
// Writes one message to the event log (the log adds the time stamp).
using LogLineFn = std::function<void(const char* message)>;

class DongleConfigurator;

// `FoTaComPort`: 57,600 baud 8N1, no flow control, DTR/RTS off (best effort).
// "COMn" names the node COMn in the serial device directory (default /dev);
// a name that begins with "/" is a device path used as written.
class SerialLink : public QObject {
    Q_OBJECT
public:
    SerialLink(IRandom& random, SuccessRateFn successRate, PhyReceiveFn phyReceive, QObject* parent = nullptr);
    ~SerialLink() override;

    void setDeviceDirectory(const QString& directory);
    QString deviceDirectory() const;
    // The device path a port name stands for.
    QString devicePath(const QString& portName) const;

    void setPortName(const QString& name);
    QString portName() const;
    bool open();  // silent: false on failure
    void close();
    bool isOpen() const;
    // Writes the bytes as one block; false when not open or the write fails.
    bool write(const std::uint8_t* bytes, std::size_t count);

    // While a configurator is attached and configuring, received bytes go to
    // its reply buffer instead of the stack.
    void setConfigurator(DongleConfigurator* configurator);

    // The port probe behind `cbFoTaPortList`: COM1..COM255 (each opened and
    // closed), then the system's own serial ports. Leaves the link closed.
    QStringList probe();

    // The receive event: reads what is waiting (when the draw passes) and hands
    // it on in pieces of at most 255 bytes.
    void FoTaComPortRxChar();

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// `IdUDPServer`: listens on the local port; frames go to 127.0.0.1 at the peer
// port from the same socket; one datagram per frame, at most 255 bytes read.
class UdpLoopbackLink : public QObject {
    Q_OBJECT
public:
    UdpLoopbackLink(IRandom& random, SuccessRateFn successRate, PhyReceiveFn phyReceive, QObject* parent = nullptr);
    ~UdpLoopbackLink() override;

    bool start(std::uint16_t localPort);  // false when the port cannot be bound
    void stop();
    bool isActive() const;
    std::uint16_t localPort() const;
    void setPeerPort(std::uint16_t port);
    std::uint16_t peerPort() const;
    bool send(const std::uint8_t* bytes, std::size_t count);

    // The read event: loops over every pending datagram.
    void IdUDPServerUDPRead();

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// The one link send routine the Phy layer calls: UDP in loopback mode, the
// serial port otherwise. Failures are swallowed; it always returns true.
class LinkSender final : public ILinkSender {
public:
    LinkSender(SerialLink& serial, UdpLoopbackLink& udp, std::function<bool()> loopbackMode);
    bool send(const std::uint8_t* bytes, std::uint8_t count) override;

private:
    SerialLink& serial_;
    UdpLoopbackLink& udp_;
    std::function<bool()> loopbackMode_;
};

// The AT-command dialogue with the dongle: escape after the guard time, the
// "ATS5" lines of the command list, "ATO". Every wait lets the user interface
// run (the host cycle keeps ticking, received bytes keep flowing in).
class DongleConfigurator {
public:
    static constexpr std::uint32_t kGuardTimeMs = 192;
    static constexpr std::uint32_t kCharacterGapMs = 96;
    static constexpr std::uint32_t kReplyTimeMs = 384;
    static constexpr int kMaxEscapeRetries = 3;

    DongleConfigurator(IClock& clock, LogLineFn logLine);

    // commands may be null (no dongle command list).
    bool configure(const QStringList* commands, SerialLink& port);
    bool isConfiguring() const;
    void append(const std::uint8_t* bytes, std::size_t count);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// Apply port selection: close the link, name it, open it, configure the dongle.
void applyPortSelection(SerialLink& link, DongleConfigurator& configurator, const QStringList* commands,
                        const QString& portName);

}  // namespace dorvane
