// dorvane-package: makes, reads and checks firmware packages.
//
//   dorvane-package pack TEXT.txt --product NAME --version MA.MI.CO.BUILD
//                        [--configuration N] [--directory DIR] [--header HEX]
//   dorvane-package pack TEXT.txt --output PATH/NAME.qfwp [--header HEX]
//   dorvane-package unpack PACKAGE.qfwp [--output TEXT.txt]
//   dorvane-package inspect FILE [--buffer N | --catalogue DIR] [--plain]
//                        [--flash 256k] [--strict]
//
// pack encodes a TI-TXT file into a package named by the V-type convention
// (V1.2.3.4_PROD.qfwp) or, with --configuration, the C-type convention
// (C1.2.3.4_PROD.12.qfwp). unpack gives the TI-TXT text back. inspect runs the
// host's firmware loader on the file and prints what it loaded, or its
// refusal exactly as the operator would see it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "firmware/fileNaming.h"
#include "firmware/firmwareLoader.h"
#include "firmware/packageFile.h"
#include "firmware/textLines.h"

using namespace dorvane;
using namespace dorvane::firmware;

namespace {

constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "usage:\n"
    "  dorvane-package pack TEXT.txt --product NAME --version MA.MI.CO.BUILD [--configuration N]\n"
    "                       [--directory DIR] [--header HEX]\n"
    "  dorvane-package pack TEXT.txt --output PATH/NAME.qfwp [--header HEX]\n"
    "  dorvane-package unpack PACKAGE.qfwp [--output TEXT.txt]\n"
    "  dorvane-package inspect FILE [--buffer N | --catalogue DIR] [--plain] [--flash TEXT] [--strict]\n";

int usage(const char* problem) {
    if (problem != nullptr) std::fprintf(stderr, "dorvane-package: %s\n", problem);
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

struct Options {
    std::vector<std::string> positional;
    std::string product, version, configuration, directory, header, output, buffer, catalogue;
    std::string flash = "256k";
    bool plain = false;
    bool strict = false;
};

bool parseOptions(int argc, char** argv, Options& o, std::string& problem) {
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) {
                problem = arg + " needs a value";
                return false;
            }
            into = argv[++i];
            return true;
        };
        if (arg == "--product") {
            if (!value(o.product)) return false;
        } else if (arg == "--version") {
            if (!value(o.version)) return false;
        } else if (arg == "--configuration") {
            if (!value(o.configuration)) return false;
        } else if (arg == "--directory") {
            if (!value(o.directory)) return false;
        } else if (arg == "--header") {
            if (!value(o.header)) return false;
        } else if (arg == "--output" || arg == "-o") {
            if (!value(o.output)) return false;
        } else if (arg == "--buffer") {
            if (!value(o.buffer)) return false;
        } else if (arg == "--catalogue") {
            if (!value(o.catalogue)) return false;
        } else if (arg == "--flash") {
            if (!value(o.flash)) return false;
        } else if (arg == "--plain") {
            o.plain = true;
        } else if (arg == "--strict") {
            o.strict = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            problem = "unknown option " + arg;
            return false;
        } else {
            o.positional.push_back(arg);
        }
    }
    return true;
}

bool parseDecimal(const std::string& text, unsigned long& value) {
    if (text.empty() || text.size() > 10) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    value = std::strtoul(text.c_str(), nullptr, 10);
    return true;
}

bool writeFile(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

int pack(const Options& o) {
    if (o.positional.size() != 1) return usage("pack takes one TI-TXT file");
    std::string target;
    if (!o.output.empty()) {
        if (!o.product.empty() || !o.version.empty() || !o.configuration.empty() || !o.directory.empty())
            return usage("--output names the package; --product, --version, --configuration and --directory "
                         "go without it");
        target = o.output;
    } else {
        if (o.product.empty() || o.version.empty()) return usage("pack needs --product and --version, or --output");
        FileNameVersion version;
        unsigned long parts[4] = {};
        std::size_t start = 0;
        for (int k = 0; k < 4; ++k) {
            const std::size_t dot = k < 3 ? o.version.find('.', start) : std::string::npos;
            if (k < 3 && dot == std::string::npos) return usage("--version is MA.MI.CO.BUILD");
            if (!parseDecimal(o.version.substr(start, dot == std::string::npos ? std::string::npos : dot - start),
                              parts[k]))
                return usage("--version is MA.MI.CO.BUILD, four decimal numbers");
            start = dot + 1;
        }
        version.major = static_cast<unsigned>(parts[0]);
        version.minor = static_cast<unsigned>(parts[1]);
        version.corrective = static_cast<unsigned>(parts[2]);
        version.build = parts[3];
        if (!o.configuration.empty()) {
            unsigned long configuration = 0;
            if (!parseDecimal(o.configuration, configuration)) return usage("--configuration is a decimal number");
            version.configuration = static_cast<unsigned>(configuration);
            version.configurationType = true;
            if (configuration >= 0xFFFF) {
                std::fprintf(stderr, "dorvane-package: the configuration number must be below 65535\n");
                return kExitRefused;
            }
        }
        const std::string name = firmwareFileName(version, o.product, "qfwp");
        target = o.directory.empty() ? name : (std::filesystem::path(o.directory) / name).string();
    }

    std::string header = o.header;
    if (header.empty()) {
        std::random_device random;
        header = headerTextFor(static_cast<std::uint32_t>(random()));
    }

    std::string text;
    if (!readFileBytes(o.positional[0], text)) {
        std::fprintf(stderr, "dorvane-package: cannot read %s\n", o.positional[0].c_str());
        return kExitRefused;
    }
    std::string package, error;
    if (!packText(text, fileNameOf(target), header, package, error)) {
        std::fprintf(stderr, "dorvane-package: %s\n", error.c_str());
        return kExitRefused;
    }
    if (!writeFile(target, package)) {
        std::fprintf(stderr, "dorvane-package: cannot write %s\n", target.c_str());
        return kExitRefused;
    }
    std::printf("%s\n", target.c_str());
    return 0;
}

int unpack(const Options& o) {
    if (o.positional.size() != 1) return usage("unpack takes one package");
    const std::string& path = o.positional[0];
    std::string package, text, message;
    if (!readFileBytes(path, package)) {
        std::printf("%s%s\n", kReadFailurePrefix, path.c_str());
        return kExitRefused;
    }
    if (!unpackText(package, path, text, message)) {
        std::printf("%s\n", message.c_str());
        return kExitRefused;
    }
    if (o.output.empty()) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        return 0;
    }
    if (!writeFile(o.output, text)) {
        std::fprintf(stderr, "dorvane-package: cannot write %s\n", o.output.c_str());
        return kExitRefused;
    }
    return 0;
}

