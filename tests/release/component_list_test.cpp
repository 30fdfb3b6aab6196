#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>

#include "release/component_list.h"
#include "release/version_text.h"

namespace {

const std::string kHex = "00112233445566778899aabbccddeeff0123456789abcdefABCDEF0123456789";

std::string Line(const std::string &name = "program", const std::string &version = "2.1.0",
                 const std::string &hex = kHex, const std::string &size = "734",
                 const std::string &file = "paket-2.1.0.tpk")
{
    return name + "|" + version + "|" + hex + "|" + size + "|" + file;
}

// An authenticated manifest as the reader would hand it on, holding only the component list.
Status Lookup(const std::string &list, ProgramEntry *entry, const char *key = "program")
{
    SignedManifest *manifest = (SignedManifest *)calloc(1, sizeof(SignedManifest));
    manifest->records[9] = strdup(list.c_str());
    Status status = LookupManifestEntry(manifest, key, entry);
    FreeManifest(manifest);
    return status;
}

} // namespace

TEST(LookupManifestEntry, ReadsTheFirstLineOfTheKey)
{
    ProgramEntry entry;
    ASSERT_EQ(StatusOk, Lookup("arac|1.0.0|" + kHex + "|5|a.tpk\n" + Line() + "\n" + Line("program", "9.9.9"), &entry));
    EXPECT_STREQ("program", entry.name);
    EXPECT_STREQ("2.1.0", entry.version);
    EXPECT_EQ(734u, entry.size);
    EXPECT_STREQ("paket-2.1.0.tpk", entry.package_file);
    const uint8_t expected[8] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
    EXPECT_EQ(0, memcmp(expected, entry.sha256, 8));
    EXPECT_EQ(0xAB, entry.sha256[24]);
    EXPECT_EQ(0x89, entry.sha256[31]);
}

TEST(LookupManifestEntry, LineRules)
{
    struct Case {
        const char *what;
        std::string list;
        Status expected;
    };
    std::string long_line = Line("program", "2.1.0", kHex, "734", std::string(512 - Line("program", "2.1.0", kHex, "734", "").size(), 'p'));
    const Case cases[] = {
        {"carriage returns", "arac|x\r\n" + Line() + "\r\nson\r\n", StatusOk},
        {"carriage return at the end", Line() + "\r", StatusOk},
        {"key followed by a digit", Line("program2"), StatusNotFound},
        {"key followed by an s", Line("programs"), StatusNotFound},
        {"key in another case", Line("Program"), StatusNotFound},
        {"first of two wins, though invalid", Line("program", "2.1.0", kHex, "0") + "\n" + Line(), StatusInvalid},
        {"512-byte line passed over", long_line + "\n" + Line(), StatusOk},
        {"512-byte line alone", long_line, StatusNotFound},
        {"511-byte line is taken, then judged", long_line.substr(0, 511), StatusInvalid},
        {"doubled separator for a missing field", "program|2.1.0||734|paket.tpk", StatusInvalid},
        {"doubled separator among five fields", "program||2.1.0|" + kHex + "||734|paket.tpk", StatusOk},
        {"trailing separator", Line() + "|", StatusOk},
        {"trailing separators", Line() + "|||", StatusOk},
        {"sixth field", Line() + "|fazla", StatusInvalid},
        {"version of 31 bytes", Line("program", std::string(31, '1')), StatusOk},
        {"version of 32 bytes", Line("program", std::string(32, '1')), StatusInvalid},
        {"63 digits", Line("program", "2.1.0", kHex.substr(1)), StatusInvalid},
        {"65 digits", Line("program", "2.1.0", kHex + "0"), StatusInvalid},
        {"letter g", Line("program", "2.1.0", "g" + kHex.substr(1)), StatusInvalid},
        {"size 0", Line("program", "2.1.0", kHex, "0"), StatusInvalid},
        {"size 536870913", Line("program", "2.1.0", kHex, "536870913"), StatusInvalid},
        {"size 536870912", Line("program", "2.1.0", kHex, "536870912"), StatusOk},
        {"size with a letter", Line("program", "2.1.0", kHex, "734k"), StatusInvalid},
        {"size with a sign", Line("program", "2.1.0", kHex, "+734"), StatusOk},
        {"negative size", Line("program", "2.1.0", kHex, "-734"), StatusInvalid},
        {"size of 2^64 + 1", Line("program", "2.1.0", kHex, "18446744073709551617"), StatusInvalid},
        {"file name with a slash", Line("program", "2.1.0", kHex, "734", "a/b.tpk"), StatusInvalid},
        {"file name with a leading dot", Line("program", "2.1.0", kHex, "734", ".a.tpk"), StatusInvalid},
        {"file name with a letter beyond ASCII", Line("program", "2.1.0", kHex, "734", "s\xc3\xbcr.tpk"), StatusInvalid},
        {"empty list", "", StatusNotFound},
        {"blank lines only", "\n\n\n", StatusNotFound},
    };
    for (const Case &c : cases) {
        ProgramEntry entry;
        EXPECT_EQ(c.expected, Lookup(c.list, &entry)) << c.what;
    }
    ProgramEntry entry;
    EXPECT_EQ(StatusOk, Lookup(Line("fifteen_bytes_a"), &entry, "fifteen_bytes_a"));
    EXPECT_EQ(StatusInvalid, Lookup(Line("sixteen_bytes_ab"), &entry, "sixteen_bytes_ab"));
}

