#include "firmware/packageFile.h"

#include "firmware/fileNaming.h"
#include "firmware/firmwareLoader.h"
#include "firmware/textLines.h"

namespace dorvane::firmware {

bool packText(std::string_view tiTxt, std::string_view packageFileName, std::string_view headerText,
              std::string& package, std::string& error) {
    FileNameVersion version;
    if (!parseFirmwareFileName(packageFileName, version)) {
        error = "the name " + std::string(packageFileName) + " follows neither the V-type nor the C-type convention";
        return false;
    }
    if (!versionFitsRecord(version)) {
        error = "the version in " + std::string(packageFileName) +
                " does not fit the version record (parts below 100, build below 16777216, configuration below 65535)";
        return false;
    }
    if (embeddedProductNameOf(packageFileName).empty()) {
        error = "the name " + std::string(packageFileName) + " carries no product";
        return false;
    }
    for (char c : packageFileName) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            error = "the name holds a control character";
            return false;
        }
    }
    std::uint32_t headerValue = 0;
    if (!parseHeaderText(headerText, headerValue)) {
        error = "the header must be eight hexadecimal digits";
        return false;
    }
    TextFile text = splitLines(tiTxt);
    if (text.lines.empty()) {
        error = "the TI-TXT text is empty";
        return false;
    }
    for (std::size_t i = 0; i < text.lines.size(); ++i) {
        for (char c : text.lines[i]) {
            if (!isPackageTextCharacter(static_cast<std::uint8_t>(c))) {
                error = "line " + std::to_string(i + 1) +
                        " holds a character that a package cannot carry (only 0-9, A-F, a-f, blank, @ and q)";
                return false;
            }
        }
    }
    const std::string lineBreak = text.lineBreak.empty() ? "\r\n" : text.lineBreak;
    const std::vector<std::string> lines =
        encodePackageLines(text.lines, withoutExtension(packageFileName), headerText);
    package = joinLines(lines, lineBreak, text.endsWithBreak);
    return true;
}

bool unpackText(std::string_view package, const std::string& packagePath, std::string& tiTxt, std::string& message) {
    TextFile file = splitLines(package);
    PackageDescrambler descrambler;
    const DecodeResult result = decodePackage(descrambler, file.lines, withoutExtension(fileNameOf(packagePath)));
    if (result == DecodeResult::ReadFailure) {
        message = std::string(kReadFailurePrefix) + packagePath;
        return false;
    }
    if (result != DecodeResult::Ok) {
        message = std::string(kCaughtPrefix) + decodeResultMessage(result);
        return false;
    }
    tiTxt = joinLines(file.lines, file.lineBreak.empty() ? "\r\n" : file.lineBreak, file.endsWithBreak);
    message.clear();
    return true;
}

}  // namespace dorvane::firmware
