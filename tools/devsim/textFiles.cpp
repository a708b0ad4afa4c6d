#include "tools/devsim/textFiles.h"
#include "protocol/hexDigit.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace dorvane::devsim {

namespace {

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string lineError(std::size_t number, const char* what) {
    return "line " + std::to_string(number) + ": " + what;
}

// Exactly 2 × size hexadecimal digits after removing the characters in drop.
bool hexField(const std::string& field, std::uint8_t* out, std::size_t size, const char* drop) {
    std::string digits;
    for (const char c : field) {
        if (std::string(drop).find(c) != std::string::npos) continue;
        if (isBlank(c)) continue;
        digits += c;
    }
    if (digits.size() != 2 * size) return false;
    for (std::size_t i = 0; i < size; ++i) {
        const int hi = hexDigitValue(digits[2 * i]);
        const int lo = hexDigitValue(digits[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        out[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return true;
}

}  // namespace

bool parseTiTxt(const std::string& text, std::vector<ImageBlock>& blocks, std::string& error) {
    blocks.clear();
    const std::vector<std::string> lines = splitLines(text);
    bool haveAddress = false;
    bool ended = false;
    std::uint32_t address = 0;
    for (std::size_t n = 0; n < lines.size() && !ended; ++n) {
        const std::string& line = lines[n];
        std::size_t i = 0;
        while (i < line.size() && isBlank(line[i])) ++i;
        if (i == line.size()) continue;
        if (line[i] == 'q' || line[i] == 'Q') {
            ended = true;
            break;
        }
        if (line[i] == '@') {
            std::uint64_t value = 0;
            std::size_t digits = 0;
            for (++i; i < line.size() && !isBlank(line[i]); ++i, ++digits) {
                const int d = hexDigitValue(line[i]);
                if (d < 0 || digits >= 8) {
                    error = lineError(n + 1, "bad address");
                    return false;
                }
                value = value << 4 | static_cast<unsigned>(d);
            }
            if (digits == 0) {
                error = lineError(n + 1, "bad address");
                return false;
            }
            address = static_cast<std::uint32_t>(value);
            haveAddress = true;
            blocks.push_back(ImageBlock{address, {}});
            continue;
        }
        if (!haveAddress) {
            error = lineError(n + 1, "data before the first address line");
            return false;
        }
        while (i < line.size()) {
            if (isBlank(line[i])) {
                ++i;
                continue;
            }
            const int hi = hexDigitValue(line[i]);
            const int lo = i + 1 < line.size() ? hexDigitValue(line[i + 1]) : -1;
            if (hi < 0 || lo < 0) {
                error = lineError(n + 1, "not a hexadecimal byte pair");
                return false;
            }
            blocks.back().data.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
            i += 2;
        }
    }
    if (!ended) {
        error = "no \"q\" line at the end";
        return false;
    }
    return true;
}

bool parseKeysList(const std::string& text, std::vector<KeyRecord>& records, std::string& error) {
    records.clear();
    const std::vector<std::string> lines = splitLines(text);
    if (lines.empty() || lines[0].rfind("DevEUI;", 0) != 0) {
        error = "line 1: not a product keys list header";
        return false;
    }
    for (std::size_t n = 1; n < lines.size(); ++n) {
        if (lines[n].empty()) continue;
        std::vector<std::string> fields;
        std::string field;
        for (const char c : lines[n]) {
            if (c == ';') {
                fields.push_back(field);
                field.clear();
            } else {
                field += c;
            }
        }
        fields.push_back(field);
        KeyRecord r;
        if (fields.size() < 7 || !hexField(fields[0], r.address, 8, ":") || !hexField(fields[2], r.nwkSKey, 16, "") ||
            !hexField(fields[3], r.appSKey, 16, "") || !hexField(fields[6], r.appKey, 16, "")) {
            error = lineError(n + 1, "not a device line (DevEUI, ABP_NwkSKey, ABP_AppSKey, OTA_AppKey)");
            return false;
        }
        records.push_back(r);
    }
    return true;
}

bool readWholeFile(const std::string& path, std::string& text, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    return true;
}

}  // namespace dorvane::devsim
