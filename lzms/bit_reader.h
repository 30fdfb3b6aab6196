// The other half of an LZMS chunk: Huffman codewords and plain extra bits, read backward from the
// end in 16-bit little-endian words, most significant bit first.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "lzms/force_inline.h"
#include "lzms/little_endian.h"

// `bits` holds `count` unread bits from its top down; below them it holds zeros or the bits that
// follow, so that loading the same bits again changes nothing.
struct LzmsBitReader {
    uint64_t bits;
    unsigned count;
    const uint8_t *next; // one past the next word
    const uint8_t *begin;
};

inline void InitLzmsBitReader(LzmsBitReader *reader, const uint8_t *data, size_t size)
{
    reader->bits = 0;
    reader->count = 0;
    reader->next = data + size;
    reader->begin = data;
}

// Tops the reader up to more than 48 bits, however many it holds: the decoder calls it at fixed
// points, often enough that no read between two calls needs more, so that no read has to test
// for it. Before the start of the data it reads zeros.
LZMS_FORCE_INLINE void RefillLzmsBits(LzmsBitReader *reader)
{
    if (reader->next - reader->begin >= 8) {
        uint64_t words = LoadLittleEndian<uint64_t>(reader->next - 8);
        unsigned taken = (64 - reader->count) >> 4;
        reader->bits |= reader->count < 64 ? words >> reader->count : 0;
        reader->count += 16 * taken;
        reader->next -= 2 * taken;
        return;
    }
    while (reader->count <= 48) {
        if (reader->next != reader->begin) {
            reader->next -= 2;
            reader->bits |= (uint64_t)LoadLittleEndian<uint16_t>(reader->next) << (48 - reader->count);
        }
        reader->count += 16;
    }
}

// The next `n` bits (1 to 32) without consuming them; at least `n` must be loaded.
LZMS_FORCE_INLINE uint32_t PeekLzmsBits(const LzmsBitReader *reader, unsigned n)
{
    return (uint32_t)(reader->bits >> (64 - n));
}

LZMS_FORCE_INLINE void ConsumeLzmsBits(LzmsBitReader *reader, unsigned n)
{
    reader->bits <<= n;
    reader->count -= n;
}

// Reads `n` plain bits, 0 to 30; at least `n` must be loaded.
LZMS_FORCE_INLINE uint32_t ReadLzmsBits(LzmsBitReader *reader, unsigned n)
{
    uint32_t value = (uint32_t)((reader->bits >> 1) >> (63 - n));
    ConsumeLzmsBits(reader, n);
    return value;
}
