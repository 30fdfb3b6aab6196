// The range-coded half of an LZMS chunk: read forward in 16-bit little-endian words, one binary
// decision at a time, each with an adaptive probability picked by its class's recent decisions.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "tools/lzms/force_inline.h"

// One adaptive probability: the last 64 decisions made with it (newest in the low bit) and how
// many of them were 0, which is the chance of a 0 in 64ths.
struct LzmsProbability {
    uint64_t history;
    uint32_t zeros;
};

struct LzmsRangeDecoder {
    uint32_t range;
    uint32_t code;
    const uint8_t *next;
    const uint8_t *end;
};

// 48 zeros among the 64 remembered decisions, the oldest 32 of them zeros.
inline void InitLzmsProbabilities(LzmsProbability *entries, size_t count)
{
    for (size_t i = 0; i < count; i++) {
        entries[i].history = 0x55555555;
        entries[i].zeros = 48;
    }
}

// `data` holds at least 4 bytes: the code starts as the first two words.
inline void InitLzmsRangeDecoder(LzmsRangeDecoder *decoder, const uint8_t *data, size_t size)
{
    decoder->range = 0xffffffff;
    decoder->code = (uint32_t)data[1] << 24 | (uint32_t)data[0] << 16 | (uint32_t)data[3] << 8 | data[2];
    decoder->next = data + 4;
    decoder->end = data + size;
}

// Decodes one decision with entries[*state] and shifts it into *state, which keeps as many
// recent decisions as `mask` has bits. Past the end of the data the stream reads as zeros.
LZMS_FORCE_INLINE unsigned DecodeLzmsBit(LzmsRangeDecoder *decoder, LzmsProbability *entries, uint32_t *state, uint32_t mask)
{
    LzmsProbability *entry = &entries[*state];
    if (decoder->range < 0x10000) {
        decoder->range <<= 16;
        decoder->code <<= 16;
        if (decoder->next != decoder->end) {
            decoder->code |= (uint32_t)decoder->next[1] << 8 | decoder->next[0];
            decoder->next += 2;
        }
    }
    // Certainty either way is not allowed: 0 and 64 count as 1 and 63.
    uint32_t probability = entry->zeros;
    probability += probability == 0;
    probability -= probability == 64;
    uint32_t bound = (decoder->range >> 6) * probability;
    unsigned bit;
    if (decoder->code < bound) {
        decoder->range = bound;
        bit = 0;
    } else {
        decoder->range -= bound;
        decoder->code -= bound;
        bit = 1;
    }
    entry->zeros += (uint32_t)(entry->history >> 63) - bit;
    entry->history = entry->history << 1 | bit;
    *state = (*state << 1 | bit) & mask;
    return bit;
}
