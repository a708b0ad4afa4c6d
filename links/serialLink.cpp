#include <QDir>
#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>

#include "links/links.h"

namespace dorvane {

namespace {

constexpr qint32 kBaudRate = 57600;
constexpr qint64 kReceivePiece = 255;

void applyLineSettings(QSerialPort& port) {
    port.setBaudRate(kBaudRate);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
}

// Opens and closes a port on the given probe port; true when it opened.
bool opens(QSerialPort& probePort, const QString& path) {
    // A missing node cannot open; skipping the attempt keeps the probe of 255
    // names quick (each failed open costs the port a lock-file round).
    if (path.isEmpty() || !QFileInfo::exists(path)) return false;
    probePort.setPortName(path);
    applyLineSettings(probePort);
    const bool ok = probePort.open(QIODevice::ReadWrite);
    if (ok) probePort.close();
    probePort.clearError();
    return ok;
}

QString comName(int n) { return QStringLiteral("COM%1").arg(n); }

QString canonical(const QString& path) {
    const QString c = QFileInfo(path).canonicalFilePath();
    return c.isEmpty() ? path : c;
}

}  // namespace

struct SerialLink::Impl {
    Impl(IRandom& r, SuccessRateFn rate, PhyReceiveFn phy) : random(r), successRate(std::move(rate)), phyReceive(std::move(phy)) {}

    IRandom& random;
    SuccessRateFn successRate;
    PhyReceiveFn phyReceive;
    SystemPortsFn systemPorts;
    QSerialPort* port = nullptr;  // owned through the QObject tree
    QString directory = QStringLiteral("/dev");
    QString name = QStringLiteral("COM1");
    DongleConfigurator* configurator = nullptr;
    std::uint32_t session = 0;
    bool settingUp = false;  // best-effort line settings: their errors are not port failures
    bool receiving = false;
    std::uint8_t piece[kReceivePiece] = {};
};

SerialLink::SerialLink(IRandom& random, SuccessRateFn successRate, PhyReceiveFn phyReceive, QObject* parent)
    : QObject(parent), d_(std::make_unique<Impl>(random, std::move(successRate), std::move(phyReceive))) {
    d_->port = new QSerialPort(this);
    applyLineSettings(*d_->port);
    connect(d_->port, &QSerialPort::readyRead, this, [this] { FoTaComPortRxChar(); });
    connect(d_->port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) { onError(e); });
}

SerialLink::~SerialLink() {
    // Closing here, while the link is whole, keeps the port's own teardown
    // from calling back into a half-destroyed link.
    d_->port->disconnect(this);
    if (d_->port->isOpen()) d_->port->close();
}

void SerialLink::setDeviceDirectory(const QString& directory) { d_->directory = directory; }
QString SerialLink::deviceDirectory() const { return d_->directory; }

QString SerialLink::devicePath(const QString& portName) const {
    if (portName.isEmpty()) return {};
    if (portName.startsWith(QLatin1Char('/'))) return portName;
    QString dir = d_->directory;
    if (dir.isEmpty()) dir = QStringLiteral("/dev");
    if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
    return dir + portName;
}

void SerialLink::setPortName(const QString& name) { d_->name = name; }
QString SerialLink::portName() const { return d_->name; }

bool SerialLink::open() {
    close();
    const QString path = devicePath(d_->name);
    if (path.isEmpty()) return false;
    QSerialPort& port = *d_->port;
    port.setPortName(path);
    applyLineSettings(port);
    d_->settingUp = true;
    const bool ok = port.open(QIODevice::ReadWrite);
    if (ok) {
        // Pseudo-terminals and some adapters have no modem lines: best effort.
        port.setDataTerminalReady(false);
        port.setRequestToSend(false);
        ++d_->session;
    }
    port.clearError();
    d_->settingUp = false;
    return ok;
}

void SerialLink::close() {
    if (!d_->port->isOpen()) return;
    d_->port->close();
    ++d_->session;
}

bool SerialLink::isOpen() const { return d_->port->isOpen(); }

