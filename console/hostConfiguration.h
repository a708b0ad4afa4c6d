// The two configuration files beside the executable: LoRaHost.cfg (the host
// configuration, an INI file) and LoRaDongle.cfg (the dongle command script,
// read as lines), and the pieces of their reading that need no window.
#pragma once

#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "console/iniFile.h"

namespace dorvane::console {

inline constexpr const char* kHostConfigFileName = "LoRaHost.cfg";
inline constexpr const char* kDongleScriptFileName = "LoRaDongle.cfg";
inline constexpr const char* kLockFileName = "Dorvane.lck";

inline constexpr const char* kConfigCorruptedMessage =
    "Configuration file is corrupted !!\r\nThe application will be shut down !!";

// Defaults of the keys that are not host settings.
constexpr std::int32_t kDefaultTimeOut = 5;
// SYSTEM/Serial Directory: the directory in which "COMn" names the dongle's
// device node (a udev rule or a symbolic link puts it there).
inline constexpr const char* kSerialDirectoryKey = "Serial Directory";
inline constexpr const char* kDefaultSerialDirectory = "/dev";
constexpr std::int32_t kDefaultUdpPort = 57000;
constexpr std::int32_t kDefaultHttpPort = 56700;
constexpr std::int32_t kDefaultSuccessRate = 100;
inline constexpr const char* kDefaultHostAddressText = "0x01020304050607";

// The connecting time-out box's range; technician mode lowers the minimum to 0.
constexpr int kTimeOutMinimum = 1;
constexpr int kTechnicianTimeOutMinimum = 0;
constexpr int kTimeOutMaximum = 30;

// "path/name" for a file in the directory.
std::string pathIn(const std::string& directory, const char* fileName);

// Applies DEVICE/ADDRESS: the first two characters are dropped (normally
// "0x"), the rest is read as pairs of hexadecimal digits into the address
// from its first byte on. Reading stops after 8 bytes, at the end of the text,
// or at the first pair that is not two hexadecimal digits; bytes not reached
// keep their value.
void applyHostAddressText(const std::string& text, std::uint8_t address[8]);

// LoRaHost.cfg as read at start-up: an absent file reads as empty; a file
// that exists but cannot be read also reads as empty, and is reported so the
// close does not overwrite it.
struct HostConfigFile {
    IniFile ini;
    bool exists = false;
    bool readable = false;
};
HostConfigFile readHostConfig(const std::string& path);

// The five keys written back at close, in the order they are written.
struct SavedKeys {
    std::uint16_t peerPort = 56700;
    std::int32_t udpPort = kDefaultUdpPort;
    std::int32_t timeOut = kDefaultTimeOut;
    std::string comPort;  // single-byte text
    std::int32_t successRate = kDefaultSuccessRate;
};

// Reads the file as it is now, writes the five keys into it and saves it
// (through a temporary file when the directory allows, directly otherwise).
// Every other line stays byte for byte. A file that exists but cannot be read
// is left alone. False with a reason when the file is not written.
bool saveHostConfig(const std::string& path, const SavedKeys& keys, std::string& reason);

// The dongle command list: the lines of the script, or nothing when the file
// cannot be read or holds no line.
std::unique_ptr<QStringList> readDongleScript(const std::string& path);

}  // namespace dorvane::console
