// dorvane-dongle: a virtual LoRa radio dongle on a pseudo-terminal.
//
// The host opens the pseudo-terminal (under the link name given with --link,
// for instance <dir>/COM7) as it would the real dongle's serial port. In data
// mode the dongle carries SSTP frames: bytes from the serial line are cut into
// frames (0x24, length L, L bytes, checksum) and each frame goes out as one UDP
// datagram to 127.0.0.1 at the peer port; every datagram that arrives on the
// listen port is written to the serial line. In command mode it takes AT
// commands, one per line, and answers "O" CR LF.
//
// Command mode is entered by the escape: a quiet period of the guard time,
// three "+" each within the guard time of the one before, and the guard time
// of quiet after them. "ATO" returns to data mode.
//
// The log (--log) has one line per event, "<ms> <event> [<detail>]", where ms
// is the CLOCK_MONOTONIC time in milliseconds:
//   rx <hex>          bytes read from the serial line
//   escape            escape recognised, command mode entered
//   cmd <text>        a command line
//   reply <text>      a reply written (CR and LF shown as \r and \n)
//   mode data         back in data mode
//   frame-out <hex>   a frame sent as a datagram
//   frame-in <hex>    a datagram written to the serial line
//   drop <hex>        a datagram dropped (command mode)
//   unplug            the pseudo-terminal is closed
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

enum class Fault { None, Silent, EscapeOnly, DropAto, AtoOnly };

struct Options {
    std::string link;
    int udpPeer = 56700;
    int udpListen = 57000;
    std::string log;
    Fault fault = Fault::None;
    long unplugAfter = -1;
    double guardMs = 150;
};

constexpr std::uint8_t kStartByte = 0x24;
constexpr std::uint8_t kMaxPayload = 93;

int signalPipe[2] = {-1, -1};

void onSignal(int number) {
    const unsigned char b = static_cast<unsigned char>(number);
    (void)!write(signalPipe[1], &b, 1);
}

double nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

std::string hex(const std::uint8_t* bytes, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(n * 2);
    for (std::size_t i = 0; i < n; ++i) {
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 15];
    }
    return s;
}

std::string visible(const std::string& text) {
    std::string s;
    for (char c : text) {
        if (c == '\r') s += "\\r";
        else if (c == '\n') s += "\\n";
        else s += c;
    }
    return s;
}

void usage(FILE* to) {
    std::fprintf(to,
                 "usage: dorvane-dongle [--link PATH] [--udp-peer PORT] [--udp-listen PORT] [--log FILE]\n"
                 "                      [--fault silent|escape-only|drop-ato|ato-only] [--unplug-after N]\n"
                 "                      [--guard MS]\n"
                 "  --link PATH        symbolic link to the pseudo-terminal, e.g. /tmp/dongle/COM7\n"
                 "  --udp-peer PORT    where frames from the serial line go (127.0.0.1, default 56700)\n"
                 "  --udp-listen PORT  where datagrams for the serial line arrive (default 57000, the\n"
                 "                     host's own loopback port, where the device simulator sends; 0: any)\n"
                 "  --log FILE         record every byte and event with its time\n"
                 "  --fault silent       never answers, never leaves data mode\n"
                 "          escape-only  answers the escape and nothing after it\n"
                 "          drop-ato     ignores \"ATO\" (no answer, stays in command mode)\n"
                 "          ato-only     starts in command mode, answers only \"ATO\" and stays there\n"
                 "  --unplug-after N   closes the pseudo-terminal after N data bytes (also on SIGUSR1)\n"
                 "  --guard MS         the escape's guard time (default 150)\n"
                 "Prints one line \"ready pty=... link=... udp-listen=... udp-peer=...\" when ready.\n");
}

bool parsePort(const char* text, int& out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < 0 || v > 65535) return false;
    out = static_cast<int>(v);
    return true;
}

