// The firmware image held in memory: the image blocks cut from the TI-TXT
// text, the image checksum over the flash size, the version record and the
// embedded product name.
//
// An image that is not valid (nothing loaded yet, or left by a failed load)
// reads as "no image" through IFirmwareImage: no blocks, so it can neither be
// transferred nor used to admit devices.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/ports.h"

namespace dorvane::firmware {

// Flash sizes by selector text: "64k" .. "512k"; 0 for any other text
// (including "32k", which has no size).
std::uint32_t flashSizeBytes(std::string_view text);

class FirmwareImage final : public IFirmwareImage {
public:
    // IFirmwareImage
    bool isValid() const override { return valid_; }
    std::uint32_t blockCount() const override { return valid_ ? builtBlockCount() : 0; }
    bool block(std::uint32_t index, std::uint8_t& length, std::uint32_t& loadAddress,
               const std::uint8_t*& data) const override;
    std::uint32_t checksum() const override { return checksum_; }
    const VersionRecord& version() const override { return version_; }
    const char* productName() const override { return productName_.c_str(); }

    // The loader's side.
    void setValid(bool valid) { valid_ = valid; }
    // Version 0.0.0, build 0, no configuration.
    void resetVersion() { version_ = VersionRecord{}; }
    void setProductName(std::string_view name) { productName_.assign(name); }
    // Releases every block; block count 0.
    void clearBlocks();
    void appendBlock(std::uint32_t loadAddress, const std::uint8_t* bytes, std::uint8_t length);
    // Blocks as built, whether or not the image is valid.
    std::uint32_t builtBlockCount() const { return static_cast<std::uint32_t>(blocks_.size()); }
    bool builtBlock(std::uint32_t index, std::uint8_t& length, std::uint32_t& loadAddress,
                    const std::uint8_t*& data) const;

    // 255 x F minus the sum over every block byte of (255 - byte), wrapping;
    // 0 when the text names no flash size.
    std::uint32_t computeChecksum(std::string_view flashSizeText) const;
    void setChecksum(std::uint32_t checksum) { checksum_ = checksum; }

    // Stores the record when major, minor and corrective are below 100 and the
    // build below 2^24; otherwise stores nothing and returns false.
    bool storeVersion(std::uint16_t major, std::uint16_t minor, std::uint16_t corrective, std::uint32_t build,
                      std::uint16_t configuration);

private:
    struct Block {
        std::uint32_t loadAddress;
        std::uint32_t offset;  // into data_
        std::uint8_t length;
    };
    std::vector<Block> blocks_;
    std::vector<std::uint8_t> data_;
    std::uint32_t checksum_ = 0;
    VersionRecord version_{};
    std::string productName_;
    bool valid_ = false;
};

// Cuts TI-TXT lines into image blocks of at most blockSize bytes, appending
// them to the image. Lines by their first character: "q" emits what is
// pending (even nothing) and ends the text; "@" emits what is pending and
// sets the address; anything else, an empty line included, is data: blanks
// are skipped and every 2 x blockSize hexadecimal digits make a block, the
// address moving on by its length. Digits left without a "q" are dropped.
//
// False (the text is not a usable memory image) for: a data line before the
// first address, an address that is not a hexadecimal 32-bit number, a data
// character that is not a hexadecimal digit, a block with an odd number of
// digits, or a block size of 0. Blocks emitted before the fault stay.
bool buildImageBlocks(const std::vector<std::string>& lines, std::uint8_t blockSize, FirmwareImage& image);

}  // namespace dorvane::firmware
