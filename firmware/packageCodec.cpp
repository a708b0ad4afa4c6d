#include "firmware/packageCodec.h"
#include "protocol/hexDigit.h"

#include <array>
#include <cstdio>

#include "protocol/crc32.h"

namespace dorvane::firmware {

namespace {

constexpr std::array<bool, 256> makeTextSet() {
    std::array<bool, 256> set{};
    for (int c = '0'; c <= '9'; ++c) set[c] = true;
    for (int c = 'A'; c <= 'F'; ++c) set[c] = true;
    for (int c = 'a'; c <= 'f'; ++c) set[c] = true;
    set[' '] = true;
    set['@'] = true;
    set['q'] = true;
    return set;
}
constexpr std::array<bool, 256> kTextSet = makeTextSet();

}  // namespace

bool PackageDescrambler::setRegister(std::uint32_t value) {
    if (value == 0) {
        reg_ = kZeroStartRegister;
        return false;
    }
    reg_ = value;
    return true;
}

std::uint8_t PackageDescrambler::mask(std::uint8_t upperBits) {
    reg_ = crc32Step(reg_, upperBits);
    const std::uint8_t m = static_cast<std::uint8_t>(reg_ & 0x1Fu);
    return m == 0 ? 0x1F : m;
}

void PackageDescrambler::absorb(std::uint8_t encoded) {
    // The character is taken as signed and widened: 0x80..0xFF also set the upper 24 bits.
    reg_ ^= static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(encoded)));
}

std::uint8_t PackageDescrambler::decode(std::uint8_t encoded) {
    const std::uint8_t plain = encoded ^ mask(encoded & 0xE0);
    absorb(encoded);
    return plain;
}

std::uint8_t PackageDescrambler::encode(std::uint8_t plain) {
    // The encoded character shares the plain one's upper three bits, so the
    // mask is the one the decoder will draw.
    const std::uint8_t encoded = plain ^ mask(plain & 0xE0);
    absorb(encoded);
    return encoded;
}

bool isPackageTextCharacter(std::uint8_t c) { return kTextSet[c]; }

bool parseHeaderText(std::string_view text, std::uint32_t& value) {
    if (text.size() != kHeaderLength) return false;
    std::uint32_t v = 0;
    for (char c : text) {
        const int d = hexDigitValue(c);
        if (d < 0) return false;
        v = (v << 4) | static_cast<std::uint32_t>(d);
    }
    value = v;
    return true;
}

std::uint32_t headerKey(std::uint32_t headerValue) {
    const std::uint32_t key = headerValue ^ kKeyMask;
    return key == 0 ? kKeyMask : key;
}

const char* decodeResultMessage(DecodeResult result) {
    switch (result) {
    case DecodeResult::NotAPackage: return kNotAPackageMessage;
    case DecodeResult::WrongName: return kWrongNameMessage;
    case DecodeResult::Modified: return kModifiedMessage;
    case DecodeResult::Corrupted: return kCorruptedMessage;
    case DecodeResult::Ok:
    case DecodeResult::ReadFailure: break;
    }
    return "";
}

DecodeResult decodePackage(PackageDescrambler& descrambler, std::vector<std::string>& lines,
                           std::string_view expectedName, std::string* headerTextOut) {
    if (lines.empty()) return DecodeResult::ReadFailure;
    const std::string& first = lines.front();
    if (first.size() < kHeaderLength) return DecodeResult::NotAPackage;

    descrambler.setRegister(kHeaderSeed);
    std::string header(kHeaderLength, '\0');
    for (std::size_t i = 0; i < kHeaderLength; ++i)
        header[i] = static_cast<char>(descrambler.decode(static_cast<std::uint8_t>(first[i])));
    if (headerTextOut != nullptr) *headerTextOut = header;

    std::uint32_t headerValue = 0;
    if (!parseHeaderText(header, headerValue)) return DecodeResult::ReadFailure;
    descrambler.setRegister(headerKey(headerValue));

    // From here the register runs on to the end of the file.
    std::string name(first.size() - kHeaderLength, '\0');
    for (std::size_t i = kHeaderLength; i < first.size(); ++i)
        name[i - kHeaderLength] = static_cast<char>(descrambler.decode(static_cast<std::uint8_t>(first[i])));
    if (name != expectedName) return DecodeResult::WrongName;

    lines.erase(lines.begin());
    for (std::string& line : lines) {
        for (char& ch : line) {
            const std::uint8_t plain = descrambler.decode(static_cast<std::uint8_t>(ch));
            if (!kTextSet[plain]) return DecodeResult::Modified;
            ch = static_cast<char>(plain);
        }
    }

    if (lines.empty()) return DecodeResult::ReadFailure;
    std::string& last = lines.back();
    const std::size_t cut = last.size() < kHeaderLength ? last.size() : kHeaderLength;
    const std::string_view trailer(last.data() + last.size() - cut, cut);
    if (trailer != header) return DecodeResult::Corrupted;
    last.resize(last.size() - cut);
    return DecodeResult::Ok;
}

std::vector<std::string> encodePackageLines(const std::vector<std::string>& textLines, std::string_view nameText,
                                            std::string_view headerText, std::string_view trailerText) {
    PackageDescrambler scrambler;
    std::vector<std::string> out;
    out.reserve(textLines.size() + 2);

    std::string first;
    first.reserve(headerText.size() + nameText.size());
    scrambler.setRegister(kHeaderSeed);
    for (char c : headerText) first += static_cast<char>(scrambler.encode(static_cast<std::uint8_t>(c)));
    std::uint32_t headerValue = 0;
    scrambler.setRegister(parseHeaderText(headerText, headerValue) ? headerKey(headerValue) : kKeyMask);
    for (char c : nameText) first += static_cast<char>(scrambler.encode(static_cast<std::uint8_t>(c)));
    out.push_back(std::move(first));

    const std::string_view trailer = trailerText.empty() ? headerText : trailerText;
    auto encodeLine = [&](std::string_view plain) {
        std::string line(plain.size(), '\0');
        for (std::size_t i = 0; i < plain.size(); ++i)
            line[i] = static_cast<char>(scrambler.encode(static_cast<std::uint8_t>(plain[i])));
        return line;
    };
    if (textLines.empty()) {
        out.push_back(encodeLine(trailer));
        return out;
    }
    for (std::size_t i = 0; i + 1 < textLines.size(); ++i) out.push_back(encodeLine(textLines[i]));
    std::string last = textLines.back();
    last += trailer;
    out.push_back(encodeLine(last));
    return out;
}

std::string headerTextFor(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
    return text;
}

}  // namespace dorvane::firmware
