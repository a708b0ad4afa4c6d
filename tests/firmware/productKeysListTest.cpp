#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "firmware/productKeysList.h"
#include "tests/firmware/firmwareFixtures.h"

namespace dorvane::firmware {
namespace {

using test::ScratchDirectory;

const std::string kHeader = kKeysHeader;
const std::string kNwk = "00112233445566778899AABBCCDDEEFF";
const std::string kApp = "FFEEDDCCBBAA99887766554433221100";
const std::string kOta = "0102030405060708090a0b0c0d0e0f10";

std::string device(const std::string& devEui, const std::string& nwk = kNwk, const std::string& app = kApp,
                   const std::string& ota = kOta) {
    return devEui + ";26011234;" + nwk + ";" + app + ";FAM;1.0;" + ota + ";70B3D57ED0000000;0;PF;1;1";
}

struct Keys {
    ScratchDirectory dir;
    ProductKeysList list;
    std::string message = "untouched";
    bool read(const std::string& text, const std::string& name = "ListeProduits_1.txt") {
        return list.read(dir.write(name, text), message);
    }
};

std::array<std::uint8_t, 8> address(std::initializer_list<std::uint8_t> bytes) {
    std::array<std::uint8_t, 8> a{};
    std::copy(bytes.begin(), bytes.end(), a.begin());
    return a;
}

std::string hex(const std::uint8_t* bytes, std::size_t n) {
    std::string s;
    char b[3];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02X", bytes[i]);
        s += b;
    }
    return s;
}

TEST(ProductKeysList, FileNameMustBeListeProduitsAndANumber) {
    const struct {
        const char* name;
        bool accepted;
    } cases[] = {
        {"ListeProduits_20240101.txt", true}, {"ListeProduits_7", true},       {"ListeProduits_1.csv", true},
        {"ListeProduits.txt", false},         {"listeproduits_1.txt", false},  {"ListeProduits_x.txt", false},
        {"MyListeProduits_1.txt", false},     {"ListeProduits_.txt", false},
    };
    for (const auto& c : cases) {
        Keys k;
        ASSERT_TRUE(k.read(kHeader + "\r\n" + device("70B3D57ED0001234") + "\r\n"));  // a list in place
        const bool ok = k.read(kHeader + "\r\n", c.name);
        EXPECT_EQ(ok, c.accepted) << c.name;
        if (!c.accepted) {
            EXPECT_EQ(k.message, "Unrecognized file !!") << c.name;
            EXPECT_EQ(k.list.records().size(), 1u) << "a refused name leaves the list as it was";
        } else {
            EXPECT_EQ(k.list.records().size(), 0u) << "the new reading replaced the list";
        }
    }
}

TEST(ProductKeysList, RecordsAndLookups) {
    Keys k;
    ASSERT_TRUE(k.read(kHeader + ";Extra;Columns\r\n" + "\r\n" + device("70:B3:D5:7E:D0:00:12:34") + "\r\n\r\n" +
                       device("0000000000000001", kApp, kNwk, kNwk) + "\n" +
                       device("70B3D57ED0001234", kOta, kOta, kOta) + "\n\n"));
    ASSERT_EQ(k.list.records().size(), 3u);
    const auto first = address({0x70, 0xB3, 0xD5, 0x7E, 0xD0, 0x00, 0x12, 0x34});
    EXPECT_TRUE(k.list.hasRecord(first.data()));
    std::uint8_t key[16];
    k.list.keyOf(first.data(), KeyColumn::NwkSKey, key);
    EXPECT_EQ(hex(key, 16), kNwk) << "a device listed twice has its first line's keys";
    k.list.keyOf(first.data(), KeyColumn::AppSKey, key);
    EXPECT_EQ(hex(key, 16), kApp);
    k.list.keyOf(first.data(), KeyColumn::AppKey, key);
    EXPECT_EQ(hex(key, 16), "0102030405060708090A0B0C0D0E0F10");

    const auto second = address({0, 0, 0, 0, 0, 0, 0, 1});
    k.list.keyOf(second.data(), KeyColumn::NwkSKey, key);
    EXPECT_EQ(hex(key, 16), kApp);

    const auto missing = address({0x70, 0xB3, 0xD5, 0x7E, 0xD0, 0x00, 0x12, 0x35});
    EXPECT_FALSE(k.list.hasRecord(missing.data()));
    std::memset(key, 0xAA, sizeof key);
    k.list.keyOf(missing.data(), KeyColumn::AppKey, key);
    EXPECT_EQ(hex(key, 16), std::string(32, '0'));
}

TEST(ProductKeysList, WhichLinesAreAccepted) {
    const struct {
        const char* what;
        std::string line;
        bool accepted;
    } cases[] = {
        {"empty ABP_DevAddr", "70B3D57ED0001234;;" + kNwk + ";" + kApp + ";F;1;" + kOta + ";x", true},
        {"line ends after OTA_AppKey", "70B3D57ED0001234;1;" + kNwk + ";" + kApp + ";F;1;" + kOta, true},
        {"skipped columns all empty", "70B3D57ED0001234;;" + kNwk + ";" + kApp + ";;;" + kOta, true},
        {"keys of 48 characters", "70B3D57ED0001234;1;" + kNwk + "0123456789ABCDEF;" + kApp + ";F;1;" + kOta, true},
        {"empty ABP_NwkSKey", "70B3D57ED0001234;1;;" + kApp + ";F;1;" + kOta, false},
        {"empty DevEUI", ";1;" + kNwk + ";" + kApp + ";F;1;" + kOta, false},
        {"DevEUI of 33 characters", "70:B3:D5:7E:D0:00:12:34:00:00:001;1;" + kNwk + ";" + kApp + ";F;1;" + kOta,
         false},
        {"key of 49 characters", "70B3D57ED0001234;1;" + kNwk + "0123456789ABCDEFX;" + kApp + ";F;1;" + kOta,
         false},
        {"no OTA_AppKey", "70B3D57ED0001234;1;" + kNwk + ";" + kApp + ";F;1", false},
        {"a single field", "70B3D57ED0001234", false},
    };
    for (const auto& c : cases) {
        Keys k;
        const bool ok = k.read(kHeader + "\r\n" + device("0000000000000001") + "\r\n" + c.line + "\r\n" +
                               device("0000000000000002") + "\r\n");
        EXPECT_EQ(ok, c.accepted) << c.what;
        if (c.accepted) {
            EXPECT_EQ(k.list.records().size(), 3u) << c.what;
        } else {
            EXPECT_EQ(k.message, "Erronous file !!") << c.what;
            EXPECT_EQ(k.list.records().size(), 1u) << c.what << ": the devices before the line stay";
        }
    }
}

TEST(ProductKeysList, ShortHexadecimalFieldsLeaveZeroBytes) {
    Keys k;
    ASSERT_TRUE(k.read(kHeader + "\n" + "70B3D5;1;0011G2;A;F;1;" + kOta + "\n"));
    const DeviceKeyRecord& r = k.list.records().at(0);
    EXPECT_EQ(hex(r.devEui, 8), "70B3D50000000000");
    EXPECT_EQ(hex(r.abpNwkSKey, 16), "0011" + std::string(28, '0')) << "stops at the first pair that is not hex";
    EXPECT_EQ(hex(r.abpAppSKey, 16), std::string(32, '0')) << "a lone digit makes no byte";
}

TEST(ProductKeysList, HeaderAndFileFailures) {
    {
        Keys k;
        ASSERT_TRUE(k.read(kHeader + "\n" + device("0000000000000001") + "\n"));
        EXPECT_FALSE(k.read(kHeader.substr(0, 121) + "\n" + device("0000000000000001") + "\n"));
        EXPECT_EQ(k.message, "Unknown file !!");
        EXPECT_TRUE(k.list.records().empty()) << "the list was emptied before the header check";
        std::string wrongCase = kHeader;
        wrongCase[0] = 'd';
        EXPECT_FALSE(k.read(wrongCase + "\n"));
        EXPECT_EQ(k.message, "Unknown file !!");
    }
    {
        Keys k;
        EXPECT_FALSE(k.read(""));
        EXPECT_EQ(k.message, "The selected keys file is empty !!");
        EXPECT_TRUE(k.read(kHeader)) << "a header alone is an empty list";
    }
    {
        ScratchDirectory dir;
        ProductKeysList list;
        std::string message;
        const std::string path = (dir.path() / "ListeProduits_3.txt").string();
        EXPECT_FALSE(list.read(path, message));
        EXPECT_EQ(message, "Impossible to read the keys file : " + path);
    }
}

}  // namespace
}  // namespace dorvane::firmware
