// The product keys list: a semicolon-separated file named "ListeProduits_"
// plus a number that lists the devices to update with their radio keys.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/ports.h"

namespace dorvane::firmware {

inline constexpr const char* kKeysHeader =
    "DevEUI;ABP_DevAddr;ABP_NwkSKey;ABP_AppSKey;CodeFamille;Version;OTA_AppKey;OTA_AppEUI;Unconfirmed;"
    "CodeFamillePF;Synchro;Adr";
inline constexpr const char* kKeysNamePattern = "ListeProduits_%lu";
inline constexpr const char* kKeysLinePattern = "%32[^;];%*[^;];%48[^;];%48[^;];%*[^;];%*[^;];%48[^;];%*[^;]";

inline constexpr const char* kKeysUnrecognizedMessage = "Unrecognized file !!";
inline constexpr const char* kKeysUnknownMessage = "Unknown file !!";
inline constexpr const char* kKeysErroneousMessage = "Erronous file !!";
// Not part of the list's own checks: a file that cannot be opened, or holds no line.
inline constexpr const char* kKeysUnreadablePrefix = "Impossible to read the keys file : ";
inline constexpr const char* kKeysEmptyMessage = "The selected keys file is empty !!";

struct DeviceKeyRecord {
    std::uint8_t devEui[8] = {};
    std::uint8_t abpNwkSKey[16] = {};
    std::uint8_t abpAppSKey[16] = {};
    std::uint8_t otaAppKey[16] = {};
};

// Hexadecimal text to bytes, two digits per byte in text order, either case.
// The conversion stops at the first pair that is not two hexadecimal digits;
// the bytes it does not reach are 0.
void hexTextToBytes(const std::string& text, std::uint8_t* out, std::size_t size);

class ProductKeysList final : public IKeyStore {
public:
    // Reads the list at path. On failure the message is set: a name that is not
    // "ListeProduits_" + number leaves the list as it was; any later failure
    // leaves it empty or with the devices read before the faulty line.
    bool read(const std::string& path, std::string& message);

    // IKeyStore
    bool hasRecord(const std::uint8_t* address) const override;
    void keyOf(const std::uint8_t* address, KeyColumn column, std::uint8_t out[16]) const override;

    const std::vector<DeviceKeyRecord>& records() const { return records_; }
    void clear() { records_.clear(); }

private:
    const DeviceKeyRecord* find(const std::uint8_t* address) const;
    std::vector<DeviceKeyRecord> records_;
};

}  // namespace dorvane::firmware
