// LoRaHost.cfg reading and writing, the host address, the dongle script, the
// date-and-time text and the version text.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <cstring>
#include <string>

#include <unistd.h>

#include "console/hostConfiguration.h"
#include "console/iniFile.h"
#include "console/mainWindow.h"
#include "console/services.h"

namespace dorvane::console {
namespace {

struct IntegerCase {
    const char* text;
    bool ok;
    std::int32_t value;
};

TEST(ConfigInteger, ReadsDecimalAndBothHexadecimalForms) {
    const IntegerCase cases[] = {
        {"57000", true, 57000},
        {"-12", true, -12},
        {"+7", true, 7},
        {"0xDEA8", true, 57000},
        {"0Xdea8", true, 57000},
        {"$DEA8", true, 57000},
        {"$ff", true, 255},
        {"0x", false, 0},          // two characters: not hexadecimal, and not a decimal number
        {"0x1", true, 1},
        {"0xFFFFFFFF", true, -1},  // 32 bits, read as signed
        {"0x100000000", false, 0},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483647 - 1},
        {"2147483648", false, 0},
        {"", false, 0},
        {"true", false, 0},
        {"12abc", false, 0},
        {"1 2", false, 0},
        {"$", false, 0},
        {"-", false, 0},
        {"-0x10", false, 0},
    };
    for (const auto& c : cases) {
        std::int32_t v = 12345;
        EXPECT_EQ(parseConfigInteger(c.text, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

TEST(IniFileRead, MatchesNamesWithoutCaseAndIgnoresBlanksAroundValues) {
    const IniFile ini(
        "; a comment\r\n"
        "[host]\r\n"
        "  time out   =  12  \r\n"
        "Authorization=true\r\n"
        "Peer Port=\r\n"
        "[Http]\r\n"
        "WebSite = http://example/page?a=b \r\n"
        "[DEBUG]\n"
        "HOST=1\r"
        "Success Rate=$32");
    EXPECT_EQ(ini.readInteger("HOST", "Time Out", 5), 12);
    EXPECT_FALSE(ini.readBool("HOST", "Authorization", false));  // a word is not a number
    EXPECT_TRUE(ini.readBool("HOST", "Authorization", true));
    EXPECT_EQ(ini.readInteger("HOST", "Peer Port", 56700), 56700);  // empty value: default
    EXPECT_EQ(ini.readString("HOST", "Peer Port", "x"), "");        // but an empty text
    EXPECT_EQ(ini.readString("HTTP", "WebSite", ""), "http://example/page?a=b");
    EXPECT_TRUE(ini.readBool("debug", "host", false));
    EXPECT_EQ(ini.readInteger("DEBUG", "Success Rate", 100), 50);
    EXPECT_EQ(ini.readInteger("DEBUG", "Time Out", 5), 5);  // key of another section
    EXPECT_EQ(ini.readString("NONE", "Key", "fallback"), "fallback");
}

TEST(IniFileRead, KeysBeforeAnySectionAndCommentedKeysAreNotRead) {
    const IniFile ini("Time Out=9\n[HOST]\n;Time Out=8\n#Port=1\nPort=2\n");
    EXPECT_EQ(ini.readInteger("HOST", "Time Out", 5), 5);
    EXPECT_EQ(ini.readInteger("HOST", "Port", 0), 2);
}

TEST(IniFileRead, ByteOrderMarkDoesNotHideTheFirstSection) {
    const std::string bytes = "\xEF\xBB\xBF[HOST]\nTime Out=7\n";
    const IniFile ini(bytes);
    EXPECT_EQ(ini.readInteger("HOST", "Time Out", 5), 7);
    EXPECT_EQ(ini.bytes(), bytes);
}

TEST(IniFileWrite, NewFileHasSectionsInOrderOfFirstWrite) {
    IniFile ini;
    ini.writeInteger("HOST", "Peer Port", 56700);
    ini.writeInteger("HOST", "Port", 57000);
    ini.writeInteger("HOST", "Time Out", 5);
    ini.writeString("SYSTEM", "COM", "");
    ini.writeInteger("DEBUG", "Success Rate", 100);
    EXPECT_EQ(ini.bytes(),
              "[HOST]\nPeer Port=56700\nPort=57000\nTime Out=5\n[SYSTEM]\nCOM=\n[DEBUG]\nSuccess Rate=100\n");
}

TEST(IniFileWrite, RewritesOnlyTheKeyLineAndKeepsEveryOtherByte) {
    const std::string before =
        "; Dorvane bench\r\n"
        "[Host]\r\n"
        "time out = 7\r\n"
        "Authorization=1   \r\n"
        "\r\n"
        "[DEVICE]\r\n"
        "ADDRESS=0x1122334455667788\r\n"
        "Jammer Mode=0";
    IniFile ini(before);
    ini.writeInteger("HOST", "Time Out", 12);
    EXPECT_EQ(ini.bytes(),
              "; Dorvane bench\r\n"
              "[Host]\r\n"
              "time out=12\r\n"
              "Authorization=1   \r\n"
              "\r\n"
              "[DEVICE]\r\n"
              "ADDRESS=0x1122334455667788\r\n"
              "Jammer Mode=0");
}

TEST(IniFileWrite, NewKeyGoesAtTheEndOfItsSectionAndNewSectionAtTheEndOfTheFile) {
    IniFile ini(
        "[HOST]\r\n"
        "Time Out=7\r\n"
        "\r\n"
        "[DEVICE]\r\n"
        "Jammer Mode=0");
    ini.writeInteger("HOST", "Port", 57000);
    ini.writeString("SYSTEM", "COM", "COM3");
    EXPECT_EQ(ini.bytes(),
              "[HOST]\r\n"
              "Time Out=7\r\n"
              "Port=57000\r\n"
              "\r\n"
              "[DEVICE]\r\n"
              "Jammer Mode=0\r\n"  // the last line gets its break before the new section
              "[SYSTEM]\r\n"
              "COM=COM3\r\n");
}

TEST(IniFileWrite, WritesTheFirstOfDuplicateKeys) {
    IniFile ini("[HOST]\nPort=1\nPort=2\n");
    EXPECT_EQ(ini.readInteger("HOST", "Port", 0), 1);
    ini.writeInteger("HOST", "port", 3);
    EXPECT_EQ(ini.bytes(), "[HOST]\nPort=3\nPort=2\n");
}

struct AddressCase {
    const char* text;
    std::uint8_t expected[8];
};

TEST(HostAddress, DropsTwoCharactersThenReadsPairs) {
    const AddressCase cases[] = {
        {"0x01020304050607", {1, 2, 3, 4, 5, 6, 7, 1}},
        {"0x1122334455667788", {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}},
        {"1122334455667788", {0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 1}},
        {"0xaabbccddeeff0011", {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00, 0x11}},
        {"0x112233445566778899", {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}},
        {"", {0, 0, 0, 0, 0, 0, 0, 1}},
        {"0x", {0, 0, 0, 0, 0, 0, 0, 1}},
        {"0x123", {0x12, 0, 0, 0, 0, 0, 0, 1}},     // a lone last digit is not a byte
        {"0x12G456", {0x12, 0, 0, 0, 0, 0, 0, 1}},  // reading stops at a pair that is not hexadecimal
    };
    for (const auto& c : cases) {
        std::uint8_t address[8] = {0, 0, 0, 0, 0, 0, 0, 1};
        applyHostAddressText(c.text, address);
        EXPECT_EQ(std::memcmp(address, c.expected, 8), 0) << c.text;
    }
}

class ConfigFiles : public ::testing::Test {
protected:
    std::string path(const char* name) const { return QFile::encodeName(dir.filePath(name)).toStdString(); }
    void write(const char* name, const QByteArray& bytes) const {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray read(const char* name) const {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<absent>");
    }
    QTemporaryDir dir;
};

TEST_F(ConfigFiles, SaveCreatesTheFileWithTheFiveKeys) {
    SavedKeys keys;
    keys.peerPort = 56701;
    keys.udpPort = 57001;
    keys.timeOut = 12;
    keys.comPort = "COM3";
    keys.successRate = 80;
    std::string reason;
    ASSERT_TRUE(saveHostConfig(path("LoRaHost.cfg"), keys, reason)) << reason;
    EXPECT_EQ(read("LoRaHost.cfg"),
              "[HOST]\nPeer Port=56701\nPort=57001\nTime Out=12\n[SYSTEM]\nCOM=COM3\n[DEBUG]\nSuccess Rate=80\n");
}

TEST_F(ConfigFiles, SaveKeepsWhatTheFileHoldsNowAndWritesNoByteOrderMark) {
    write("LoRaHost.cfg", "[HTTP]\r\nWebSite=http://x/\r\n[HOST]\r\nTime Out=3\r\n");
    std::string reason;
    ASSERT_TRUE(saveHostConfig(path("LoRaHost.cfg"), SavedKeys{}, reason)) << reason;
    EXPECT_EQ(read("LoRaHost.cfg"),
              "[HTTP]\r\nWebSite=http://x/\r\n[HOST]\r\nTime Out=5\r\nPeer Port=56700\r\nPort=57000\r\n"
              "[SYSTEM]\r\nCOM=\r\n[DEBUG]\r\nSuccess Rate=100\r\n");
}

TEST_F(ConfigFiles, AFileThatCannotBeReadIsNotOverwritten) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    write("LoRaHost.cfg", "[HOST]\nSecret=1\n");
    QFile::setPermissions(dir.filePath("LoRaHost.cfg"), QFile::WriteOwner);
    std::string reason;
    EXPECT_FALSE(saveHostConfig(path("LoRaHost.cfg"), SavedKeys{}, reason));
    EXPECT_FALSE(reason.empty());
    QFile::setPermissions(dir.filePath("LoRaHost.cfg"), QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_EQ(read("LoRaHost.cfg"), "[HOST]\nSecret=1\n");
}

TEST_F(ConfigFiles, SaveIntoAMissingDirectoryFailsWithAReason) {
    std::string reason;
    EXPECT_FALSE(saveHostConfig(path("no/such/dir/LoRaHost.cfg"), SavedKeys{}, reason));
    EXPECT_FALSE(reason.empty());
}

TEST_F(ConfigFiles, DongleScriptIsItsLinesOrNothing) {
    EXPECT_EQ(readDongleScript(path("LoRaDongle.cfg")), nullptr);  // absent
    write("LoRaDongle.cfg", "");
    EXPECT_EQ(readDongleScript(path("LoRaDongle.cfg")), nullptr);  // no line
    write("LoRaDongle.cfg", "ATS500=1\r\n\nATS5\xB0\r");
    const auto list = readDongleScript(path("LoRaDongle.cfg"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(*list, (QStringList{QStringLiteral("ATS500=1"), QString(), QString::fromLatin1("ATS5\xB0")}));
}

TEST(DateTimeText, ShortDateAndLongTimeWithoutTheTimeAtMidnight) {
    const QLocale uk(QLocale::English, QLocale::UnitedKingdom);
    EXPECT_EQ(dateTimeText(QDateTime(QDate(2023, 5, 24), QTime(14, 3, 27)), uk), "24/05/2023 14:03:27");
    EXPECT_EQ(dateTimeText(QDateTime(QDate(2023, 5, 24), QTime(0, 0, 0)), uk), "24/05/2023");
    EXPECT_EQ(dateTimeText(QDateTime(QDate(2023, 5, 24), QTime(0, 0, 1)), uk), "24/05/2023 00:00:01");
    // The long time keeps the locale's own form (here 12-hour with AM/PM), less the time zone.
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const std::string text = dateTimeText(QDateTime(QDate(2023, 5, 24), QTime(14, 3, 27)), us);
    EXPECT_NE(text.find("2:03:27"), std::string::npos) << text;
    EXPECT_EQ(longTimeFormat(us).contains(QLatin1Char('t')), false);
}

TEST(ProgramVersion, FourPartsFromTheBuild) {
    unsigned parts[4];
    ASSERT_TRUE(versionParts(programVersion(), parts)) << programVersion();
    EXPECT_EQ(parts[0], 1u);
    EXPECT_EQ(parts[1], 0u);
    EXPECT_EQ(parts[2], 0u);
    EXPECT_EQ(parts[3], 0u);

    struct Case {
        const char* text;
        bool ok;
        unsigned parts[4];
    };
    const Case cases[] = {
        {"2.5.1.77", true, {2, 5, 1, 77}},
        {"3.1", true, {3, 1, 0, 0}},
        {"", false, {}},
        {"1..2", false, {}},
        {"1.2.3.4.5", false, {}},
        {"1.2.", false, {}},
        {"v1", false, {}},
        {"70000", false, {}},  // a version part is 16 bits
    };
    for (const auto& c : cases) {
        EXPECT_EQ(versionParts(c.text, parts), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(std::memcmp(parts, c.parts, sizeof parts), 0) << c.text;
        }
    }
}

}  // namespace
}  // namespace dorvane::console