bool parseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char*& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        const char* v = nullptr;
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            std::exit(0);
        } else if (arg == "--link") {
            if (!value(v)) return false;
            o.link = v;
        } else if (arg == "--udp-peer") {
            if (!value(v) || !parsePort(v, o.udpPeer) || o.udpPeer == 0) return false;
        } else if (arg == "--udp-listen") {
            if (!value(v) || !parsePort(v, o.udpListen)) return false;
        } else if (arg == "--log") {
            if (!value(v)) return false;
            o.log = v;
        } else if (arg == "--fault") {
            if (!value(v)) return false;
            const std::string f = v;
            if (f == "silent") o.fault = Fault::Silent;
            else if (f == "escape-only") o.fault = Fault::EscapeOnly;
            else if (f == "drop-ato") o.fault = Fault::DropAto;
            else if (f == "ato-only") o.fault = Fault::AtoOnly;
            else return false;
        } else if (arg == "--unplug-after") {
            if (!value(v)) return false;
            char* end = nullptr;
            o.unplugAfter = std::strtol(v, &end, 10);
            if (end == v || *end != '\0' || o.unplugAfter < 0) return false;
        } else if (arg == "--guard") {
            if (!value(v)) return false;
            char* end = nullptr;
            o.guardMs = std::strtod(v, &end);
            if (end == v || *end != '\0' || o.guardMs <= 0) return false;
        } else {
            return false;
        }
    }
    return true;
}

class Dongle {
public:
    explicit Dongle(const Options& o) : o_(o) {}

    int run();

private:
    void logLine(const char* event, const std::string& detail = {});
    void fromSerial(const std::uint8_t* bytes, std::size_t n, double t);
    void dataByte(std::uint8_t b, double t);
    void commandByte(std::uint8_t b);
    void commandLine(const std::string& line);
    void reply(const std::string& text);
    void toSerial(const std::uint8_t* bytes, std::size_t n);
    void fromUdp();
    void checkEscape(double t);
    [[noreturn]] void unplug();
    void cleanUp();

    const Options& o_;
    FILE* log_ = nullptr;
    int master_ = -1;
    int slave_ = -1;
    int udp_ = -1;
    sockaddr_in peer_{};
    bool commandMode_ = false;
    // Escape tracking.
    double lastByte_ = -1e12;
    double lastPlus_ = 0;
    int plus_ = 0;
    // Frame reassembly (serial -> UDP).
    std::uint8_t frame_[3 + 255] = {};
    std::size_t have_ = 0;
    double lastFrameByte_ = 0;
    // Command mode.
    std::string line_;
    std::map<int, std::string> registers_;
    long dataBytes_ = 0;
};

void Dongle::logLine(const char* event, const std::string& detail) {
    if (log_ == nullptr) return;
    if (detail.empty())
        std::fprintf(log_, "%.3f %s\n", nowMs(), event);
    else
        std::fprintf(log_, "%.3f %s %s\n", nowMs(), event, detail.c_str());
}

void Dongle::toSerial(const std::uint8_t* bytes, std::size_t n) {
    while (n > 0 && master_ >= 0) {
        const ssize_t w = ::write(master_, bytes, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            logLine("overflow", std::to_string(n));  // the host is not reading
            return;
        }
        bytes += w;
        n -= static_cast<std::size_t>(w);
    }
}

