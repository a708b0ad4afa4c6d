#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <cstring>

#include "links/links.h"

namespace dorvane {

namespace {

constexpr std::uint8_t kExpectedReply[3] = {'O', '\r', '\n'};
constexpr std::size_t kAppendPiece = 255;

// One running dialogue: its port, the port's session when it began, and
// whether the port failed or was replaced under it.
struct Dialogue {
    SerialLink& port;
    std::uint32_t session;
    bool portFailed = false;
};

}  // namespace

struct DongleConfigurator::Impl {
    Impl(IClock& c, LogLineFn l) : clock(c), logLine(std::move(l)) {}

    IClock& clock;
    LogLineFn logLine;
    std::function<void()> pump;  // empty: the default pump
    QTimer wake;                 // bounds the default pump's sleep
    int depth = 0;               // dialogues running (one may start inside another's wait)
    std::uint8_t reply[kReplyBufferSize] = {};
    std::uint16_t fill = 0;

    void pumpOnce(Dialogue& dialogue);
    bool wait(Dialogue& dialogue, std::uint32_t start, std::uint32_t ms);
    bool replyWait(Dialogue& dialogue, std::uint32_t limit);
    bool send(Dialogue& dialogue, const char* text);
    bool send(Dialogue& dialogue, const QByteArray& bytes);
    bool escape(Dialogue& dialogue);
    bool run(const QStringList& commands, Dialogue& dialogue);
};

void DongleConfigurator::Impl::pumpOnce(Dialogue& dialogue) {
    if (pump) {
        pump();
    } else {
        // Sleeps until an event comes (received bytes among them) or the 1 ms
        // wake timer fires: the waits neither spin nor lag.
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    if (!dialogue.port.isOpen() || dialogue.port.session() != dialogue.session) {
        dialogue.portFailed = true;
        return;
    }
    // The receive event is also delivered by the pump; reading here as well
    // makes sure nothing waits in the port while the dialogue looks for replies.
    dialogue.port.FoTaComPortRxChar();
}

bool DongleConfigurator::Impl::wait(Dialogue& dialogue, std::uint32_t start, std::uint32_t ms) {
    while (static_cast<std::uint32_t>(clock.tickCount() - start) < ms) {
        pumpOnce(dialogue);
        if (dialogue.portFailed) return false;
    }
    return true;
}

bool DongleConfigurator::Impl::replyWait(Dialogue& dialogue, std::uint32_t limit) {
    const std::uint32_t t0 = clock.tickCount();
    int match = 0;  // survives the passes: a reply may come in pieces
    for (;;) {
        for (std::uint16_t i = 0; i < fill; ++i) {
            const std::uint8_t b = reply[i];
            if (b == kExpectedReply[match]) {
                if (++match == 3) {
                    fill = 0;
                    return true;
                }
            } else {
                // The byte that broke a partial match may begin the reply
                // itself: "O O CR LF" holds the reply.
                match = (b == kExpectedReply[0]) ? 1 : 0;
            }
        }
        fill = 0;
        pumpOnce(dialogue);
        if (dialogue.portFailed) break;
        // Elapsed time, so that a wrap of the tick count does not cut the wait short.
        if (static_cast<std::uint32_t>(clock.tickCount() - t0) >= limit) break;
    }
    fill = 0;
    return false;
}

bool DongleConfigurator::Impl::send(Dialogue& dialogue, const QByteArray& bytes) {
    if (!dialogue.port.isOpen() || dialogue.port.session() != dialogue.session ||
        !dialogue.port.write(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                             static_cast<std::size_t>(bytes.size())))
        dialogue.portFailed = true;
    return !dialogue.portFailed;
}

bool DongleConfigurator::Impl::send(Dialogue& dialogue, const char* text) {
    return send(dialogue, QByteArray(text));
}

bool DongleConfigurator::Impl::escape(Dialogue& dialogue) {
    if (!wait(dialogue, clock.tickCount(), kGuardTimeMs)) return false;
    fill = 0;
    for (int i = 0; i < 3; ++i) {
        const std::uint32_t start = clock.tickCount();
        if (!send(dialogue, "+")) return false;
        if (!wait(dialogue, start, kCharacterGapMs)) return false;
    }
    return true;
}

bool DongleConfigurator::Impl::run(const QStringList& commands, Dialogue& dialogue) {
    for (int retries = 0;; ++retries) {
        if (!escape(dialogue)) return false;
        if (replyWait(dialogue, kReplyTimeMs)) break;
        if (dialogue.portFailed) return false;
        // No answer to the escape: perhaps the dongle was in command mode
        // already. Send it back to data mode and try the escape again.
        if (!send(dialogue, "\r\n") || !send(dialogue, "ATO\r\n") || !send(dialogue, "\r\n")) return false;
        if (!replyWait(dialogue, kReplyTimeMs)) return false;
        // A dongle that answers "ATO" but never the escape is given up on.
        if (retries == kMaxEscapeRetries) return false;
    }
    for (const QString& line : commands) {
        if (!line.startsWith(QLatin1String("ATS5"))) break;
        if (!send(dialogue, line.toLatin1()) || !send(dialogue, "\r\n")) return false;
        if (!replyWait(dialogue, kReplyTimeMs)) {
            if (dialogue.portFailed) return false;
            break;  // ends the command lines, not the dialogue
        }
    }
    if (!send(dialogue, "ATO\r\n") || !send(dialogue, "\r\n")) return false;
    return replyWait(dialogue, kReplyTimeMs);
}

DongleConfigurator::DongleConfigurator(IClock& clock, LogLineFn logLine)
    : d_(std::make_unique<Impl>(clock, std::move(logLine))) {
    d_->wake.setInterval(1);
    d_->wake.setTimerType(Qt::PreciseTimer);
}

DongleConfigurator::~DongleConfigurator() = default;

void DongleConfigurator::setEventPump(std::function<void()> pump) { d_->pump = std::move(pump); }

bool DongleConfigurator::configure(const QStringList* commands, SerialLink& port) {
    if (commands == nullptr || !port.isOpen()) return false;
    DongleConfigurator* previous = port.configurator();
    port.setConfigurator(this);
    Dialogue dialogue{port, port.session()};
    if (d_->depth++ == 0 && !d_->pump) d_->wake.start();
    const bool ok = d_->run(*commands, dialogue);
    if (--d_->depth == 0) d_->wake.stop();
    port.setConfigurator(previous);
    // A dialogue whose port was reopened under it (another port selection made
    // during its waits) was superseded; it did not fail on the dongle.
    const bool superseded = port.isOpen() && port.session() != dialogue.session;
    if (!ok && !superseded && d_->logLine) {
        char message[192];
        std::snprintf(message, sizeof message, kNoAnswerFormat, port.portName().toLatin1().constData());
        d_->logLine(message);
    }
    return ok;
}

bool DongleConfigurator::isConfiguring() const { return d_->depth > 0; }

void DongleConfigurator::append(const std::uint8_t* bytes, std::size_t count) {
    if (bytes == nullptr) return;
    while (count > 0) {
        const std::size_t n = count < kAppendPiece ? count : kAppendPiece;
        if (d_->fill + n >= kReplyBufferSize) {
            d_->fill = 0;  // the contents and these bytes are dropped
        } else {
            std::memcpy(d_->reply + d_->fill, bytes, n);
            d_->fill = static_cast<std::uint16_t>(d_->fill + n);
        }
        bytes += n;
        count -= n;
    }
}

}  // namespace dorvane
