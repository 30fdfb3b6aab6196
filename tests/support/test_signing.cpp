#include "support/test_signing.h"

#include <wincrypt.h>

#include <string.h>

#include "release/digest.h"
#include "support/test_support.h"

TestKey::TestKey()
{
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)))
        return;
    BCRYPT_KEY_HANDLE key = nullptr;
    uint8_t blob[72];
    ULONG length = 0;
    if (BCRYPT_SUCCESS(BCryptGenerateKeyPair(algorithm_, &key, 256, 0)) && BCRYPT_SUCCESS(BCryptFinalizeKeyPair(key, 0)) &&
        BCRYPT_SUCCESS(BCryptExportKey(key, nullptr, BCRYPT_ECCPUBLIC_BLOB, blob, sizeof blob, &length, 0)) &&
        length == sizeof blob) {
        memcpy(public_key_, blob + 8, 64);
        key_ = key;
    } else if (key != nullptr) {
        BCryptDestroyKey(key);
    }
}

TestKey::TestKey(const std::wstring &pem_file)
{
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)))
        return;
    std::string pem = ReadFileBytes(pem_file);
    uint8_t der[512];
    DWORD der_size = sizeof der;
    if (!CryptStringToBinaryA(pem.c_str(), (DWORD)pem.size(), CRYPT_STRING_BASE64HEADER, der, &der_size, nullptr,
                              nullptr))
        return;
    // Inside the key: INTEGER 1, then the 32-byte private scalar, later the uncompressed point.
    std::string bytes((const char *)der, der_size);
    size_t scalar = bytes.find(std::string("\x02\x01\x01\x04\x20", 5));
    size_t point = bytes.find(std::string("\x03\x42\x00\x04", 4));
    if (scalar == std::string::npos || point == std::string::npos || scalar + 37 > der_size || point + 68 > der_size)
        return;
    uint8_t blob[96];
    memcpy(blob, der + point + 4, 64);
    memcpy(blob + 64, der + scalar + 5, 32);
    Import(blob);
}

bool TestKey::Import(const uint8_t private_blob[96])
{
    uint8_t blob[sizeof(BCRYPT_ECCKEY_BLOB) + 96];
    BCRYPT_ECCKEY_BLOB *header = (BCRYPT_ECCKEY_BLOB *)blob;
    header->dwMagic = BCRYPT_ECDSA_PRIVATE_P256_MAGIC;
    header->cbKey = 32;
    memcpy(blob + sizeof *header, private_blob, 96);
    BCRYPT_KEY_HANDLE key = nullptr;
    if (!BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm_, nullptr, BCRYPT_ECCPRIVATE_BLOB, &key, blob, sizeof blob, 0)))
        return false;
    memcpy(public_key_, private_blob, 64);
    key_ = key;
    return true;
}

TestKey::~TestKey()
{
    if (key_ != nullptr)
        BCryptDestroyKey(key_);
    if (algorithm_ != nullptr)
        BCryptCloseAlgorithmProvider(algorithm_, 0);
}

std::string TestKey::Sign(const std::string &data) const
{
    uint8_t digest[32];
    if (Sha256Buffer(Bytes(data), (uint32_t)data.size(), digest) != StatusOk)
        return "";
    uint8_t signature[64];
    ULONG length = 0;
    if (!BCRYPT_SUCCESS(BCryptSignHash(key_, nullptr, digest, 32, signature, 64, &length, 0)) || length != 64)
        return "";
    return std::string((const char *)signature, 64);
}

namespace {

void PutU16(std::string &out, uint16_t v)
{
    out += (char)(v & 0xFF);
    out += (char)(v >> 8);
}

void PutU32(std::string &out, uint32_t v)
{
    PutU16(out, (uint16_t)v);
    PutU16(out, (uint16_t)(v >> 16));
}

} // namespace

std::string ManifestBody(const ManifestLayout &layout)
{
    std::string out = layout.magic;
    PutU16(out, layout.version);
    PutU16(out, (uint16_t)(layout.declared >= 0 ? layout.declared : (int)layout.records.size()));
    PutU32(out, layout.a);
    PutU32(out, (uint32_t)layout.b);
    PutU32(out, (uint32_t)(layout.b >> 32));
    for (const TestRecord &r : layout.records) {
        PutU16(out, r.tag);
        PutU16(out, r.reserved);
        PutU32(out, (uint32_t)r.value.size());
        out += r.value;
    }
    return out;
}

std::string SignedManifestFile(const TestKey &key, const std::string &body)
{
    return body + key.Sign(body);
}
