#pragma once

#include <stdint.h>

#include "release/signed_manifest.h"

// How recent a manifest is. Its serial is header value B: the publisher gives every manifest a
// higher one than the last, so that an older manifest served again can be told from the newer
// one. Its expiry is the record with kExpiryTag, the time in seconds since 1970 (UTC) after which
// the manifest is not to be trusted, written in decimal digits without sign or leading zeros.
const uint16_t kExpiryTag = 10;

// Reads the expiry record: no record gives *has_expiry false. False when the record is present
// but not such a number of at most 20 digits that fits 64 bits; the manifest is then unusable.
bool ReadManifestExpiry(const SignedManifest *m, bool *has_expiry, uint64_t *expires_at);
