#include "links/links.h"

namespace dorvane {

LinkSender::LinkSender(SerialLink& serial, UdpLoopbackLink& udp, std::function<bool()> loopbackMode)
    : serial_(serial), udp_(udp), loopbackMode_(std::move(loopbackMode)) {}

bool LinkSender::send(const std::uint8_t* bytes, std::uint8_t count) {
    // A closed port or a socket error loses the frame without a word: the
    // protocol's own time-outs and retries deal with lost frames.
    if (loopbackMode_ && loopbackMode_())
        udp_.send(bytes, count);
    else
        serial_.write(bytes, count);
    return true;
}

void applyPortSelection(SerialLink& link, DongleConfigurator& configurator, const QStringList* commands,
                        const QString& portName) {
    link.close();
    link.setPortName(portName);
    if (!link.open()) return;
    configurator.configure(commands, link);
}

}  // namespace dorvane
