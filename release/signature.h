#pragma once

#include <stdint.h>

#include "core/status.h"

// Checks an ECDSA P-256 signature (r then s, 32 big-endian bytes each) over the SHA-256 digest
// of `data` against a public key of 64 bytes (X then Y, big-endian). StatusOk when it verifies;
// StatusInvalid for a bad argument, a key that cannot be imported or a signature that does not
// match; StatusIoError when the digest cannot be computed.
Status VerifyReleaseSignature(const uint8_t public_key[64], const uint8_t *data, uint32_t length,
                              const uint8_t signature[64]);

// The release public key built into the program.
const uint8_t *GetReleasePublicKey();
