#include "console/iniFile.h"
#include "protocol/hexDigit.h"

#include <cstdio>

namespace dorvane::console {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

bool parseHex(std::string_view digits, std::int32_t& value) {
    if (digits.empty()) return false;
    std::uint64_t v = 0;
    for (char c : digits) {
        const int d = hexDigitValue(c);
        if (d < 0) return false;
        v = v * 16 + static_cast<std::uint64_t>(d);
        if (v > 0xFFFFFFFFull) return false;
    }
    value = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    return true;
}

}  // namespace

bool parseConfigInteger(std::string_view text, std::int32_t& value) {
    if (text.empty()) return false;
    if (text.front() == '$') return parseHex(text.substr(1), value);
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) return parseHex(text.substr(2), value);
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return false;
    std::int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
        if (v > 2147483648LL) return false;
    }
    if (negative) v = -v;
    if (v > 2147483647LL) return false;
    value = static_cast<std::int32_t>(v);
    return true;
}

IniFile::IniFile(std::string bytes) {
    std::size_t start = 0;
    const std::size_t n = bytes.size();
    while (start < n) {
        std::size_t end = start;
        while (end < n && bytes[end] != '\r' && bytes[end] != '\n') ++end;
        Line line;
        line.text = bytes.substr(start, end - start);
        if (end < n) {
            if (bytes[end] == '\r' && end + 1 < n && bytes[end + 1] == '\n') {
                line.brk = "\r\n";
                end += 2;
            } else {
                line.brk = bytes.substr(end, 1);
                end += 1;
            }
        }
        lines_.push_back(std::move(line));
        start = end;
    }
}

std::string IniFile::bytes() const {
    std::string out;
    for (const auto& line : lines_) {
        out += line.text;
        out += line.brk;
    }
    return out;
}

IniFile::Parsed IniFile::parse(std::size_t index) const {
    std::string_view text = lines_[index].text;
    if (index == 0 && text.substr(0, kByteOrderMark.size()) == kByteOrderMark) text.remove_prefix(kByteOrderMark.size());
    text = trim(text);
    Parsed p;
    if (text.empty() || text.front() == ';' || text.front() == '#') return p;
    if (text.front() == '[') {
        std::string_view name = text.substr(1);
        const auto close = name.find(']');
        if (close != std::string_view::npos) name = name.substr(0, close);
        p.kind = Kind::Section;
        p.name = trim(name);
        return p;
    }
    const auto eq = text.find('=');
    if (eq == std::string_view::npos) return p;
    p.kind = Kind::Key;
    p.name = trim(text.substr(0, eq));
    p.value = trim(text.substr(eq + 1));
    return p;
}

bool IniFile::find(std::string_view section, std::string_view key, std::string& value) const {
    bool inSection = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const Parsed p = parse(i);
        if (p.kind == Kind::Section) {
            inSection = sameName(p.name, section);
        } else if (p.kind == Kind::Key && inSection && sameName(p.name, key)) {
            value.assign(p.value);
            return true;
        }
    }
    return false;
}

std::int32_t IniFile::readInteger(std::string_view section, std::string_view key, std::int32_t fallback) const {
    std::string text;
    std::int32_t v = 0;
    if (find(section, key, text) && parseConfigInteger(text, v)) return v;
    return fallback;
}

bool IniFile::readBool(std::string_view section, std::string_view key, bool fallback) const {
    return readInteger(section, key, fallback ? 1 : 0) != 0;
}

std::string IniFile::readString(std::string_view section, std::string_view key, const std::string& fallback) const {
    std::string text;
    return find(section, key, text) ? text : fallback;
}

std::string IniFile::newLineBreak() const {
    for (const auto& line : lines_)
        if (!line.brk.empty()) return line.brk;
    return "\n";
}

void IniFile::writeString(std::string_view section, std::string_view key, std::string_view value) {
    const std::string brk = newLineBreak();
    std::size_t header = lines_.size();  // the first matching section's header line
    std::size_t lastContent = 0;          // its last non-blank line
    bool inSection = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const Parsed p = parse(i);
        if (p.kind == Kind::Section) {
            if (inSection) break;  // end of the first matching section
            if (sameName(p.name, section)) {
                inSection = true;
                header = i;
                lastContent = i;
            }
            continue;
        }
        if (!inSection) continue;
        if (p.kind == Kind::Key && sameName(p.name, key)) {
            lines_[i].text = std::string(p.name) + "=" + std::string(value);
            return;
        }
        if (!trim(lines_[i].text).empty()) lastContent = i;
    }
    // A key or section goes after a last line that had no line break: give it one.
    auto breakBefore = [&](std::size_t position) {
        if (position > 0 && lines_[position - 1].brk.empty()) lines_[position - 1].brk = brk;
    };
    const std::string keyLine = std::string(key) + "=" + std::string(value);
    if (header < lines_.size()) {
        const std::size_t at = lastContent + 1;
        breakBefore(at);
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), Line{keyLine, brk});
        return;
    }
    breakBefore(lines_.size());
    lines_.push_back(Line{"[" + std::string(section) + "]", brk});
    lines_.push_back(Line{keyLine, brk});
}

void IniFile::writeInteger(std::string_view section, std::string_view key, std::int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    writeString(section, key, text);
}

}  // namespace dorvane::console
