// Little-endian loads and stores of the decoder's words, whatever the host's byte order.
#pragma once

#include <stdint.h>
#include <string.h>

#include "tools/lzms/force_inline.h"

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
#define LZMS_BIG_ENDIAN_HOST 1
#endif

LZMS_FORCE_INLINE uint16_t LoadLittleEndian16(const uint8_t *p)
{
    uint16_t value;
    memcpy(&value, p, sizeof value);
#ifdef LZMS_BIG_ENDIAN_HOST
    value = __builtin_bswap16(value);
#endif
    return value;
}

LZMS_FORCE_INLINE uint32_t LoadLittleEndian32(const uint8_t *p)
{
    uint32_t value;
    memcpy(&value, p, sizeof value);
#ifdef LZMS_BIG_ENDIAN_HOST
    value = __builtin_bswap32(value);
#endif
    return value;
}

LZMS_FORCE_INLINE void StoreLittleEndian32(uint8_t *p, uint32_t value)
{
#ifdef LZMS_BIG_ENDIAN_HOST
    value = __builtin_bswap32(value);
#endif
    memcpy(p, &value, sizeof value);
}

LZMS_FORCE_INLINE uint64_t LoadLittleEndian64(const uint8_t *p)
{
    uint64_t value;
    memcpy(&value, p, sizeof value);
#ifdef LZMS_BIG_ENDIAN_HOST
    value = __builtin_bswap64(value);
#endif
    return value;
}
