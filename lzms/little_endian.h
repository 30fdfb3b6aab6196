// Little-endian loads and stores of the decoder's words, whatever the host's byte order.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "lzms/force_inline.h"

template <typename Word> LZMS_FORCE_INLINE Word FromLittleEndian(Word value)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    Word swapped = 0;
    for (size_t i = 0; i < sizeof value; i++, value >>= 8)
        swapped = (Word)(swapped << 8 | (value & 0xff));
    return swapped;
#else
    return value;
#endif
}

template <typename Word> LZMS_FORCE_INLINE Word LoadLittleEndian(const uint8_t *p)
{
    Word value;
    memcpy(&value, p, sizeof value);
    return FromLittleEndian(value);
}

template <typename Word> LZMS_FORCE_INLINE void StoreLittleEndian(uint8_t *p, Word value)
{
    value = FromLittleEndian(value);
    memcpy(p, &value, sizeof value);
}
