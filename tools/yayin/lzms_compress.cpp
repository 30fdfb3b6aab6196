// Compressing a file as the Compression API's LZMS buffer mode frames it, with wimlib's LZMS
// compressor for the chunks.

#include "tools/yayin/yayin.h"

#include <string.h>

#include <wimlib.h>

#include "lzms/lzms.h"

Status CompressLzmsBuffer(const uint8_t *data, size_t size, std::vector<uint8_t> *framed)
{
    framed->assign(kLzmsBufferHeaderSize, 0);
    WriteLzmsBufferHeader(framed->data(), size, kLzmsBufferChunkSize);
    if (size == 0)
        return StatusOk;
    // Sized to the largest chunk of this file, not to 64 MiB: the compressor's memory grows
    // with it, and the result depends on the file alone.
    size_t block = size < kLzmsBufferChunkSize ? size : (size_t)kLzmsBufferChunkSize;
    struct wimlib_compressor *compressor = nullptr;
    if (wimlib_create_compressor(WIMLIB_COMPRESSION_TYPE_LZMS, block, 0, &compressor) != 0) {
        PrintError("LZMS sıkıştırıcısı oluşturulamıyor (%zu baytlık parça için)", block);
        return StatusNoMemory;
    }
    std::vector<uint8_t> chunk(block);
    for (size_t offset = 0; offset < size; offset += block) {
        size_t length = size - offset < block ? size - offset : block;
        // At most length - 1 bytes: a compressed chunk as long as its input would read as stored.
        size_t compressed = length > 1 ? wimlib_compress(data + offset, length, chunk.data(), length - 1, compressor) : 0;
        const uint8_t *bytes = compressed > 0 ? chunk.data() : data + offset;
        size_t stored = compressed > 0 ? compressed : length;
        AppendLittleEndian(framed, stored, 4);
        framed->insert(framed->end(), bytes, bytes + stored);
    }
    wimlib_free_compressor(compressor);
    return StatusOk;
}
