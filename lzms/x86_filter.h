// LZMS compressors rewrite the relative addresses of some x86 instructions as absolute ones,
// which repeat more; the decoder turns them back after a chunk is decoded.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Where each 16-bit target was last referenced.
struct LzmsX86History {
    int32_t last_reference[65536];
};

// Undoes the translation over a whole decoded chunk of at most 2^30 bytes.
void UndoLzmsX86Translation(uint8_t *data, size_t size, LzmsX86History *history);
