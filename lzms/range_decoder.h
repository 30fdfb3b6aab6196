// The range-coded half of an LZMS chunk: read forward in 16-bit little-endian words, one binary
// decision at a time, each with an adaptive probability picked by its class's recent decisions.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "lzms/force_inline.h"
#include "lzms/little_endian.h"

// One adaptive probability: the last 64 decisions made with it (newest in the low bit), how many
// of them were 0, and from that the chance of a 0 in 64ths.
struct LzmsProbability {
    uint64_t history;
    uint32_t zeros;
    uint32_t chance;
};

// The chance for a number of zeros: certainty either way is not allowed, 0 and 64 give 1 and 63.
struct LzmsChances {
    uint8_t of_zeros[65];
};

constexpr LzmsChances MakeLzmsChances()
{
    LzmsChances chances = {};
    for (unsigned zeros = 0; zeros <= 64; zeros++)
        chances.of_zeros[zeros] = (uint8_t)(zeros == 0 ? 1 : zeros == 64 ? 63 : zeros);
    return chances;
}

constexpr LzmsChances kLzmsChances = MakeLzmsChances();

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
        entries[i].chance = 48;
    }
}

// `data` holds at least 4 bytes: the code starts as the first two words.
inline void InitLzmsRangeDecoder(LzmsRangeDecoder *decoder, const uint8_t *data, size_t size)
{
    decoder->range = 0xffffffff;
    decoder->code = (uint32_t)LoadLittleEndian<uint16_t>(data) << 16 | LoadLittleEndian<uint16_t>(data + 2);
    decoder->next = data + 4;
    decoder->end = data + size;
}

// Takes a decision into its entry and its class's recent decisions. The chance is worked out now,
// off the path of the next decision made with the entry.
LZMS_FORCE_INLINE unsigned RecordLzmsBit(LzmsProbability *entry, uint32_t *state, uint32_t mask, unsigned bit)
{
    uint32_t zeros = entry->zeros + (uint32_t)(entry->history >> 63) - bit;
    entry->zeros = zeros;
    entry->chance = kLzmsChances.of_zeros[zeros];
    entry->history = entry->history << 1 | bit;
    *state = (*state << 1 | bit) & mask;
    return bit;
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
            decoder->code |= LoadLittleEndian<uint16_t>(decoder->next);
            decoder->next += 2;
        }
    }
    uint32_t bound = (decoder->range >> 6) * entry->chance;
    if (decoder->code < bound) {
        decoder->range = bound;
        return RecordLzmsBit(entry, state, mask, 0);
    }
    decoder->range -= bound;
    decoder->code -= bound;
    return RecordLzmsBit(entry, state, mask, 1);
}
