// The simulator program over UDP: the host stack in this process on a UDP
// socket of its own and the real clock, the fleet in the dorvane-devsim
// program, frames one per datagram on 127.0.0.1.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/appHost.h"
#include "protocol/deviceAdmission.h"
#include "tests/support/fakes.h"
#include "tests/support/transferRig.h"

extern char** environ;

namespace dorvane::test {
namespace {

class SteadyClock final : public IClock {
public:
    std::uint32_t tickCount() override {
        return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    }
};

// The host's end of the loopback link, for this test: it answers whoever
// spoke to it last.
class UdpHostSide final : public ILinkSender {
public:
    UdpHostSide() {
        fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t n = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
        port = ntohs(a.sin_port);
    }
    ~UdpHostSide() override { ::close(fd); }
    bool send(const std::uint8_t* bytes, std::uint8_t count) override {
        if (havePeer) ::sendto(fd, bytes, count, 0, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
        return true;
    }
    void receive(AppHost& host, int timeoutMs) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return;
        std::uint8_t buffer[255];
        for (;;) {
            sockaddr_in from{};
            socklen_t n = sizeof from;
            const ssize_t got = ::recvfrom(fd, buffer, sizeof buffer, MSG_DONTWAIT,
                                           reinterpret_cast<sockaddr*>(&from), &n);
            if (got <= 0) break;
            peer = from;
            havePeer = true;
            host.phyReceive(static_cast<std::uint8_t>(got), buffer);
        }
    }
    int fd = -1;
    std::uint16_t port = 0;
    sockaddr_in peer{};
    bool havePeer = false;
};

struct Program {
    pid_t pid = -1;
    std::string output;
};

std::string tempDir() {
    char pattern[] = "/tmp/dorvane-devsim-test-XXXXXX";
    const char* d = ::mkdtemp(pattern);
    return d != nullptr ? d : "/tmp";
}

Program start(const std::vector<std::string>& args, const std::string& output) {
    std::vector<char*> argv;
    std::string program = DORVANE_DEVSIM_PROGRAM;
    argv.push_back(program.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    Program p;
    p.output = output;
    if (posix_spawn(&p.pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) p.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return p;
}

// The program's exit status, or -1 when it had to be stopped.
int finish(Program& p, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(p.pid, &status, WNOHANG) == p.pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        ::usleep(10000);
    }
    ::kill(p.pid, SIGTERM);
    ::waitpid(p.pid, &status, 0);
    return -1;
}

std::vector<std::string> lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> out;
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

TEST(DevsimProgram, UpdatesDevicesOverUdp) {
    const std::string dir = tempDir();
    const auto blocks = makeImageBlocks(20, 64, 77);
    {
        std::ofstream ti(dir + "/image.txt");
        for (const auto& b : blocks) {
            char at[16];
            std::snprintf(at, sizeof at, "@%04X\n", static_cast<unsigned>(b.address));
            ti << at;
            for (std::size_t i = 0; i < b.data.size(); ++i) {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%02X", b.data[i]);
                ti << hex << ((i % 16 == 15 || i + 1 == b.data.size()) ? "\n" : " ");
            }
        }
        ti << "q\n";
    }

    CaptureLog capture;
    EventLog log(&capture, &capture);
    SteadyClock clock;
    SeededRandom random(3);
    HostSettings settings;
    settings.transfertMode = 0;  // the address proves the host: no keys list needed
    UdpHostSide link;
    FakeImage image;
    for (const auto& b : blocks) image.blocks.push_back(FakeBlock{b.address, b.data});
    image.sum = devsim::imageChecksum(blocks, devsim::kFlash256k);
    image.record.major = 2;
    FakeGrid grid;
    FakeControls controls;
    controls.minutes = 1;
    DeviceAdmission admission(grid, controls, settings, capture);
    admission.setImage(&image);
    AppHost::Ports ports;
    ports.log = &log;
    ports.clock = &clock;
    ports.random = &random;
    ports.settings = &settings;
    ports.link = &link;
    ports.admission = &admission;
    ports.image = &image;
    AppHost host(ports);

    Program p = start({"--host-port", std::to_string(link.port), "--listen-port", "0", "--devices", "3",
                       "--version", "1.0.0.0", "--image", dir + "/image.txt", "--hello-interval", "100",
                       "--until-done", "--require-image", "--run-time", "90", "--quiet"},
                      dir + "/report.txt");
    ASSERT_GT(p.pid, 0);

    bool started = false, ended = false;
    // Generous: the transfer itself takes about 2.5 s, but a loaded machine
    // running the sanitizer build in parallel with other tests can be slow.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    auto last = clock.tickCount();
    host.hostCycle();
    while (!ended && std::chrono::steady_clock::now() < deadline) {
        link.receive(host, 1);
        if (clock.tickCount() != last) {
            last = clock.tickCount();
            host.hostCycle();
        }
        // All three admitted: no need to sit out the countdown.
        if (host.isConnecting() && host.deviceCount() == 3) host.startNow();
        if (host.state() == AppHost::kTransferring) started = true;
        if (started && host.state() == AppHost::kDisconnected) ended = true;
    }
    EXPECT_TRUE(ended) << "state " << int(host.state()) << ", step " << int(host.step()) << ", devices "
                       << host.deviceCount() << ", last log line: "
                       << (capture.lines.empty() ? std::string("none") : capture.lines.back().message);
    EXPECT_EQ(finish(p, 10), 0);
    const auto report = lines(dir + "/report.txt");
    int launched = 0;
    for (const auto& l : report) {
        if (l.rfind("device 0xA00000000000000", 0) == 0 && l.find(" state=launched image=match frames=") != std::string::npos) {
            ++launched;
        }
    }
    EXPECT_EQ(launched, 3) << (report.empty() ? "" : report.front());
    std::remove((dir + "/image.txt").c_str());
    std::remove((dir + "/report.txt").c_str());
    ::rmdir(dir.c_str());
}

TEST(DevsimProgram, ExitStatusTellsWhetherEveryDeviceHoldsTheImage) {
    const std::string dir = tempDir();
    {
        std::ofstream ti(dir + "/image.txt");
        ti << "@4400\n01 02 03\nq\n";
    }
    struct Case {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        // No host answers: the devices hold nothing.
        {{"--require-image", "--image", dir + "/image.txt"}, 1},
        {{"--image", dir + "/image.txt"}, 0},
        {{"--devices", "0"}, 2},
        {{"--loss", "101"}, 2},
        {{"--mute", "7"}, 2},  // no device 7 in a fleet of one
        {{"--image", dir + "/missing.txt"}, 2},
        {{"--frobnicate"}, 2},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--listen-port", "0", "--host-port", "9", "--run-time", "0.3", "--quiet"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Program p = start(args, dir + "/out.txt");
        ASSERT_GT(p.pid, 0);
        EXPECT_EQ(finish(p, 10), c.status) << c.args.front();
    }
    std::remove((dir + "/image.txt").c_str());
    std::remove((dir + "/out.txt").c_str());
    ::rmdir(dir.c_str());
}

}  // namespace
}  // namespace dorvane::test
