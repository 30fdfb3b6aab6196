#include "tools/yayin/yayin.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/pem.h>

namespace {

// A key file is read without prompting: an encrypted key is refused rather than waiting on a
// terminal that an unattended release run does not have.
int RefusePassphrase(char *, int, int, void *)
{
    return -1;
}

bool IsP256(EVP_PKEY *key)
{
    char group[32];
    return EVP_PKEY_is_a(key, "EC") &&
           EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, nullptr) == 1 &&
           strcmp(group, "prime256v1") == 0;
}

Status WritePrivateKeyFile(EVP_PKEY *key, const char *path)
{
    // Secure memory is wiped when freed, so no copy of the key outlives the call.
    BIO *pem = BIO_new(BIO_s_secmem());
    char *text = nullptr;
    long length = 0;
    if (pem != nullptr && PEM_write_bio_PrivateKey(pem, key, nullptr, nullptr, 0, nullptr, nullptr) == 1)
        length = BIO_get_mem_data(pem, &text);
    Status status = StatusIoError;
    if (length > 0)
        status = WriteFileAtomically(path, text, (size_t)length, 0600, false);
    else
        PrintError("özel anahtar PEM olarak yazılamıyor");
    BIO_free(pem);
    return status;
}

} // namespace

Status GenerateKeyFiles(const char *private_path, const char *public_path)
{
    // Both names are checked before anything is written, so that a refusal leaves no half pair.
    for (const char *path : {private_path, public_path}) {
        struct stat info;
        if (lstat(path, &info) == 0) {
            PrintError("%s zaten var; üzerine yazılmaz", path);
            return StatusIoError;
        }
    }
    EVP_PKEY *key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    if (key == nullptr) {
        PrintError("P-256 anahtar çifti üretilemiyor");
        return StatusIoError;
    }
    uint8_t public_key[64];
    Status status = GetPublicKeyBytes(key, public_key);
    if (status == StatusOk)
        status = WritePrivateKeyFile(key, private_path);
    EVP_PKEY_free(key);
    if (status != StatusOk)
        return status;
    status = WriteFileAtomically(public_path, public_key, sizeof public_key, 0644, false);
    if (status != StatusOk)
        unlink(private_path); // a private key whose public half was not written is of no use
    return status;
}

Status LoadPrivateKey(const char *path, EVP_PKEY **key)
{
    *key = nullptr;
    FILE *file = fopen(path, "rb");
    if (file == nullptr) {
        int error = errno;
        PrintError("%s açılamıyor: %s", path, strerror(error));
        return error == ENOENT ? StatusNotFound : StatusIoError;
    }
    EVP_PKEY *loaded = PEM_read_PrivateKey(file, nullptr, RefusePassphrase, nullptr);
    fclose(file);
    if (loaded == nullptr) {
        PrintError("%s şifresiz bir PEM özel anahtarı değil", path);
        return StatusInvalid;
    }
    if (!IsP256(loaded)) {
        EVP_PKEY_free(loaded);
        PrintError("%s bir P-256 anahtarı değil", path);
        return StatusInvalid;
    }
    *key = loaded;
    return StatusOk;
}

Status GetPublicKeyBytes(EVP_PKEY *key, uint8_t public_key[64])
{
    BIGNUM *x = nullptr;
    BIGNUM *y = nullptr;
    bool taken = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_X, &x) == 1 &&
                 EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_Y, &y) == 1 &&
                 BN_bn2binpad(x, public_key, 32) == 32 && BN_bn2binpad(y, public_key + 32, 32) == 32;
    BN_free(x);
    BN_free(y);
    if (!taken) {
        PrintError("anahtarın açık noktası alınamıyor");
        return StatusIoError;
    }
    return StatusOk;
}

Status SignDigest(EVP_PKEY *key, const uint8_t digest[32], uint8_t signature[64])
{
    EVP_PKEY_CTX *context = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    uint8_t der[80];
    size_t der_length = sizeof der;
    bool made = context != nullptr && EVP_PKEY_sign_init(context) == 1 &&
                   EVP_PKEY_sign(context, der, &der_length, digest, 32) == 1;
    EVP_PKEY_CTX_free(context);

    const uint8_t *cursor = der;
    ECDSA_SIG *pair = made ? d2i_ECDSA_SIG(nullptr, &cursor, (long)der_length) : nullptr;
    bool split = pair != nullptr && BN_bn2binpad(ECDSA_SIG_get0_r(pair), signature, 32) == 32 &&
                 BN_bn2binpad(ECDSA_SIG_get0_s(pair), signature + 32, 32) == 32;
    ECDSA_SIG_free(pair);
    if (!split) {
        PrintError("bildirim imzalanamıyor");
        return StatusIoError;
    }
    return StatusOk;
}

Status ReadPublicKeyFile(const char *path, uint8_t public_key[64])
{
    std::vector<uint8_t> data;
    Status status = LoadFile(path, 64, &data);
    if (status != StatusOk)
        return status;
    if (data.size() != 64) {
        PrintError("%s tam 64 bayt olmalı (X ve Y), %zu bayt", path, data.size());
        return StatusInvalid;
    }
    memcpy(public_key, data.data(), 64);
    return StatusOk;
}
