#include "console/realLinks.h"

#include "console/mainWindow.h"

namespace dorvane::console {

RealLinks::RealLinks(IRandom& random, IClock& clock)
    : serial_(random, [this] { return successRate(); },
              [this](std::uint8_t count, const std::uint8_t* bytes) { receive(count, bytes); }),
      udp_(random, [this] { return successRate(); },
           [this](std::uint8_t count, const std::uint8_t* bytes) { receive(count, bytes); }),
      sender_(serial_, udp_, [this] { return loopbackMode(); }),
      configurator_(clock, [this](const char* message) { logLine(message); }) {
    serial_.setConfigurator(&configurator_);
}

void RealLinks::attach(TFMain& window) { window_ = &window; }

void RealLinks::receive(std::uint8_t count, const std::uint8_t* bytes) {
    // Nothing reaches the stack before its first host cycle has set it up.
    if (window_ != nullptr && window_->appHost().firstCycleDone()) window_->appHost().phyReceive(count, bytes);
}

int RealLinks::successRate() const { return window_ != nullptr ? window_->seFault->value() : 100; }

bool RealLinks::loopbackMode() const { return window_ != nullptr && window_->loopbackMode(); }

void RealLinks::logLine(const char* message) {
    if (window_ != nullptr) window_->eventLog().print(1, "%s", message);
}

bool RealLinks::startLoopback(std::uint16_t localPort, std::uint16_t peerPort) {
    udp_.setPeerPort(peerPort);
    return udp_.start(localPort);
}

void RealLinks::applyPortSelection(const QString& portName, const QStringList* dongleCommands) {
    dorvane::applyPortSelection(serial_, configurator_, dongleCommands, portName);
}

}  // namespace dorvane::console
