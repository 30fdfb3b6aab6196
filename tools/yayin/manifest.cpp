#include "tools/yayin/yayin.h"

#include <inttypes.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "release/digest.h"
#include "release/signed_manifest.h"

namespace {

const size_t kHeaderSize = 20;
const size_t kRecordHeaderSize = 8;
const size_t kSignatureSize = 64;

// Reads the written file back and requires the setup's reader to return exactly what was meant.
Status CheckWrittenManifest(const char *path, const uint8_t public_key[64], uint32_t a, uint64_t b,
                            const std::string &list)
{
    std::vector<uint8_t> data;
    Status status = LoadFile(path, kManifestMaxSize, &data);
    if (status != StatusOk)
        return status;
    SignedManifest *manifest = nullptr;
    status = ParseSignedManifest(data.data(), (uint32_t)data.size(), public_key, &manifest);
    const char *record = GetManifestRecord(manifest, kComponentListTag);
    bool same = status == StatusOk && manifest->header_u32 == a && manifest->header_u64 == b && record != nullptr &&
                list == record;
    FreeManifest(manifest);
    if (!same) {
        PrintError("yazılan bildirim kendi denetiminden geçmedi (durum %u)", status);
        return status != StatusOk ? status : StatusInvalid;
    }
    return StatusOk;
}

void PrintManifest(const SignedManifest *manifest)
{
    printf("a=%" PRIu32 "\nb=%" PRIu64 "\n", manifest->header_u32, manifest->header_u64);
    for (unsigned tag = 1; tag < 12; tag++) {
        const char *text = GetManifestRecord(manifest, tag);
        if (text == nullptr)
            continue;
        if (tag != kComponentListTag) {
            printf("kayit%u=%s\n", tag, EscapeText(text, strlen(text)).c_str());
            continue;
        }
        for (const char *line = text; *line != 0;) {
            size_t length = strcspn(line, "\n");
            printf("bilesen=%s\n", EscapeText(line, length).c_str());
            line += length;
            if (*line == '\n')
                line++;
        }
    }
}

const char *ParseFailure(Status status)
{
    switch (status) {
    case StatusUnsupported:
        return "doğru imzalı ama desteklenmeyen bir biçim sürümü";
    case StatusNoMemory:
        return "bellek yetmedi";
    default:
        return "imza bu anahtarla doğrulanmıyor ya da dosya bozuk";
    }
}

} // namespace

std::vector<uint8_t> EncodeManifestBody(uint32_t a, uint64_t b, const std::vector<ManifestRecord> &records)
{
    std::vector<uint8_t> body = {'T', 'D', 'B', '1'};
    AppendLittleEndian(&body, 1, 2);
    AppendLittleEndian(&body, records.size(), 2);
    AppendLittleEndian(&body, a, 4);
    AppendLittleEndian(&body, b, 8);
    for (const ManifestRecord &record : records) {
        AppendLittleEndian(&body, record.tag, 2);
        AppendLittleEndian(&body, 0, 2);
        AppendLittleEndian(&body, record.value.size(), 4);
        body.insert(body.end(), record.value.begin(), record.value.end());
    }
    return body;
}

Status SignManifest(EVP_PKEY *key, std::vector<uint8_t> *file)
{
    uint8_t digest[32];
    if (Sha256Buffer(file->data(), (uint32_t)file->size(), digest) != StatusOk) {
        PrintError("bildirimin SHA-256 özeti hesaplanamıyor");
        return StatusIoError;
    }
    uint8_t signature[kSignatureSize];
    Status status = SignDigest(key, digest, signature);
    if (status == StatusOk)
        file->insert(file->end(), signature, signature + kSignatureSize);
    return status;
}

Status WriteManifestFile(const char *path, EVP_PKEY *key, uint32_t a, uint64_t b, const std::string &list)
{
    uint64_t size = kHeaderSize + kRecordHeaderSize + (uint64_t)list.size() + kSignatureSize;
    if (size > kManifestMaxSize) {
        PrintError("bildirim %" PRIu64 " bayt olurdu; en çok %" PRIu32 " bayt olabilir", size, kManifestMaxSize);
        return StatusInvalid;
    }
    uint8_t public_key[64];
    Status status = GetPublicKeyBytes(key, public_key);
    std::vector<uint8_t> file = EncodeManifestBody(a, b, {{kComponentListTag, list}});
    if (status == StatusOk)
        status = SignManifest(key, &file);
    std::string temp_path;
    if (status == StatusOk)
        status = WriteTemporaryFile(path, file.data(), file.size(), 0644, &temp_path);
    if (status != StatusOk)
        return status;
    status = CheckWrittenManifest(temp_path.c_str(), public_key, a, b, list);
    if (status != StatusOk) {
        unlink(temp_path.c_str());
        return status;
    }
    return PublishFile(temp_path, path, true);
}

Status ShowManifestFile(const char *path, const uint8_t public_key[64])
{
    std::vector<uint8_t> data;
    Status status = LoadFile(path, kManifestMaxSize, &data);
    if (status == StatusBufferTooSmall) {
        status = StatusInvalid; // the setup refuses a file of that size just the same
    } else if (status != StatusOk) {
        return status;
    } else {
        SignedManifest *manifest = nullptr;
        status = ParseSignedManifest(data.data(), (uint32_t)data.size(), public_key, &manifest);
        if (status == StatusOk)
            PrintManifest(manifest);
        else
            PrintError("%s: %s", path, ParseFailure(status));
        FreeManifest(manifest);
    }
    if (status != StatusOk)
        printf("bildirim=%u\n", status);
    return status;
}
