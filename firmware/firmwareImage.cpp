#include "firmware/firmwareImage.h"

#include <array>

namespace dorvane::firmware {

namespace {

constexpr std::array<std::int8_t, 256> makeHexTable() {
    std::array<std::int8_t, 256> t{};
    for (auto& v : t) v = -1;
    for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<std::int8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c) t[c] = static_cast<std::int8_t>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c) t[c] = static_cast<std::int8_t>(c - 'a' + 10);
    return t;
}
constexpr std::array<std::int8_t, 256> kHex = makeHexTable();

int hexValue(char c) { return kHex[static_cast<unsigned char>(c)]; }

// The rest of an "@" line: hexadecimal digits, blanks allowed around them.
bool parseAddress(std::string_view text, std::uint32_t& address) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    std::size_t end = text.size();
    while (end > i && text[end - 1] == ' ') --end;
    if (i == end) return false;
    std::uint64_t value = 0;
    for (; i < end; ++i) {
        const int d = hexValue(text[i]);
        if (d < 0) return false;
        value = (value << 4) | static_cast<std::uint64_t>(d);
        if (value > 0xFFFFFFFFull) return false;
    }
    address = static_cast<std::uint32_t>(value);
    return true;
}

}  // namespace

std::uint32_t flashSizeBytes(std::string_view text) {
    struct Size {
        std::string_view text;
        std::uint32_t bytes;
    };
    static constexpr Size kSizes[] = {
        {"64k", 65536u},   {"96k", 98304u},   {"128k", 131072u}, {"192k", 196608u},
        {"256k", 262144u}, {"384k", 393216u}, {"512k", 524288u},
    };
    for (const Size& s : kSizes)
        if (s.text == text) return s.bytes;
    return 0;
}

bool FirmwareImage::block(std::uint32_t index, std::uint8_t& length, std::uint32_t& loadAddress,
                          const std::uint8_t*& data) const {
    if (!valid_) return false;
    return builtBlock(index, length, loadAddress, data);
}

bool FirmwareImage::builtBlock(std::uint32_t index, std::uint8_t& length, std::uint32_t& loadAddress,
                               const std::uint8_t*& data) const {
    if (index >= blocks_.size()) return false;
    const Block& b = blocks_[index];
    length = b.length;
    loadAddress = b.loadAddress;
    data = data_.data() + b.offset;
    return true;
}

void FirmwareImage::clearBlocks() {
    blocks_.clear();
    blocks_.shrink_to_fit();
    data_.clear();
    data_.shrink_to_fit();
}

void FirmwareImage::appendBlock(std::uint32_t loadAddress, const std::uint8_t* bytes, std::uint8_t length) {
    blocks_.push_back(Block{loadAddress, static_cast<std::uint32_t>(data_.size()), length});
    data_.insert(data_.end(), bytes, bytes + length);
}

std::uint32_t FirmwareImage::computeChecksum(std::string_view flashSizeText) const {
    const std::uint32_t flash = flashSizeBytes(flashSizeText);
    if (flash == 0) return 0;
    std::uint32_t sum = 255u * flash;
    for (std::uint8_t byte : data_) sum -= 255u - byte;
    return sum;
}

bool FirmwareImage::storeVersion(std::uint16_t major, std::uint16_t minor, std::uint16_t corrective,
                                 std::uint32_t build, std::uint16_t configuration) {
    if (major >= 100 || minor >= 100 || corrective >= 100 || build >= (1u << 24)) return false;
    version_.major = static_cast<std::uint8_t>(major);
    version_.minor = static_cast<std::uint8_t>(minor);
    version_.corrective = static_cast<std::uint8_t>(corrective);
    version_.build = build;
    version_.configuration = configuration;
    return true;
}

bool buildImageBlocks(const std::vector<std::string>& lines, std::uint8_t blockSize, FirmwareImage& image) {
    if (blockSize == 0) return false;
    bool haveAddress = false;
    std::uint32_t address = 0;
    // The accumulator holds whole bytes plus, between two digits, a half byte.
    std::uint8_t bytes[255];
    std::uint8_t count = 0;
    bool halfPending = false;
    int high = 0;

    auto emit = [&]() -> bool {
        if (halfPending) return false;  // odd number of digits in a block
        image.appendBlock(address, bytes, count);
        count = 0;
        return true;
    };

    for (const std::string& line : lines) {
        if (!line.empty() && line.front() == 'q') return emit();
        if (!line.empty() && line.front() == '@') {
            if (count > 0 || halfPending) {
                if (!emit()) return false;
            }
            if (!parseAddress(std::string_view(line).substr(1), address)) return false;
            haveAddress = true;
            continue;
        }
        if (!haveAddress) return false;
        for (char c : line) {
            if (c == ' ') continue;
            const int d = hexValue(c);
            if (d < 0) return false;
            if (!halfPending) {
                high = d;
                halfPending = true;
                continue;
            }
            bytes[count++] = static_cast<std::uint8_t>((high << 4) | d);
            halfPending = false;
            if (count == blockSize) {
                image.appendBlock(address, bytes, count);
                address += count;
                count = 0;
            }
        }
    }
    // No "q" line: what is left is dropped.
    return true;
}

}  // namespace dorvane::firmware
