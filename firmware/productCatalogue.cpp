#include "firmware/productCatalogue.h"

#include <filesystem>

#include "firmware/fieldScanner.h"
#include "firmware/textLines.h"

namespace dorvane::firmware {

namespace {

constexpr std::string_view kEmbeddedKey = "embedded product name";
constexpr std::string_view kTransferKey = "transfer buffer size";
constexpr std::string_view kDisplayedKey = "displayed product name";

bool contains(const std::string& line, std::string_view key) { return line.find(key) != std::string::npos; }

void readValue(const std::string& line, std::string& field) {
    std::string value;
    if (scanFields(line.c_str(), kCatalogueValuePattern, {&value}) == 1) {
        if (value.size() > kMaxCatalogueText) value.resize(kMaxCatalogueText);
        field = std::move(value);
    }
}

}  // namespace

bool ProductCatalogue::readCatalogue(const std::string& directory, std::string& message) {
    std::filesystem::path path = std::filesystem::path(directory) / kCatalogueFileName;
    return readCatalogueFile(path.string(), message);
}

bool ProductCatalogue::readCatalogueFile(const std::string& path, std::string& message) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        message = kCatalogueMissingMessage;
        return false;
    }
    TextFile file;
    // A file that is there but cannot be read gives no line: corrupted.
    if (!readTextFile(path, file) || file.lines.empty()) {
        message = kCatalogueCorruptedMessage;
        return false;
    }
    entries_.clear();
    readLines(file.lines);
    message.clear();
    return true;
}

void ProductCatalogue::readLines(const std::vector<std::string>& lines) {
    const std::size_t n = lines.size();
    std::size_t i = 0;
    while (i < n) {
        if (contains(lines[i], kEmbeddedKey)) {
            // The file ends inside a product's lines: reading stops, earlier products stay.
            if (i + 1 >= n) return;
            if (contains(lines[i + 1], kTransferKey)) {
                if (i + 2 >= n) return;
                if (contains(lines[i + 2], kDisplayedKey)) {
                    // Entries past the 255th are not kept: the lookup index is 8-bit.
                    if (entries_.size() < kMaxCatalogueEntries) {
                        TEmbeddedProductObject entry;
                        readValue(lines[i], entry.embeddedProductName);
                        unsigned size = 0;
                        if (scanFields(lines[i + 1].c_str(), kCatalogueNumberPattern, {&size}) == 1)
                            entry.transferBufferSize = static_cast<std::uint16_t>(size);
                        readValue(lines[i + 2], entry.displayedProductName);
                        entries_.push_back(std::move(entry));
                    }
                    i += 3;
                    continue;
                }
            }
        }
        ++i;
    }
}

const TEmbeddedProductObject* ProductCatalogue::findProduct(std::string_view embeddedProductName) const {
    for (const TEmbeddedProductObject& entry : entries_)
        if (entry.embeddedProductName == embeddedProductName) return &entry;
    return nullptr;
}

void ProductCatalogue::add(TEmbeddedProductObject entry) {
    if (entries_.size() < kMaxCatalogueEntries) entries_.push_back(std::move(entry));
}

}  // namespace dorvane::firmware
