// dorvane-devsim: a fleet of simulated devices over UDP on 127.0.0.1, for
// running the host against devices without radio. Prints one report line
// per device at exit.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/devsim/simFleet.h"
#include "tools/devsim/textFiles.h"
#include "tools/devsim/udpLink.h"

using namespace dorvane;
using namespace dorvane::devsim;

namespace {

volatile std::sig_atomic_t gStop = 0;
void onSignal(int) { gStop = 1; }

class SteadyClock final : public IClock {
public:
    std::uint32_t tickCount() override {
        return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    }
};

const char* kUsage =
    "usage: dorvane-devsim [options]\n"
    "  --listen-port N        UDP port the devices listen on (56700)\n"
    "  --host-port N          UDP port of the host (57000)\n"
    "  --devices N            number of devices (1)\n"
    "  --address-base HEX     address of device 0, 16 hex digits; device i gets base + i\n"
    "                         (A000000000000001)\n"
    "  --product NAME         product name in the hello (PROD)\n"
    "  --version A.B.C.BUILD  version in the hello (1.0.0.0)\n"
    "  --config N             configuration number in the hello (65535)\n"
    "  --keys FILE            product keys list: devices take their keys from it\n"
    "  --from-keys            one device per keys list record (instead of --devices)\n"
    "  --image FILE           expected image, TI-TXT\n"
    "  --flash-size N         flash size in bytes for the image checksum (262144)\n"
    "  --loss P               loss in %, per frame, in each direction (0)\n"
    "  --loss-in P            loss in %, host to devices, per frame and device\n"
    "  --loss-out P           loss in %, devices to host, per frame\n"
    "  --seed N               seed of the loss and of the nonces (1)\n"
    "  --hello-interval MS    time between hellos until answered (1000)\n"
    "  --run-time S           stop after S seconds (60)\n"
    "  --until-done           stop as soon as every non-mute device is done\n"
    "  --require-image        exit 1 unless every non-mute device ends with the exact image\n"
    "  --quiet                no progress lines on stderr\n"
    "faults, for LIST = device numbers (\"0,3,5\") or \"all\":\n"
    "  --mute LIST[:STAGE]    silent from STAGE on: always, her, hes, hfl, hpd, pmr (her)\n"
    "  --late LIST:MS         answers MS milliseconds late\n"
    "  --crash-hfl LIST       answers HFL with a crash\n"
    "  --refuse-pmr LIST      refuses PMR\n"
    "  --wrong-keys LIST      holds keys that differ from the list's\n"
    "  --in-progress LIST:N   answers HES \"in progress\" N times first\n"
    "  --memory-fault LIST    answers HES \"memory fault\"\n"
    "exit status: 0, 1 when --require-image fails, 2 on bad options or files\n";

struct Options {
    std::uint16_t listenPort = 56700;
    std::uint16_t hostPort = 57000;
    std::size_t devices = 1;
    std::uint64_t addressBase = 0xA000000000000001ull;
    std::string product = "PROD";
    unsigned version[4] = {1, 0, 0, 0};
    std::uint16_t configuration = 0xFFFF;
    std::string keysFile;
    bool fromKeys = false;
    std::string imageFile;
    FleetOptions fleet;
    double runTime = 60;
    bool untilDone = false;
    bool requireImage = false;
    bool quiet = false;
    struct Fault {
        std::string option, list, argument;
    };
    std::vector<Fault> faults;
};

bool fail(const std::string& message) {
    std::fprintf(stderr, "dorvane-devsim: %s\n", message.c_str());
    return false;
}

bool parseUnsigned(const std::string& text, unsigned long long max, unsigned long long& out, int base = 10) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtoull(text.c_str(), &end, base);
    return errno == 0 && *end == '\0' && out <= max && text[0] != '-';
}

bool parsePercent(const std::string& text, double& out) {
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || out < 0 || out > 100) return false;
    out /= 100.0;
    return true;
}

