#include <gtest/gtest.h>

#include <QSocketNotifier>

#include <deque>
#include <string>
#include <vector>

#include "links/links.h"
#include "tests/links/linksTestSupport.h"
#include "tests/support/fakes.h"

namespace dorvane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Replies = std::vector<std::string>;

// A scripted dongle on the master side of a pseudo-terminal, served by the
// same event loop as the host. Three "+" make the event "+++"; a CR or LF
// ends a line, which is the event. The responder gives the reply for each
// event, in parts that are written one event-loop turn (>= 10 ms) apart.
class ScriptedDongle {
public:
    explicit ScriptedDongle(test::Pty& pty) : pty_(pty), notifier_(pty.master(), QSocketNotifier::Read) {
        QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { onBytes(); });
        partTimer_.setInterval(10);
        QObject::connect(&partTimer_, &QTimer::timeout, [this] { writeNextPart(); });
    }

    std::function<Replies(const std::string& event)> respond = [](const std::string&) { return Replies{"O\r\n"}; };
    std::vector<std::string> events;  // "+++" and the lines, in order
    std::vector<double> plusTimes;    // when each "+" arrived
    std::string raw;                  // every byte seen

private:
    void onBytes() {
        const double t = test::monotonicMs();
        for (std::uint8_t b : pty_.read()) {
            raw += static_cast<char>(b);
            if (b == '+') {
                plusTimes.push_back(t);
                if (++plus_ == 3) {
                    plus_ = 0;
                    event("+++");
                }
                continue;
            }
            plus_ = 0;
            if (b == '\r' || b == '\n') {
                if (!line_.empty()) event(line_);
                line_.clear();
            } else if (b >= 0x20 && b < 0x7F) {
                line_ += static_cast<char>(b);
            } else {
                line_.clear();  // frame bytes between the commands
            }
        }
    }
    void event(const std::string& e) {
        events.push_back(e);
        for (const std::string& part : respond(e)) parts_.push_back(part);
        writeNextPart();
    }
    void writeNextPart() {
        if (parts_.empty()) {
            partTimer_.stop();
            return;
        }
        pty_.write(parts_.front());
        parts_.pop_front();
        if (!parts_.empty() && !partTimer_.isActive()) partTimer_.start();
    }

    test::Pty& pty_;
    QSocketNotifier notifier_;
    QTimer partTimer_;
    std::deque<std::string> parts_;
    int plus_ = 0;
    std::string line_;
};

struct Dialogue : ::testing::Test {
    Dialogue()
        : link(random, [this] { return rate; }, [this](std::uint8_t n, const std::uint8_t* b) {
              toStack.insert(toStack.end(), b, b + n);
          }),
          configurator(clock, [this](const char* m) { logged.emplace_back(m); }),
          dongle(pty) {}

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(pty.ok());
        ASSERT_TRUE(pty.linkAs(dir.path() + "/COM7"));
        link.setDeviceDirectory(dir.path());
        link.setPortName("COM7");
        ASSERT_TRUE(link.open());
    }

    QTemporaryDir dir;
    test::Pty pty;
    test::FakeRandom random;
    test::SteadyClock clock;
    int rate = 100;
    Bytes toStack;
    std::vector<std::string> logged;
    SerialLink link;
    DongleConfigurator configurator;
    ScriptedDongle dongle;
    const QStringList commands = {"ATS500=1", "ATS501=2", "ATS502=3"};
};

const std::string kNoAnswer = "Dongle : the dongle on COM7 did not answer";
const std::vector<std::string> kFullDialogue = {"+++", "ATS500=1", "ATS501=2", "ATS502=3", "ATO"};

