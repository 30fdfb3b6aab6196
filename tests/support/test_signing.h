#pragma once

#include <windows.h>
#include <bcrypt.h>
#include <stdint.h>

#include <string>
#include <vector>

// A fresh P-256 key pair made with CNG, for signing test manifests.
class TestKey {
public:
    TestKey();
    // The P-256 private key of a PKCS #8 PEM file, such as the development release key.
    explicit TestKey(const std::wstring &pem_file);
    ~TestKey();
    bool ok() const { return key_ != nullptr; }
    const uint8_t *public_key() const { return public_key_; }
    // r then s, 32 big-endian bytes each, over the SHA-256 digest of `data`; empty on failure.
    std::string Sign(const std::string &data) const;

private:
    bool Import(const uint8_t private_blob[96]);
    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
    BCRYPT_KEY_HANDLE key_ = nullptr;
    uint8_t public_key_[64] = {};
};

struct TestRecord {
    uint16_t tag;
    std::string value;
    uint16_t reserved = 0;
};

struct ManifestLayout {
    std::vector<TestRecord> records;
    uint16_t version = 1;
    int declared = -1; // record count in the header; -1 means the real number
    std::string magic = "TDB1";
    uint32_t a = 0;
    uint64_t b = 0;
};

// The signed part of a manifest file (everything before the signature).
std::string ManifestBody(const ManifestLayout &layout);

// A whole manifest file: the body followed by its signature by `key`.
std::string SignedManifestFile(const TestKey &key, const std::string &body);

inline const uint8_t *Bytes(const std::string &s)
{
    return (const uint8_t *)s.data();
}
