// The Compression API's buffer-mode framing around LZMS chunks: a 24-byte header, then for
// every chunk a 32-bit compressed length and that many bytes.
#include "lzms/lzms.h"

#include <string.h>

#include "lzms/little_endian.h"

namespace {

const uint8_t kMagic[4] = {0x0a, 0x51, 0xe5, 0xc0};
const size_t kCheckByteOffset = 6;

// zlib's CRC-32, continued from `crc`; the header is short, so bit by bit is enough.
uint32_t ContinueCrc32(uint32_t crc, const uint8_t *bytes, size_t size)
{
    crc = ~crc;
    for (size_t i = 0; i < size; i++) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; bit++)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

// The low byte of the CRC-32 of the header without its check byte.
uint8_t HeaderCheckByte(const uint8_t *header)
{
    uint32_t crc = ContinueCrc32(0, header, kCheckByteOffset);
    crc = ContinueCrc32(crc, header + kCheckByteOffset + 1, kLzmsBufferHeaderSize - kCheckByteOffset - 1);
    return (uint8_t)crc;
}

} // namespace

void WriteLzmsBufferHeader(uint8_t *header, uint64_t total_size, uint64_t chunk_size)
{
    memcpy(header, kMagic, sizeof kMagic);
    StoreLittleEndian<uint16_t>(header + 4, (uint16_t)kLzmsBufferHeaderSize);
    header[7] = kLzmsAlgorithm;
    StoreLittleEndian<uint64_t>(header + 8, total_size);
    StoreLittleEndian<uint64_t>(header + 16, total_size < chunk_size ? total_size : chunk_size);
    header[kCheckByteOffset] = HeaderCheckByte(header);
}

bool ReadLzmsBufferSize(const uint8_t *data, size_t size, uint64_t *total_size)
{
    if (size < kLzmsBufferHeaderSize || memcmp(data, kMagic, sizeof kMagic) != 0 ||
        LoadLittleEndian<uint16_t>(data + 4) != kLzmsBufferHeaderSize || data[7] != kLzmsAlgorithm ||
        data[kCheckByteOffset] != HeaderCheckByte(data))
        return false;
    *total_size = LoadLittleEndian<uint64_t>(data + 8);
    return true;
}

bool DecodeLzmsBuffer(const uint8_t *data, size_t size, uint8_t *out, size_t out_size)
{
    uint64_t total_size;
    if (!ReadLzmsBufferSize(data, size, &total_size) || total_size != out_size)
        return false;
    // Every chunk but the last has the first chunk's size, so the first chunk states it.
    uint64_t chunk_size = LoadLittleEndian<uint64_t>(data + 16);
    if (chunk_size > total_size || (chunk_size == 0 && total_size != 0))
        return false;

    size_t position = kLzmsBufferHeaderSize;
    size_t done = 0;
    while (done < out_size) {
        size_t left = out_size - done;
        size_t chunk_out = chunk_size < left ? (size_t)chunk_size : left;
        if (size - position < 4)
            return false;
        uint32_t stored = LoadLittleEndian<uint32_t>(data + position);
        position += 4;
        if (stored > size - position)
            return false;
        if (stored == chunk_out)
            memcpy(out + done, data + position, chunk_out);
        else if (!DecodeLzmsChunk(data + position, (size_t)stored, out + done, chunk_out))
            return false;
        position += (size_t)stored;
        done += chunk_out;
    }
    return position == size;
}
