// The device admission: every evaluated hello writes the device's grid row
// (one row per device, moved to the end at every hello) and decides whether
// the device is to receive the loaded package: "Yes", "Off" (eligible but not
// authorised) or "No".
#pragma once

#include <cstdint>

#include "protocol/appHost.h"
#include "protocol/ports.h"

namespace dorvane {

class DeviceAdmission final : public IDeviceAdmission {
public:
    static constexpr std::uint8_t kMaxProductName = 128;

    DeviceAdmission(IDeviceGrid& grid, IOperatorControls& controls, const HostSettings& settings,
                    IDateTimeText& dateTime)
        : grid_(grid), controls_(controls), settings_(settings), dateTime_(dateTime) {}

    void setImage(const IFirmwareImage* image) { image_ = image; }
    void setKeyStore(const IKeyStore* keys) { keys_ = keys; }

    AdmissionResult evaluate(const Hello& hello) override;

    // "0x" and the 8 address bytes as 16 upper-case hexadecimal digits.
    static void addressText(const std::uint8_t* address, char out[19]);
    // Whether the device qualifies for the loaded image (before authorisation).
    bool isEligible(const Hello& hello) const;

private:
    // Returns the appended row, or -1 when the grid failed before appending.
    int writeRow(const Hello& hello, const char* address);

    IDeviceGrid& grid_;
    IOperatorControls& controls_;
    const HostSettings& settings_;
    IDateTimeText& dateTime_;
    const IFirmwareImage* image_ = nullptr;
    const IKeyStore* keys_ = nullptr;
};

}  // namespace dorvane
