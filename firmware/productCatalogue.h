// The product catalogue: the products whose firmware the host can load, read
// from LoRaHostEmbeddedProducts.json. The file is read as lines, not parsed
// as JSON: a product is three consecutive lines holding the keys
// "embedded product name", "transfer buffer size" and "displayed product
// name", in this order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dorvane::firmware {

inline constexpr const char* kCatalogueFileName = "LoRaHostEmbeddedProducts.json";
inline constexpr const char* kCatalogueMissingMessage =
    "The file \"LoRaHostEmbeddedProducts.json\" is not present !\r\nDorvane will be shut down !!";
inline constexpr const char* kCatalogueCorruptedMessage = "The file \"LoRaHostEmbeddedProducts.json\" is corrupted !!";

inline constexpr const char* kCatalogueValuePattern = "%*[^:]:%*[^\"]\"%[^\"]";
inline constexpr const char* kCatalogueNumberPattern = "%*[^:]: %u";

// A text value holds at most this many characters; longer ones are cut.
constexpr std::size_t kMaxCatalogueText = 191;
// The lookup walks the list with an 8-bit index.
constexpr std::size_t kMaxCatalogueEntries = 255;

// One product entry.
struct TEmbeddedProductObject {
    std::string embeddedProductName;
    std::uint16_t transferBufferSize = 0;
    std::string displayedProductName;
};

class ProductCatalogue {
public:
    // Reads kCatalogueFileName from the directory (the executable's). On
    // failure the message is set and the entries read so far (none) stay.
    bool readCatalogue(const std::string& directory, std::string& message);
    // Reads the catalogue file at an explicit path.
    bool readCatalogueFile(const std::string& path, std::string& message);
    // Recognises products in lines (the reading after the file checks).
    void readLines(const std::vector<std::string>& lines);

    // The first entry whose embedded product name equals the text exactly.
    const TEmbeddedProductObject* findProduct(std::string_view embeddedProductName) const;

    void add(TEmbeddedProductObject entry);
    void clear() { entries_.clear(); }
    const std::vector<TEmbeddedProductObject>& entries() const { return entries_; }

private:
    std::vector<TEmbeddedProductObject> entries_;
};

}  // namespace dorvane::firmware
