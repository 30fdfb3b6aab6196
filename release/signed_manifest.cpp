#include "release/signed_manifest.h"

#include <stdlib.h>
#include <string.h>

#include "release/little_endian.h"
#include "release/signature.h"

namespace {

// Walks the records between the header and the signature at `end` into `manifest`.
Status ReadRecords(const uint8_t *data, uint32_t end, uint16_t declared, SignedManifest *manifest)
{
    uint32_t seen = 0;
    for (uint32_t p = 20; p < end;) {
        if (end - p < 8)
            return StatusInvalid;
        uint16_t tag = ReadU16(data + p);
        uint16_t reserved = ReadU16(data + p + 2);
        uint32_t length = ReadU32(data + p + 4);
        p += 8;
        if (tag == 0 || reserved != 0 || length > end - p)
            return StatusInvalid;
        if (memchr(data + p, 0, length) != nullptr)
            return StatusInvalid;
        if (tag < 12) {
            if (manifest->records[tag] != nullptr)
                return StatusInvalid;
            char *text = (char *)malloc((size_t)length + 1);
            if (text == nullptr)
                return StatusNoMemory;
            memcpy(text, data + p, length);
            text[length] = 0;
            manifest->records[tag] = text;
        }
        p += length;
        seen++;
    }
    return seen == declared ? StatusOk : StatusInvalid;
}

} // namespace

Status ParseSignedManifest(const uint8_t *data, uint32_t size, const uint8_t public_key[64], SignedManifest **result)
{
    if (result == nullptr)
        return StatusInvalid;
    *result = nullptr;
    if (data == nullptr || public_key == nullptr || size < kManifestMinSize || size > kManifestMaxSize)
        return StatusInvalid;

    // Nothing is interpreted before the whole file is known to come from the key's holder.
    uint32_t end = size - 64;
    if (VerifyReleaseSignature(public_key, data, end, data + end) != StatusOk)
        return StatusInvalid;
    if (memcmp(data, "TDB1", 4) != 0)
        return StatusInvalid;
    if (ReadU16(data + 4) != 1)
        return StatusUnsupported;
    uint16_t declared = ReadU16(data + 6);

    SignedManifest *manifest = (SignedManifest *)calloc(1, sizeof *manifest);
    if (manifest == nullptr)
        return StatusNoMemory;
    manifest->header_u32 = ReadU32(data + 8);
    manifest->header_u64 = (uint64_t)ReadU32(data + 12) | (uint64_t)ReadU32(data + 16) << 32;

    Status status = ReadRecords(data, end, declared, manifest);
    if (status != StatusOk) {
        FreeManifest(manifest);
        return status;
    }
    *result = manifest;
    return StatusOk;
}

void FreeManifest(SignedManifest *manifest)
{
    if (manifest == nullptr)
        return;
    for (char *text : manifest->records)
        free(text);
    free(manifest);
}

const char *GetManifestRecord(const SignedManifest *manifest, unsigned tag)
{
    if (manifest == nullptr || tag == 0 || tag >= 12)
        return nullptr;
    return manifest->records[tag];
}
