#include "support/test_signing.h"

#include <string.h>

#include "release/digest.h"

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
