#pragma once

#include <stdint.h>

#include "core/status.h"

// The authenticated records of a release manifest file, by tag. Entry t of `records` is the
// value of the record with tag t (1 to 11) with a terminating zero added, or null; entry 0 is
// always null. Owned by the caller of ParseSignedManifest and released with FreeManifest.
struct SignedManifest {
    uint32_t header_u32; // header value A, kept but not interpreted
    uint64_t header_u64; // header value B, kept but not interpreted
    char *records[12];
};

// The manifest's name in a release folder, on the server and on disk.
const char kManifestFileName[] = "bildirim.tdb";

// Manifest file size limits: a header of 20 bytes and the 64-byte signature at the least.
const uint32_t kManifestMinSize = 84;
const uint32_t kManifestMaxSize = 12582912;
const uint16_t kComponentListTag = 9;

// Authenticates the file's bytes with `public_key` before interpreting any field, then reads
// its records. StatusOk hands a manifest to `*result`; otherwise `*result` is null and the
// result is StatusInvalid, StatusUnsupported (a correctly signed file of another format
// version) or StatusNoMemory.
Status ParseSignedManifest(const uint8_t *data, uint32_t size, const uint8_t public_key[64], SignedManifest **result);

// Frees the manifest and its record texts; null is ignored.
void FreeManifest(SignedManifest *manifest);

// The text of the record with `tag`, or null when the manifest is null, the tag is outside
// 1 to 11 or the record is absent. A present record of length 0 is an empty text.
const char *GetManifestRecord(const SignedManifest *manifest, unsigned tag);
