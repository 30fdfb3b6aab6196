// Compressing a file as the Compression API's LZMS buffer mode frames it, with wimlib's LZMS
// compressor for the chunks.

#include "tools/yayin/yayin.h"

#include <string.h>

#include <wimlib.h>

#include "lzms/lzms.h"

size_t LzmsChunkCount(size_t size)
{
    return (size + kLzmsBufferChunkSize - 1) / kLzmsBufferChunkSize;
}

void CompressLzmsChunk(const uint8_t *data, size_t size, size_t chunk, std::vector<uint8_t> *part)
{
    part->clear();
    // Sized to the largest chunk of this file, not to 64 MiB: the compressor's memory grows
    // with it, and the result depends on the file alone.
    size_t block = size < kLzmsBufferChunkSize ? size : (size_t)kLzmsBufferChunkSize;
    size_t offset = chunk * block;
    size_t length = size - offset < block ? size - offset : block;
    struct wimlib_compressor *compressor = nullptr;
    if (wimlib_create_compressor(WIMLIB_COMPRESSION_TYPE_LZMS, block, 0, &compressor) != 0)
        return;
    part->resize(4 + length);
    // At most length - 1 bytes: a compressed chunk as long as its input would read as stored.
    size_t compressed = length > 1 ? wimlib_compress(data + offset, length, part->data() + 4, length - 1, compressor) : 0;
    wimlib_free_compressor(compressor);
    if (compressed == 0)
        memcpy(part->data() + 4, data + offset, length);
    size_t stored = compressed > 0 ? compressed : length;
    part->resize(4 + stored);
    for (int i = 0; i < 4; i++)
        (*part)[i] = (uint8_t)(stored >> (8 * i));
}

Status JoinLzmsChunks(size_t size, const std::vector<std::vector<uint8_t>> &parts, std::vector<uint8_t> *framed)
{
    framed->assign(kLzmsBufferHeaderSize, 0);
    WriteLzmsBufferHeader(framed->data(), size, kLzmsBufferChunkSize);
    for (const std::vector<uint8_t> &part : parts) {
        if (part.empty()) {
            PrintError("LZMS sıkıştırıcısı oluşturulamıyor (%zu baytlık dosyanın parçası için)", size);
            return StatusNoMemory;
        }
        framed->insert(framed->end(), part.begin(), part.end());
    }
    return StatusOk;
}

Status CompressLzmsBuffer(const uint8_t *data, size_t size, std::vector<uint8_t> *framed)
{
    std::vector<std::vector<uint8_t>> parts(LzmsChunkCount(size));
    for (size_t chunk = 0; chunk < parts.size(); chunk++)
        CompressLzmsChunk(data, size, chunk, &parts[chunk]);
    return JoinLzmsChunks(size, parts, framed);
}