bool parseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return fail(a + " needs a value");
            out = argv[++i];
            return true;
        };
        std::string v;
        unsigned long long n = 0;
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "--listen-port" || a == "--host-port") {
            if (!value(v) || !parseUnsigned(v, 65535, n)) return fail(a + ": a port number");
            (a == "--listen-port" ? o.listenPort : o.hostPort) = static_cast<std::uint16_t>(n);
        } else if (a == "--devices") {
            if (!value(v) || !parseUnsigned(v, 100000, n) || n == 0) return fail("--devices: 1 or more");
            o.devices = n;
        } else if (a == "--address-base") {
            if (!value(v) || v.size() != 16 || !parseUnsigned(v, ~0ull, n, 16)) {
                return fail("--address-base: 16 hexadecimal digits");
            }
            o.addressBase = n;
        } else if (a == "--product") {
            if (!value(v) || v.empty() || v.size() > 60) return fail("--product: 1 to 60 characters");
            o.product = v;
        } else if (a == "--version") {
            if (!value(v) || std::sscanf(v.c_str(), "%u.%u.%u.%u", &o.version[0], &o.version[1], &o.version[2],
                                         &o.version[3]) != 4 ||
                o.version[0] > 255 || o.version[1] > 255 || o.version[2] > 255 || o.version[3] > 0xFFFFFF) {
                return fail("--version: A.B.C.BUILD");
            }
        } else if (a == "--config") {
            if (!value(v) || !parseUnsigned(v, 65535, n)) return fail("--config: 0..65535");
            o.configuration = static_cast<std::uint16_t>(n);
        } else if (a == "--keys") {
            if (!value(o.keysFile)) return false;
        } else if (a == "--from-keys") {
            o.fromKeys = true;
        } else if (a == "--image") {
            if (!value(o.imageFile)) return false;
        } else if (a == "--flash-size") {
            if (!value(v) || !parseUnsigned(v, 0xFFFFFFFFull, n)) return fail("--flash-size: bytes");
            o.fleet.flashSize = static_cast<std::uint32_t>(n);
        } else if (a == "--loss" || a == "--loss-in" || a == "--loss-out") {
            double p = 0;
            if (!value(v) || !parsePercent(v, p)) return fail(a + ": 0..100");
            if (a != "--loss-out") o.fleet.lossToDevices = p;
            if (a != "--loss-in") o.fleet.lossToHost = p;
        } else if (a == "--seed") {
            if (!value(v) || !parseUnsigned(v, ~0ull, n)) return fail("--seed: a number");
            o.fleet.seed = n;
        } else if (a == "--hello-interval") {
            if (!value(v) || !parseUnsigned(v, 3600000, n) || n == 0) return fail("--hello-interval: milliseconds");
            o.fleet.helloIntervalMs = static_cast<std::uint32_t>(n);
        } else if (a == "--run-time") {
            char* end = nullptr;
            if (!value(v) || (o.runTime = std::strtod(v.c_str(), &end), *end != '\0') || o.runTime <= 0) {
                return fail("--run-time: seconds");
            }
        } else if (a == "--until-done") {
            o.untilDone = true;
        } else if (a == "--require-image") {
            o.requireImage = true;
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (a == "--mute" || a == "--late" || a == "--crash-hfl" || a == "--refuse-pmr" ||
                   a == "--wrong-keys" || a == "--in-progress" || a == "--memory-fault") {
            if (!value(v)) return false;
            Options::Fault f;
            f.option = a;
            const std::size_t colon = v.find(':');
            f.list = v.substr(0, colon);
            if (colon != std::string::npos) f.argument = v.substr(colon + 1);
            o.faults.push_back(f);
        } else {
            return fail("unknown option " + a + " (--help lists them)");
        }
    }
    return true;
}

