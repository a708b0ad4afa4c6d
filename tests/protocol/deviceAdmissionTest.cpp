#include <gtest/gtest.h>

#include <string>

#include "protocol/deviceAdmission.h"
#include "tests/support/fakes.h"

namespace dorvane {
namespace {

const std::uint8_t kAddress[8] = {0x70, 0xB3, 0xD5, 0x7E, 0xD0, 0x00, 0x12, 0x34};

struct AdmissionTest : ::testing::Test {
    AdmissionTest() : admission(grid, controls, settings, capture) {
        image.record = {1, 2, 3, 100, kNoConfiguration};
        admission.setImage(&image);
        admission.setKeyStore(&keys);
        settings.transfertMode = 0;
    }
    Hello hello(std::uint8_t major, std::uint8_t minor, std::uint8_t corrective, std::uint32_t build,
                std::uint16_t configuration = kNoConfiguration, const char* name = "PROD",
                const std::uint8_t* address = kAddress) {
        Hello h;
        h.address = address;
        h.major = major;
        h.minor = minor;
        h.corrective = corrective;
        h.build = build;
        h.configuration = configuration;
        h.productName = name;
        h.productNameLength = static_cast<std::uint8_t>(std::strlen(name));
        return h;
    }
    std::string update() { return grid.rows.back()[kColUpdate]; }

    test::FakeGrid grid;
    test::FakeControls controls;
    HostSettings settings;
    test::CaptureLog capture;
    test::FakeImage image;
    test::FakeKeys keys;
    DeviceAdmission admission;
};

TEST_F(AdmissionTest, FirmwarePackageReachesOlderDevicesOnly) {
    struct Case {
        std::uint8_t major, minor, corrective;
        std::uint32_t build;
        bool authorised;
        const char* expected;
    };
    const Case cases[] = {
        {1, 2, 3, 99, true, "Yes"}, {1, 2, 3, 99, false, "Off"}, {1, 2, 3, 100, true, "No"},
        {1, 3, 0, 0, true, "No"},   {0, 99, 99, 999, true, "Yes"}, {1, 2, 2, 0xFFFFFF, true, "Yes"},
    };
    for (const auto& c : cases) {
        controls.authorised = c.authorised;
        const AdmissionResult r = admission.evaluate(hello(c.major, c.minor, c.corrective, c.build));
        EXPECT_EQ(update(), c.expected) << int(c.major) << "." << int(c.minor) << "." << int(c.corrective) << "."
                                        << c.build;
        EXPECT_EQ(r.admitted, std::string(c.expected) == "Yes");
        EXPECT_EQ(r.minutes, r.admitted ? 5 : 0);
    }
}

TEST_F(AdmissionTest, ConfigurationPackageAndStrictUpdate) {
    image.record.configuration = 7;
    struct Case {
        bool strict;
        std::uint8_t major;
        std::uint32_t build;
        std::uint16_t configuration;
        const char* expected;
    };
    const Case cases[] = {
        {false, 9, 0, 3, "Yes"},    // differs, any version
        {true, 9, 0, 3, "No"},      // strict: newer version refused
        {true, 1, 100, 3, "Yes"},   // strict: same version
        {true, 1, 99, 3, "Yes"},    // strict: older (older always qualifies)
        {false, 1, 100, 7, "No"},   // same configuration, same version
    };
    for (const auto& c : cases) {
        settings.strictConfigurationUpdate = c.strict;
        admission.evaluate(hello(c.major, 2, 3, c.build, c.configuration));
        EXPECT_EQ(update(), c.expected) << c.strict << " " << int(c.major) << " " << c.build;
    }
}

TEST_F(AdmissionTest, ProductNameAndKeysList) {
    admission.evaluate(hello(0, 0, 0, 0, kNoConfiguration, "prod"));
    EXPECT_EQ(update(), "No");
    settings.transfertMode = 1;
    admission.evaluate(hello(0, 0, 0, 0));
    EXPECT_EQ(update(), "No");  // not listed
    test::FakeKeyRecord r{};
    std::memcpy(r.address, kAddress, 8);
    keys.records.push_back(r);
    admission.evaluate(hello(0, 0, 0, 0));
    EXPECT_EQ(update(), "Yes");
}

TEST_F(AdmissionTest, RowHoldsTheHelloAndReplacesTheDevicesEarlierRow) {
    const std::uint8_t other[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    admission.evaluate(hello(1, 2, 3, 99, 0xFFFF));
    admission.evaluate(hello(0, 0, 0, 0, 0xFFFF, "PROD", other));
    admission.evaluate(hello(1, 2, 3, 98, 0x0005));
    ASSERT_EQ(grid.rows.size(), 2u);
    const auto& row = grid.rows.back();
    EXPECT_EQ(row[kColTime], test::CaptureLog::kStamp);
    EXPECT_EQ(row[kColType], "PROD");
    EXPECT_EQ(row[kColAddress], "0x70B3D57ED0001234");
    EXPECT_EQ(row[kColMajor], "1");
    EXPECT_EQ(row[kColMinor], "2");
    EXPECT_EQ(row[kColCorrective], "3");
    EXPECT_EQ(row[kColBuild], "98");
    EXPECT_EQ(row[kColConfiguration], "5");
    EXPECT_EQ(grid.rows.front()[kColAddress], "0x0102030405060708");
    EXPECT_EQ(grid.lineColour, (std::vector<int>{0, 0, 255}));
    admission.evaluate(hello(1, 2, 3, 98, 0xFFFF));
    EXPECT_EQ(grid.rows.back()[kColConfiguration], "-1");
}

TEST_F(AdmissionTest, LongNameTouchesNoRowAndGridFailureStillDecides) {
    std::string name(129, 'P');
    Hello h = hello(1, 2, 3, 99);
    h.productName = name.c_str();
    h.productNameLength = 129;
    EXPECT_FALSE(admission.evaluate(h).admitted);
    EXPECT_TRUE(grid.rows.empty());

    grid.failWriteColumn = kColMajor;  // the row is left partial
    const AdmissionResult r = admission.evaluate(hello(1, 2, 3, 99));
    EXPECT_TRUE(r.admitted);
    EXPECT_EQ(update(), "Yes");
    EXPECT_EQ(grid.rows.back()[kColMinor], "");

    grid.failAppend = true;
    EXPECT_TRUE(admission.evaluate(hello(1, 2, 3, 99)).admitted);
}

TEST_F(AdmissionTest, ZeroMinuteTimeoutAdmitsWithZeroMinutesAndNoImageAdmitsNobody) {
    controls.minutes = 0;
    AdmissionResult r = admission.evaluate(hello(1, 2, 3, 99));
    EXPECT_TRUE(r.admitted);
    EXPECT_EQ(r.minutes, 0);
    image.valid = false;
    controls.minutes = 5;
    r = admission.evaluate(hello(1, 2, 3, 99));
    EXPECT_FALSE(r.admitted);
    EXPECT_EQ(update(), "No");
}

}  // namespace
}  // namespace dorvane
