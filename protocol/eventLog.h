// The event log core: one formatted entry (print) over a fixed 192-byte
// buffer, keyword colouring, and the time stamp. Finished lines go to a sink.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "protocol/ports.h"

namespace dorvane {

class EventLog {
public:
    static constexpr std::size_t kMessageBufferSize = 192;
    // Time stamp, " : ", and a message of at most 191 characters.
    static constexpr std::size_t kLineBufferSize = 64 + 3 + kMessageBufferSize;

    EventLog(ILogSink* sink, IDateTimeText* dateTime) : sink_(sink), dateTime_(dateTime) {}

    // Formats into the message buffer (cut to 191 characters) and logs the line.
    void print(std::uint8_t enable, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void vprint(std::uint8_t enable, const char* format, std::va_list args);

    // Appends one line: picks the colour, adds the time stamp, hands it to the sink.
    void line(const char* text);

    // The colour a line with this text would get, given the colour before it.
    static LogColour colourFor(const char* text, LogColour previous);

    LogColour currentColour() const { return colour_; }
    void setSink(ILogSink* sink) { sink_ = sink; }

private:
    ILogSink* sink_;
    IDateTimeText* dateTime_;
    LogColour colour_ = LogColour::Black;
    char message_[kMessageBufferSize] = {};
    char line_[kLineBufferSize] = {};
};

// Local date and time in the C library's locale form (%x %X); the time part
// is left out when it is exactly midnight.
class SystemDateTimeText final : public IDateTimeText {
public:
    void now(char* out, std::size_t size) override;
};

}  // namespace dorvane