class InspectContext final : public ILoaderContext, public IStatusPanels {
public:
    InspectContext(std::string flash, bool strict) : flash_(std::move(flash)) {
        settings_.strictConfigurationUpdate = strict;
    }
    bool isHostActive() override { return false; }
    const HostSettings& settings() override { return settings_; }
    std::string flashSizeText() override { return flash_; }
    IStatusPanels* statusPanels() override { return this; }
    IProgressBar* progressBar() override { return nullptr; }
    void setPanelText(int index, const char* text) override {
        if (index >= 0 && index < 3) panels[index] = text;
    }
    std::string panels[3];

private:
    HostSettings settings_;
    std::string flash_;
};

int inspect(const Options& o) {
    if (o.positional.size() != 1) return usage("inspect takes one firmware file");
    if (!o.buffer.empty() && !o.catalogue.empty()) return usage("--buffer and --catalogue go one without the other");
    const std::string& path = o.positional[0];
    const std::string fileName(fileNameOf(path));

    ProductCatalogue catalogue;
    if (!o.catalogue.empty()) {
        std::string message;
        if (!catalogue.readCatalogue(o.catalogue, message)) {
            std::printf("%s\n", message.c_str());
            return kExitRefused;
        }
    } else {
        unsigned long buffer = 64;
        if (!o.buffer.empty() && (!parseDecimal(o.buffer, buffer) || buffer > 0xFFFF))
            return usage("--buffer is a transfer buffer size, 0 to 65535");
        const std::string product = embeddedProductNameOf(fileName);
        if (!product.empty())
            catalogue.add(TEmbeddedProductObject{product, static_cast<std::uint16_t>(buffer), product});
    }

    InspectContext context(o.flash, o.strict);
    FirmwareImage image;
    ProductKeysList keys;
    FirmwareLoader loader(context, image, catalogue, keys);
    std::string message;
    if (!loader.load(o.plain, false, path, "", message)) {
        std::printf("%s\n", message.c_str());
        return kExitRefused;
    }
    const VersionRecord& v = image.version();
    const TEmbeddedProductObject* product = catalogue.findProduct(image.productName());
    std::printf("%s\n", message.c_str());
    std::printf("File          : %s\n", path.c_str());
    std::printf("Version       : %u.%u.%u.%u\n", v.major, v.minor, v.corrective, static_cast<unsigned>(v.build));
    std::printf("Configuration : %u (%s package)\n", v.configuration,
                image.isConfigurationPackage() ? "configuration" : "firmware");
    std::printf("Product       : %s\n", image.productName());
    std::printf("Buffer size   : %u (blocks of up to %u bytes)\n", product->transferBufferSize,
                product->transferBufferSize & 0xFFu);
    std::printf("Blocks        : %u\n", image.blockCount());
    for (std::uint32_t i = 0; i < image.blockCount(); ++i) {
        std::uint8_t length = 0;
        std::uint32_t address = 0;
        const std::uint8_t* data = nullptr;
        image.block(i, length, address, data);
        std::printf("  %6u  @%08X  %3u\n", i, address, length);
    }
    std::printf("Checksum      : %u (0x%08X) over %s\n", image.checksum(), image.checksum(), o.flash.c_str());
    std::printf("Status        : %s |%s |%s\n", context.panels[0].c_str(), context.panels[1].c_str(),
                context.panels[2].c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage(nullptr);
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    Options options;
    std::string problem;
    if (!parseOptions(argc, argv, options, problem)) return usage(problem.c_str());
    if (command == "pack") return pack(options);
    if (command == "unpack") return unpack(options);
    if (command == "inspect") return inspect(options);
    return usage(("unknown command " + command).c_str());
}
