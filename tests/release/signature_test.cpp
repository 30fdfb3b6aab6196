#include <gtest/gtest.h>

#include <string>

#include "release/signature.h"
#include "support/test_signing.h"
#include "support/test_support.h"

class SignatureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(key_.ok());
        ASSERT_TRUE(other_.ok());
        signature_ = key_.Sign(data_);
        ASSERT_EQ(64u, signature_.size());
    }
    Status Verify(const uint8_t *public_key, const std::string &data, const std::string &signature)
    {
        return VerifyReleaseSignature(public_key, Bytes(data), (uint32_t)data.size(), Bytes(signature));
    }
    TestKey key_, other_;
    std::string data_ = "TDB1 imzali baytlar";
    std::string signature_;
};

TEST_F(SignatureTest, AcceptsOnlyTheRightKeyAndBytes)
{
    EXPECT_EQ(StatusOk, Verify(key_.public_key(), data_, signature_));
    EXPECT_EQ(StatusInvalid, Verify(other_.public_key(), data_, signature_));
    EXPECT_EQ(StatusInvalid, Verify(key_.public_key(), data_, other_.Sign(data_)));
    for (size_t i = 0; i < data_.size(); i++) {
        std::string changed = data_;
        changed[i] ^= 0x01;
        EXPECT_EQ(StatusInvalid, Verify(key_.public_key(), changed, signature_)) << i;
    }
    EXPECT_EQ(StatusInvalid, Verify(key_.public_key(), data_ + "x", signature_));
}

TEST_F(SignatureTest, RefusesMangledSignatures)
{
    std::string swapped = signature_.substr(32) + signature_.substr(0, 32);
    EXPECT_EQ(StatusInvalid, Verify(key_.public_key(), data_, swapped));

    // The DER form starts 30 len 02 len r...; cut to the 64 bytes the check reads.
    std::string der = "\x30";
    auto integer = [](const std::string &n) {
        std::string v = (unsigned char)n[0] & 0x80 ? std::string(1, '\0') + n : n;
        return std::string("\x02", 1) + (char)v.size() + v;
    };
    std::string body = integer(signature_.substr(0, 32)) + integer(signature_.substr(32));
    der += (char)body.size();
    der += body;
    EXPECT_EQ(StatusInvalid, Verify(key_.public_key(), data_, der.substr(0, 64)));

    EXPECT_EQ(StatusInvalid, Verify(key_.public_key(), data_, std::string(64, '\0')));
    for (int i : {0, 31, 32, 63}) {
        std::string changed = signature_;
        changed[i] ^= 0x80;
        EXPECT_EQ(StatusInvalid, Verify(key_.public_key(), data_, changed)) << i;
    }
}

TEST_F(SignatureTest, EmptyMessageAndArguments)
{
    std::string empty_signature = key_.Sign("");
    EXPECT_EQ(StatusOk, VerifyReleaseSignature(key_.public_key(), nullptr, 0, Bytes(empty_signature)));
    EXPECT_EQ(StatusInvalid, VerifyReleaseSignature(key_.public_key(), nullptr, 1, Bytes(signature_)));
    EXPECT_EQ(StatusInvalid, VerifyReleaseSignature(nullptr, Bytes(data_), (uint32_t)data_.size(), Bytes(signature_)));
    EXPECT_EQ(StatusInvalid, VerifyReleaseSignature(key_.public_key(), Bytes(data_), (uint32_t)data_.size(), nullptr));
}

TEST_F(SignatureTest, KeyOffTheCurveIsRefused)
{
    uint8_t bad[64];
    memcpy(bad, key_.public_key(), 64);
    bad[63] ^= 0x01; // Y no longer matches X
    EXPECT_EQ(StatusInvalid, Verify(bad, data_, signature_));
    uint8_t zero[64] = {};
    EXPECT_EQ(StatusInvalid, Verify(zero, data_, signature_));
}

// The key the build was told to embed, whichever it is (the Windows test kit carries a copy).
TEST(ReleasePublicKey, IsTheConfiguredKeyFile)
{
    std::string file = RunningUnderWine() ? ReadFileBytes(L"Z:" TALVOR_RELEASE_PUBLIC_KEY_FILE) : "";
    if (file.empty())
        file = ReadFileBytes(BuildPath(L"kaynak\\release.pub"));
    ASSERT_EQ(64u, file.size());
    EXPECT_EQ(file, std::string((const char *)GetReleasePublicKey(), 64));
}
