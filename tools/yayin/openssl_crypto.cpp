// The setup's digest and signature check, with OpenSSL instead of Windows CNG, so that the
// tool can run the setup's own manifest reader.

#include <string.h>

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include "release/digest.h"
#include "release/signature.h"

namespace {

// The 64 raw bytes as an OpenSSL key; null when they are not a point on P-256.
EVP_PKEY *ImportPublicKey(const uint8_t public_key[64])
{
    static char group[] = "prime256v1";
    uint8_t point[65] = {0x04};
    memcpy(point + 1, public_key, 64);
    OSSL_PARAM parameters[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point),
        OSSL_PARAM_construct_end(),
    };
    EVP_PKEY_CTX *context = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
    EVP_PKEY *key = nullptr;
    if (context == nullptr || EVP_PKEY_fromdata_init(context) != 1 ||
        EVP_PKEY_fromdata(context, &key, EVP_PKEY_PUBLIC_KEY, parameters) != 1)
        key = nullptr;
    EVP_PKEY_CTX_free(context);
    return key;
}

// r then s as the DER form OpenSSL verifies, in `der` (72 bytes, the most P-256 needs).
// Returns its length, or 0 when it cannot be built.
int EncodeDerSignature(const uint8_t signature[64], uint8_t der[72])
{
    ECDSA_SIG *pair = ECDSA_SIG_new();
    BIGNUM *r = BN_bin2bn(signature, 32, nullptr);
    BIGNUM *s = BN_bin2bn(signature + 32, 32, nullptr);
    int length = 0;
    if (pair != nullptr && r != nullptr && s != nullptr && ECDSA_SIG_set0(pair, r, s) == 1) {
        r = s = nullptr; // the pair owns them now
        length = i2d_ECDSA_SIG(pair, nullptr);
        uint8_t *end = der;
        length = length > 0 && length <= 72 ? i2d_ECDSA_SIG(pair, &end) : 0;
    }
    BN_free(r);
    BN_free(s);
    ECDSA_SIG_free(pair);
    return length;
}

} // namespace

Status Sha256Buffer(const uint8_t *data, uint32_t length, uint8_t digest[32])
{
    if (digest == nullptr || (data == nullptr && length != 0))
        return StatusInvalid;
    static const uint8_t empty = 0;
    unsigned size = 0;
    if (EVP_Digest(data != nullptr ? data : &empty, length, digest, &size, EVP_sha256(), nullptr) != 1 || size != 32)
        return StatusIoError;
    return StatusOk;
}

Status VerifyReleaseSignature(const uint8_t public_key[64], const uint8_t *data, uint32_t length,
                              const uint8_t signature[64])
{
    if (public_key == nullptr || signature == nullptr || (data == nullptr && length != 0))
        return StatusInvalid;
    uint8_t digest[32];
    if (Sha256Buffer(data, length, digest) != StatusOk)
        return StatusIoError;

    uint8_t der[72];
    int der_length = EncodeDerSignature(signature, der);
    EVP_PKEY *key = der_length > 0 ? ImportPublicKey(public_key) : nullptr;
    if (key == nullptr)
        return StatusInvalid;
    EVP_PKEY_CTX *context = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    bool verified = context != nullptr && EVP_PKEY_verify_init(context) == 1 &&
                    EVP_PKEY_verify(context, der, (size_t)der_length, digest, sizeof digest) == 1;
    EVP_PKEY_CTX_free(context);
    EVP_PKEY_free(key);
    return verified ? StatusOk : StatusInvalid;
}
