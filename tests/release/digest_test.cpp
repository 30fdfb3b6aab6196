#include <gtest/gtest.h>

#include <string>

#include "release/component_list.h"
#include "release/digest.h"
#include "support/test_support.h"

namespace {

std::string Digest(const char *hex)
{
    uint8_t bytes[32];
    EXPECT_TRUE(DecodeSha256Hex(hex, bytes));
    return std::string((const char *)bytes, 32);
}

const char kEmptyDigest[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const char kMillionA[] = "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";

} // namespace

TEST(Sha256Buffer, PublishedVectors)
{
    struct Vector {
        std::string message;
        const char *digest;
    };
    const Vector vectors[] = {
        {"", kEmptyDigest},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), kMillionA},
    };
    for (const Vector &v : vectors) {
        uint8_t digest[32];
        ASSERT_EQ(StatusOk, Sha256Buffer((const uint8_t *)v.message.data(), (uint32_t)v.message.size(), digest));
        EXPECT_EQ(Digest(v.digest), std::string((const char *)digest, 32)) << v.message.size() << " bytes";
    }
}

TEST(Sha256Buffer, Arguments)
{
    uint8_t digest[32];
    ASSERT_EQ(StatusOk, Sha256Buffer(nullptr, 0, digest)); // the empty message
    EXPECT_EQ(Digest(kEmptyDigest), std::string((const char *)digest, 32));
    EXPECT_EQ(StatusInvalid, Sha256Buffer(nullptr, 1, digest));
    EXPECT_EQ(StatusInvalid, Sha256Buffer((const uint8_t *)"a", 1, nullptr));
}

TEST(Sha256File, HashesWholeFilesAcrossReadBoundaries)
{
    std::wstring folder = MakeTempFolder(L"sha");
    ASSERT_FALSE(folder.empty());
    for (size_t size : {(size_t)0, (size_t)1, (size_t)65535, (size_t)65536, (size_t)65537, (size_t)1000000}) {
        std::string content(size, 'a');
        std::wstring path = folder + L"\\f" + std::to_wstring(size);
        ASSERT_TRUE(WriteFileBytes(path, content));
        uint8_t from_file[32], from_buffer[32];
        ASSERT_EQ(StatusOk, Sha256File(path.c_str(), from_file)) << size;
        ASSERT_EQ(StatusOk, Sha256Buffer((const uint8_t *)content.data(), (uint32_t)size, from_buffer));
        EXPECT_EQ(0, memcmp(from_file, from_buffer, 32)) << size;
        if (size == 0) {
            EXPECT_EQ(Digest(kEmptyDigest), std::string((const char *)from_file, 32));
        } else if (size == 1000000) {
            EXPECT_EQ(Digest(kMillionA), std::string((const char *)from_file, 32));
        }
    }
    RemoveFolder(folder);
}

TEST(Sha256File, MissingFileAndMissingFolder)
{
    std::wstring folder = MakeTempFolder(L"sha");
    ASSERT_FALSE(folder.empty());
    uint8_t digest[32];
    EXPECT_EQ(StatusNotFound, Sha256File((folder + L"\\yok.tpk").c_str(), digest));
    EXPECT_EQ(StatusIoError, Sha256File((folder + L"\\yok\\paket.tpk").c_str(), digest));
    EXPECT_EQ(StatusIoError, Sha256File(folder.c_str(), digest)); // a folder is not a file
    EXPECT_EQ(StatusInvalid, Sha256File(nullptr, digest));
    EXPECT_EQ(StatusInvalid, Sha256File((folder + L"\\yok.tpk").c_str(), nullptr));
    RemoveFolder(folder);
}
