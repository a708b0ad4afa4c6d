#include "firmware/fileNaming.h"

#include <cstdio>

#include "firmware/fieldScanner.h"

namespace dorvane::firmware {

namespace {

// The longest run of digits in the text, leading zeros not counted.
std::size_t longestNumber(std::string_view text) {
    std::size_t longest = 0, run = 0;
    bool significant = false;
    for (char c : text) {
        if (c < '0' || c > '9') {
            run = 0;
            significant = false;
        } else if (significant || c != '0') {
            significant = true;
            if (++run > longest) longest = run;
        }
    }
    return longest;
}

// Whether a version or configuration number of the name would wrap in a
// 32-bit conversion: the version numbers stand before the first "_", a C-type
// configuration number after the first "." behind it.
bool hasNumberTooLong(std::string_view name, bool configurationType) {
    constexpr std::size_t kMaxDigits = 9;  // 999,999,999 < 2^32
    const std::size_t underscore = name.find('_');
    if (longestNumber(name.substr(0, underscore)) > kMaxDigits) return true;
    if (!configurationType || underscore == std::string_view::npos) return false;
    const std::size_t dot = name.find('.', underscore);
    if (dot == std::string_view::npos) return false;
    const std::string_view rest = name.substr(dot + 1);
    return longestNumber(rest.substr(0, rest.find('.'))) > kMaxDigits;
}

// The patterns alone, without the check for numbers too long to convert.
bool parseFields(std::string_view fileName, FileNameVersion& version);

}  // namespace

bool parseFirmwareFileName(std::string_view fileName, FileNameVersion& version) {
    if (!parseFields(fileName, version)) return false;
    version.numberTooLong = hasNumberTooLong(fileName, version.configurationType);
    return true;
}

namespace {

bool parseFields(std::string_view fileName, FileNameVersion& version) {
    const std::string name(fileName);
    unsigned major = 0, minor = 0, corrective = 0, configuration = 0;
    unsigned long build = 0, secondBuild = 0;

    // No character-set directive here: the C library's scanner gives the answer as it stands.
    int count = std::sscanf(name.c_str(), kVTypePattern, &major, &minor, &corrective, &build, &secondBuild);
    if (count >= 4) {
        version = FileNameVersion{major, minor, corrective, count == 5 && secondBuild > build ? secondBuild : build,
                                  0xFFFF, false};
        return true;
    }

    // The C-type patterns skip the product with %*[^.], which must not end the
    // scan when the product part is empty ("C1.2.3.4_.12"): the field scanner
    // keeps the scan going there, where the C library's would stop.
    major = minor = corrective = configuration = 0;
    build = secondBuild = 0;
    count = scanFields(name.c_str(), kCTypePattern, {&major, &minor, &corrective, &build, &configuration});
    if (count == 5) {
        version = FileNameVersion{major, minor, corrective, build, configuration, true};
        return true;
    }

    major = minor = corrective = configuration = 0;
    build = secondBuild = 0;
    count = scanFields(name.c_str(), kCTypeTwoBuildsPattern,
                       {&major, &minor, &corrective, &build, &secondBuild, &configuration});
    if (count == 6) {
        version = FileNameVersion{major, minor, corrective, secondBuild > build ? secondBuild : build, configuration,
                                  true};
        return true;
    }
    return false;
}

}  // namespace

bool versionFitsRecord(const FileNameVersion& version) {
    if (version.numberTooLong) return false;
    if (version.major >= 100 || version.minor >= 100 || version.corrective >= 100) return false;
    if (version.build >= (1ul << 24)) return false;
    if (version.configurationType && version.configuration >= 0xFFFF) return false;
    return true;
}

std::string embeddedProductNameOf(std::string_view fileName) {
    const std::size_t underscore = fileName.find('_');
    if (underscore == std::string_view::npos) return {};
    const std::string_view rest = fileName.substr(underscore + 1);
    const std::size_t dot = rest.find('.');
    if (dot == std::string_view::npos || dot > kMaxEmbeddedProductName) return {};
    return std::string(rest.substr(0, dot));
}

std::string firmwareFileName(const FileNameVersion& version, std::string_view product, std::string_view extension) {
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, "%c%u.%u.%u.%lu_", version.configurationType ? 'C' : 'V', version.major,
                  version.minor, version.corrective, version.build);
    std::string name = numbers;
    name += product;
    if (version.configurationType) name += "." + std::to_string(version.configuration);
    if (!extension.empty()) {
        if (extension.front() != '.') name += '.';
        name += extension;
    }
    return name;
}

}  // namespace dorvane::firmware
