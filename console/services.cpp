#include "console/services.h"

#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>
#include <ctime>

namespace dorvane::console {

std::uint32_t MonotonicClock::tickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const std::uint64_t ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

std::uint32_t SeededRandom::random(std::uint32_t n) {
    if (n == 0) return 0;
    std::uniform_int_distribution<std::uint32_t> draw(0, n - 1);
    return draw(engine_);
}

QString longTimeFormat(const QLocale& locale) {
    // Qt's long time format ends with the time zone ("t"); the regional long
    // time of the desktop does not carry one, and the grid's Time column has
    // no room for it.
    QString format = locale.timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == QLatin1Char('\'')) quoted = !quoted;
        if (!quoted && c == QLatin1Char('t')) {
            while (i + 1 < format.size() && format[i + 1] == QLatin1Char('t')) ++i;
            continue;
        }
        out += c;
    }
    return out.trimmed();
}

std::string dateTimeText(const QDateTime& when, const QLocale& locale) {
    QString text = locale.toString(when.date(), QLocale::ShortFormat);
    const QTime t = when.time();
    if (!(t.hour() == 0 && t.minute() == 0 && t.second() == 0))
        text += QLatin1Char(' ') + locale.toString(t, longTimeFormat(locale));
    return text.toLatin1().toStdString();
}

void LocaleDateTimeText::now(char* out, std::size_t size) {
    if (size == 0) return;
    const std::string text = dateTimeText(QDateTime::currentDateTime(), QLocale::system());
    std::snprintf(out, size, "%s", text.c_str());
}

bool XdgPageOpener::open(const std::string& page) {
    QProcess opener;
    opener.setStandardInputFile(QProcess::nullDevice());
    opener.setProcessChannelMode(QProcess::ForwardedChannels);
    opener.start(QStringLiteral("xdg-open"), {QString::fromLatin1(page.data(), static_cast<qsizetype>(page.size()))});
    if (!opener.waitForStarted(kTimeLimitMs)) return false;
    if (!opener.waitForFinished(kTimeLimitMs)) {
        // Still running after the limit: not known to have succeeded.
        opener.kill();
        opener.waitForFinished(1000);
        return false;
    }
    return opener.exitStatus() == QProcess::NormalExit && opener.exitCode() == 0;
}

ListeningControlServer::ListeningControlServer(QObject* parent) : QObject(parent), server_(new QTcpServer(this)) {
    server_->setMaxPendingConnections(5);
    connect(server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_->nextPendingConnection()) {
            socket->abort();
            socket->deleteLater();
        }
    });
}

ListeningControlServer::~ListeningControlServer() = default;

bool ListeningControlServer::start(std::uint16_t port) {
    if (server_->isListening()) server_->close();
    return server_->listen(QHostAddress::Any, port);
}

bool ListeningControlServer::isRunning() const { return server_->isListening(); }

}  // namespace dorvane::console
