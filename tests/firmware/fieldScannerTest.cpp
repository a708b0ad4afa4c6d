// The field scanner must give the C library's answers wherever no bracketed
// directive matches an empty run, and keep scanning where one does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "firmware/fieldScanner.h"
#include "firmware/fileNaming.h"
#include "firmware/productCatalogue.h"
#include "firmware/productKeysList.h"

namespace dorvane::firmware {
namespace {

int libraryCount(int n) { return std::max(n, 0); }

struct NumberCase {
    const char* pattern;
    const char* input;
};

TEST(FieldScannerAgreesWithLibrary, SingleUnsigned) {
    const NumberCase cases[] = {
        {"%u", "42"},           {"%u", "   42 tail"},  {"%u", "-5"},
        {"%u", "+7"},           {"%u", "abc"},         {"%u", ""},
        {"%u", "99999999999"},  {"%u", "4294967301"},  {"x%u", "x12"},
        {"x%u", "y12"},         {" %u", "\t 8"},       {"%2u", "12345"},
        {kCatalogueNumberPattern, "    \"transfer buffer size\": 64,"},
        {kCatalogueNumberPattern, "    \"transfer buffer size\":64"},
        {kCatalogueNumberPattern, "    \"transfer buffer size\": \"64\","},
        {kCatalogueNumberPattern, "no colon 64"},
    };
    for (const auto& c : cases) {
        unsigned mine = 1234, theirs = 1234;
        const int myCount = scanFields(c.input, c.pattern, {&mine});
        const int theirCount = libraryCount(std::sscanf(c.input, c.pattern, &theirs));
        EXPECT_EQ(myCount, theirCount) << c.pattern << " on \"" << c.input << "\"";
        EXPECT_EQ(mine, theirs) << c.pattern << " on \"" << c.input << "\"";
    }
}

TEST(FieldScannerAgreesWithLibrary, SingleUnsignedLong) {
    const NumberCase cases[] = {
        {"%lu", "18446744073709551615"}, {"%lu", "18446744073709551616"}, {"%lu", "-1"},
        {kKeysNamePattern, "ListeProduits_20240101.txt"}, {kKeysNamePattern, "ListeProduits.txt"},
        {kKeysNamePattern, "listeproduits_1.txt"},         {kKeysNamePattern, "ListeProduits_x.txt"},
        {kKeysNamePattern, "ListeProduits_ 7"},
    };
    for (const auto& c : cases) {
        unsigned long mine = 1234, theirs = 1234;
        const int myCount = scanFields(c.input, c.pattern, {&mine});
        const int theirCount = libraryCount(std::sscanf(c.input, c.pattern, &theirs));
        EXPECT_EQ(myCount, theirCount) << c.pattern << " on \"" << c.input << "\"";
        EXPECT_EQ(mine, theirs) << c.pattern << " on \"" << c.input << "\"";
    }
}

TEST(FieldScannerAgreesWithLibrary, SingleText) {
    const NumberCase cases[] = {
        {"%[^\"]", "abc\"def"},
        {"%[A-F0-9]", "12AFg"},
        {"%[]x]", "]]xy"},
        {"%5[^;]", "abcdefgh;"},
        {"%s", "  word next"},
        {"%3s", "abcdef"},
        {kCatalogueValuePattern, "    \"embedded product name\": \"PROD\","},
        {kCatalogueValuePattern, "    \"displayed product name\": \"Product One"},
        {kCatalogueValuePattern, "    \"embedded product name\" - \"PROD\""},
    };
    for (const auto& c : cases) {
        std::string mine = "unchanged";
        char theirs[256] = "unchanged";
        const int myCount = scanFields(c.input, c.pattern, {&mine});
        const int theirCount = libraryCount(std::sscanf(c.input, c.pattern, theirs));
        EXPECT_EQ(myCount, theirCount) << c.pattern << " on \"" << c.input << "\"";
        EXPECT_EQ(mine, std::string(theirs)) << c.pattern << " on \"" << c.input << "\"";
    }
}

TEST(FieldScannerAgreesWithLibrary, FileNamePatterns) {
    const char* names[] = {
        "V1.2.3.4_PROD.qfwp", "V1.2.3.4.7_PROD.qfwp", "V1.2.3_PROD.qfwp", "C1.2.3.4_PROD.12.qfwp",
        "C1.2.3.4.9_PROD.12.qfwp", "C1.2.3.4_PROD", "C1.2.3.4_PROD.x", "X1.2.3.4_PROD.qfwp",
        "C01.002.3.4_A_B.65534.qfwp", "V1.2.3.4_", "C1.2.3.4_P.12",
    };
    for (const char* name : names) {
        {
            unsigned a1 = 0, b1 = 0, c1 = 0, a2 = 0, b2 = 0, c2 = 0;
            unsigned long d1 = 0, e1 = 0, d2 = 0, e2 = 0;
            EXPECT_EQ(scanFields(name, kVTypePattern, {&a1, &b1, &c1, &d1, &e1}),
                      libraryCount(std::sscanf(name, kVTypePattern, &a2, &b2, &c2, &d2, &e2)))
                << name;
            EXPECT_TRUE(a1 == a2 && b1 == b2 && c1 == c2 && d1 == d2 && e1 == e2) << name;
        }
        {
            unsigned a1 = 0, b1 = 0, c1 = 0, f1 = 0, a2 = 0, b2 = 0, c2 = 0, f2 = 0;
            unsigned long d1 = 0, d2 = 0;
            EXPECT_EQ(scanFields(name, kCTypePattern, {&a1, &b1, &c1, &d1, &f1}),
                      libraryCount(std::sscanf(name, kCTypePattern, &a2, &b2, &c2, &d2, &f2)))
                << name;
            EXPECT_TRUE(a1 == a2 && b1 == b2 && c1 == c2 && d1 == d2 && f1 == f2) << name;
        }
        {
            unsigned a1 = 0, b1 = 0, c1 = 0, f1 = 0, a2 = 0, b2 = 0, c2 = 0, f2 = 0;
            unsigned long d1 = 0, e1 = 0, d2 = 0, e2 = 0;
            EXPECT_EQ(scanFields(name, kCTypeTwoBuildsPattern, {&a1, &b1, &c1, &d1, &e1, &f1}),
                      libraryCount(std::sscanf(name, kCTypeTwoBuildsPattern, &a2, &b2, &c2, &d2, &e2, &f2)))
                << name;
            EXPECT_TRUE(a1 == a2 && b1 == b2 && c1 == c2 && d1 == d2 && e1 == e2 && f1 == f2) << name;
        }
    }
}

TEST(FieldScannerAgreesWithLibrary, KeysLinesWithEveryFieldPresent) {
    const char* lines[] = {
        "70B3D57ED0001234;0001;00112233445566778899AABBCCDDEEFF;FFEEDDCCBBAA99887766554433221100;F;1;"
        "0102030405060708090A0B0C0D0E0F10;x;y",
        "70B3D57ED0001234;0001;00112233445566778899AABBCCDDEEFF;FFEEDDCCBBAA99887766554433221100;F;1;"
        "0102030405060708090A0B0C0D0E0F10",
        "123456789012345678901234567890123;a;b;c;d;e;f;g",  // DevEUI of 33 characters
    };
    for (const char* line : lines) {
        std::string m1 = "-", m2 = "-", m3 = "-", m4 = "-";
        char t1[64] = "-", t2[64] = "-", t3[64] = "-", t4[64] = "-";
        EXPECT_EQ(scanFields(line, kKeysLinePattern, {&m1, &m2, &m3, &m4}),
                  libraryCount(std::sscanf(line, kKeysLinePattern, t1, t2, t3, t4)))
            << line;
        EXPECT_EQ(m1, t1);
        EXPECT_EQ(m2, t2);
        EXPECT_EQ(m3, t3);
        EXPECT_EQ(m4, t4);
    }
}

TEST(FieldScannerParticular, EmptyCharacterSetDoesNotEndTheScan) {
    // The opening quote right after the colon: the skip before it matches nothing.
    std::string value = "unchanged";
    EXPECT_EQ(scanFields("\"embedded product name\":\"PROD\"", kCatalogueValuePattern, {&value}), 1);
    EXPECT_EQ(value, "PROD");

    // Empty skipped keys-list columns, and a line that ends after OTA_AppKey.
    std::string a, b, c, d;
    EXPECT_EQ(scanFields("DEV;;NWK;APP;;;OTA", kKeysLinePattern, {&a, &b, &c, &d}), 4);
    EXPECT_EQ(a + "|" + b + "|" + c + "|" + d, "DEV|NWK|APP|OTA");

    // An empty kept field is not counted and keeps its value; the scan goes on.
    std::string e = "kept", f, g, h;
    EXPECT_EQ(scanFields(";;NWK;APP;;;OTA", kKeysLinePattern, {&e, &f, &g, &h}), 3);
    EXPECT_EQ(e, "kept");
    EXPECT_EQ(h, "OTA");

    // The empty product part of a C-type name.
    unsigned ma = 0, mi = 0, co = 0, cfg = 0;
    unsigned long build = 0;
    EXPECT_EQ(scanFields("C1.2.3.4_.12", kCTypePattern, {&ma, &mi, &co, &build, &cfg}), 5);
    EXPECT_EQ(cfg, 12u);
    EXPECT_EQ(libraryCount(std::sscanf("C1.2.3.4_.12", kCTypePattern, &ma, &mi, &co, &build, &cfg)), 4)
        << "the C library ends the scan here; the matcher is needed for this case";
}

TEST(FieldScannerParticular, SurplusBeyondTheWidthStopsAtTheNextLiteral) {
    std::string a, b, c, d;
    const std::string devEui(33, 'A');
    const std::string line = devEui + ";x;NWK;APP;;;OTA";
    EXPECT_EQ(scanFields(line.c_str(), kKeysLinePattern, {&a, &b, &c, &d}), 1);
    EXPECT_EQ(a.size(), 32u);
}

}  // namespace
}  // namespace dorvane::firmware
