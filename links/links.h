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
// Device paths of the machine's own serial ports, for the port probe.
using SystemPortsFn = std::function<QStringList()>;

class DongleConfigurator;

// `FoTaComPort`: 57,600 baud 8N1, no flow control, DTR/RTS off (best effort).
// "COMn" names the node COMn in the serial device directory (default /dev);
// a name that begins with "/" is a device path used as written.
//
// Any port error (the device went away, a read or write failed) closes the
// port at once, so a vanished device neither spins the event loop nor keeps
// failing writes; callers see it as isOpen() == false.
class SerialLink : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxComNumber = 255;

    SerialLink(IRandom& random, SuccessRateFn successRate, PhyReceiveFn phyReceive, QObject* parent = nullptr);
    ~SerialLink() override;

    void setDeviceDirectory(const QString& directory);
    QString deviceDirectory() const;
    // The device path a port name stands for ("" for an empty name). A name
    // that does not begin with "/" is a node of the device directory.
    QString devicePath(const QString& portName) const;

    void setPortName(const QString& name);  // design-time name "COM1"
    QString portName() const;
    bool open();  // silent: false on failure; an open port is closed first
    void close();
    bool isOpen() const;
    // Writes the bytes as one block and hands them to the driver at once;
    // false when not open or the write fails.
    bool write(const std::uint8_t* bytes, std::size_t count);

    // Changes at every open and close (including a close after an error): a
    // dialogue that notes it can tell that its port was closed or reopened.
    std::uint32_t session() const;

    // While a configurator is attached and configuring, received bytes go to
    // its reply buffer instead of the stack.
    void setConfigurator(DongleConfigurator* configurator);
    DongleConfigurator* configurator() const;

    // The port probe behind `cbFoTaPortList`: COM1..COM255 (each opened and
    // closed), then those of the system's own serial ports that open and are
    // not already listed under a COM name. Leaves the link closed, with its
    // port name unchanged.
    QStringList probe();
    // Where probe() finds the system's own ports; defaultSystemPorts() unless set.
    void setSystemPorts(SystemPortsFn systemPorts);
    // The serial ports Qt knows of, then the /dev/serial/by-id names.
    static QStringList defaultSystemPorts();

    // The control server's port list: COM1..COM255 that open on a probe port of
    // their own, without disturbing this link, plus this link's own name when
    // it is one of them (it cannot be opened twice while the link holds it).
    QStringList controlServerPortList() const;

    // The receive event: reads what is waiting (when the draw passes) and hands
    // it on. Bytes for the stack go one at a time, so frames that arrive
    // together all reach the frame layer.
    void FoTaComPortRxChar();

signals:
    // The port was closed because of an error (for instance, unplugged).
    void closedOnError();

private:
    void onError(int error);

    struct Impl;
    std::unique_ptr<Impl> d_;
};

// `IdUDPServer`: listens on the local port; frames go to 127.0.0.1 at the peer
// port from the same socket; one datagram per frame, at most 255 bytes read.
class UdpLoopbackLink : public QObject {
    Q_OBJECT
public:
    static constexpr std::uint16_t kDefaultLocalPort = 57000;
    static constexpr std::uint16_t kDefaultPeerPort = 56700;

    UdpLoopbackLink(IRandom& random, SuccessRateFn successRate, PhyReceiveFn phyReceive, QObject* parent = nullptr);
    ~UdpLoopbackLink() override;

    // Binds all local IPv4 addresses at the port (0 picks a free one). False
    // when the port cannot be bound; the port number is kept either way.
    bool start(std::uint16_t localPort);
    void stop();
    bool isActive() const;
    // The configured local port (what start() was given, or setLocalPort()).
    std::uint16_t localPort() const;
    void setLocalPort(std::uint16_t port);
    // The port actually bound while active (differs from localPort() for 0), else 0.
    std::uint16_t boundPort() const;
    void setPeerPort(std::uint16_t port);
    std::uint16_t peerPort() const;
    // One datagram to 127.0.0.1 at the peer port; false when not active or it fails.
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
    // Escapes tried again after an answered "ATO" before the dialogue gives up.
    static constexpr int kMaxEscapeRetries = 3;
    static constexpr std::size_t kReplyBufferSize = 512;
    // The one log line of a failed dialogue; %s is the port name.
    static constexpr const char* kNoAnswerFormat = "Dongle : the dongle on %s did not answer";

    DongleConfigurator(IClock& clock, LogLineFn logLine);
    ~DongleConfigurator();
    DongleConfigurator(const DongleConfigurator&) = delete;
    DongleConfigurator& operator=(const DongleConfigurator&) = delete;

    // What every wait calls to let the user interface run. The default handles
    // pending events, sleeping until the next event or 1 ms at most, so the
    // waits neither spin nor delay the host cycle.
    void setEventPump(std::function<void()> pump);

    // commands may be null (no dongle command list): then, or when the port is
    // not open, nothing is sent and the result is false. A dialogue that runs
    // and fails writes one line to the log. The configurator attaches itself
    // to the port for the dialogue.
    bool configure(const QStringList* commands, SerialLink& port);
    bool isConfiguring() const;
    // Bytes received while configuring; when 512 or more would be held, the
    // buffer is emptied and these bytes dropped.
    void append(const std::uint8_t* bytes, std::size_t count);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// Apply port selection: close the link, name it, open it, configure the dongle.
void applyPortSelection(SerialLink& link, DongleConfigurator& configurator, const QStringList* commands,
                        const QString& portName);

}  // namespace dorvane