bool listSelects(const std::string& list, std::size_t index, std::size_t count, bool& ok) {
    ok = true;
    if (list == "all") return true;
    std::size_t start = 0;
    bool selected = false;
    while (start <= list.size()) {
        const std::size_t comma = list.find(',', start);
        const std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        unsigned long long n = 0;
        if (!parseUnsigned(item, count - 1, n)) {
            ok = false;
            return false;
        }
        if (n == index) selected = true;
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return selected;
}

bool applyFault(const Options::Fault& f, DeviceFaults& faults) {
    unsigned long long n = 0;
    if (f.option == "--mute") {
        const std::string s = f.argument.empty() ? "her" : f.argument;
        if (s == "always") faults.mute = Mute::Always;
        else if (s == "her") faults.mute = Mute::FromHer;
        else if (s == "hes") faults.mute = Mute::FromHes;
        else if (s == "hfl") faults.mute = Mute::FromHfl;
        else if (s == "hpd") faults.mute = Mute::FromHpd;
        else if (s == "pmr") faults.mute = Mute::FromPmr;
        else return fail("--mute: stage always, her, hes, hfl, hpd or pmr");
    } else if (f.option == "--late") {
        if (!parseUnsigned(f.argument, 600000, n)) return fail("--late LIST:MS");
        faults.answerDelayMs = static_cast<std::uint32_t>(n);
    } else if (f.option == "--crash-hfl") {
        faults.crashInHfl = true;
    } else if (f.option == "--refuse-pmr") {
        faults.refusePmr = true;
    } else if (f.option == "--wrong-keys") {
        faults.wrongKeys = true;
    } else if (f.option == "--in-progress") {
        if (!parseUnsigned(f.argument, 0xFFFFFFFFull, n)) return fail("--in-progress LIST:COUNT");
        faults.hesInProgress = static_cast<std::uint32_t>(n);
    } else if (f.option == "--memory-fault") {
        faults.memoryFault = true;
    }
    return true;
}

void addressBytes(std::uint64_t value, std::uint8_t out[8]) {
    for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * (7 - i)));
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parseOptions(argc, argv, o)) return 2;

    std::string error, text;
    std::vector<KeyRecord> keys;
    if (!o.keysFile.empty()) {
        if (!readWholeFile(o.keysFile, text, error) || !parseKeysList(text, keys, error)) {
            fail(o.keysFile + ": " + error);
            return 2;
        }
    } else if (o.fromKeys) {
        fail("--from-keys needs --keys");
        return 2;
    }
    std::vector<ImageBlock> image;
    if (!o.imageFile.empty()) {
        if (!readWholeFile(o.imageFile, text, error) || !parseTiTxt(text, image, error)) {
            fail(o.imageFile + ": " + error);
            return 2;
        }
    }

    std::vector<DeviceConfig> configs;
    const std::size_t count = o.fromKeys ? keys.size() : o.devices;
    if (count == 0) {
        fail("the keys list holds no device");
        return 2;
    }
    for (std::size_t i = 0; i < count; ++i) {
        DeviceConfig c;
        if (o.fromKeys) std::memcpy(c.address, keys[i].address, 8);
        else addressBytes(o.addressBase + i, c.address);
        c.product = o.product;
        c.major = static_cast<std::uint8_t>(o.version[0]);
        c.minor = static_cast<std::uint8_t>(o.version[1]);
        c.corrective = static_cast<std::uint8_t>(o.version[2]);
        c.build = o.version[3];
        c.configuration = o.configuration;
        for (const KeyRecord& k : keys) {
            if (std::memcmp(k.address, c.address, 8) != 0) continue;
            std::memcpy(c.keys[0], k.nwkSKey, 16);
            std::memcpy(c.keys[1], k.appSKey, 16);
            std::memcpy(c.keys[2], k.appKey, 16);
            break;
        }
        for (const auto& f : o.faults) {
            bool ok = true;
            const bool selected = listSelects(f.list, i, count, ok);
            if (!ok) {
                fail(f.option + ": device numbers 0.." + std::to_string(count - 1) + " or all");
                return 2;
            }
            if (selected && !applyFault(f, c.faults)) return 2;
        }
        configs.push_back(c);
    }

    SteadyClock clock;
    UdpHostLink link;
    if (!link.open(o.listenPort, o.hostPort, error)) {
        fail(error);
        return 2;
    }
    SimFleet fleet(clock, link, o.fleet);
    fleet.setExpectedImage(image);
    for (const auto& c : configs) fleet.add(c);
    if (!o.quiet) {
        std::fprintf(stderr, "dorvane-devsim: %zu devices listening on 127.0.0.1:%u, host at 127.0.0.1:%u\n",
                     fleet.size(), static_cast<unsigned>(link.boundPort()), static_cast<unsigned>(o.hostPort));
    }

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(o.runTime);
    bool anyNonMute = false;
    for (std::size_t i = 0; i < fleet.size(); ++i) anyNonMute = anyNonMute || !fleet.device(i).isMute();
    while (!gStop && std::chrono::steady_clock::now() < deadline) {
        std::int64_t wait = fleet.msUntilNext();
        if (wait < 0 || wait > 10) wait = 10;
        link.receive(fleet, static_cast<int>(wait));
        fleet.poll();
        if (o.untilDone && anyNonMute && fleet.allFinal()) break;
    }

    bool allMatch = true;
    for (std::size_t i = 0; i < fleet.size(); ++i) {
        std::printf("%s\n", fleet.reportLine(i).c_str());
        const DeviceReport r = fleet.report(i);
        if (!r.mute && !r.imageMatch) allMatch = false;
    }
    std::printf("fleet devices=%zu host-frames=%u send-failures=%u\n", fleet.size(), fleet.hostFrames(),
                link.sendFailures());
    std::fflush(stdout);
    return o.requireImage && !allMatch ? 1 : 0;
}