// What the dongle answers, and what the host then sends and concludes.
TEST_F(Dialogue, RepliesAndCommandLists) {
    struct Case {
        const char* name;
        QStringList commands;
        std::function<Replies(const std::string&)> respond;
        bool result;
        std::vector<std::string> seen;
    };
    const QStringList three = commands;
    const std::vector<Case> cases = {
        {"O CR LF", three, [](const std::string&) { return Replies{"O\r\n"}; }, true, kFullDialogue},
        {"CR LF O CR LF", three, [](const std::string&) { return Replies{"\r\nO\r\n"}; }, true, kFullDialogue},
        {"O, then CR LF in the next receive event", three,
         [](const std::string&) { return Replies{"O", "\r\n"}; }, true, kFullDialogue},
        {"O O CR LF", three, [](const std::string&) { return Replies{"OO\r\n"}; }, true, kFullDialogue},
        {"O, O CR LF split", three, [](const std::string&) { return Replies{"O", "O\r", "\n"}; }, true,
         kFullDialogue},
        {"O K CR LF is no reply", three, [](const std::string&) { return Replies{"OK\r\n"}; }, false,
         {"+++", "ATO"}},
        {"second line empty", {"ATS500=1", "", "ATS502=3"}, [](const std::string&) { return Replies{"O\r\n"}; },
         true, {"+++", "ATS500=1", "ATO"}},
        {"lower-case first line", {"ats500=1", "ATS501=2"}, [](const std::string&) { return Replies{"O\r\n"}; },
         true, {"+++", "ATO"}},
        {"line not answered", three,
         [](const std::string& e) { return e == "ATS501=2" ? Replies{} : Replies{"O\r\n"}; }, true,
         {"+++", "ATS500=1", "ATS501=2", "ATO"}},
        {"ATO not answered", three, [](const std::string& e) { return e == "ATO" ? Replies{} : Replies{"O\r\n"}; },
         false, kFullDialogue},
        {"blanks kept", {"ATS500 = 1 "}, [](const std::string&) { return Replies{"O\r\n"}; }, true,
         {"+++", "ATS500 = 1 ", "ATO"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dongle.events.clear();
        logged.clear();
        dongle.respond = c.respond;
        EXPECT_EQ(configurator.configure(&c.commands, link), c.result);
        EXPECT_EQ(dongle.events, c.seen);
        EXPECT_FALSE(configurator.isConfiguring());
        EXPECT_TRUE(link.isOpen());
        EXPECT_EQ(logged, c.result ? std::vector<std::string>{} : std::vector<std::string>{kNoAnswer});
        test::runEventLoop(20);  // let late reply parts go by
    }
}

TEST_F(Dialogue, EscapeTiming) {
    const double start = test::monotonicMs();
    ASSERT_TRUE(configurator.configure(&commands, link));
    ASSERT_EQ(dongle.plusTimes.size(), 3u);
    EXPECT_GE(dongle.plusTimes[0] - start, 192.0 - 1.0);  // guard time of silence first
    EXPECT_LT(dongle.plusTimes[0] - start, 192.0 + 60.0);
    for (int i = 1; i < 3; ++i) {
        const double gap = dongle.plusTimes[i] - dongle.plusTimes[i - 1];
        EXPECT_GE(gap, 96.0 - 5.0) << i;  // arrival times carry the scheduler's jitter
        EXPECT_LT(gap, 96.0 + 60.0) << i;
    }
    // Each line ends with CR LF; the dialogue ends with "ATO" CR LF and CR LF.
    EXPECT_NE(dongle.raw.find("ATS500=1\r\nATS501=2\r\nATS502=3\r\nATO\r\n\r\n"), std::string::npos);
    EXPECT_EQ(dongle.raw.substr(0, 3), "+++");
}

// A dongle left in command mode does not answer the escape: "ATO" brings it
// back to data mode and the escape is tried again.
TEST_F(Dialogue, DongleAlreadyInCommandModeIsBroughtBack) {
    bool commandMode = true;
    dongle.respond = [&](const std::string& e) {
        if (e == "+++") {
            if (commandMode) return Replies{};
            commandMode = true;
            return Replies{"O\r\n"};
        }
        if (e == "ATO") commandMode = false;
        return Replies{"O\r\n"};
    };
    EXPECT_TRUE(configurator.configure(&commands, link));
    EXPECT_EQ(dongle.events, (std::vector<std::string>{"+++", "ATO", "+++", "ATS500=1", "ATS501=2", "ATS502=3", "ATO"}));
    EXPECT_NE(dongle.raw.find("+++\r\nATO\r\n\r\n+++"), std::string::npos);
}

// A dongle that answers "ATO" but never the escape does not keep the host
// configuring for good.
TEST_F(Dialogue, EscapeRetriesAreBounded) {
    dongle.respond = [](const std::string& e) { return e == "ATO" ? Replies{"O\r\n"} : Replies{}; };
    EXPECT_FALSE(configurator.configure(&commands, link));
    const int attempts = 1 + DongleConfigurator::kMaxEscapeRetries;
    std::vector<std::string> expected;
    for (int i = 0; i < attempts; ++i) {
        expected.push_back("+++");
        expected.push_back("ATO");
    }
    EXPECT_EQ(dongle.events, expected);
    EXPECT_FALSE(configurator.isConfiguring());
    EXPECT_EQ(logged, std::vector<std::string>{kNoAnswer});
    EXPECT_TRUE(link.isOpen());
}

TEST_F(Dialogue, NothingIsSentWithoutACommandListOrAnOpenPort) {
    EXPECT_FALSE(configurator.configure(nullptr, link));
    link.close();
    EXPECT_FALSE(configurator.configure(&commands, link));
    test::runEventLoop(50);
    EXPECT_TRUE(dongle.raw.empty());
    EXPECT_TRUE(logged.empty());
    EXPECT_FALSE(configurator.isConfiguring());
}

TEST_F(Dialogue, EmptyCommandListStillEscapesAndReturns) {
    const QStringList none;
    EXPECT_TRUE(configurator.configure(&none, link));
    EXPECT_EQ(dongle.events, (std::vector<std::string>{"+++", "ATO"}));
}

// During the dialogue the dongle's bytes go to the reply buffer only, whatever
// the success rate; afterwards they reach the stack again. Frames the host
// sends meanwhile go out between the commands: the event loop keeps running.
TEST_F(Dialogue, ReceivedBytesGoToTheReplyBufferAndTheHostKeepsRunning) {
    const Bytes frameFromDevice = {0x24, 3, 1, 2, 3, 0xFA};
    bool sendNow = false;
    dongle.respond = [&](const std::string& e) {
        if (e == "ATS501=2") sendNow = true;  // the host cycle sends on its next tick
        // Each reply a turn late, so the host cycle ticks between the commands.
        return Replies{"", std::string(frameFromDevice.begin(), frameFromDevice.end()) + "O\r\n"};
    };
    rate = 0;
    const std::string frameFromHost = "$\x01Z\xA6";
    int ticks = 0;
    QTimer hostCycle;
    hostCycle.setInterval(1);
    QObject::connect(&hostCycle, &QTimer::timeout, [&] {
        ++ticks;
        if (sendNow) {
            sendNow = false;
            link.write(reinterpret_cast<const std::uint8_t*>(frameFromHost.data()), frameFromHost.size());
        }
    });
    hostCycle.start();
    ASSERT_TRUE(configurator.configure(&commands, link));
    hostCycle.stop();
    test::runEventLoop(30);
    EXPECT_GT(ticks, 300);  // about one tick per ms over a dialogue of about half a second
    EXPECT_TRUE(toStack.empty());
    const std::size_t at = dongle.raw.find(frameFromHost);
    ASSERT_NE(at, std::string::npos);
    EXPECT_GT(at, dongle.raw.find("ATS501=2\r\n"));
    EXPECT_LT(at, dongle.raw.find("ATO"));
    EXPECT_EQ(dongle.events, kFullDialogue);

    rate = 100;
    pty.write(frameFromDevice);
    ASSERT_TRUE(test::runUntil([&] { return toStack.size() >= frameFromDevice.size(); }, 2000));
    EXPECT_EQ(toStack, frameFromDevice);
}

TEST_F(Dialogue, PortFailureEndsTheDialogue) {
    dongle.respond = [&](const std::string& e) {
        if (e == "ATS501=2") QTimer::singleShot(0, [&] { pty.unplug(); });
        return Replies{"O\r\n"};
    };
    const double start = test::monotonicMs();
    EXPECT_FALSE(configurator.configure(&commands, link));
    EXPECT_LT(test::monotonicMs() - start, 1500.0);  // not waiting out every remaining reply
    EXPECT_FALSE(configurator.isConfiguring());
    EXPECT_FALSE(link.isOpen());
    EXPECT_EQ(logged, std::vector<std::string>{kNoAnswer});
}

// A port chosen while a dialogue waits wins: the old dialogue stops without a
// word, the new port is configured.
TEST_F(Dialogue, PortSelectionDuringADialogueSupersedesIt) {
    test::Pty other;
    ASSERT_TRUE(other.linkAs(dir.path() + "/COM8"));
    ScriptedDongle second(other);
    bool applied = false;
    dongle.respond = [&](const std::string& e) {
        if (e == "ATS500=1" && !applied) {
            applied = true;
            QTimer::singleShot(0, [&] { applyPortSelection(link, configurator, &commands, "COM8"); });
        }
        return Replies{"O\r\n"};
    };
    EXPECT_FALSE(configurator.configure(&commands, link));
    EXPECT_EQ(second.events, kFullDialogue);
    EXPECT_TRUE(link.isOpen());
    EXPECT_EQ(link.portName(), QString("COM8"));
    EXPECT_TRUE(logged.empty());
    EXPECT_FALSE(configurator.isConfiguring());
    EXPECT_EQ(dongle.raw.find("ATO"), std::string::npos);  // the old dongle got nothing after the switch
}

}  // namespace
}  // namespace dorvane
