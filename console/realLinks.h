// The real device links behind the window's link seam: the dongle's serial
// port with its AT-command configuration, and the UDP loopback link to a
// device simulator. Received bytes go to the App Host's Phy receive entry.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>

#include "console/services.h"
#include "links/links.h"

namespace dorvane::console {

class TFMain;

class RealLinks final : public ILinkControl {
public:
    RealLinks(IRandom& random, IClock& clock);

    // Connects the links to the window: its App Host, success-rate box,
    // loopback mode and event log. Call once, before the window is shown.
    void attach(TFMain& window);

    // The directory in which "COMn" names a device node (default /dev).
    void setSerialDirectory(const QString& directory) override { serial_.setDeviceDirectory(directory); }

    ILinkSender& sender() override { return sender_; }
    bool startLoopback(std::uint16_t localPort, std::uint16_t peerPort) override;
    void applyPortSelection(const QString& portName, const QStringList* dongleCommands) override;
    bool isSerialOpen() override { return serial_.isOpen(); }
    QString serialPortName() override { return serial_.portName(); }
    QStringList probePorts() override { return serial_.probe(); }

    SerialLink& serial() { return serial_; }
    UdpLoopbackLink& udp() { return udp_; }
    DongleConfigurator& configurator() { return configurator_; }

private:
    void receive(std::uint8_t count, const std::uint8_t* bytes);
    int successRate() const;
    bool loopbackMode() const;
    void logLine(const char* message);

    TFMain* window_ = nullptr;
    SerialLink serial_;
    UdpLoopbackLink udp_;
    LinkSender sender_;
    DongleConfigurator configurator_;
};

}  // namespace dorvane::console
