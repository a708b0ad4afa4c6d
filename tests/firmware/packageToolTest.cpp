// The dorvane-package program, run as firmware teams run it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "firmware/firmwareLoader.h"
#include "tests/firmware/firmwareFixtures.h"

namespace dorvane::firmware {
namespace {

using test::LoaderRig;
using test::readAll;
using test::ScratchDirectory;
using test::tiTxt;

struct ToolRun {
    int status;
    std::string out;
};

ToolRun runTool(const ScratchDirectory& dir, const std::string& arguments) {
    const std::string outPath = (dir.path() / "tool.out").string();
    const std::string command = std::string("'") + DORVANE_PACKAGE_TOOL + "' " + arguments + " > '" + outPath +
                                "' 2> '" + outPath + ".err'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readAll(outPath)};
}

std::string q(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

TEST(PackageTool, PackThenUnpackGivesTheTextBack) {
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"CR LF", tiTxt({{0xF000, 40}, {0x1000, 3}})},
        {"LF", tiTxt({{0xF000, 40}}, 7, "\n")},
        {"no final line break", "@F000\n01 02\nq"},
        {"lower case", "@f000\r\naa bb\r\nq\r\n"},
    };
    for (const auto& c : cases) {
        ScratchDirectory dir;
        const std::string input = dir.write("input.txt", c.text);
        const ToolRun packed = runTool(dir, "pack " + q(input) + " --product PROD --version 1.2.3.4 --directory " +
                                            q(dir.path()));
        ASSERT_EQ(packed.status, 0) << c.what << readAll((dir.path() / "tool.out.err").string());
        const auto package = dir.path() / "V1.2.3.4_PROD.qfwp";
        EXPECT_EQ(packed.out, package.string() + "\n");
        const ToolRun unpacked = runTool(dir, "unpack " + q(package));
        EXPECT_EQ(unpacked.status, 0) << c.what;
        EXPECT_EQ(unpacked.out, c.text) << c.what;

        LoaderRig rig;
        std::string message;
        EXPECT_TRUE(rig.load(false, package.string(), message)) << c.what << ": " << message;
    }
}

TEST(PackageTool, NamesPackagesByTheConventions) {
    ScratchDirectory dir;
    const std::string input = dir.write("input.txt", tiTxt({{0, 4}}));
    ASSERT_EQ(runTool(dir, "pack " + q(input) + " --product CONF --version 2.0.1.77 --configuration 12 --directory " +
                               q(dir.path()))
                  .status,
              0);
    const auto configuration = dir.path() / "C2.0.1.77_CONF.12.qfwp";
    ASSERT_TRUE(std::filesystem::exists(configuration));
    LoaderRig rig;
    std::string message;
    ASSERT_TRUE(rig.load(false, configuration.string(), message)) << message;
    EXPECT_EQ(rig.image.version().configuration, 12);

    // --output names the package itself, e.g. with a second build.
    const auto named = dir.path() / "V1.2.3.4.9_PROD.qfwp";
    ASSERT_EQ(runTool(dir, "pack " + q(input) + " --output " + q(named)).status, 0);
    ASSERT_TRUE(rig.load(false, named.string(), message)) << message;
    EXPECT_EQ(rig.image.version().build, 9u);

    // Two packs of the same text draw different headers; both load.
    const auto again = dir.path() / "again";
    std::filesystem::create_directory(again);
    ASSERT_EQ(runTool(dir, "pack " + q(input) + " --output " + q(again / "V1.2.3.4.9_PROD.qfwp")).status, 0);
    EXPECT_NE(readAll(named.string()), readAll((again / "V1.2.3.4.9_PROD.qfwp").string()));
}

TEST(PackageTool, PackRefusesWhatTheHostWouldRefuse) {
    ScratchDirectory dir;
    const std::string input = dir.write("input.txt", tiTxt({{0, 4}}));
    const std::string bad = dir.write("bad.txt", "@F000\r\n01 0x\r\nq\r\n");
    const std::string empty = dir.write("empty.txt", "");
    const std::string cases[] = {
        "pack " + q(input) + " --output " + q(dir.path() / "V1.2.3_PROD.qfwp"),
        "pack " + q(input) + " --output " + q(dir.path() / "V1.2.3.4PROD.qfwp"),
        "pack " + q(input) + " --product P --version 100.0.0.0",
        "pack " + q(input) + " --product P --version 1.0.0.0 --configuration 65535",
        "pack " + q(input) + " --product P --version 1.0.0.0 --header 12345",
        "pack " + q(bad) + " --product P --version 1.0.0.0",
        "pack " + q(empty) + " --product P --version 1.0.0.0",
    };
    for (const std::string& arguments : cases) {
        EXPECT_EQ(runTool(dir, arguments).status, 1) << arguments;
    }
    EXPECT_EQ(runTool(dir, "pack " + q(input) + " --version 1.0.0.0").status, 2) << "usage";
    EXPECT_EQ(runTool(dir, "frobnicate").status, 2);
}

TEST(PackageTool, InspectShowsWhatTheLoaderSees) {
    ScratchDirectory dir;
    const std::string input = dir.write("input.txt", tiTxt({{0xF000, 20}}));
    ASSERT_EQ(runTool(dir, "pack " + q(input) + " --product PROD --version 1.2.3.4 --header 0D4C9E23 --directory " +
                               q(dir.path()))
                  .status,
              0);
    const auto package = dir.path() / "V1.2.3.4_PROD.qfwp";
    const ToolRun seen = runTool(dir, "inspect " + q(package) + " --buffer 16");
    ASSERT_EQ(seen.status, 0) << seen.out;
    std::uint32_t removed = 0;
    for (unsigned b = 0; b < 20; ++b) removed += 255 - b;
    const std::string expected = "Memory loading is completed\n"
                                 "File          : " +
                                 package.string() +
                                 "\n"
                                 "Version       : 1.2.3.4\n"
                                 "Configuration : 65535 (firmware package)\n"
                                 "Product       : PROD\n"
                                 "Buffer size   : 16 (blocks of up to 16 bytes)\n"
                                 "Blocks        : 2\n"
                                 "       0  @0000F000   16\n"
                                 "       1  @0000F010    4\n"
                                 "Checksum      : " +
                                 std::to_string(66846720u - removed) + " (0x" + [&] {
                                     char b[16];
                                     std::snprintf(b, sizeof b, "%08X", 66846720u - removed);
                                     return std::string(b);
                                 }() + ") over 256k\n"
                                       "Status        : PROD | Version : V1.2.3.4 | Config : I-65535\n";
    EXPECT_EQ(seen.out, expected);

    // Blocks for another transfer buffer size, and a size no frame carries.
    EXPECT_NE(runTool(dir, "inspect " + q(package) + " --buffer 300").out.find("Blocks        : 1\n"),
              std::string::npos);
    const ToolRun zero = runTool(dir, "inspect " + q(package) + " --buffer 256");
    EXPECT_EQ(zero.status, 1);
    EXPECT_EQ(zero.out, "The transfer buffer size 256 of product PROD gives blocks of 0 bytes; a firmware package "
                        "needs 1 to 71 !!\n");
}

TEST(PackageTool, InspectAndUnpackPrintTheLoadersRefusal) {
    ScratchDirectory dir;
    const std::string input = dir.write("input.txt", tiTxt({{0xF000, 20}}));
    ASSERT_EQ(runTool(dir, "pack " + q(input) + " --product PROD --version 1.2.3.4 --directory " + q(dir.path()))
                  .status,
              0);
    const std::string good = readAll((dir.path() / "V1.2.3.4_PROD.qfwp").string());
    const std::string renamed = dir.write("V1.2.3.5_PROD.qfwp", good);
    const std::string truncated = dir.write("V1.2.3.4_PROD.qfwp", good.substr(0, good.size() - 4));
    for (const std::string& path : {renamed, truncated}) {
        LoaderRig rig;
        std::string message;
        ASSERT_FALSE(rig.load(false, path, message));
        const ToolRun inspected = runTool(dir, "inspect " + q(path) + " --buffer 16");
        EXPECT_EQ(inspected.status, 1);
        EXPECT_EQ(inspected.out, message + "\n");
        const ToolRun unpacked = runTool(dir, "unpack " + q(path));
        EXPECT_EQ(unpacked.status, 1);
        EXPECT_EQ(unpacked.out, message + "\n");
    }
    EXPECT_EQ(runTool(dir, "inspect " + q(renamed)).out,
              "This exception has been catched\r\n\r\nThat's a corrupted file !!!\n");

    // With a catalogue, the product must be in it.
    dir.write("LoRaHostEmbeddedProducts.json",
              "{\n\"embedded product name\": \"OTHER\",\n\"transfer buffer size\": 16,\n"
              "\"displayed product name\": \"Other\"\n}\n");
    EXPECT_EQ(runTool(dir, "inspect " + q(renamed) + " --catalogue " + q(dir.path())).out, "Unknown product !!\n");
}

}  // namespace
}  // namespace dorvane::firmware
