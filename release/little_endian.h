#pragma once

#include <stdint.h>

// The unsigned little-endian integers of the manifest and package formats, read byte by byte so
// that neither alignment nor the host's byte order matters.
inline uint16_t ReadU16(const uint8_t *p)
{
    return (uint16_t)(p[0] | p[1] << 8);
}

inline uint32_t ReadU32(const uint8_t *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
