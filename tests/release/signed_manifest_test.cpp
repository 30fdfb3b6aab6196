#include <gtest/gtest.h>

#include <random>
#include <string>

#include "release/component_list.h"
#include "release/signed_manifest.h"
#include "support/test_signing.h"

class SignedManifestTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(key_.ok()); }
    void TearDown() override { FreeManifest(manifest_); }

    std::string File(const ManifestLayout &layout) { return SignedManifestFile(key_, ManifestBody(layout)); }
    Status Parse(const std::string &file)
    {
        FreeManifest(manifest_);
        manifest_ = (SignedManifest *)1; // must come back null on failure
        Status status = ParseSignedManifest(Bytes(file), (uint32_t)file.size(), key_.public_key(), &manifest_);
        if (status != StatusOk) {
            EXPECT_EQ(nullptr, manifest_);
            manifest_ = nullptr;
        }
        return status;
    }

    TestKey key_;
    SignedManifest *manifest_ = nullptr;
};

TEST_F(SignedManifestTest, SmallestFileHasNoRecords)
{
    std::string file = File({});
    ASSERT_EQ(84u, file.size());
    ASSERT_EQ(StatusOk, Parse(file));
    for (unsigned tag = 0; tag < 12; tag++)
        EXPECT_EQ(nullptr, GetManifestRecord(manifest_, tag));
    ProgramEntry entry;
    EXPECT_EQ(StatusNotFound, LookupManifestEntry(manifest_, "program", &entry));
}

TEST_F(SignedManifestTest, RecordsAndHeaderValuesAreKept)
{
    ManifestLayout layout;
    layout.a = 0x11223344;
    layout.b = 0x0102030405060708ull;
    layout.records = {{40, "atlanir"}, {9, "program|1.0.0"}, {1, ""}, {11, "son"}, {40, "yine"}};
    std::string file = File(layout);
    ASSERT_EQ(StatusOk, Parse(file));
    EXPECT_EQ(0x11223344u, manifest_->header_u32);
    EXPECT_EQ(0x0102030405060708ull, manifest_->header_u64);
    EXPECT_STREQ("program|1.0.0", GetManifestRecord(manifest_, 9));
    EXPECT_STREQ("", GetManifestRecord(manifest_, 1)); // present but empty is not absent
    EXPECT_STREQ("son", GetManifestRecord(manifest_, 11));
    EXPECT_EQ(nullptr, GetManifestRecord(manifest_, 2));
    EXPECT_EQ(nullptr, GetManifestRecord(manifest_, 0));
    EXPECT_EQ(nullptr, GetManifestRecord(manifest_, 12));
    EXPECT_EQ(nullptr, GetManifestRecord(nullptr, 9));
}

TEST_F(SignedManifestTest, StructuralRules)
{
    struct Case {
        const char *what;
        ManifestLayout layout;
        Status expected;
    };
    ManifestLayout skipped_counted;
    skipped_counted.records = {{9, "a"}, {40, "b"}};
    ManifestLayout undercounted = skipped_counted;
    undercounted.declared = 1;
    ManifestLayout overcounted = skipped_counted;
    overcounted.declared = 3;
    ManifestLayout repeated;
    repeated.records = {{9, "a"}, {9, "b"}};
    ManifestLayout repeated_skipped;
    repeated_skipped.records = {{40, "a"}, {40, "b"}};
    ManifestLayout tag_zero;
    tag_zero.records = {{0, "a"}};
    ManifestLayout reserved;
    reserved.records = {{9, "a", 1}};
    ManifestLayout zero_byte;
    zero_byte.records = {{9, std::string("a\0b", 3)}};
    ManifestLayout zero_byte_skipped;
    zero_byte_skipped.records = {{40, std::string("a\0b", 3)}};
    ManifestLayout version2;
    version2.version = 2;
    ManifestLayout magic;
    magic.magic = "TDB2";
    const Case cases[] = {
        {"tags 9 and 40 counted as 2", skipped_counted, StatusOk},
        {"count 1 for two records", undercounted, StatusInvalid},
        {"count 3 for two records", overcounted, StatusInvalid},
        {"tag 9 twice", repeated, StatusInvalid},
        {"tag 40 twice", repeated_skipped, StatusOk},
        {"tag 0", tag_zero, StatusInvalid},
        {"reserved word set", reserved, StatusInvalid},
        {"zero byte in a value", zero_byte, StatusInvalid},
        {"zero byte in a skipped value", zero_byte_skipped, StatusInvalid},
        {"format version 2", version2, StatusUnsupported},
        {"magic TDB2", magic, StatusInvalid},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.expected, Parse(File(c.layout))) << c.what;
}

