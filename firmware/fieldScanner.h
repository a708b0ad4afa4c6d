// A small scanf-style matcher for the fixed-format texts this host reads
// (catalogue lines, keys-list lines, configuration file names).
//
// It follows the C library's sscanf for the directives it knows, with one
// difference that those formats rely on: a bracketed character-set directive
// (%[...], %N[...] or %*[...]) that matches no character does not end the
// scan; the scan goes on with the next directive, and a kept field that
// matched nothing is not counted and leaves its destination as it was.
//
// Directives: %u and %lu (unsigned decimal, with the C library's conversion
// rules: leading blanks skipped, optional sign, wrap-around of the value),
// %s, %[set] with ^ negation, ranges and a leading ], each optionally
// suppressed (*) and with a width. White space in the pattern skips any white
// space in the input; any other character must match itself. An unknown
// directive ends the scan.
#pragma once

#include <initializer_list>
#include <string>

namespace dorvane::firmware {

class ScanTarget {
public:
    ScanTarget(unsigned* value) : kind_(Kind::UInt), uint_(value) {}
    ScanTarget(unsigned long* value) : kind_(Kind::ULong), ulong_(value) {}
    ScanTarget(std::string* value) : kind_(Kind::Text), text_(value) {}

private:
    friend int scanFields(const char*, const char*, std::initializer_list<ScanTarget>);
    enum class Kind { UInt, ULong, Text };
    Kind kind_;
    unsigned* uint_ = nullptr;
    unsigned long* ulong_ = nullptr;
    std::string* text_ = nullptr;
};

// Applies the pattern to the input (scanning stops at its terminating NUL).
// Returns the number of kept fields that were stored; never negative.
int scanFields(const char* input, const char* pattern, std::initializer_list<ScanTarget> targets);

}  // namespace dorvane::firmware
