#include "protocol/deviceAdmission.h"

#include <cstdio>
#include <cstring>

namespace dorvane {

void DeviceAdmission::addressText(const std::uint8_t* address, char out[19]) {
    static const char kHex[] = "0123456789ABCDEF";
    out[0] = '0';
    out[1] = 'x';
    for (std::size_t i = 0; i < kAddressSize; ++i) {
        out[2 + 2 * i] = kHex[address[i] >> 4];
        out[3 + 2 * i] = kHex[address[i] & 0x0F];
    }
    out[18] = '\0';
}

int DeviceAdmission::writeRow(const Hello& hello, const char* address) {
    // One row per device: the previous row of the same address goes first.
    char cell[24];
    const int rows = grid_.rowCount();
    for (int row = 0; row < rows; ++row) {
        if (!grid_.readCell(row, kColAddress, cell, sizeof cell)) return -1;
        if (std::strcmp(cell, address) == 0) {
            if (!grid_.deleteRow(row)) return -1;
            break;
        }
    }
    const int row = grid_.appendRow();
    if (row < 0) return -1;
    if (!grid_.makeLastRowCurrent() || !grid_.setLineColour(0, 0, 255)) return row;

    char time[64] = {};
    dateTime_.now(time, sizeof time);
    char name[kMaxProductName + 1];
    std::memcpy(name, hello.productName, hello.productNameLength);
    name[hello.productNameLength] = '\0';

    char number[16];
    if (!grid_.writeCell(row, kColTime, time)) return row;
    if (!grid_.writeCell(row, kColType, name)) return row;
    if (!grid_.writeCell(row, kColAddress, address)) return row;
    std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(hello.major));
    if (!grid_.writeCell(row, kColMajor, number)) return row;
    std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(hello.minor));
    if (!grid_.writeCell(row, kColMinor, number)) return row;
    std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(hello.corrective));
    if (!grid_.writeCell(row, kColCorrective, number)) return row;
    std::snprintf(number, sizeof number, "%d", static_cast<int>(static_cast<std::int16_t>(hello.configuration)));
    if (!grid_.writeCell(row, kColConfiguration, number)) return row;
    std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(hello.build));
    grid_.writeCell(row, kColBuild, number);
    return row;
}

bool DeviceAdmission::isEligible(const Hello& hello) const {
    if (image_ == nullptr || !image_->isValid()) return false;  // no image: nothing to give
    const char* loaded = image_->productName();
    const std::size_t loadedLength = loaded != nullptr ? std::strlen(loaded) : 0;
    if (loadedLength != hello.productNameLength || std::memcmp(loaded, hello.productName, loadedLength) != 0) {
        return false;
    }
    if (settings_.transfertMode == 1 && (keys_ == nullptr || !keys_->hasRecord(hello.address))) return false;

    const VersionRecord& v = image_->version();
    const bool configurationDiffers = v.configuration != kNoConfiguration && v.configuration != hello.configuration;
    const bool sameVersion =
        hello.major == v.major && hello.minor == v.minor && hello.corrective == v.corrective && hello.build == v.build;
    bool older = false;
    if (hello.major != v.major) {
        older = hello.major < v.major;
    } else if (hello.minor != v.minor) {
        older = hello.minor < v.minor;
    } else if (hello.corrective != v.corrective) {
        older = hello.corrective < v.corrective;
    } else {
        older = (hello.build & 0xFFFFFFu) < (v.build & 0xFFFFFFu);
    }
    return (configurationDiffers && (!settings_.strictConfigurationUpdate || sameVersion)) || older;
}

AdmissionResult DeviceAdmission::evaluate(const Hello& hello) {
    if (hello.productNameLength > kMaxProductName) return {};
    char address[19];
    addressText(hello.address, address);
    const int row = writeRow(hello, address);

    AdmissionResult result;
    const char* update = "No";
    if (isEligible(hello)) {
        if (controls_.isAuthorised()) {
            update = "Yes";
            result.admitted = true;
            result.minutes = controls_.connectingTimeoutMinutes();
        } else {
            update = "Off";
        }
    }
    if (row >= 0) grid_.writeCell(row, kColUpdate, update);
    return result;
}

}  // namespace dorvane
