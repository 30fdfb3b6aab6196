#pragma once

#include <stdint.h>

#include "core/status.h"

// SHA-256 of a buffer; null data with length 0 is the empty message.
Status Sha256Buffer(const uint8_t *data, uint32_t length, uint8_t digest[32]);

// SHA-256 of a whole file, read in 64 KiB pieces. StatusNotFound only for a missing file in an
// existing folder; every other open failure, a missing folder included, is StatusIoError.
Status Sha256File(const wchar_t *path, uint8_t digest[32]);
