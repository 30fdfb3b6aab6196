// A seeded, bounded run of damaged inputs through the decoder, built with AddressSanitizer and
// UndefinedBehaviorSanitizer: no input may make it touch memory outside its buffers. Damaged raw
// chunks are also given to wimlib's decoder: ours must refuse exactly what it refuses and
// otherwise produce the same bytes.
#include <stdlib.h>

#include <random>
#include <string>

#include <gtest/gtest.h>
#include <wimlib.h>
#include <zlib.h>

#include "lzms_test_support.h"
#include "lzms/lzms.h"

namespace {

// Large enough for every input here, small enough that a damaged size field cannot exhaust memory.
const size_t kMaxOutput = 1 << 20;

Bytes SampleProgram()
{
    const char *bin = getenv("TALVOR_BIN_DIR");
    Bytes program = ReadBytes(bin != nullptr ? std::string(bin) + "/Talvor-Kurulum.exe" : "/usr/bin/bash");
    program.resize(std::min(program.size(), (size_t)40000));
    return program;
}

// Inputs whose every part the decoder reaches: literals, LZ and delta matches, repeats, x86 code.
std::vector<Bytes> PlainInputs()
{
    return {SampleProgram(), TextLikeBytes(20000, 11), TokenBytes(12000, 12), DeltaFriendlyBytes(12000, 13),
            RandomBytes(3000, 14)};
}

void Damage(Bytes *bytes, std::mt19937 *random, bool keep_header)
{
    size_t floor = keep_header ? kLzmsBufferHeaderSize : 0;
    if (bytes->size() <= floor)
        return;
    size_t span = bytes->size() - floor;
    switch ((*random)() % 5) {
    case 0:
        bytes->resize(floor + (*random)() % span);
        break;
    case 1:
        for (unsigned n = (*random)() % 8 + 1; n > 0; n--)
            (*bytes)[floor + (*random)() % span] ^= (uint8_t)(1u << ((*random)() % 8));
        break;
    case 2: {
        size_t start = floor + (*random)() % span;
        for (size_t n = (*random)() % 16 + 1; n > 0 && start < bytes->size(); n--)
            (*bytes)[start++] = (uint8_t)(*random)();
        break;
    }
    case 3:
        bytes->insert(bytes->begin() + (ptrdiff_t)(floor + (*random)() % span), (uint8_t)(*random)());
        break;
    default:
        bytes->erase(bytes->begin() + (ptrdiff_t)(floor + (*random)() % span));
        break;
    }
}

// A size field of the header or of a chunk set to a nearby or an arbitrary value, the check byte
// made right again so that the change is seen.
void DamageSizeField(Bytes *buffer, std::mt19937 *random)
{
    size_t offset = (*random)() % 3 == 0 ? 8 : (*random)() % 2 == 0 ? 16 : 24;
    int width = offset == 24 ? 4 : 8;
    uint64_t value = 0;
    for (int i = width - 1; i >= 0; i--)
        value = value << 8 | (*buffer)[offset + (size_t)i];
    uint64_t choices[] = {value + 1, value - 1, value / 2, 0, (*random)(), ~0ull, kMaxOutput + 1};
    value = choices[(*random)() % (sizeof choices / sizeof choices[0])];
    for (int i = 0; i < width; i++)
        (*buffer)[offset + (size_t)i] = (uint8_t)(value >> (8 * i));
    uLong crc = crc32(crc32(0, buffer->data(), 6), buffer->data() + 7, (uInt)kLzmsBufferHeaderSize - 7);
    (*buffer)[6] = (uint8_t)crc;
}

// Decodes into an output of exactly the stated size (or of a plausible one when that is too
// large); the result is whatever it is, the sanitizers judge the memory accesses.
bool DecodeDamagedBuffer(const Bytes &buffer, size_t fallback_size)
{
    uint64_t total = fallback_size;
    if (!ReadLzmsBufferSize(buffer.data(), buffer.size(), &total) || total > kMaxOutput)
        total = fallback_size;
    Bytes exact(buffer);
    Bytes out((size_t)total);
    return DecodeLzmsBuffer(exact.data(), exact.size(), out.data(), out.size());
}

} // namespace

TEST(LzmsMutation, DamagedBuffersNeverTouchMemoryOutsideTheirBuffers)
{
    std::vector<std::pair<Bytes, size_t>> buffers;
    for (const char *name : kLzmsSampleNames)
        buffers.push_back({ReadLzmsSample(name, "lzms"), ReadLzmsSample(name, "raw").size()});
    for (const Bytes &input : PlainInputs()) {
        buffers.push_back({BuildLzmsBuffer(input, kLzmsBufferChunkSize), input.size()});
        buffers.push_back({BuildLzmsBuffer(input, 4096), input.size()});
    }

    std::mt19937 random(20240601);
    unsigned refused = 0, runs = 0;
    for (const auto &[buffer, size] : buffers) {
        ASSERT_TRUE(DecodeDamagedBuffer(buffer, size));
        for (int i = 0; i < 2000; i++, runs++) {
            Bytes damaged = buffer;
            if (i % 4 == 0)
                DamageSizeField(&damaged, &random);
            else
                Damage(&damaged, &random, i % 4 == 1);
            refused += !DecodeDamagedBuffer(damaged, size);
        }
    }
    // Most damage is seen: a truncation, a size or the check byte give it away.
    EXPECT_GT(refused, runs / 2);
}

TEST(LzmsMutation, DamagedChunksAreJudgedAsWimlibJudgesThem)
{
    wimlib_decompressor *peer = nullptr;
    ASSERT_EQ(0, wimlib_create_decompressor(WIMLIB_COMPRESSION_TYPE_LZMS, kMaxOutput, &peer));
    std::mt19937 random(7);
    unsigned refused = 0, decoded = 0;
    for (const Bytes &input : PlainInputs()) {
        Bytes chunk = WimlibCompressChunk(input.data(), input.size());
        ASSERT_FALSE(chunk.empty());
        for (int i = 0; i < 4000; i++) {
            Bytes damaged = chunk;
            Damage(&damaged, &random, false);
            // Sometimes a wrong size, shorter or longer. Chunks of one or two bytes are left out:
            // their offset codes have fewer than two symbols, which wimlib does not decode alike.
            size_t size = input.size();
            if (i % 5 == 0)
                size = 3 + (size_t)random() % (input.size() + input.size() / 2);
            Bytes ours(size), theirs(size);
            bool ours_ok = DecodeLzmsChunk(damaged.data(), damaged.size(), ours.data(), size);
            bool theirs_ok = wimlib_decompress(damaged.data(), damaged.size(), theirs.data(), size, peer) == 0;
            ASSERT_EQ(theirs_ok, ours_ok) << "run " << decoded + refused << ", " << damaged.size() << " bytes into " << size;
            if (ours_ok) {
                ASSERT_TRUE(ours == theirs);
            }
            (ours_ok ? decoded : refused)++;
        }
    }
    wimlib_free_decompressor(peer);
    EXPECT_GT(refused, 0u);
    EXPECT_GT(decoded, 0u);
}
