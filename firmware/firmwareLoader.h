// The firmware loader: turns a firmware package (or, with the plain flag, a
// plain TI-TXT file) into the firmware image, after reading the product keys
// list when asked to. It shows nothing: it returns a success flag and always
// sets the message for the operator.
#pragma once

#include <cstdint>
#include <string>

#include "firmware/fileNaming.h"
#include "firmware/firmwareImage.h"
#include "firmware/packageCodec.h"
#include "firmware/productCatalogue.h"
#include "firmware/productKeysList.h"
#include "protocol/ports.h"

namespace dorvane::firmware {

inline constexpr const char* kLoadedMessage = "Memory loading is completed";
inline constexpr const char* kHostActiveMessage =
    "Can't load a firmware file while FOTA is in progress !!\r\n[Give Up] before reloading";
inline constexpr const char* kUnknownProductMessage = "Unknown product !!";
inline constexpr const char* kCaughtPrefix = "This exception has been catched\r\n\r\n";
inline constexpr const char* kReadFailurePrefix = "Impossible to read the file : ";

// Data bytes a frame carries per image block: a GWR frame (firmware
// package) has two bytes of frame number before them, a PWR frame
// (configuration package) none.
constexpr unsigned kMaxFirmwareBlock = 71;
constexpr unsigned kMaxConfigurationBlock = 73;

// What the loader needs from the main window and the App Host.
class ILoaderContext {
public:
    virtual ~ILoaderContext() = default;
    // A transfer pending or running: the image must not change.
    virtual bool isHostActive() = 0;
    virtual const HostSettings& settings() = 0;
    // The flash size selector's text ("256k" unless changed).
    virtual std::string flashSizeText() = 0;
    // Either may be null (then nothing is shown).
    virtual IStatusPanels* statusPanels() = 0;
    virtual IProgressBar* progressBar() = 0;
};

// The three status texts a successful load shows (panels 0 to 2).
struct StatusTexts {
    std::string product;
    std::string version;
    std::string configuration;
};
StatusTexts statusTextsFor(const std::string& displayedProductName, const FileNameVersion& version,
                           bool strictConfigurationUpdate);

class FirmwareLoader {
public:
    FirmwareLoader(ILoaderContext& context, FirmwareImage& image, const ProductCatalogue& catalogue,
                   ProductKeysList& keys)
        : context_(context), image_(image), catalogue_(catalogue), keys_(keys) {}

    // plain: the firmware file is a plain TI-TXT file (no decoding, no package
    // checks). withKeys: read the product keys list at keysPath first.
    bool load(bool plain, bool withKeys, const std::string& firmwarePath, const std::string& keysPath,
              std::string& message);

private:
    enum class Step { Done, Caught, ReadFailure, Refused };
    Step run(bool plain, bool withKeys, const std::string& firmwarePath, const std::string& keysPath,
             std::string& message);

    ILoaderContext& context_;
    FirmwareImage& image_;
    const ProductCatalogue& catalogue_;
    ProductKeysList& keys_;
    PackageDescrambler descrambler_;
};

// The Open button's choice of file kind: plain when technician mode is on and
// one of the development directories exists (the list ends at its first
// empty entry, or at a failing test), else the "Software File UnJammed"
// setting.
bool openFlowPlain(const HostSettings& settings, const char* const* developmentDirectories, std::size_t count);
// The build-time list of development directories (up to four).
extern const char* const kDevelopmentDirectories[4];

}  // namespace dorvane::firmware
