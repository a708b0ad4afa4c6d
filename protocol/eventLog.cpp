#include "protocol/eventLog.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace dorvane {

namespace {
struct KeywordColour {
    const char* keyword;
    LogColour colour;
};

// Tested in this order; the last row that matches decides.
constexpr KeywordColour kKeywordColours[] = {
    {"Initialization", LogColour::Highlight},
    {"ELO", LogColour::Navy},
    {"HER", LogColour::Teal},
    {"HES", LogColour::Purple},
    {"GWR", LogColour::Green},
    {"HFL", LogColour::Olive},
    {"HPD", LogColour::Fuchsia},
    {"PMR", LogColour::Teal},
    {"PWR", LogColour::Green},
    {"PIN", LogColour::Fuchsia},
};
}  // namespace

void EventLog::print(std::uint8_t enable, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    vprint(enable, format, args);
    va_end(args);
}

void EventLog::vprint(std::uint8_t enable, const char* format, std::va_list args) {
    if (enable == 0) return;
    std::vsnprintf(message_, sizeof message_, format, args);
    message_[sizeof message_ - 1] = '\0';
    line(message_);
}

LogColour EventLog::colourFor(const char* text, LogColour previous) {
    LogColour colour = previous;
    for (const auto& row : kKeywordColours) {
        if (std::strstr(text, row.keyword) != nullptr) colour = row.colour;
    }
    return colour;
}

void EventLog::line(const char* text) {
    if (text == nullptr) text = "";
    colour_ = colourFor(text, colour_);
    char stamp[64] = {};
    if (dateTime_ != nullptr) dateTime_->now(stamp, sizeof stamp);
    std::snprintf(line_, sizeof line_, "%s : %s", stamp, text);
    if (sink_ != nullptr) sink_->appendLine(line_, colour_);
}

void SystemDateTimeText::now(char* out, std::size_t size) {
    if (size == 0) return;
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    const char* format = (local.tm_hour == 0 && local.tm_min == 0 && local.tm_sec == 0) ? "%x" : "%x %X";
    if (std::strftime(out, size, format, &local) == 0) out[0] = '\0';
}

}  // namespace dorvane
