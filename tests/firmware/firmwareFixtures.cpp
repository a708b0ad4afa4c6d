#include "tests/firmware/firmwareFixtures.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "firmware/packageFile.h"

namespace dorvane::firmware::test {

ScratchDirectory::ScratchDirectory() {
    static std::atomic<unsigned> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("dorvane-firmware-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
}

ScratchDirectory::~ScratchDirectory() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
}

std::string ScratchDirectory::write(const std::string& name, const std::string& bytes) const {
    const std::string full = (path_ / name).string();
    std::ofstream out(full, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return full;
}

std::string ScratchDirectory::writePackage(const std::string& name, const std::string& text,
                                           const std::string& headerText) const {
    std::string package, error;
    EXPECT_TRUE(packText(text, name, headerText, package, error)) << error;
    return write(name, package);
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string tiTxt(const std::vector<std::pair<std::uint32_t, unsigned>>& sections, std::uint8_t first,
                  const char* lineBreak) {
    std::string text;
    unsigned value = first;
    char buffer[16];
    for (const auto& [address, count] : sections) {
        std::snprintf(buffer, sizeof buffer, "@%04X", static_cast<unsigned>(address));
        text += buffer;
        text += lineBreak;
        for (unsigned i = 0; i < count; ++i) {
            std::snprintf(buffer, sizeof buffer, "%02X", value++ & 0xFFu);
            text += buffer;
            text += (i % 16 == 15 || i + 1 == count) ? lineBreak : " ";
        }
    }
    text += "q";
    text += lineBreak;
    return text;
}

LoaderRig::LoaderRig() : loader(context, image, catalogue, keys) {
    catalogue.add({"PROD", 16, "Product One"});
    catalogue.add({"WIDE", 71, "Wide Product"});
    catalogue.add({"CONF", 73, "Configured Product"});
    catalogue.add({"BIG", 300, "Big Product"});
    catalogue.add({"ZERO", 256, "Zero Product"});
    catalogue.add({"NARROW", 74, "Narrow Product"});
}

bool LoaderRig::load(bool plain, const std::string& firmwarePath, std::string& message, bool withKeys,
                     const std::string& keysPath) {
    return loader.load(plain, withKeys, firmwarePath, keysPath, message);
}

}  // namespace dorvane::firmware::test