TEST(LookupManifestEntry, UpperCaseDigestDecodesAlike)
{
    std::string lower = kHex, upper = kHex;
    for (char &c : lower)
        c = (char)tolower(c);
    for (char &c : upper)
        c = (char)toupper(c);
    ProgramEntry a, b;
    ASSERT_EQ(StatusOk, Lookup(Line("program", "2.1.0", lower), &a));
    ASSERT_EQ(StatusOk, Lookup(Line("program", "2.1.0", upper), &b));
    EXPECT_EQ(0, memcmp(a.sha256, b.sha256, 32));
}

TEST(LookupManifestEntry, MissingPieces)
{
    ProgramEntry entry;
    memset(&entry, 0x55, sizeof entry);
    EXPECT_EQ(StatusNotFound, LookupManifestEntry(nullptr, "program", &entry));
    EXPECT_EQ(0, entry.name[0]); // cleared
    SignedManifest *manifest = (SignedManifest *)calloc(1, sizeof(SignedManifest));
    EXPECT_EQ(StatusNotFound, LookupManifestEntry(manifest, "program", &entry));
    memset(&entry, 0x55, sizeof entry);
    EXPECT_EQ(StatusInvalid, LookupManifestEntry(manifest, nullptr, &entry));
    EXPECT_EQ(0x55, (unsigned char)entry.name[0]); // untouched
    EXPECT_EQ(StatusInvalid, LookupManifestEntry(manifest, "program", nullptr));
    FreeManifest(manifest);
}

TEST(ComponentNames, PackageFileNameRule)
{
    struct Case {
        std::string name;
        bool valid;
    };
    const Case cases[] = {
        {"a.tpk", true},
        {".tpk", false},
        {"PAKET.TPK", true},
        {"a..b.tpk", false},
        {".a.tpk", false},
        {"a/b.tpk", false},
        {"a\\b.tpk", false},
        {"a:b.tpk", false},
        {"a\"b.tpk", false},
        {"a\tb.tpk", false},
        {"a.tpk.zip", false},
        {"a.tpkx", false},
        {std::string(96, 'a') + ".tpk", true},
        {std::string(97, 'a') + ".tpk", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.valid, IsValidPackageFileName(c.name.c_str())) << c.name;
    EXPECT_FALSE(IsValidPackageFileName(nullptr));
}

TEST(ComponentNames, SafeComponentFileName)
{
    EXPECT_TRUE(IsSafeComponentFileName("paket_2.1-0.tpk"));
    EXPECT_TRUE(IsSafeComponentFileName(std::string(127, 'a').c_str()));
    EXPECT_FALSE(IsSafeComponentFileName(std::string(128, 'a').c_str()));
    EXPECT_FALSE(IsSafeComponentFileName(""));
    EXPECT_FALSE(IsSafeComponentFileName(".gizli"));
    EXPECT_FALSE(IsSafeComponentFileName("a b"));
    EXPECT_FALSE(IsSafeComponentFileName("\x80"));
    EXPECT_FALSE(IsSafeComponentFileName(nullptr));
}

TEST(ComponentNames, HexDigits)
{
    const char *digits = "0123456789abcdefABCDEF";
    const int values[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 10, 11, 12, 13, 14, 15};
    for (int i = 0; digits[i] != 0; i++)
        EXPECT_EQ(values[i], HexDigitValue(digits[i])) << digits[i];
    for (int c : {(int)'g', (int)'G', (int)'/', (int)':', (int)'@', (int)'`', (int)' ', 0, 0xB0, -1})
        EXPECT_EQ(-1, HexDigitValue(c)) << c;

    uint8_t out[32];
    EXPECT_TRUE(DecodeSha256Hex(kHex.c_str(), out));
    EXPECT_FALSE(DecodeSha256Hex(kHex.substr(0, 63).c_str(), out));
    EXPECT_FALSE(DecodeSha256Hex((kHex + "a").c_str(), out));
    EXPECT_FALSE(DecodeSha256Hex(nullptr, out));
    EXPECT_FALSE(DecodeSha256Hex(kHex.c_str(), nullptr));
}

TEST(VersionText, Rule)
{
    struct Case {
        const char *text;
        bool valid;
    };
    const Case cases[] = {
        {"2.1.0", true},    {"0.0.0", true},      {"9999.9999.9999", true}, {"1.2", false},
        {"1.2.3.4", false}, {"12345.0.0", false}, {"1..2", false},          {".1.2", false},
        {"1.2.", false},    {"1.a.0", false},     {"1.2.3 ", false},        {"", false},
        {"1.2.\xd9", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.valid, IsValidVersion(c.text)) << c.text;
    EXPECT_FALSE(IsValidVersion(nullptr));
}

TEST(VersionText, InstallableEntry)
{
    ProgramEntry entry = {"program", "2.1.0", {}, 734, "paket-2.1.0.tpk"};
    EXPECT_TRUE(IsInstallableEntry(&entry));
    ProgramEntry four_groups = entry;
    strcpy(four_groups.version, "2.1.0.1");
    ProgramEntry five_digits = entry;
    strcpy(five_digits.version, "2.10000.0");
    ProgramEntry zero_size = entry;
    zero_size.size = 0;
    ProgramEntry too_big = entry;
    too_big.size = (uint64_t)kPackageMaxSize + 1;
    ProgramEntry bad_name = entry;
    strcpy(bad_name.package_file, "paket.zip");
    for (const ProgramEntry *bad : {&four_groups, &five_digits, &zero_size, &too_big, &bad_name})
        EXPECT_FALSE(IsInstallableEntry(bad)) << bad->version << " " << bad->size << " " << bad->package_file;
}