void Dongle::reply(const std::string& text) {
    logLine("reply", visible(text));
    toSerial(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

void Dongle::dataByte(std::uint8_t b, double t) {
    if (o_.fault != Fault::Silent && o_.fault != Fault::AtoOnly) {
        if (b == '+') {
            if (plus_ == 0)
                plus_ = (t - lastByte_ >= o_.guardMs) ? 1 : 0;
            else if (plus_ < 3 && t - lastPlus_ < o_.guardMs)
                ++plus_;
            else
                plus_ = 0;
            lastPlus_ = t;
        } else {
            plus_ = 0;
        }
    }
    lastByte_ = t;

    // A partial frame older than the guard time is stale.
    if (have_ > 0 && t - lastFrameByte_ > o_.guardMs) have_ = 0;
    lastFrameByte_ = t;
    if (have_ == 0) {
        if (b == kStartByte) frame_[have_++] = b;
        return;
    }
    frame_[have_++] = b;
    if (have_ == 2 && frame_[1] > kMaxPayload) {
        have_ = 0;
        return;
    }
    if (have_ >= 2 && have_ == static_cast<std::size_t>(frame_[1]) + 3) {
        logLine("frame-out", hex(frame_, have_));
        ::sendto(udp_, frame_, have_, 0, reinterpret_cast<const sockaddr*>(&peer_), sizeof peer_);
        have_ = 0;
    }
}

void Dongle::commandLine(const std::string& line) {
    logLine("cmd", line);
    const bool answers = o_.fault == Fault::None || o_.fault == Fault::DropAto;
    if (line == "ATO" || line == "ATO0") {
        if (o_.fault == Fault::DropAto) return;
        if (o_.fault == Fault::AtoOnly) {
            reply("O\r\n");  // and stays in command mode
            return;
        }
        // Logged before the reply, so that whoever got the reply finds it in the log.
        commandMode_ = false;
        have_ = 0;
        plus_ = 0;
        logLine("mode", "data");
        if (answers) reply("O\r\n");
        return;
    }
    if (line.rfind("ATS", 0) == 0) {
        const std::size_t eq = line.find('=');
        const int reg = std::atoi(line.c_str() + 3);
        if (eq != std::string::npos) {
            registers_[reg] = line.substr(eq + 1);
            if (answers) reply("O\r\n");
        } else if (line.size() > 3 && line.back() == '?') {
            if (answers) reply(registers_[reg] + "\r\nO\r\n");
        } else if (answers) {
            reply("E\r\n");
        }
        return;
    }
    if (line.rfind("AT", 0) == 0) {
        if (answers) reply("O\r\n");
        return;
    }
    if (answers) reply("E\r\n");
}

void Dongle::commandByte(std::uint8_t b) {
    if (b == '\r' || b == '\n') {
        if (!line_.empty()) {
            const std::string line = line_;
            line_.clear();
            commandLine(line);
        }
        return;
    }
    if (line_.size() < 256) line_ += static_cast<char>(b);
}

void Dongle::fromSerial(const std::uint8_t* bytes, std::size_t n, double t) {
    logLine("rx", hex(bytes, n));
    for (std::size_t i = 0; i < n; ++i) {
        if (commandMode_) {
            commandByte(bytes[i]);
        } else {
            dataByte(bytes[i], t);
            ++dataBytes_;
        }
    }
    if (o_.unplugAfter >= 0 && dataBytes_ >= o_.unplugAfter) unplug();
}

void Dongle::checkEscape(double t) {
    if (commandMode_ || plus_ != 3 || t - lastPlus_ < o_.guardMs) return;
    plus_ = 0;
    have_ = 0;
    commandMode_ = true;
    line_.clear();
    logLine("escape");
    reply("O\r\n");
}

void Dongle::fromUdp() {
    std::uint8_t buffer[2048];
    for (;;) {
        const ssize_t n = ::recv(udp_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0) return;
        if (commandMode_) {
            logLine("drop", hex(buffer, static_cast<std::size_t>(n)));
            continue;
        }
        logLine("frame-in", hex(buffer, static_cast<std::size_t>(n)));
        toSerial(buffer, static_cast<std::size_t>(n));
    }
}

void Dongle::cleanUp() {
    if (!o_.link.empty()) ::unlink(o_.link.c_str());
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
    master_ = slave_ = -1;
}

void Dongle::unplug() {
    logLine("unplug");
    cleanUp();
    if (log_ != nullptr) std::fclose(log_);
    std::exit(0);
}

int Dongle::run() {
    if (!o_.log.empty()) {
        log_ = std::fopen(o_.log.c_str(), "w");
        if (log_ == nullptr) {
            std::fprintf(stderr, "dorvane-dongle: cannot write %s: %s\n", o_.log.c_str(), std::strerror(errno));
            return 1;
        }
        std::setvbuf(log_, nullptr, _IOLBF, 0);
    }

    char slaveName[256] = {};
    if (::openpty(&master_, &slave_, slaveName, nullptr, nullptr) != 0) {
        std::fprintf(stderr, "dorvane-dongle: openpty: %s\n", std::strerror(errno));
        return 1;
    }
    // The dongle keeps the slave side open as well, so that the master never
    // reports a hang-up while no host has the port open; raw, so that nothing
    // is echoed or translated (the host's port restores this on close).
    termios tio{};
    ::tcgetattr(slave_, &tio);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B57600);
    ::cfsetospeed(&tio, B57600);
    ::tcsetattr(slave_, TCSANOW, &tio);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);

    if (!o_.link.empty()) {
        struct stat st {};
        if (::lstat(o_.link.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                std::fprintf(stderr, "dorvane-dongle: %s exists and is not a symbolic link\n", o_.link.c_str());
                return 1;
            }
            ::unlink(o_.link.c_str());
        }
        if (::symlink(slaveName, o_.link.c_str()) != 0) {
            std::fprintf(stderr, "dorvane-dongle: cannot create %s: %s\n", o_.link.c_str(), std::strerror(errno));
            return 1;
        }
    }

    udp_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    local.sin_port = htons(static_cast<std::uint16_t>(o_.udpListen));
    if (udp_ < 0 || ::bind(udp_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        std::fprintf(stderr, "dorvane-dongle: cannot bind UDP port %d: %s\n", o_.udpListen, std::strerror(errno));
        cleanUp();
        return 1;
    }
    socklen_t len = sizeof local;
    ::getsockname(udp_, reinterpret_cast<sockaddr*>(&local), &len);
    peer_.sin_family = AF_INET;
    peer_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    peer_.sin_port = htons(static_cast<std::uint16_t>(o_.udpPeer));

    if (::pipe(signalPipe) != 0) return 1;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    ::sigaction(SIGUSR1, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    commandMode_ = (o_.fault == Fault::AtoOnly);
    std::printf("ready pty=%s link=%s udp-listen=%u udp-peer=%d\n", slaveName,
                o_.link.empty() ? "-" : o_.link.c_str(), ntohs(local.sin_port), o_.udpPeer);
    std::fflush(stdout);
    logLine("start", commandMode_ ? "command" : "data");

    for (;;) {
        int timeout = -1;
        if (!commandMode_ && plus_ == 3) {
            const double left = lastPlus_ + o_.guardMs - nowMs();
            timeout = left <= 0 ? 0 : static_cast<int>(left) + 1;
        }
        pollfd fds[3] = {{master_, POLLIN, 0}, {udp_, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
        const int ready = ::poll(fds, 3, timeout);
        if (ready < 0 && errno != EINTR) break;
        const double t = nowMs();
        if (fds[2].revents & POLLIN) {
            unsigned char number = 0;
            if (::read(signalPipe[0], &number, 1) == 1) {
                if (number == SIGUSR1) unplug();
                break;  // SIGTERM, SIGINT
            }
        }
        if (fds[0].revents & POLLIN) {
            std::uint8_t buffer[4096];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0) fromSerial(buffer, static_cast<std::size_t>(n), t);
        }
        if (fds[1].revents & POLLIN) fromUdp();
        checkEscape(nowMs());
    }
    cleanUp();
    if (log_ != nullptr) std::fclose(log_);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        usage(stderr);
        return 2;
    }
    Dongle dongle(options);
    return dongle.run();
}
