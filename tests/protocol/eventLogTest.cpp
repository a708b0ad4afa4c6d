#include <gtest/gtest.h>

#include <string>

#include "protocol/eventLog.h"
#include "tests/support/fakes.h"

namespace dorvane {
namespace {

using test::CaptureLog;

struct ColourCase {
    const char* message;
    LogColour expected;
};

TEST(EventLogColour, LastMatchingKeywordRowDecides) {
    const ColourCase cases[] = {
        {"*** Assert debug initialization ***", LogColour::Black},  // lower-case does not match
        {"SSTP App Host - Initialization", LogColour::Highlight},
        {"SSTP - App Host : MSG HES RCV + Status 'Succeeded'", LogColour::Purple},
        {"SSTP - App Host : MSG PMR RCV + Status OK", LogColour::Teal},
        {"SSTP - App Host : MSG HPD RCV + Bootloader will be executed", LogColour::Fuchsia},
        {"ELO then Initialization", LogColour::Navy},  // table order, not message order
        {"Initialization then ELO", LogColour::Navy},
        {"GWR and PIN", LogColour::Fuchsia},
        {"HFL", LogColour::Olive},
        {"PWR", LogColour::Green},
        {"hes Elo", LogColour::Black},  // case counts
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EventLog::colourFor(c.message, LogColour::Black), c.expected) << c.message;
    }
}

TEST(EventLogColour, LineWithoutKeywordKeepsThePreviousColour) {
    CaptureLog capture;
    EventLog log(&capture, &capture);
    log.line("plain before anything");
    log.print(1, "SSTP - App Host : MSG HER TRS for device n\xB0%u", 3u);
    log.print(1, "SSTP - Mac : Write Error");
    ASSERT_EQ(capture.lines.size(), 3u);
    EXPECT_EQ(capture.lines[0].colour, LogColour::Black);
    EXPECT_EQ(capture.lines[1].colour, LogColour::Teal);
    EXPECT_EQ(capture.lines[2].colour, LogColour::Teal);
}

TEST(EventLogPrint, FormatsStampsAndCuts) {
    CaptureLog capture;
    EventLog log(&capture, &capture);
    log.print(1, "FoTa App Host - Version : %02u.%02u", 1u, 0u);
    log.print(0, "never shown");
    const std::string longText(300, 'x');
    log.print(1, "%s", longText.c_str());
    ASSERT_EQ(capture.lines.size(), 2u);
    EXPECT_EQ(capture.lines[0].text, std::string(CaptureLog::kStamp) + " : FoTa App Host - Version : 01.00");
    EXPECT_EQ(capture.lines[1].message, std::string(191, 'x'));
}

TEST(EventLogPrint, DegreeSignIsOneByte) {
    CaptureLog capture;
    EventLog log(&capture, &capture);
    log.print(1, "Device n\xB0%u", 7u);
    ASSERT_EQ(capture.lines.size(), 1u);
    EXPECT_EQ(capture.lines[0].message, std::string("Device n") + '\xB0' + "7");
    EXPECT_EQ(capture.lines[0].message.size(), 10u);
}

}  // namespace
}  // namespace dorvane
