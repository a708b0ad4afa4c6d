// Version, configuration number and product read from a firmware file name.
//
//   V-type: "V%u.%u.%u.%lu.%lu_%*s"           at least 4 numbers
//   C-type: "C%u.%u.%u.%lu_%*[^.].%u"         exactly 5 numbers
//   C-type: "C%u.%u.%u.%lu.%lu_%*[^.].%u"     exactly 6 numbers
//
// e.g. V1.2.3.4_PROD.qfwp, V1.2.3.4.7_PROD.qfwp, C1.2.3.4_PROD.12.qfwp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dorvane::firmware {

inline constexpr const char* kVTypePattern = "V%u.%u.%u.%lu.%lu_%*s";
inline constexpr const char* kCTypePattern = "C%u.%u.%u.%lu_%*[^.].%u";
inline constexpr const char* kCTypeTwoBuildsPattern = "C%u.%u.%u.%lu.%lu_%*[^.].%u";

inline constexpr const char* kUndecodableNameMessage = "Impossible to decode the selected file !!";

constexpr std::size_t kMaxEmbeddedProductName = 127;

// The numbers as read from the name. build is the larger of the build and
// the second build; configuration is 65535 for a V-type name.
struct FileNameVersion {
    unsigned major = 0;
    unsigned minor = 0;
    unsigned corrective = 0;
    unsigned long build = 0;
    unsigned configuration = 0xFFFF;
    bool configurationType = false;  // read by a C-type pattern
    // A number of ten or more significant digits: the scanner's 32-bit
    // conversion wraps it to a small, wrong value, so it never fits.
    bool numberTooLong = false;
};

// Applies the patterns in order to a file name without directory. False when
// none fits.
bool parseFirmwareFileName(std::string_view fileName, FileNameVersion& version);

// True when every part fits the version record: major, minor and corrective
// below 100, build below 2^24 and, for a C-type name, a configuration number
// below 65535 (65535 itself means "no configuration").
bool versionFitsRecord(const FileNameVersion& version);

// The characters after the first '_' up to the next '.', at most 127 of them;
// empty when there is no '_' or no '.' follows within 128 characters.
std::string embeddedProductNameOf(std::string_view fileName);

// "V<ma>.<mi>.<co>.<build>_<product>" or "C<ma>.<mi>.<co>.<build>_<product>.<configuration>"
// plus the extension: the name the package tool gives a package.
std::string firmwareFileName(const FileNameVersion& version, std::string_view product, std::string_view extension);

}  // namespace dorvane::firmware
