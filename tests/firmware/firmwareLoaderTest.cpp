// The firmware loader through its real entry point, with package files made
// by the package tool's code and a few broken by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "firmware/firmwareLoader.h"
#include "firmware/packageFile.h"
#include "firmware/textLines.h"
#include "tests/firmware/firmwareFixtures.h"

namespace dorvane::firmware {
namespace {

using test::LoaderRig;
using test::ScratchDirectory;
using test::tiTxt;

const std::string kCaught = "This exception has been catched\r\n\r\n";
const std::string kHeader = "1A2B3C4D";

// Raw package lines for hand-made variants.
std::string joined(const std::vector<std::string>& lines) { return joinLines(lines, "\r\n", true); }

// The encoded character that makes the decoder read `wanted` at the given
// position of the package body (line index from 1, character index).
std::string packageWithBodyCharacter(const std::string& package, std::size_t line, std::size_t column,
                                     char wanted) {
    TextFile file = splitLines(package);
    PackageDescrambler d;
    d.setRegister(kHeaderSeed);
    std::string header;
    for (std::size_t i = 0; i < 8; ++i) header += static_cast<char>(d.decode(file.lines[0][i]));
    std::uint32_t value = 0;
    EXPECT_TRUE(parseHeaderText(header, value));
    d.setRegister(headerKey(value));
    for (std::size_t i = 8; i < file.lines[0].size(); ++i) d.decode(file.lines[0][i]);
    for (std::size_t l = 1; l <= line; ++l) {
        for (std::size_t i = 0; i < file.lines[l].size(); ++i) {
            if (l == line && i == column) {
                file.lines[l][i] = static_cast<char>(d.encode(static_cast<std::uint8_t>(wanted)));
                return joinLines(file.lines, file.lineBreak, file.endsWithBreak);
            }
            d.decode(file.lines[l][i]);
        }
    }
    ADD_FAILURE() << "no such position";
    return package;
}

std::string packed(const std::string& name, const std::string& text, const std::string& header = kHeader) {
    std::string package, error;
    EXPECT_TRUE(packText(text, name, header, package, error)) << error;
    return package;
}

class FirmwareLoaderTest : public ::testing::Test {
protected:
    ScratchDirectory dir;
    LoaderRig rig;
    std::string message;
    const std::string text = tiTxt({{0xF000, 40}});  // 16 + 16 + 8 bytes with B = 16

