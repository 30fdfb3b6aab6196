// Benchmark of the LZMS decoder against wimlib's: the files named on the command line, each
// compressed once by wimlib into the Compression API's buffer framing (64 MiB chunks), are decoded
// by both, best of three rounds. Prints the corpus, both speeds in MB/s and their ratio.
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <algorithm>

#include <string>
#include <vector>

#include <wimlib.h>

#include "lzms_test_support.h"
#include "lzms/lzms.h"

namespace {

struct Item {
    Bytes raw;
    Bytes buffer;
};

double Seconds()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec * 1e-9;
}

uint32_t ChunkLength(const Bytes &buffer, size_t position)
{
    return (uint32_t)buffer[position] | (uint32_t)buffer[position + 1] << 8 | (uint32_t)buffer[position + 2] << 16 |
           (uint32_t)buffer[position + 3] << 24;
}

// wimlib decodes raw chunks: the framing is walked here as DecodeLzmsBuffer walks it.
bool WimlibDecodeBuffer(wimlib_decompressor *decompressor, const Bytes &buffer, Bytes *out)
{
    size_t position = kLzmsBufferHeaderSize;
    for (size_t done = 0; done < out->size();) {
        size_t length = std::min((size_t)kLzmsBufferChunkSize, out->size() - done);
        uint32_t stored = ChunkLength(buffer, position);
        position += 4;
        if (stored == length)
            memcpy(out->data() + done, buffer.data() + position, length);
        else if (wimlib_decompress(buffer.data() + position, stored, out->data() + done, length, decompressor) != 0)
            return false;
        position += stored;
        done += length;
    }
    return true;
}

} // namespace

int main(int count, char **arguments)
{
    if (count < 2) {
        fprintf(stderr, "usage: lzms_bench FILE...\n");
        return 2;
    }
    std::vector<Item> items;
    size_t raw_total = 0, compressed_total = 0;
    double start = Seconds();
    for (int i = 1; i < count; i++) {
        Item item;
        item.raw = ReadBytes(arguments[i]);
        if (item.raw.empty())
            continue;
        item.buffer = BuildLzmsBuffer(item.raw, kLzmsBufferChunkSize);
        raw_total += item.raw.size();
        compressed_total += item.buffer.size();
        items.push_back(std::move(item));
    }
    printf("corpus: %zu files, %.1f MiB, compressed by wimlib to %.1f MiB in %.0f s\n", items.size(),
           (double)raw_total / 1048576, (double)compressed_total / 1048576, Seconds() - start);

    wimlib_decompressor *decompressor = nullptr;
    if (wimlib_create_decompressor(WIMLIB_COMPRESSION_TYPE_LZMS, kLzmsBufferChunkSize, &decompressor) != 0) {
        fprintf(stderr, "wimlib_create_decompressor failed\n");
        return 1;
    }
    double best_ours = 1e30, best_wimlib = 1e30;
    for (int round = 0; round < 3; round++) {
        for (int peer = 0; peer < 2; peer++) {
            double seconds = 0;
            for (const Item &item : items) {
                Bytes out(item.raw.size());
                double began = Seconds();
                bool decoded = peer ? WimlibDecodeBuffer(decompressor, item.buffer, &out)
                                    : DecodeLzmsBuffer(item.buffer.data(), item.buffer.size(), out.data(), out.size());
                seconds += Seconds() - began;
                if (!decoded || out != item.raw) {
                    fprintf(stderr, "%s decoded a file wrongly\n", peer ? "wimlib" : "ours");
                    return 1;
                }
            }
            double &best = peer ? best_wimlib : best_ours;
            best = std::min(best, seconds);
        }
    }
    wimlib_free_decompressor(decompressor);
    printf("ours:   %.1f MB/s\n", (double)raw_total / best_ours / 1e6);
    printf("wimlib: %.1f MB/s\n", (double)raw_total / best_wimlib / 1e6);
    printf("ours / wimlib speed ratio: %.3f\n", best_wimlib / best_ours);
    return 0;
}
