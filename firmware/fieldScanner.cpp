#include "firmware/fieldScanner.h"

#include <bitset>
#include <cctype>
#include <cstdlib>

namespace dorvane::firmware {

namespace {

bool isBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

void skipBlanks(const char*& s) {
    while (*s != '\0' && isBlank(*s)) ++s;
}

// Parses the set after '[' and leaves p on the closing ']' (or the end).
std::bitset<256> parseSet(const char*& p) {
    std::bitset<256> set;
    bool negate = false;
    if (*p == '^') {
        negate = true;
        ++p;
    }
    bool first = true;
    while (*p != '\0' && (first || *p != ']')) {
        const unsigned char from = static_cast<unsigned char>(*p);
        if (p[1] == '-' && p[2] != ']' && p[2] != '\0' && static_cast<unsigned char>(p[2]) >= from) {
            for (unsigned c = from; c <= static_cast<unsigned char>(p[2]); ++c) set.set(c);
            p += 3;
        } else {
            set.set(from);
            ++p;
        }
        first = false;
    }
    if (negate) set.flip();
    set.reset(0);  // the terminating NUL never matches
    return set;
}

}  // namespace

int scanFields(const char* input, const char* pattern, std::initializer_list<ScanTarget> targets) {
    const char* s = input;
    const char* p = pattern;
    auto next = targets.begin();
    int count = 0;

    while (*p != '\0') {
        if (isBlank(*p)) {
            while (isBlank(*p)) ++p;
            skipBlanks(s);
            continue;
        }
        if (*p != '%') {
            if (*s != *p) return count;
            ++s;
            ++p;
            continue;
        }
        ++p;
        bool keep = true;
        if (*p == '*') {
            keep = false;
            ++p;
        }
        std::size_t width = 0;
        while (*p >= '0' && *p <= '9') width = width * 10 + static_cast<std::size_t>(*p++ - '0');
        bool isLong = false;
        if (*p == 'l') {
            isLong = true;
            ++p;
        }
        const char conversion = *p;
        if (conversion == '\0') return count;
        ++p;

        const ScanTarget* target = nullptr;
        if (keep) {
            if (next == targets.end()) return count;
            target = next++;
        }

        switch (conversion) {
        case 'u': {
            skipBlanks(s);
            std::string limited;
            const char* begin = s;
            if (width > 0) {
                for (std::size_t i = 0; i < width && s[i] != '\0'; ++i) limited += s[i];
                begin = limited.c_str();
            }
            char* end = nullptr;
            const unsigned long value = std::strtoul(begin, &end, 10);
            if (end == begin) return count;
            s += end - begin;
            if (target != nullptr) {
                if (isLong && target->kind_ == ScanTarget::Kind::ULong) {
                    *target->ulong_ = value;
                } else if (!isLong && target->kind_ == ScanTarget::Kind::UInt) {
                    *target->uint_ = static_cast<unsigned>(value);
                } else {
                    return count;
                }
                ++count;
            }
            break;
        }
        case 's': {
            skipBlanks(s);
            const char* begin = s;
            while (*s != '\0' && !isBlank(*s) && (width == 0 || std::size_t(s - begin) < width)) ++s;
            if (s == begin) return count;
            if (target != nullptr) {
                if (target->kind_ != ScanTarget::Kind::Text) return count;
                target->text_->assign(begin, s);
                ++count;
            }
            break;
        }
        case '[': {
            const std::bitset<256> set = parseSet(p);
            if (*p != ']') return count;
            ++p;
            const char* begin = s;
            while (set.test(static_cast<unsigned char>(*s)) && (width == 0 || std::size_t(s - begin) < width)) ++s;
            // An empty match does not end the scan; an empty kept field is not counted.
            if (s != begin && target != nullptr) {
                if (target->kind_ != ScanTarget::Kind::Text) return count;
                target->text_->assign(begin, s);
                ++count;
            }
            break;
        }
        default:
            return count;
        }
    }
    return count;
}

}  // namespace dorvane::firmware
