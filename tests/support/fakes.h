// Fakes of the stack's ports, shared by the protocol and transfer tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "protocol/ports.h"

namespace dorvane::test {

// A clock the test moves by hand; optionally it also moves by a step at
// every read, so code that waits for the tick count to change never hangs.
class FakeClock final : public IClock {
public:
    explicit FakeClock(std::uint32_t start = 1000) : now_(start) {}
    std::uint32_t tickCount() override {
        const std::uint32_t t = now_;
        now_ += stepPerRead_;
        return t;
    }
    void advance(std::uint32_t ms) { now_ += ms; }
    void set(std::uint32_t t) { now_ = t; }
    std::uint32_t now() const { return now_; }
    void setStepPerRead(std::uint32_t step) { stepPerRead_ = step; }

private:
    std::uint32_t now_;
    std::uint32_t stepPerRead_ = 0;
};

// random(n): scripted values first (each taken modulo n), then a fixed value.
class FakeRandom final : public IRandom {
public:
    std::uint32_t random(std::uint32_t n) override {
        ++calls;
        if (n == 0) return 0;
        std::uint32_t v = fixed;
        if (!script.empty()) {
            v = script.front();
            script.pop_front();
        }
        return v % n;
    }
    std::deque<std::uint32_t> script;
    std::uint32_t fixed = 0;
    int calls = 0;
};

struct LoggedLine {
    std::string text;     // the whole line, time stamp included
    std::string message;  // what follows "STAMP : "
    LogColour colour;
};

class CaptureLog final : public ILogSink, public IDateTimeText {
public:
    static constexpr const char* kStamp = "11/12/2026 14:03:27";
    void appendLine(const char* text, LogColour colour) override {
        LoggedLine l;
        l.text = text;
        const std::string prefix = std::string(kStamp) + " : ";
        l.message = l.text.rfind(prefix, 0) == 0 ? l.text.substr(prefix.size()) : l.text;
        l.colour = colour;
        lines.push_back(l);
    }
    void now(char* out, std::size_t size) override { std::snprintf(out, size, "%s", kStamp); }

    std::vector<std::string> messages() const {
        std::vector<std::string> m;
        for (const auto& l : lines) m.push_back(l.message);
        return m;
    }
    bool contains(const std::string& message) const {
        for (const auto& l : lines)
            if (l.message == message) return true;
        return false;
    }
    int count(const std::string& message) const {
        int n = 0;
        for (const auto& l : lines)
            if (l.message == message) ++n;
        return n;
    }
    void clear() { lines.clear(); }
    std::vector<LoggedLine> lines;
};

class CaptureLink final : public ILinkSender {
public:
    bool send(const std::uint8_t* bytes, std::uint8_t count) override {
        frames.emplace_back(bytes, bytes + count);
        return result;
    }
    std::vector<std::vector<std::uint8_t>> frames;
    bool result = true;
};

class FakeConsole final : public IConsoleNotify {
public:
    void notify(std::uint8_t event) override { events.push_back(event); }
    std::vector<int> events;
};

class FakeProgress final : public IProgressBar {
public:
    void setRange(std::uint32_t mn, std::uint32_t mx) override {
        minimum = mn;
        maximum = mx;
    }
    void setPosition(std::uint32_t p) override { position = p; }
    void setToMaximum() override { position = maximum; atMaximum = true; }
    std::uint32_t minimum = 0, maximum = 100, position = 0;
    bool atMaximum = false;
};

struct FakeBlock {
    std::uint32_t address;
    std::vector<std::uint8_t> data;
};

class FakeImage final : public IFirmwareImage {
public:
    bool isValid() const override { return valid; }
    std::uint32_t blockCount() const override { return static_cast<std::uint32_t>(blocks.size()); }
    bool block(std::uint32_t i, std::uint8_t& length, std::uint32_t& address,
               const std::uint8_t*& data) const override {
        if (i >= blocks.size()) return false;
        length = static_cast<std::uint8_t>(blocks[i].data.size());
        address = blocks[i].address;
        data = blocks[i].data.data();
        return true;
    }
    std::uint32_t checksum() const override { return sum; }
    const VersionRecord& version() const override { return record; }
    const char* productName() const override { return product.c_str(); }

    bool valid = true;
    std::vector<FakeBlock> blocks;
    std::uint32_t sum = 0;
    VersionRecord record;
    std::string product = "PROD";
};

struct FakeKeyRecord {
    std::uint8_t address[8];
    std::uint8_t nwk[16], app[16], appKey[16];
};

class FakeKeys final : public IKeyStore {
public:
    bool hasRecord(const std::uint8_t* address) const override { return find(address) != nullptr; }
    void keyOf(const std::uint8_t* address, KeyColumn column, std::uint8_t out[16]) const override {
        const FakeKeyRecord* r = find(address);
        if (r == nullptr) {
            std::memset(out, 0, 16);
            return;
        }
        const std::uint8_t* k = column == KeyColumn::NwkSKey ? r->nwk : column == KeyColumn::AppSKey ? r->app : r->appKey;
        std::memcpy(out, k, 16);
    }
    const FakeKeyRecord* find(const std::uint8_t* address) const {
        for (const auto& r : records)
            if (std::memcmp(r.address, address, 8) == 0) return &r;
        return nullptr;
    }
    std::vector<FakeKeyRecord> records;
};

class FakeGrid final : public IDeviceGrid {
public:
    using Row = std::vector<std::string>;
    int rowCount() override { return static_cast<int>(rows.size()); }
    bool readCell(int row, int column, char* out, std::size_t size) override {
        if (row < 0 || row >= rowCount() || column < 0 || column >= kGridColumnCount) return false;
        std::snprintf(out, size, "%s", rows[row][column].c_str());
        return true;
    }
    bool deleteRow(int row) override {
        if (row < 0 || row >= rowCount()) return false;
        rows.erase(rows.begin() + row);
        return true;
    }
    int appendRow() override {
        if (failAppend) return -1;
        rows.emplace_back(kGridColumnCount);
        return rowCount() - 1;
    }
    bool makeLastRowCurrent() override { return !rows.empty(); }
    bool writeCell(int row, int column, const char* text) override {
        if (row < 0 || row >= rowCount() || column < 0 || column >= kGridColumnCount) return false;
        if (failWriteColumn == column) return false;
        rows[row][column] = text;
        return true;
    }
    bool setLineColour(std::uint8_t r, std::uint8_t g, std::uint8_t b) override {
        lineColour = {r, g, b};
        return true;
    }
    std::vector<Row> rows;
    std::vector<int> lineColour;
    bool failAppend = false;
    int failWriteColumn = -1;
};

class FakeControls final : public IOperatorControls {
public:
    bool isAuthorised() override { return authorised; }
    std::uint8_t connectingTimeoutMinutes() override { return minutes; }
    bool authorised = true;
    std::uint8_t minutes = 5;
};

}  // namespace dorvane::test
