// The firmware package format: a TI-TXT memory image encoded character by
// character with a mask drawn from a CRC-32 register, behind a header line
// that carries the key and the package's own file name, and sealed by a
// trailer that repeats the key text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dorvane::firmware {

constexpr std::uint32_t kHeaderSeed = 0x6B3E52A7u;
constexpr std::uint32_t kKeyMask = 0x0D4C9E23u;
constexpr std::uint32_t kZeroStartRegister = 0x1Fu;
constexpr std::size_t kHeaderLength = 8;

// The package's messages (the loader adds its prefix).
inline constexpr const char* kNotAPackageMessage = "The selected file is not a \"qfwp\" type file !!";
inline constexpr const char* kWrongNameMessage = "That's a corrupted file !!!";
inline constexpr const char* kModifiedMessage = "The selected file has been modified !!";
inline constexpr const char* kCorruptedMessage = "The selected file is corrupted !!";

// The descrambler register and the one-character walk, both ways. The upper
// three bits of a character never change, so printable text stays printable
// and no encoded character is a line break unless the plain one was.
class PackageDescrambler {
public:
    // A nonzero value becomes the register (true); 0 sets it to 31 (false).
    bool setRegister(std::uint32_t value);
    std::uint8_t decode(std::uint8_t encoded);
    std::uint8_t encode(std::uint8_t plain);
    std::uint32_t reg() const { return reg_; }

private:
    std::uint8_t mask(std::uint8_t upperBits);
    void absorb(std::uint8_t encoded);
    std::uint32_t reg_ = kZeroStartRegister;
};

// The characters a decoded TI-TXT line may hold: digits, A-F, a-f, blank, @, q.
bool isPackageTextCharacter(std::uint8_t c);

// Eight hexadecimal digits (either case) read as a 32-bit number.
bool parseHeaderText(std::string_view text, std::uint32_t& value);
// The key the header text stands for: its value XOR the key mask, or the key
// mask when that gives 0.
std::uint32_t headerKey(std::uint32_t headerValue);

enum class DecodeResult {
    Ok,
    NotAPackage,   // line 1 shorter than the header
    WrongName,     // name text differs from the file name
    Modified,      // a decoded character outside the TI-TXT set
    Corrupted,     // trailer differs from the header text
    ReadFailure,   // no line 1, no last line, or a header that is not hexadecimal
};

// The message of a package check; empty for Ok and ReadFailure.
const char* decodeResultMessage(DecodeResult result);

// Decodes a package held as lines, in place: on Ok the lines are the TI-TXT
// text (line 1 removed, trailer cut off). expectedName is the firmware file
// name without directory and extension. headerText, when given, receives the
// decoded header text.
DecodeResult decodePackage(PackageDescrambler& descrambler, std::vector<std::string>& lines,
                           std::string_view expectedName, std::string* headerText = nullptr);

// Encodes TI-TXT lines into package lines under the given name text and
// header text, with the trailer on the last text line. The key follows from
// the header text; a header that is not hexadecimal encodes with the key mask
// (only useful to make refused packages). The trailer text defaults to the
// header text.
std::vector<std::string> encodePackageLines(const std::vector<std::string>& textLines, std::string_view nameText,
                                            std::string_view headerText, std::string_view trailerText = {});

// The header text for a value: eight upper-case hexadecimal digits.
std::string headerTextFor(std::uint32_t value);

}  // namespace dorvane::firmware
