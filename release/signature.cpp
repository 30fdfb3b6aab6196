#include "release/signature.h"

#include <string.h>

#include "core/system_library.h"
#include "core/win_compat.h"
#include "release/digest.h"

// The 64 bytes come from the key file the build names (release_public_key.cpp, generated).
extern const uint8_t ReleasePublicKey[64];

const uint8_t *GetReleasePublicKey()
{
    return ReleasePublicKey;
}

Status VerifyReleaseSignature(const uint8_t public_key[64], const uint8_t *data, uint32_t length,
                              const uint8_t signature[64])
{
    if (public_key == nullptr || signature == nullptr || (data == nullptr && length != 0))
        return StatusInvalid;
    uint8_t digest[32];
    if (Sha256Buffer(data, length, digest) != StatusOk)
        return StatusIoError;

    auto import = LoadSystemFunction<decltype(&BCryptImportKeyPair)>(L"bcrypt.dll", "BCryptImportKeyPair");
    auto verify = LoadSystemFunction<decltype(&BCryptVerifySignature)>(L"bcrypt.dll", "BCryptVerifySignature");
    auto destroy = LoadSystemFunction<decltype(&BCryptDestroyKey)>(L"bcrypt.dll", "BCryptDestroyKey");
    if (import == nullptr || verify == nullptr || destroy == nullptr)
        return StatusInvalid;

    // BCRYPT_ECCKEY_BLOB ("ECS1", 32) followed by X and Y.
    uint8_t blob[72] = {0x45, 0x43, 0x53, 0x31, 32, 0, 0, 0};
    memcpy(blob + 8, public_key, 64);
    BCRYPT_KEY_HANDLE key = nullptr;
    if (!BCRYPT_SUCCESS(import(BCRYPT_ECDSA_P256_ALG_HANDLE, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob, sizeof blob, 0)))
        return StatusInvalid;
    NTSTATUS result = verify(key, nullptr, digest, 32, (PUCHAR)signature, 64, 0);
    destroy(key);
    return BCRYPT_SUCCESS(result) ? StatusOk : StatusInvalid;
}
