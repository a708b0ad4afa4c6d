#include "firmware/firmwareLoader.h"

#include <cstdio>
#include <filesystem>

#include "firmware/fileNaming.h"
#include "firmware/textLines.h"

#ifndef DORVANE_DEVELOPMENT_DIRECTORY
#define DORVANE_DEVELOPMENT_DIRECTORY ""
#endif

namespace dorvane::firmware {

const char* const kDevelopmentDirectories[4] = {DORVANE_DEVELOPMENT_DIRECTORY, "", "", ""};

StatusTexts statusTextsFor(const std::string& displayedProductName, const FileNameVersion& version,
                           bool strictConfigurationUpdate) {
    StatusTexts texts;
    texts.product = displayedProductName;
    char buffer[96];
    if (version.configuration != kNoConfiguration && !strictConfigurationUpdate) {
        texts.version = " Version : Any";
    } else {
        std::snprintf(buffer, sizeof buffer, " Version : V%u.%u.%u.%lu", version.major, version.minor,
                      version.corrective, version.build);
        texts.version = buffer;
    }
    std::snprintf(buffer, sizeof buffer, " Config : I-%u", version.configuration);
    texts.configuration = buffer;
    return texts;
}

bool FirmwareLoader::load(bool plain, bool withKeys, const std::string& firmwarePath, const std::string& keysPath,
                          std::string& message) {
    Step step = Step::ReadFailure;
    std::string detail;
    try {
        step = run(plain, withKeys, firmwarePath, keysPath, detail);
    } catch (...) {
        // Out of memory on a huge file, or any other fault while reading.
        step = Step::ReadFailure;
    }
    switch (step) {
    case Step::Done:
        message = kLoadedMessage;
        return true;
    case Step::Refused:
        message = detail;
        break;
    case Step::Caught:
        message = std::string(kCaughtPrefix) + detail;
        break;
    case Step::ReadFailure:
        message = std::string(kReadFailurePrefix) + firmwarePath;
        break;
    }
    return false;
}

FirmwareLoader::Step FirmwareLoader::run(bool plain, bool withKeys, const std::string& firmwarePath,
                                         const std::string& keysPath, std::string& detail) {
    // 1. Never change the image under a pending or running transfer.
    if (context_.isHostActive()) {
        detail = kHostActiveMessage;
        return Step::Refused;
    }

    // 2. The keys list comes first; when it is refused the firmware file is not read.
    if (withKeys && !keys_.read(keysPath, detail)) return Step::Refused;

    // 3. Version, build and configuration number from the file name. A part
    // that does not fit the version record fails here too, before anything
    // of the image changes.
    const std::string fileName(fileNameOf(firmwarePath));
    FileNameVersion version;
    if (!parseFirmwareFileName(fileName, version) || !versionFitsRecord(version)) {
        detail = kUndecodableNameMessage;
        return Step::Caught;
    }

    // 4. The product name is the image's from here on, found or not. The
    // image is no longer the one that was loaded, so it reads as "no image"
    // until this load completes.
    image_.setValid(false);
    image_.setProductName(embeddedProductNameOf(fileName));
    const TEmbeddedProductObject* product = catalogue_.findProduct(image_.productName());
    if (product == nullptr) {
        detail = kUnknownProductMessage;
        return Step::Refused;
    }
    // Blocks that no frame can carry would be refused by the stack one by one.
    const unsigned blockSize = product->transferBufferSize & 0xFFu;
    const bool configurationPackage = version.configuration != kNoConfiguration;
    const unsigned maxBlock = configurationPackage ? kMaxConfigurationBlock : kMaxFirmwareBlock;
    if (blockSize == 0 || blockSize > maxBlock) {
        char text[256];
        std::snprintf(text, sizeof text,
                      "The transfer buffer size %u of product %s gives blocks of %u bytes; a %s package needs "
                      "1 to %u !!",
                      static_cast<unsigned>(product->transferBufferSize), product->embeddedProductName.c_str(),
                      blockSize, configurationPackage ? "configuration" : "firmware", maxBlock);
        detail = text;
        return Step::Refused;
    }

    // 5. Release the previous blocks.
    image_.clearBlocks();

    // 6. The file as lines.
    TextFile file;
    if (!readTextFile(firmwarePath, file)) return Step::ReadFailure;

    // 7. Package decoding and its checks.
    if (!plain) {
        const DecodeResult result =
            decodePackage(descrambler_, file.lines, withoutExtension(fileName), nullptr);
        if (result == DecodeResult::ReadFailure) return Step::ReadFailure;
        if (result != DecodeResult::Ok) {
            detail = decodeResultMessage(result);
            return Step::Caught;
        }
    }

    // 8. Image blocks.
    if (!buildImageBlocks(file.lines, static_cast<std::uint8_t>(blockSize), image_)) return Step::ReadFailure;

    // 9. Checksum, version record, status texts.
    image_.setChecksum(image_.computeChecksum(context_.flashSizeText()));
    if (!image_.storeVersion(static_cast<std::uint16_t>(version.major), static_cast<std::uint16_t>(version.minor),
                             static_cast<std::uint16_t>(version.corrective),
                             static_cast<std::uint32_t>(version.build),
                             static_cast<std::uint16_t>(version.configuration))) {
        detail = kUndecodableNameMessage;  // cannot happen after the name check; kept as a guard
        return Step::Caught;
    }
    const StatusTexts texts =
        statusTextsFor(product->displayedProductName, version, context_.settings().strictConfigurationUpdate);
    if (IStatusPanels* panels = context_.statusPanels()) {
        panels->setPanelText(0, texts.product.c_str());
        panels->setPanelText(1, texts.version.c_str());
        panels->setPanelText(2, texts.configuration.c_str());
    }

    // 10. Done.
    image_.setValid(true);
    if (IProgressBar* bar = context_.progressBar()) {
        bar->setRange(0, image_.builtBlockCount());
        bar->setPosition(0);
    }
    return Step::Done;
}

bool openFlowPlain(const HostSettings& settings, const char* const* developmentDirectories, std::size_t count) {
    if (settings.technicianMode) {
        for (std::size_t i = 0; i < count; ++i) {
            const char* directory = developmentDirectories[i];
            if (directory == nullptr || directory[0] == '\0') break;  // the first empty entry ends the list
            std::error_code error;
            const bool exists = std::filesystem::exists(directory, error);
            if (error) break;
            if (exists) return true;
        }
    }
    return settings.softwareFileUnJammed;
}

}  // namespace dorvane::firmware