    void expectUntouchedPanels() {
        EXPECT_EQ(rig.context.panels.panels[0], "No firmware file loaded");
        EXPECT_EQ(rig.context.panels.panels[1], "No firmware version");
        EXPECT_EQ(rig.context.panels.panels[2], "No cfg version");
    }
};

TEST_F(FirmwareLoaderTest, LoadsAPackage) {
    const std::string path = dir.writePackage("V1.2.3.4_PROD.qfwp", text);
    ASSERT_TRUE(rig.load(false, path, message));
    EXPECT_EQ(message, "Memory loading is completed");
    EXPECT_TRUE(rig.image.isValid());
    EXPECT_STREQ(rig.image.productName(), "PROD");
    ASSERT_EQ(rig.image.blockCount(), 3u);
    std::uint8_t length = 0;
    std::uint32_t address = 0;
    const std::uint8_t* data = nullptr;
    ASSERT_TRUE(rig.image.block(2, length, address, data));
    EXPECT_EQ(length, 8);
    EXPECT_EQ(address, 0xF020u);
    EXPECT_EQ(data[0], 32);
    // Bytes 0..39: the checksum falls by the sum of (255 - byte).
    std::uint32_t removed = 0;
    for (unsigned b = 0; b < 40; ++b) removed += 255 - b;
    EXPECT_EQ(rig.image.checksum(), 66846720u - removed);
    const VersionRecord& v = rig.image.version();
    EXPECT_EQ(v.major, 1);
    EXPECT_EQ(v.minor, 2);
    EXPECT_EQ(v.corrective, 3);
    EXPECT_EQ(v.build, 4u);
    EXPECT_EQ(v.configuration, 0xFFFF);
    EXPECT_EQ(rig.context.panels.panels[0], "Product One");
    EXPECT_EQ(rig.context.panels.panels[1], " Version : V1.2.3.4");
    EXPECT_EQ(rig.context.panels.panels[2], " Config : I-65535");
    EXPECT_EQ(rig.context.progress.minimum, 0u);
    EXPECT_EQ(rig.context.progress.maximum, 3u);
    EXPECT_EQ(rig.context.progress.position, 0u);
}

TEST_F(FirmwareLoaderTest, ConfigurationPackageAndTheStrictSetting) {
    const std::string path = dir.writePackage("C1.2.3.4_CONF.12.qfwp", text);
    ASSERT_TRUE(rig.load(false, path, message)) << message;
    EXPECT_EQ(rig.image.version().configuration, 12);
    EXPECT_TRUE(rig.image.isConfigurationPackage());
    EXPECT_EQ(rig.context.panels.panels[0], "Configured Product");
    EXPECT_EQ(rig.context.panels.panels[1], " Version : Any");
    EXPECT_EQ(rig.context.panels.panels[2], " Config : I-12");
    EXPECT_EQ(rig.image.blockCount(), 1u) << "40 bytes fit a block of 73";

    rig.context.hostSettings.strictConfigurationUpdate = true;
    const std::string two = dir.writePackage("C1.2.3.4.9_CONF.7.qfwp", text);
    ASSERT_TRUE(rig.load(false, two, message)) << message;
    EXPECT_EQ(rig.context.panels.panels[1], " Version : V1.2.3.9");
    EXPECT_EQ(rig.context.panels.panels[2], " Config : I-7");
}

TEST_F(FirmwareLoaderTest, PackageRefusals) {
    const std::string good = packed("V1.2.3.4_PROD.qfwp", text);
    TextFile goodFile = splitLines(good);
    const std::vector<std::string> textLines = splitLines(text).lines;

    std::string truncated = good.substr(0, good.size() - 5);  // three trailer characters and the line break
    std::string flipped = packageWithBodyCharacter(good, 2, 4, '7');
    std::vector<std::string> onlyLineOne = {goodFile.lines[0]};

    const struct {
        const char* what;
        std::string name;
        std::string bytes;
        std::string message;  // "" stands for the read failure with the path
    } cases[] = {
        {"renamed", "V1.2.3.5_PROD.qfwp", good, kCaught + "That's a corrupted file !!!"},
        {"renamed, product in lower case", "V1.2.3.4_prod.qfwp", good, "Unknown product !!"},
        {"line 1 of exactly eight characters", "V1.2.3.4_PROD.qfwp",
         joined(encodePackageLines(textLines, "", kHeader)), kCaught + "That's a corrupted file !!!"},
        {"name text with the extension", "V1.2.3.4_PROD.qfwp",
         joined(encodePackageLines(textLines, "V1.2.3.4_PROD.qfwp", kHeader)), kCaught + "That's a corrupted file !!!"},
        {"line 1 shorter than the header", "V1.2.3.4_PROD.qfwp", "1234567\r\n" + text,
         kCaught + "The selected file is not a \"qfwp\" type file !!"},
        {"plain text opened as a package", "V1.2.3.4_PROD.qfwp", text,
         kCaught + "The selected file is not a \"qfwp\" type file !!"},
        {"empty first line", "V1.2.3.4_PROD.qfwp", "\r\n" + good,
         kCaught + "The selected file is not a \"qfwp\" type file !!"},
        {"a body character decoding to x", "V1.2.3.4_PROD.qfwp", packageWithBodyCharacter(good, 3, 0, 'x'),
         kCaught + "The selected file has been modified !!"},
        {"one character edited", "V1.2.3.4_PROD.qfwp", flipped, kCaught + "The selected file has been modified !!"},
        {"truncated", "V1.2.3.4_PROD.qfwp", truncated, kCaught + "The selected file is corrupted !!"},
        {"trailer differs", "V1.2.3.4_PROD.qfwp", joined(encodePackageLines(textLines, "V1.2.3.4_PROD", kHeader,
                                                                          "1A2B3C4E")),
         kCaught + "The selected file is corrupted !!"},
        {"ends after line 1", "V1.2.3.4_PROD.qfwp", joined(onlyLineOne), ""},
        {"empty file", "V1.2.3.4_PROD.qfwp", "", ""},
        {"header not hexadecimal", "V1.2.3.4_PROD.qfwp",
         joined(encodePackageLines(textLines, "V1.2.3.4_PROD", "1A2B3C4G")), ""},
        {"data before the first address", "V1.2.3.4_PROD.qfwp",
         joined(encodePackageLines({"01 02", "@F000", "q"}, "V1.2.3.4_PROD", kHeader)), ""},
        {"empty line before the first address", "V1.2.3.4_PROD.qfwp",
         joined(encodePackageLines({"", "@F000", "01", "q"}, "V1.2.3.4_PROD", kHeader)), ""},
        {"address not hexadecimal", "V1.2.3.4_PROD.qfwp",
         joined(encodePackageLines({"@F00q", "01", "q"}, "V1.2.3.4_PROD", kHeader)), ""},
    };
    for (const auto& c : cases) {
        ScratchDirectory scratch;
        LoaderRig fresh;
        const std::string path = scratch.write(c.name, c.bytes);
        std::string got;
        EXPECT_FALSE(fresh.load(false, path, got)) << c.what;
        const std::string expected = c.message.empty() ? "Impossible to read the file : " + path : c.message;
        EXPECT_EQ(got, expected) << c.what;
        EXPECT_FALSE(fresh.image.isValid()) << c.what;
        EXPECT_EQ(fresh.image.blockCount(), 0u) << c.what;
    }
}

TEST_F(FirmwareLoaderTest, HeadersAndDigitsThatStillLoad) {
    const std::string lower = "@f000\r\n0a 0b 0c ff\r\nq\r\n";
    const struct {
        const char* what;
        std::string header;
        std::string text;
    } cases[] = {
        {"header equal to the key mask", "0D4C9E23", text},
        {"header of value 0", "00000000", text},
        {"lower-case header", "1a2b3c4d", text},
        {"lower-case digits", kHeader, lower},
    };
    for (const auto& c : cases) {
        ScratchDirectory scratch;
        LoaderRig fresh;
        const std::string path = scratch.writePackage("V1.0.0.1_PROD.qfwp", c.text, c.header);
        std::string got;
        ASSERT_TRUE(fresh.load(false, path, got)) << c.what << ": " << got;
        EXPECT_TRUE(fresh.image.isValid());
    }
    ScratchDirectory scratch;
    LoaderRig upper, lowerRig;
    std::string got;
    ASSERT_TRUE(upper.load(false, scratch.writePackage("V1.0.0.1_PROD.qfwp", "@F000\r\n0A 0B 0C FF\r\nq\r\n"), got));
    ASSERT_TRUE(lowerRig.load(false, scratch.writePackage("V1.0.0.1_PROD.qfwp", lower), got));
    EXPECT_EQ(upper.image.checksum(), lowerRig.image.checksum());
    EXPECT_EQ(upper.image.checksum(), 66846720u - (255u - 0x0A) - (255u - 0x0B) - (255u - 0x0C));
}

TEST_F(FirmwareLoaderTest, PlainFiles) {
    ASSERT_TRUE(rig.load(true, dir.write("V1.2.3.4_PROD.txt", ""), message));
    EXPECT_EQ(message, "Memory loading is completed");
    EXPECT_TRUE(rig.image.isValid());
    EXPECT_EQ(rig.image.blockCount(), 0u);
    EXPECT_EQ(rig.image.checksum(), 66846720u);
    EXPECT_EQ(rig.context.progress.maximum, 0u);

    ASSERT_TRUE(rig.load(true, dir.write("V2.0.0.0_PROD.txt", text), message));
    EXPECT_EQ(rig.image.blockCount(), 3u);
    EXPECT_EQ(rig.image.version().major, 2);

    // A package given as a plain file is not TI-TXT.
    const std::string package = dir.write("V1.2.3.4_PROD.qfwp", packed("V1.2.3.4_PROD.qfwp", text));
    EXPECT_FALSE(rig.load(true, package, message));
    EXPECT_EQ(message, "Impossible to read the file : " + package);

    const std::string missing = (dir.path() / "V1.2.3.4_PROD.txt.missing").string();
    EXPECT_FALSE(rig.load(true, missing, message));
    EXPECT_EQ(message, "Impossible to read the file : " + missing);
}

TEST_F(FirmwareLoaderTest, FileNameAndProductRefusals) {
    const struct {
        const char* name;
        std::string message;
    } cases[] = {
        {"V1.2.3_PROD.qfwp", kCaught + "Impossible to decode the selected file !!"},
        {"X1.2.3.4_PROD.qfwp", kCaught + "Impossible to decode the selected file !!"},
        {"V100.2.3.4_PROD.qfwp", kCaught + "Impossible to decode the selected file !!"},
        {"V1.2.3.16777216_PROD.qfwp", kCaught + "Impossible to decode the selected file !!"},
        {"C1.2.3.4_CONF.65535.qfwp", kCaught + "Impossible to decode the selected file !!"},
        {"V1.2.3.4PROD.qfwp", "Unknown product !!"},
        {"V1.2.3.4_OTHER.qfwp", "Unknown product !!"},
        {"C1.2.3.4_.12.qfwp", "Unknown product !!"},
        {"V1.2.3.4_ZERO.qfwp", "The transfer buffer size 256 of product ZERO gives blocks of 0 bytes; a firmware "
                               "package needs 1 to 71 !!"},
        {"V1.2.3.4_CONF.qfwp", "The transfer buffer size 73 of product CONF gives blocks of 73 bytes; a firmware "
                               "package needs 1 to 71 !!"},
        {"C1.2.3.4_NARROW.1.qfwp", "The transfer buffer size 74 of product NARROW gives blocks of 74 bytes; a "
                                   "configuration package needs 1 to 73 !!"},
    };
    for (const auto& c : cases) {
        // Each time over a valid image, which a refusal on the name leaves as it was.
        ASSERT_TRUE(rig.load(false, dir.writePackage("V9.9.9.9_PROD.qfwp", text), message));
        const std::string path = (dir.path() / c.name).string();  // never written: the name decides first
        EXPECT_FALSE(rig.load(false, path, message)) << c.name;
        EXPECT_EQ(message, c.message) << c.name;
        const bool nameRefused = c.message.rfind(kCaught, 0) == 0;
        EXPECT_EQ(rig.image.isValid(), nameRefused) << c.name;
        EXPECT_EQ(rig.image.blockCount(), nameRefused ? 3u : 0u) << c.name;
        EXPECT_EQ(rig.image.version().major, 9) << c.name;
        EXPECT_EQ(rig.context.panels.panels[1], " Version : V9.9.9.9") << c.name;
        if (!nameRefused) {
            EXPECT_EQ(rig.image.productName(), embeddedProductNameOf(c.name)) << c.name;
        }
    }
    // The product name is replaced before the lookup.
    EXPECT_FALSE(rig.load(false, (dir.path() / "V1.2.3.4_OTHER.qfwp").string(), message));
    EXPECT_STREQ(rig.image.productName(), "OTHER");
}

TEST_F(FirmwareLoaderTest, BlockSizesThatFramesCarry) {
    const struct {
        const char* name;
        unsigned blocks;
    } cases[] = {
        {"V1.0.0.0_WIDE.qfwp", 1},   // 71: the largest block a GWR frame carries
        {"C1.0.0.0_CONF.3.qfwp", 1}, // 73: the largest a PWR frame carries
        {"V1.0.0.0_BIG.qfwp", 2},    // 300: blocks of 44, then one of 0 at the q
        {"V1.0.0.0_PROD.qfwp", 3},
    };
    const std::string longer = tiTxt({{0, 44}});
    for (const auto& c : cases) {
        ASSERT_TRUE(rig.load(false, dir.writePackage(c.name, longer), message)) << c.name << ": " << message;
        EXPECT_EQ(rig.image.blockCount(), c.blocks) << c.name;
    }
}

TEST_F(FirmwareLoaderTest, AFailedLoadLeavesNoImage) {
    ASSERT_TRUE(rig.load(false, dir.writePackage("V1.2.3.4_PROD.qfwp", text), message));
    ASSERT_EQ(rig.image.blockCount(), 3u);
    const std::uint32_t checksum = rig.image.checksum();

    // Refused half way through the body: the blocks built so far are not an image.
    const std::string broken = dir.write(
        "V1.2.3.5_PROD.qfwp", joined(encodePackageLines({"@F000", std::string(33, '1'), "q"},
                                                        "V1.2.3.5_PROD", kHeader)));
    EXPECT_FALSE(rig.load(false, broken, message));
    EXPECT_EQ(message, "Impossible to read the file : " + broken);
    EXPECT_FALSE(rig.image.isValid());
    EXPECT_EQ(rig.image.blockCount(), 0u);
    std::uint8_t length = 0;
    std::uint32_t address = 0;
    const std::uint8_t* data = nullptr;
    EXPECT_FALSE(rig.image.block(0, length, address, data));
    EXPECT_EQ(rig.image.builtBlockCount(), 1u) << "a block of 16 was emitted before the odd digit";
    EXPECT_EQ(rig.image.checksum(), checksum) << "the previous checksum, version and texts stay";
    EXPECT_EQ(rig.image.version().build, 4u);
    EXPECT_EQ(rig.context.panels.panels[1], " Version : V1.2.3.4");

    ASSERT_TRUE(rig.load(false, dir.writePackage("V1.2.3.6_PROD.qfwp", text), message));
    EXPECT_TRUE(rig.image.isValid());
    EXPECT_EQ(rig.image.blockCount(), 3u);
}

TEST_F(FirmwareLoaderTest, NothingChangesWhileTheHostIsActive) {
    ASSERT_TRUE(rig.load(false, dir.writePackage("V1.2.3.4_PROD.qfwp", text), message, true,
                         dir.write("ListeProduits_1.txt", std::string(kKeysHeader) + "\r\n0000000000000001;;" +
                                                              std::string(32, '1') + ";" + std::string(32, '2') +
                                                              ";;;" + std::string(32, '3') + "\r\n")));
    rig.context.progress.position = 2;
    rig.context.active = true;
    EXPECT_FALSE(rig.load(false, dir.writePackage("V2.0.0.0_PROD.qfwp", tiTxt({{0, 1}})), message, true,
                          dir.write("ListeProduits_2.txt", std::string(kKeysHeader) + "\r\n")));
    EXPECT_EQ(message, "Can't load a firmware file while FOTA is in progress !!\r\n[Give Up] before reloading");
    EXPECT_TRUE(rig.image.isValid());
    EXPECT_EQ(rig.image.blockCount(), 3u);
    EXPECT_EQ(rig.image.version().major, 1);
    EXPECT_EQ(rig.keys.records().size(), 1u);
    EXPECT_EQ(rig.context.panels.panels[1], " Version : V1.2.3.4");
    EXPECT_EQ(rig.context.progress.position, 2u);
}

TEST_F(FirmwareLoaderTest, TheKeysListComesFirst) {
    const std::string header = kKeysHeader;
    const std::string goodKeys = dir.write("ListeProduits_5.txt", header + "\r\n0000000000000001;;" +
                                                                      std::string(32, '1') + ";" +
                                                                      std::string(32, '2') + ";;;" +
                                                                      std::string(32, '3') + "\r\n");
    const std::string unread = (dir.path() / "V1.2.3.4_PROD.qfwp").string();  // not there: never read
    const struct {
        const char* what;
        std::string keysPath;
        std::string message;
    } cases[] = {
        {"name", dir.write("Liste_5.txt", header + "\r\n"), "Unrecognized file !!"},
        {"header", dir.write("ListeProduits_6.txt", "DevEUI;x\r\n"), "Unknown file !!"},
        {"line", dir.write("ListeProduits_7.txt", header + "\r\n0000000000000001;;;x;;;y\r\n"), "Erronous file !!"},
        {"empty", dir.write("ListeProduits_8.txt", ""), "The selected keys file is empty !!"},
        {"missing", (dir.path() / "ListeProduits_9.txt").string(),
         "Impossible to read the keys file : " + (dir.path() / "ListeProduits_9.txt").string()},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(rig.load(false, unread, message, true, c.keysPath)) << c.what;
        EXPECT_EQ(message, c.message) << c.what;
    }
    // A list read stays when the firmware file is then refused.
    EXPECT_FALSE(rig.load(false, unread, message, true, goodKeys));
    EXPECT_EQ(message, "Impossible to read the file : " + unread);
    EXPECT_EQ(rig.keys.records().size(), 1u);
    // Without keys the keys path is ignored.
    EXPECT_TRUE(rig.load(false, dir.writePackage("V1.2.3.4_PROD.qfwp", text), message, false, "nonsense"));
    EXPECT_EQ(rig.keys.records().size(), 1u);
}

TEST(OpenFlow, PlainFlagFromTheSettingsAndTheDevelopmentDirectories) {
    ScratchDirectory dir;
    const std::string existing = dir.path().string();
    const std::string missing = (dir.path() / "absent").string();
    HostSettings settings;
    const char* const present[] = {missing.c_str(), existing.c_str(), "", ""};
    const char* const endsEarly[] = {missing.c_str(), "", existing.c_str(), ""};

    settings.technicianMode = true;
    EXPECT_TRUE(openFlowPlain(settings, present, 4));
    EXPECT_FALSE(openFlowPlain(settings, endsEarly, 4)) << "the first empty entry ends the list";
    settings.softwareFileUnJammed = true;
    EXPECT_TRUE(openFlowPlain(settings, endsEarly, 4));
    settings.technicianMode = false;
    settings.softwareFileUnJammed = false;
    EXPECT_FALSE(openFlowPlain(settings, present, 4)) << "directories count only in technician mode";
}

}  // namespace
}  // namespace dorvane::firmware
