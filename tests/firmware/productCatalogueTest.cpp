#include <gtest/gtest.h>

#include <string>

#include "firmware/productCatalogue.h"
#include "tests/firmware/firmwareFixtures.h"

namespace dorvane::firmware {
namespace {

using test::ScratchDirectory;

std::string entry(const std::string& embedded, const std::string& size, const std::string& displayed) {
    return "  {\r\n    \"embedded product name\": \"" + embedded + "\",\r\n    \"transfer buffer size\": " + size +
           ",\r\n    \"displayed product name\": \"" + displayed + "\"\r\n  }";
}

struct Catalogue {
    ScratchDirectory dir;
    ProductCatalogue catalogue;
    std::string message = "untouched";
    bool read(const std::string& text) {
        dir.write(kCatalogueFileName, text);
        return catalogue.readCatalogue(dir.path().string(), message);
    }
};

TEST(ProductCatalogue, MissingAndEmptyFiles) {
    ScratchDirectory dir;
    ProductCatalogue catalogue;
    std::string message;
    EXPECT_FALSE(catalogue.readCatalogue(dir.path().string(), message));
    EXPECT_EQ(message, "The file \"LoRaHostEmbeddedProducts.json\" is not present !\r\nDorvane will be shut down !!");

    Catalogue empty;
    EXPECT_FALSE(empty.read(""));
    EXPECT_EQ(empty.message, "The file \"LoRaHostEmbeddedProducts.json\" is corrupted !!");
}

TEST(ProductCatalogue, ReadsEntriesInFileOrder) {
    Catalogue c;
    ASSERT_TRUE(c.read("[\r\n" + entry("PROD", "16", "Product One") + ",\r\n" + entry("OTHER", "300", "Other") +
                       ",\r\n" + entry("PROD", "32", "Second Prod") + "\r\n]\r\n"));
    EXPECT_EQ(c.message, "");
    ASSERT_EQ(c.catalogue.entries().size(), 3u);
    const TEmbeddedProductObject* prod = c.catalogue.findProduct("PROD");
    ASSERT_NE(prod, nullptr);
    EXPECT_EQ(prod->transferBufferSize, 16) << "the first of two equal names";
    EXPECT_EQ(prod->displayedProductName, "Product One");
    ASSERT_NE(c.catalogue.findProduct("OTHER"), nullptr);
    EXPECT_EQ(c.catalogue.findProduct("OTHER")->transferBufferSize, 300);
    EXPECT_EQ(c.catalogue.findProduct("prod"), nullptr) << "case counts";
    EXPECT_EQ(c.catalogue.findProduct("PRO"), nullptr);
    EXPECT_EQ(c.catalogue.findProduct(""), nullptr);
}

TEST(ProductCatalogue, OnlyThreeConsecutiveKeyLinesInOrderMakeAnEntry) {
    const struct {
        const char* what;
        std::string text;
        std::size_t entries;
    } cases[] = {
        {"brackets and braces only", "[\n{\n}\n]\n", 0},
        {"keys out of order",
         "\"transfer buffer size\": 1,\n\"embedded product name\": \"A\",\n\"displayed product name\": \"B\"\n", 0},
        {"a line between the keys",
         "\"embedded product name\": \"A\",\n\"x\": 1,\n\"transfer buffer size\": 1,\n\"displayed product name\": "
         "\"B\"\n",
         0},
        {"LF line breaks",
         "\"embedded product name\": \"A\",\n\"transfer buffer size\": 1,\n\"displayed product name\": \"B\"", 1},
        {"CR line breaks",
         "\"embedded product name\": \"A\",\r\"transfer buffer size\": 1,\r\"displayed product name\": \"B\"", 1},
        {"file ends after the first key", "[\n" + entry("A", "1", "B") + ",\n\"embedded product name\": \"C\"", 1},
        {"file ends after the second key",
         "[\n" + entry("A", "1", "B") + ",\n\"embedded product name\": \"C\",\n\"transfer buffer size\": 2", 1},
    };
    for (const auto& c : cases) {
        Catalogue cat;
        EXPECT_TRUE(cat.read(c.text)) << c.what;
        EXPECT_EQ(cat.catalogue.entries().size(), c.entries) << c.what;
    }
}

TEST(ProductCatalogue, ValueAndNumberPatterns) {
    Catalogue c;
    ASSERT_TRUE(c.read("\"embedded product name\":\"TIGHT\",\n"   // quote right after the colon
                       "\"transfer buffer size\": \"64\",\n"       // quoted number: stays 0
                       "\"displayed product name\": \"Open end\n"  // no closing quote: to the end of the line
                       "\"embedded product name\" no colon here\n"
                       "\"transfer buffer size\":70000\n"          // low 16 bits
                       "\"displayed product name\": no quote\n"
                       "\"embedded product name\": \"\",\n"        // empty value: no value
                       "\"transfer buffer size\":   \t 12,\n"
                       "\"displayed product name\": \"a \\\"b\\\" c\"\n"));  // escapes not interpreted
    const auto& e = c.catalogue.entries();
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].embeddedProductName, "TIGHT");
    EXPECT_EQ(e[0].transferBufferSize, 0);
    EXPECT_EQ(e[0].displayedProductName, "Open end");
    EXPECT_EQ(e[1].embeddedProductName, "");
    EXPECT_EQ(e[1].transferBufferSize, 70000 & 0xFFFF);
    EXPECT_EQ(e[1].displayedProductName, "");
    EXPECT_EQ(e[2].embeddedProductName, "");
    EXPECT_EQ(e[2].transferBufferSize, 12);
    EXPECT_EQ(e[2].displayedProductName, "a \\");
}

TEST(ProductCatalogue, LongValuesAreCutAndEntriesPastTheLimitIgnored) {
    Catalogue c;
    std::string text = "[\n" + entry(std::string(250, 'N'), "8", std::string(192, 'D'));
    for (int i = 1; i < 300; ++i) text += ",\n" + entry("P" + std::to_string(i), std::to_string(i), "x");
    text += "\n]\n";
    ASSERT_TRUE(c.read(text));
    ASSERT_EQ(c.catalogue.entries().size(), 255u);
    EXPECT_EQ(c.catalogue.entries()[0].embeddedProductName, std::string(191, 'N'));
    EXPECT_EQ(c.catalogue.entries()[0].displayedProductName, std::string(191, 'D'));
    EXPECT_NE(c.catalogue.findProduct("P254"), nullptr);
    EXPECT_EQ(c.catalogue.findProduct("P255"), nullptr);
}

}  // namespace
}  // namespace dorvane::firmware