TEST_F(SignedManifestTest, RecordLengthAgainstTheSignature)
{
    ManifestLayout layout;
    layout.records = {{9, "abcd"}};
    std::string body = ManifestBody(layout);
    ASSERT_EQ(StatusOk, Parse(SignedManifestFile(key_, body))); // the value ends right at the signature
    body[24] = 5; // one byte more than is there
    EXPECT_EQ(StatusInvalid, Parse(SignedManifestFile(key_, body)));
    body[24] = 4;
    EXPECT_EQ(StatusInvalid, Parse(SignedManifestFile(key_, body + "xyz"))); // a cut record head
}

TEST_F(SignedManifestTest, SignatureIsCheckedBeforeMagicAndVersion)
{
    ManifestLayout layout;
    layout.version = 2;
    std::string file = File(layout);
    file[file.size() - 1] ^= 0x01;
    EXPECT_EQ(StatusInvalid, Parse(file));
}

TEST_F(SignedManifestTest, SizeLimits)
{
    ManifestLayout layout;
    layout.records = {{9, std::string(kManifestMaxSize - 92, 'x')}};
    std::string file = File(layout);
    ASSERT_EQ(kManifestMaxSize, file.size());
    EXPECT_EQ(StatusOk, Parse(file));
    layout.records[0].value += 'x';
    EXPECT_EQ(StatusInvalid, Parse(File(layout))); // correctly signed, one byte too large
    std::string smallest = File({});
    EXPECT_EQ(StatusInvalid, Parse(smallest.substr(0, 83)));
}

TEST_F(SignedManifestTest, Arguments)
{
    std::string file = File({});
    SignedManifest *result = (SignedManifest *)1;
    EXPECT_EQ(StatusInvalid, ParseSignedManifest(Bytes(file), (uint32_t)file.size(), key_.public_key(), nullptr));
    EXPECT_EQ(StatusInvalid, ParseSignedManifest(nullptr, 84, key_.public_key(), &result));
    EXPECT_EQ(nullptr, result);
    result = (SignedManifest *)1;
    EXPECT_EQ(StatusInvalid, ParseSignedManifest(Bytes(file), (uint32_t)file.size(), nullptr, &result));
    EXPECT_EQ(nullptr, result);
    FreeManifest(nullptr);
}

// Any change to a signed file, anywhere, is refused.
TEST_F(SignedManifestTest, EveryChangedByteIsRefused)
{
    ManifestLayout layout;
    layout.a = 7;
    layout.records = {{9, "program|1.0.0|x|1|p.tpk"}, {40, "ek"}};
    std::string file = File(layout);
    ASSERT_EQ(StatusOk, Parse(file));
    for (size_t i = 0; i < file.size(); i++) {
        for (int flip : {0x01, 0x80, 0xFF}) {
            std::string changed = file;
            changed[i] ^= (char)flip;
            ASSERT_NE(StatusOk, Parse(changed)) << "byte " << i << " ^ " << flip;
        }
    }
    EXPECT_NE(StatusOk, Parse(file.substr(0, file.size() - 1)));
    EXPECT_NE(StatusOk, Parse(file + '\0'));
}

TEST_F(SignedManifestTest, RandomMutationsNeverPass)
{
    ManifestLayout layout;
    layout.records = {{9, "program|2.1.0|abc|734|paket-2.1.0.tpk\nara|1.0.0|x|1|a.tpk"}, {3, "uc"}};
    const std::string file = File(layout);
    std::mt19937 random(20261208);
    int refused = 0;
    for (int round = 0; round < 3000; round++) {
        std::string changed = file;
        switch (random() % 3) {
        case 0:
            changed.resize(random() % changed.size());
            break;
        case 1:
            changed.insert(random() % (changed.size() + 1), std::string(1 + random() % 8, (char)random()));
            break;
        default:
            for (unsigned n = 1 + random() % 4; n > 0; n--)
                changed[random() % changed.size()] = (char)random();
        }
        if (changed == file)
            continue;
        ASSERT_NE(StatusOk, Parse(changed)) << "round " << round;
        refused++;
    }
    EXPECT_GT(refused, 2900);
}