bool SerialLink::write(const std::uint8_t* bytes, std::size_t count) {
    if (bytes == nullptr || count == 0 || !isOpen()) return false;
    QSerialPort& port = *d_->port;
    const qint64 written = port.write(reinterpret_cast<const char*>(bytes), static_cast<qint64>(count));
    if (written != static_cast<qint64>(count)) return false;
    // Hand the bytes to the driver now rather than at the next event-loop pass,
    // so the dialogue's timing and the frame order hold.
    if (port.isOpen()) port.flush();
    return port.isOpen();
}

std::uint32_t SerialLink::session() const { return d_->session; }

void SerialLink::setConfigurator(DongleConfigurator* configurator) { d_->configurator = configurator; }
DongleConfigurator* SerialLink::configurator() const { return d_->configurator; }

void SerialLink::onError(int error) {
    if (error == QSerialPort::NoError || d_->settingUp) return;
    if (error == QSerialPort::TimeoutError) return;  // a wait that ran out, not a failure
    if (!d_->port->isOpen()) return;
    // A device that went away keeps reporting read errors for as long as the
    // port stays open; closing it ends that.
    d_->port->close();
    ++d_->session;
    emit closedOnError();
}

void SerialLink::FoTaComPortRxChar() {
    QSerialPort& port = *d_->port;
    if (d_->receiving || !port.isOpen() || port.bytesAvailable() <= 0) return;
    d_->receiving = true;
    DongleConfigurator* configurator = d_->configurator;
    if (configurator != nullptr && configurator->isConfiguring()) {
        // The dialogue's replies: no draw, nothing for the stack.
        while (port.isOpen() && port.bytesAvailable() > 0) {
            const qint64 n = port.read(reinterpret_cast<char*>(d_->piece), kReceivePiece);
            if (n <= 0) break;
            configurator->append(d_->piece, static_cast<std::size_t>(n));
        }
    } else {
        const int rate = d_->successRate ? d_->successRate() : 100;
        const std::uint32_t r = d_->random.random(100);
        if (static_cast<int>(r) < rate) {
            // Every waiting byte, in pieces of the receive buffer. The frame
            // layer keeps only the first frame of a chunk and drops a chunk that
            // would overflow its buffer, so it is fed one byte at a time: two
            // frames in one read, or a backlog, all reach it.
            while (port.isOpen() && port.bytesAvailable() > 0) {
                const qint64 n = port.read(reinterpret_cast<char*>(d_->piece), kReceivePiece);
                if (n <= 0) break;
                if (!d_->phyReceive) continue;
                for (qint64 i = 0; i < n; ++i) d_->phyReceive(1, d_->piece + i);
            }
        }
        // Otherwise the bytes stay waiting for the next receive event.
    }
    d_->receiving = false;
}

void SerialLink::setSystemPorts(SystemPortsFn systemPorts) { d_->systemPorts = std::move(systemPorts); }

QStringList SerialLink::defaultSystemPorts() {
    QStringList paths;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) paths << info.systemLocation();
    QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QString& entry : byId.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name))
        paths << byId.absoluteFilePath(entry);
    return paths;
}

QStringList SerialLink::probe() {
    close();
    QStringList found;
    QStringList foundDevices;  // canonical paths of what is listed
    QSerialPort probePort;
    for (int n = 1; n <= kMaxComNumber; ++n) {
        const QString name = comName(n);
        const QString path = devicePath(name);
        if (opens(probePort, path)) {
            found << name;
            foundDevices << canonical(path);
        }
    }
    const QStringList system = d_->systemPorts ? d_->systemPorts() : defaultSystemPorts();
    for (const QString& path : system) {
        if (path.isEmpty() || found.contains(path)) continue;
        const QString device = canonical(path);
        // A device the operator already reaches by a COM name is not listed twice.
        bool underComName = false;
        for (int i = 0; i < found.size(); ++i)
            if (found[i].startsWith(QLatin1String("COM")) && foundDevices[i] == device) underComName = true;
        if (underComName) continue;
        if (opens(probePort, path)) {
            found << path;
            foundDevices << device;
        }
    }
    return found;
}

QStringList SerialLink::controlServerPortList() const {
    QStringList found;
    QSerialPort probePort;
    for (int n = 1; n <= kMaxComNumber; ++n) {
        const QString name = comName(n);
        if (opens(probePort, devicePath(name)) || name == d_->name) found << name;
    }
    return found;
}

}  // namespace dorvane
