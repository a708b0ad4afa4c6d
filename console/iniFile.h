// LoRaHost.cfg as an INI file: sections in square brackets, "key=value"
// lines, section and key names matched without regard to letter case, blanks
// around names and values ignored. The file is held as its own lines, each
// with the line break it had, so that writing a key rewrites that one line and
// every other byte of the file stays as it was.
//
// Plain single-byte text; no Qt. Reading and writing the file on disk is the
// caller's (hostConfiguration.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dorvane::console {

// Integer text as the configuration reads it: decimal, optionally signed; a
// text longer than two characters that starts with "0x"/"0X", or any text that
// starts with "$", is hexadecimal. The value must fit 32 bits (hexadecimal up
// to FFFFFFFF, taken as its signed 32-bit value). False for anything else,
// the empty text included.
bool parseConfigInteger(std::string_view text, std::int32_t& value);

class IniFile {
public:
    IniFile() = default;
    // Takes the file's bytes. A leading UTF-8 byte-order mark is kept as it
    // is but does not hide the first section.
    explicit IniFile(std::string bytes);

    // The file as it would be written back.
    std::string bytes() const;

    // Finds the value (trimmed) of the first matching key of the first section
    // that holds it.
    bool find(std::string_view section, std::string_view key, std::string& value) const;

    // Typed readers: the default when the key is absent or, for integers and
    // booleans, when the value is not a number. A boolean is an integer that is
    // not 0. A text key with an empty value reads as the empty text.
    std::int32_t readInteger(std::string_view section, std::string_view key, std::int32_t fallback) const;
    bool readBool(std::string_view section, std::string_view key, bool fallback) const;
    std::string readString(std::string_view section, std::string_view key, const std::string& fallback) const;

    // Writes "key=value" (no blanks around the sign): over the first matching
    // key line when there is one (keeping that line's spelling of the key),
    // else as a new line at the end of the section, else in a new section
    // appended at the end of the file. Sections are thus created in the order
    // of their first write.
    void writeString(std::string_view section, std::string_view key, std::string_view value);
    void writeInteger(std::string_view section, std::string_view key, std::int32_t value);

private:
    struct Line {
        std::string text;   // without its line break
        std::string brk;    // "\r\n", "\n", "\r", or empty for a last line without one
    };
    enum class Kind { Other, Section, Key };
    struct Parsed {
        Kind kind = Kind::Other;
        std::string_view name;   // section or key name, trimmed
        std::string_view value;  // key value, trimmed
    };
    Parsed parse(std::size_t index) const;
    std::string newLineBreak() const;

    std::vector<Line> lines_;
};

}  // namespace dorvane::console
