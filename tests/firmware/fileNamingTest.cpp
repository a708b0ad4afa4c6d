#include <gtest/gtest.h>

#include <string>

#include "firmware/fileNaming.h"

namespace dorvane::firmware {
namespace {

struct NameCase {
    const char* name;
    bool fits;
    unsigned major, minor, corrective;
    unsigned long build;
    unsigned configuration;
    bool configurationType;
};

TEST(FileNaming, NamesAndWhatTheyRead) {
    const NameCase cases[] = {
        {"V1.2.3.4_PROD.qfwp", true, 1, 2, 3, 4, 65535, false},
        {"V1.2.3.4.7_PROD.qfwp", true, 1, 2, 3, 7, 65535, false},  // the larger build
        {"V1.2.3.9.7_PROD.qfwp", true, 1, 2, 3, 9, 65535, false},
        {"V1.2.3.4_PROD.txt", true, 1, 2, 3, 4, 65535, false},
        {"V1.2.3.4", true, 1, 2, 3, 4, 65535, false},  // four numbers are enough
        {"C1.2.3.4_PROD.12.qfwp", true, 1, 2, 3, 4, 12, true},
        {"C1.2.3.4.9_PROD.12.qfwp", true, 1, 2, 3, 9, 12, true},
        {"C1.2.3.9.4_PROD.0.qfwp", true, 1, 2, 3, 9, 0, true},
        {"C1.2.3.4_.12", true, 1, 2, 3, 4, 12, true},  // empty product part
        {"V1.2.3_PROD.qfwp", false, 0, 0, 0, 0, 0, false},
        {"X1.2.3.4_PROD.qfwp", false, 0, 0, 0, 0, 0, false},
        {"v1.2.3.4_PROD.qfwp", false, 0, 0, 0, 0, 0, false},
        {"C1.2.3.4_PROD", false, 0, 0, 0, 0, 0, false},
        {"C1.2.3.4_PROD.qfwp", false, 0, 0, 0, 0, 0, false},
        {"C1.2.3_PROD.12.qfwp", false, 0, 0, 0, 0, 0, false},
        {"", false, 0, 0, 0, 0, 0, false},
    };
    for (const NameCase& c : cases) {
        FileNameVersion v;
        ASSERT_EQ(parseFirmwareFileName(c.name, v), c.fits) << c.name;
        if (!c.fits) continue;
        EXPECT_EQ(v.major, c.major) << c.name;
        EXPECT_EQ(v.minor, c.minor) << c.name;
        EXPECT_EQ(v.corrective, c.corrective) << c.name;
        EXPECT_EQ(v.build, c.build) << c.name;
        EXPECT_EQ(v.configuration, c.configuration) << c.name;
        EXPECT_EQ(v.configurationType, c.configurationType) << c.name;
    }
}

TEST(FileNaming, VersionPartsMustFitTheRecord) {
    const struct {
        const char* name;
        bool fits;
    } cases[] = {
        {"V99.99.99.16777215_P.qfwp", true},
        {"V100.0.0.0_P.qfwp", false},
        {"V0.100.0.0_P.qfwp", false},
        {"V0.0.100.0_P.qfwp", false},
        {"V0.0.0.16777216_P.qfwp", false},
        {"V0.0.0.1.16777216_P.qfwp", false},  // the second build is the one kept
        {"V65537.0.0.0_P.qfwp", false},       // would read as 1 in a 16-bit field
        {"V-1.0.0.0_P.qfwp", false},
        {"C1.2.3.4_P.65534.qfwp", true},
        {"C1.2.3.4_P.65535.qfwp", false},  // would read as "no configuration"
        {"C1.2.3.4_P.65548.qfwp", false},  // would read as 12 in a 16-bit field
        {"V4294967297.0.0.1_P.qfwp", false},  // wraps to 1 in the scanner's 32-bit conversion
        {"C1.2.3.4_P.4294967308.qfwp", false},  // wraps to 12
        {"V0000000000001.2.3.4_P123456789012.qfwp", true},  // leading zeros; digits in the product
    };
    for (const auto& c : cases) {
        FileNameVersion v;
        ASSERT_TRUE(parseFirmwareFileName(c.name, v)) << c.name;
        EXPECT_EQ(versionFitsRecord(v), c.fits) << c.name;
    }
}

TEST(FileNaming, EmbeddedProductName) {
    EXPECT_EQ(embeddedProductNameOf("V1.2.3.4_PROD.qfwp"), "PROD");
    EXPECT_EQ(embeddedProductNameOf("C1.2.3.4_PROD.12.qfwp"), "PROD");
    EXPECT_EQ(embeddedProductNameOf("V1.2.3.4_A_B.qfwp"), "A_B");
    EXPECT_EQ(embeddedProductNameOf("V1.2.3.4PROD.qfwp"), "");
    EXPECT_EQ(embeddedProductNameOf("V1.2.3.4_PROD"), "");
    EXPECT_EQ(embeddedProductNameOf("V1.2.3.4_.qfwp"), "");
    const std::string longest(127, 'p'), tooLong(128, 'p');
    EXPECT_EQ(embeddedProductNameOf("V1.2.3.4_" + longest + ".qfwp"), longest);
    EXPECT_EQ(embeddedProductNameOf("V1.2.3.4_" + tooLong + ".qfwp"), "");
}

TEST(FileNaming, ToolNamesReadBack) {
    FileNameVersion v{3, 14, 15, 926, 65535, false};
    EXPECT_EQ(firmwareFileName(v, "PROD", "qfwp"), "V3.14.15.926_PROD.qfwp");
    FileNameVersion c{3, 14, 15, 926, 12, true};
    const std::string name = firmwareFileName(c, "PROD", ".qfwp");
    EXPECT_EQ(name, "C3.14.15.926_PROD.12.qfwp");
    FileNameVersion back;
    ASSERT_TRUE(parseFirmwareFileName(name, back));
    EXPECT_EQ(back.configuration, 12u);
    EXPECT_EQ(back.build, 926u);
}

}  // namespace
}  // namespace dorvane::firmware
