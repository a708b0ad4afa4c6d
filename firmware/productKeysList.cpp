#include "firmware/productKeysList.h"
#include "protocol/hexDigit.h"

#include <cstdio>
#include <cstring>

#include "firmware/fieldScanner.h"
#include "firmware/textLines.h"

namespace dorvane::firmware {

void hexTextToBytes(const std::string& text, std::uint8_t* out, std::size_t size) {
    std::memset(out, 0, size);
    for (std::size_t i = 0; i < size && 2 * i + 1 < text.size(); ++i) {
        const int high = hexDigitValue(text[2 * i]);
        const int low = hexDigitValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return;
        out[i] = static_cast<std::uint8_t>((high << 4) | low);
    }
}

bool ProductKeysList::read(const std::string& path, std::string& message) {
    const std::string name(fileNameOf(path));
    unsigned long number = 0;
    if (std::sscanf(name.c_str(), kKeysNamePattern, &number) != 1) {
        message = kKeysUnrecognizedMessage;
        return false;
    }

    records_.clear();
    TextFile file;
    if (!readTextFile(path, file)) {
        message = std::string(kKeysUnreadablePrefix) + path;
        return false;
    }
    if (file.lines.empty()) {
        message = kKeysEmptyMessage;
        return false;
    }
    const std::size_t headerLength = std::strlen(kKeysHeader);
    if (file.lines.front().compare(0, headerLength, kKeysHeader) != 0 || file.lines.front().size() < headerLength) {
        message = kKeysUnknownMessage;
        return false;
    }

    for (std::size_t i = 1; i < file.lines.size(); ++i) {
        const std::string& line = file.lines[i];
        if (line.empty()) continue;
        std::string devEui, nwkSKey, appSKey, appKey;
        if (scanFields(line.c_str(), kKeysLinePattern, {&devEui, &nwkSKey, &appSKey, &appKey}) < 4) {
            message = kKeysErroneousMessage;
            return false;
        }
        std::string address;
        address.reserve(devEui.size());
        for (char c : devEui)
            if (c != ':') address += c;
        DeviceKeyRecord record;
        hexTextToBytes(address, record.devEui, sizeof record.devEui);
        hexTextToBytes(nwkSKey, record.abpNwkSKey, sizeof record.abpNwkSKey);
        hexTextToBytes(appSKey, record.abpAppSKey, sizeof record.abpAppSKey);
        hexTextToBytes(appKey, record.otaAppKey, sizeof record.otaAppKey);
        records_.push_back(record);
    }
    message.clear();
    return true;
}

const DeviceKeyRecord* ProductKeysList::find(const std::uint8_t* address) const {
    for (const DeviceKeyRecord& record : records_)
        if (std::memcmp(record.devEui, address, sizeof record.devEui) == 0) return &record;
    return nullptr;
}

bool ProductKeysList::hasRecord(const std::uint8_t* address) const { return find(address) != nullptr; }

void ProductKeysList::keyOf(const std::uint8_t* address, KeyColumn column, std::uint8_t out[16]) const {
    const DeviceKeyRecord* record = find(address);
    if (record == nullptr) {
        std::memset(out, 0, 16);
        return;
    }
    const std::uint8_t* key = column == KeyColumn::NwkSKey   ? record->abpNwkSKey
                              : column == KeyColumn::AppSKey ? record->abpAppSKey
                                                             : record->otaAppKey;
    std::memcpy(out, key, 16);
}

}  // namespace dorvane::firmware
