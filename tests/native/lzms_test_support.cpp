#include "lzms_test_support.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>

#include <wimlib.h>

#include "lzms/lzms.h"

const char *const kLzmsSampleNames[7] = {"english", "pattern", "random", "sequential", "single_byte", "small", "zeros"};

Bytes ReadBytes(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

Bytes ReadLzmsSample(const char *name, const char *extension)
{
    return ReadBytes(std::string(TALVOR_SOURCE_DIR) + "/tests/data/compress-api-lzms/" + name + "." + extension);
}

Bytes WimlibCompressChunk(const uint8_t *data, size_t size)
{
    Bytes compressed;
    wimlib_compressor *compressor = nullptr;
    if (size == 0 || wimlib_create_compressor(WIMLIB_COMPRESSION_TYPE_LZMS, size, 0, &compressor) != 0)
        return compressed;
    compressed.resize(2 * size + 64);
    compressed.resize(wimlib_compress(data, size, compressed.data(), compressed.size(), compressor));
    wimlib_free_compressor(compressor);
    return compressed;
}

static void AppendLittleEndian32(Bytes *bytes, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        bytes->push_back((uint8_t)(value >> (8 * i)));
}

Bytes BuildLzmsBuffer(const Bytes &data, size_t chunk_size)
{
    Bytes buffer(kLzmsBufferHeaderSize);
    WriteLzmsBufferHeader(buffer.data(), data.size(), chunk_size);
    for (size_t start = 0; start < data.size(); start += chunk_size) {
        size_t length = std::min(chunk_size, data.size() - start);
        Bytes chunk = WimlibCompressChunk(data.data() + start, length);
        if (chunk.empty() || chunk.size() >= length)
            chunk.assign(data.begin() + (ptrdiff_t)start, data.begin() + (ptrdiff_t)(start + length));
        AppendLittleEndian32(&buffer, (uint32_t)chunk.size());
        buffer.insert(buffer.end(), chunk.begin(), chunk.end());
    }
    return buffer;
}

Bytes RandomBytes(size_t size, uint32_t seed)
{
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (uint8_t &b : bytes)
        b = (uint8_t)random();
    return bytes;
}

Bytes TextLikeBytes(size_t size, uint32_t seed)
{
    static const char *const words[] = {"the",    "setup",   "installs", "a",     "program", "into",   "its",
                                        "folder", "and",     "checks",   "every", "file",    "against", "signed",
                                        "list",   "Kurulum", "sürüm",    "dosya", "paket",   "açıldı", "of"};
    static const char *const breaks[] = {" ", " ", " ", " ", ", ", ". ", ".\n", "\n\n"};
    std::mt19937 random(seed);
    Bytes bytes;
    while (bytes.size() < size) {
        std::string word = words[random() % (sizeof words / sizeof words[0])];
        word += breaks[random() % (sizeof breaks / sizeof breaks[0])];
        bytes.insert(bytes.end(), word.begin(), word.end());
    }
    bytes.resize(size);
    return bytes;
}

Bytes DeltaFriendlyBytes(size_t size, uint32_t seed)
{
    std::mt19937 random(seed);
    Bytes bytes;
    while (bytes.size() < size) {
        unsigned width = 1u << (random() % 3);
        uint32_t value = random(), step = random() % 7 + 1;
        for (unsigned i = 0; i < 2000 && bytes.size() < size; i++) {
            uint32_t sample = value + i * step + (random() % 16 == 0 ? random() % 3 : 0);
            for (unsigned b = 0; b < width; b++)
                bytes.push_back((uint8_t)(sample >> (8 * b)));
        }
    }
    bytes.resize(size);
    return bytes;
}

Bytes TokenBytes(size_t size, uint32_t seed)
{
    std::mt19937 random(seed);
    Bytes tokens = RandomBytes(40 * 8, seed + 1);
    Bytes bytes;
    while (bytes.size() < size) {
        size_t token = random() % 40;
        bytes.insert(bytes.end(), tokens.begin() + (ptrdiff_t)(8 * token), tokens.begin() + (ptrdiff_t)(8 * token + 8));
        if (random() % 8 == 0)
            bytes.push_back((uint8_t)random());
    }
    bytes.resize(size);
    return bytes;
}

Bytes SkewedBytes(size_t size, uint32_t seed)
{
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (uint8_t &b : bytes) {
        uint32_t bits = random() | 0x80000000u;
        unsigned rank = 0;
        while ((bits & 1) == 0) {
            bits >>= 1;
            rank++;
        }
        b = (uint8_t)(rank * 7 + (rank > 8 ? random() % 7 : 0));
    }
    return bytes;
}

Bytes X86LikeBytes(size_t size, uint32_t seed)
{
    static const std::vector<uint8_t> opcodes[] = {{0xe8},       {0xe9},       {0xff, 0x15}, {0xf0, 0x83, 0x05},
                                                   {0x48, 0x8d, 0x05}, {0x48, 0x8b, 0x0d}, {0x4c, 0x8d, 0x15},
                                                   {0x4c, 0x8b, 0x05}};
    std::mt19937 random(seed);
    uint32_t targets[48];
    for (uint32_t &target : targets)
        target = random() % (uint32_t)(size + 1);
    Bytes bytes;
    while (bytes.size() < size) {
        const std::vector<uint8_t> &opcode = opcodes[random() % (sizeof opcodes / sizeof opcodes[0])];
        bytes.insert(bytes.end(), opcode.begin(), opcode.end());
        uint32_t relative = targets[random() % 48] - (uint32_t)bytes.size();
        for (int i = 0; i < 4; i++)
            bytes.push_back((uint8_t)(relative >> (8 * i)));
        for (unsigned filler = random() % 6; filler > 0; filler--)
            bytes.push_back((uint8_t)(random() % 0x40));
    }
    bytes.resize(size);
    return bytes;
}
