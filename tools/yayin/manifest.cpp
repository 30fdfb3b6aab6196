#include "tools/yayin/yayin.h"

#include <inttypes.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "release/digest.h"
#include "release/little_endian.h"
#include "release/manifest_freshness.h"
#include "release/signed_manifest.h"

namespace {

const size_t kHeaderSize = 20;
const size_t kRecordHeaderSize = 8;
const size_t kSignatureSize = 64;

// Reads the written file back and requires the setup's reader to return exactly what was meant:
// the header values, every record it keeps and a readable expiry.
Status CheckWrittenManifest(const char *path, const uint8_t public_key[64], uint32_t a, uint64_t b,
                            const std::vector<ManifestRecord> &records)
{
    std::vector<uint8_t> data;
    Status status = LoadFile(path, kManifestMaxSize, &data);
    if (status != StatusOk)
        return status;
    SignedManifest *manifest = nullptr;
    status = ParseSignedManifest(data.data(), (uint32_t)data.size(), public_key, &manifest);
    bool has_expiry;
    uint64_t expires_at;
    bool same = status == StatusOk && manifest->header_u32 == a && manifest->header_u64 == b &&
                ReadManifestExpiry(manifest, &has_expiry, &expires_at);
    for (const ManifestRecord &record : records) {
        const char *text = GetManifestRecord(manifest, record.tag);
        same = same && (record.tag >= 12 || (text != nullptr && record.value == text));
    }
    FreeManifest(manifest);
    if (!same) {
        PrintError("yazılan bildirim kendi denetiminden geçmedi (durum %u)", status);
        return status != StatusOk ? status : StatusInvalid;
    }
    return StatusOk;
}

// The time as 2027-01-01T00:00:00Z, or "-" past the year 9999.
std::string UtcText(uint64_t seconds)
{
    time_t time = (time_t)seconds;
    struct tm fields;
    char text[32];
    if (seconds > 253402300799u || gmtime_r(&time, &fields) == nullptr ||
        strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &fields) == 0)
        return "-";
    return text;
}

// False (reported) when the setup would refuse the manifest for its expiry record.
bool PrintManifest(const char *path, const SignedManifest *manifest)
{
    bool has_expiry;
    uint64_t expires_at;
    if (!ReadManifestExpiry(manifest, &has_expiry, &expires_at)) {
        PrintError("%s: geçerlilik kaydı (kayıt %u) bir zaman değil; kurulum bu bildirimi reddeder", path,
                   kExpiryTag);
        return false;
    }
    printf("a=%" PRIu32 "\nb=%" PRIu64 "\n", manifest->header_u32, manifest->header_u64);
    for (unsigned tag = 1; tag < 12; tag++) {
        const char *text = GetManifestRecord(manifest, tag);
        if (text == nullptr)
            continue;
        if (tag == kExpiryTag) {
            printf("gecerlilik=%" PRIu64 "\ngecerlilik_utc=%s\n", expires_at, UtcText(expires_at).c_str());
        } else if (tag != kComponentListTag) {
            printf("kayit%u=%s\n", tag, EscapeText(text, strlen(text)).c_str());
        } else {
            for (const char *line = text; *line != 0;) {
                size_t length = strcspn(line, "\n");
                printf("bilesen=%s\n", EscapeText(line, length).c_str());
                line += length;
                if (*line == '\n')
                    line++;
            }
        }
    }
    return true;
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

Status WriteManifestFile(const char *path, EVP_PKEY *key, uint32_t a, uint64_t b,
                         const std::vector<ManifestRecord> &records)
{
    uint64_t size = kHeaderSize + kSignatureSize;
    for (const ManifestRecord &record : records)
        size += kRecordHeaderSize + record.value.size();
    if (size > kManifestMaxSize) {
        PrintError("bildirim %" PRIu64 " bayt olurdu; en çok %" PRIu32 " bayt olabilir", size, kManifestMaxSize);
        return StatusInvalid;
    }
    uint8_t public_key[64];
    Status status = GetPublicKeyBytes(key, public_key);
    std::vector<uint8_t> file = EncodeManifestBody(a, b, records);
    if (status == StatusOk)
        status = SignManifest(key, &file);
    std::string temp_path;
    if (status == StatusOk)
        status = WriteTemporaryFile(path, file.data(), file.size(), 0644, &temp_path);
    if (status != StatusOk)
        return status;
    status = CheckWrittenManifest(temp_path.c_str(), public_key, a, b, records);
    if (status != StatusOk) {
        unlink(temp_path.c_str());
        return status;
    }
    return PublishFile(temp_path, path, true);
}

std::vector<ManifestRecord> ManifestRecords(const std::vector<uint8_t> &file)
{
    std::vector<ManifestRecord> records;
    for (size_t p = kHeaderSize; p + kRecordHeaderSize <= file.size() - kSignatureSize;) {
        uint32_t length = ReadU32(&file[p + 4]);
        records.push_back({ReadU16(&file[p]), std::string(file.begin() + p + kRecordHeaderSize,
                                                          file.begin() + p + kRecordHeaderSize + length)});
        p += kRecordHeaderSize + length;
    }
    return records;
}

uint64_t LiveManifestSerial(const char *path, const uint8_t public_key[64])
{
    std::vector<uint8_t> data;
    SignedManifest *manifest = nullptr;
    if (access(path, F_OK) != 0 || LoadFile(path, kManifestMaxSize, &data) != StatusOk ||
        ParseSignedManifest(data.data(), (uint32_t)data.size(), public_key, &manifest) != StatusOk)
        return 0;
    uint64_t serial = manifest->header_u64;
    FreeManifest(manifest);
    return serial;
}

Status NextSerial(time_t now, uint64_t live, uint64_t *serial)
{
    if (live == UINT64_MAX) {
        PrintError("yayımlanan bildirimin serisi en büyük değerde (%" PRIu64 "); daha büyük bir seri yazılamaz", live);
        return StatusInvalid;
    }
    *serial = now > 0 && (uint64_t)now > live ? (uint64_t)now : live + 1;
    return StatusOk;
}

Status ExpiryRecord(time_t now, uint64_t days, ManifestRecord *record)
{
    if (now <= 0) {
        PrintError("saat 1970 öncesini gösteriyor; geçerlilik süresi hesaplanamaz");
        return StatusInvalid;
    }
    *record = {kExpiryTag, std::to_string((uint64_t)now + days * 86400)};
    return StatusOk;
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
        if (status != StatusOk)
            PrintError("%s: %s", path, ParseFailure(status));
        else if (!PrintManifest(path, manifest))
            status = StatusInvalid;
        FreeManifest(manifest);
    }
    if (status != StatusOk)
        printf("bildirim=%u\n", status);
    return status;
}
