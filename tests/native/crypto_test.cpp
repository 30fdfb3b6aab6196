#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>

#include <openssl/core_names.h>
#include <openssl/pem.h>

#include "release/digest.h"
#include "release/signature.h"
#include "test_support.h"
#include "tools/yayin/yayin.h"

namespace {

std::string FromHex(const char *hex)
{
    std::string bytes;
    for (size_t i = 0; hex[i] != 0 && hex[i + 1] != 0; i += 2)
        bytes += (char)strtoul(std::string(hex + i, 2).c_str(), nullptr, 16);
    return bytes;
}

const uint8_t *Bytes(const std::string &text)
{
    return (const uint8_t *)text.data();
}

// ECDSA P-256 with SHA-256 over "sample", from RFC 6979 (A.2.5): signed by another
// implementation, so the r||s layout and the digest are checked, not just a round trip.
const std::string kVectorKey = FromHex("60FED4BA255A9D31C961EB74C6356D68C049B8923B61FA6CE669622E60F29FB6"
                                       "7903FE1008B8BC99A41AE9E95628BC64F2F1B20C2D7E9F5177A3C294D4462299");
const std::string kVectorSignature = FromHex("EFD48B2AACB6A8FD1140DD9CD45E81D69D2C877B56AAF991C34D0EA84EAF3716"
                                             "F7CB1C942D657C41D436C7A1B6E29F65F3E900DBB9AFF4064DC4AB2F843ACDA8");

} // namespace

TEST(Sha256Buffer, KnownVectors)
{
    const struct {
        std::string message;
        const char *digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        uint8_t digest[32];
        ASSERT_EQ(StatusOk, Sha256Buffer(Bytes(c.message), (uint32_t)c.message.size(), digest));
        EXPECT_EQ(FromHex(c.digest), std::string((char *)digest, 32));
    }
    uint8_t digest[32];
    ASSERT_EQ(StatusOk, Sha256Buffer(nullptr, 0, digest));
    EXPECT_EQ(FromHex(cases[0].digest), std::string((char *)digest, 32));
    EXPECT_EQ(StatusInvalid, Sha256Buffer(nullptr, 3, digest));
    EXPECT_EQ(StatusInvalid, Sha256Buffer(Bytes("abc"), 3, nullptr));
}

TEST(VerifyReleaseSignature, KnownAnswerAndTampering)
{
    std::string off_curve = kVectorKey;
    off_curve[63] ^= 1;
    std::string flipped_r = kVectorSignature;
    flipped_r[5] ^= 0x10;
    std::string flipped_s = kVectorSignature;
    flipped_s[63] ^= 1;
    std::string zero_s = kVectorSignature.substr(0, 32) + std::string(32, '\0');
    const struct {
        const char *what;
        std::string key, message, signature;
        Status expected;
    } cases[] = {
        {"as published", kVectorKey, "sample", kVectorSignature, StatusOk},
        {"other message", kVectorKey, "samplf", kVectorSignature, StatusInvalid},
        {"message with a byte more", kVectorKey, std::string("sample\0", 7), kVectorSignature, StatusInvalid},
        {"r changed", kVectorKey, "sample", flipped_r, StatusInvalid},
        {"s changed", kVectorKey, "sample", flipped_s, StatusInvalid},
        {"s zero", kVectorKey, "sample", zero_s, StatusInvalid},
        {"key off the curve", off_curve, "sample", kVectorSignature, StatusInvalid},
        {"r and s swapped", kVectorKey, "sample", kVectorSignature.substr(32) + kVectorSignature.substr(0, 32),
         StatusInvalid},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.expected, VerifyReleaseSignature(Bytes(c.key), Bytes(c.message), (uint32_t)c.message.size(),
                                                     Bytes(c.signature)));
    }
    EXPECT_EQ(StatusInvalid, VerifyReleaseSignature(nullptr, Bytes("sample"), 6, Bytes(kVectorSignature)));
    EXPECT_EQ(StatusInvalid, VerifyReleaseSignature(Bytes(kVectorKey), nullptr, 6, Bytes(kVectorSignature)));
    EXPECT_EQ(StatusInvalid, VerifyReleaseSignature(Bytes(kVectorKey), Bytes("sample"), 6, nullptr));
}

TEST(DevelopmentKeys, PublicFileMatchesPrivateKeyAndSignaturesVerify)
{
    EVP_PKEY *key = nullptr;
    ASSERT_EQ(StatusOk, LoadPrivateKey(RepositoryPath("keys/dev-release.pem").c_str(), &key));
    uint8_t public_key[64];
    ASSERT_EQ(StatusOk, GetPublicKeyBytes(key, public_key));
    EXPECT_EQ(ReadFileBytes(RepositoryPath("keys/dev-release.pub")), std::string((char *)public_key, 64));

    const std::string message = "Talvor 2.1.0";
    uint8_t digest[32];
    uint8_t signature[64];
    ASSERT_EQ(StatusOk, Sha256Buffer(Bytes(message), (uint32_t)message.size(), digest));
    ASSERT_EQ(StatusOk, SignDigest(key, digest, signature));
    EVP_PKEY_free(key);
    EXPECT_EQ(StatusOk, VerifyReleaseSignature(public_key, Bytes(message), (uint32_t)message.size(), signature));
}

// The setup and the other Windows programs may carry the public key only; the development
// private key must never be built into them.
TEST(ReleaseBinaries, ExesHoldNoPrivateKeyMaterial)
{
    const char *folder = getenv("TALVOR_BIN_DIR");
    if (folder == nullptr)
        GTEST_SKIP() << "TALVOR_BIN_DIR is not set: no built programs to search";

    FILE *file = fopen(RepositoryPath("keys/dev-release.pem").c_str(), "rb");
    ASSERT_NE(nullptr, file);
    EVP_PKEY *key = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
    fclose(file);
    ASSERT_NE(nullptr, key);
    BIGNUM *scalar = nullptr;
    uint8_t bytes[32];
    bool taken = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &scalar) == 1 &&
                 BN_bn2binpad(scalar, bytes, 32) == 32;
    BN_clear_free(scalar);
    EVP_PKEY_free(key);
    ASSERT_TRUE(taken);
    const std::string big_endian((char *)bytes, 32);
    const std::string little_endian(big_endian.rbegin(), big_endian.rend());

    int searched = 0;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".exe")
            continue;
        SCOPED_TRACE(entry.path().string());
        const std::string program = ReadFileBytes(entry.path().string());
        ASSERT_FALSE(program.empty());
        EXPECT_EQ(std::string::npos, program.find(big_endian));
        EXPECT_EQ(std::string::npos, program.find(little_endian));
        EXPECT_EQ(std::string::npos, program.find("PRIVATE KEY"));
        searched++;
    }
    EXPECT_GT(searched, 0) << "no .exe in " << folder;
}
