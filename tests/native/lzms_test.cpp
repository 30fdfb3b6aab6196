#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>
#include <zlib.h>

#include "lzms_test_support.h"
#include "lzms/lzms.h"

namespace {

bool DecodeBuffer(const Bytes &buffer, size_t out_size, Bytes *out)
{
    out->assign(out_size, 0xcc);
    return DecodeLzmsBuffer(buffer.data(), buffer.size(), out->data(), out->size());
}

// What wimlib compresses, ours decodes to the same bytes: as one raw chunk and framed in chunks
// of `chunk_size`.
void ExpectRoundTrip(const Bytes &data, const std::string &what)
{
    SCOPED_TRACE(what + ", " + std::to_string(data.size()) + " bytes");
    Bytes chunk = WimlibCompressChunk(data.data(), data.size());
    ASSERT_EQ(data.size() < 4, chunk.empty());
    if (!chunk.empty()) {
        Bytes out(data.size(), 0xcc);
        ASSERT_TRUE(DecodeLzmsChunk(chunk.data(), chunk.size(), out.data(), out.size()));
        ASSERT_TRUE(out == data);
    }
    Bytes buffer = BuildLzmsBuffer(data, kLzmsBufferChunkSize);
    Bytes out;
    ASSERT_TRUE(DecodeBuffer(buffer, data.size(), &out));
    ASSERT_TRUE(out == data);
}

Bytes Concatenate(const std::vector<Bytes> &parts)
{
    Bytes all;
    for (const Bytes &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The repository's own sources: real text.
Bytes RepositoryText()
{
    Bytes text;
    for (const char *folder : {"core", "app", "release", "tools", "tests/native"})
        for (const auto &entry : std::filesystem::recursive_directory_iterator(std::string(TALVOR_SOURCE_DIR) + "/" + folder))
            if (entry.is_regular_file() && (entry.path().extension() == ".cpp" || entry.path().extension() == ".h")) {
                Bytes file = ReadBytes(entry.path().string());
                text.insert(text.end(), file.begin(), file.end());
            }
    return text;
}

// Our own Windows programs (x64 code for the x86 translation) and a native one.
std::vector<std::string> ExecutablePaths()
{
    const char *bin = getenv("TALVOR_BIN_DIR");
    std::vector<std::string> paths = {"/usr/bin/bash"};
    if (bin != nullptr) {
        paths.push_back(std::string(bin) + "/Talvor-Kurulum.exe");
        paths.push_back(std::string(bin) + "/talvor-denetle.exe");
    }
    return paths;
}

// The check byte recomputed with zlib's CRC-32, so that a changed field is seen past it.
void SetCheckByte(Bytes *buffer)
{
    uLong crc = crc32(0, buffer->data(), 6);
    crc = crc32(crc, buffer->data() + 7, (uInt)kLzmsBufferHeaderSize - 7);
    (*buffer)[6] = (uint8_t)crc;
}

void SetLittleEndian(Bytes *buffer, size_t offset, uint64_t value, int count)
{
    for (int i = 0; i < count; i++)
        (*buffer)[offset + (size_t)i] = (uint8_t)(value >> (8 * i));
}

} // namespace

TEST(LzmsWindowsSamples, DecodeByteForByteAndHeadersAreWrittenAlike)
{
    for (const char *name : kLzmsSampleNames) {
        SCOPED_TRACE(name);
        Bytes buffer = ReadLzmsSample(name, "lzms");
        Bytes raw = ReadLzmsSample(name, "raw");
        ASSERT_FALSE(raw.empty());
        uint64_t total = 0;
        ASSERT_TRUE(ReadLzmsBufferSize(buffer.data(), buffer.size(), &total));
        EXPECT_EQ(raw.size(), total);
        Bytes out;
        ASSERT_TRUE(DecodeBuffer(buffer, raw.size(), &out));
        EXPECT_TRUE(out == raw);

        uint8_t header[kLzmsBufferHeaderSize];
        WriteLzmsBufferHeader(header, raw.size(), kLzmsBufferChunkSize);
        EXPECT_EQ(0, memcmp(header, buffer.data(), sizeof header));
    }
}

TEST(LzmsWindowsSamples, EveryTruncationAndATrailingByteAreRefused)
{
    for (const char *name : kLzmsSampleNames) {
        SCOPED_TRACE(name);
        Bytes buffer = ReadLzmsSample(name, "lzms");
        size_t raw_size = ReadLzmsSample(name, "raw").size();
        Bytes out(raw_size);
        for (size_t size = 0; size < buffer.size(); size++)
            EXPECT_FALSE(DecodeLzmsBuffer(buffer.data(), size, out.data(), out.size())) << size;
        buffer.push_back(0);
        EXPECT_FALSE(DecodeLzmsBuffer(buffer.data(), buffer.size(), out.data(), out.size()));
    }
}

TEST(LzmsBufferHeader, EachFieldIsChecked)
{
    Bytes good = ReadLzmsSample("english", "lzms");
    Bytes out(ReadLzmsSample("english", "raw").size());
    Bytes changed = good;
    SetCheckByte(&changed);
    ASSERT_TRUE(changed == good) << "zlib's CRC-32 gives the samples' check bytes";

    const struct {
        const char *what;
        size_t offset;
        uint64_t value;
        int count;
        bool fix_check_byte;
    } cases[] = {
        {"magic", 0, 0x0a51e5c1, 4, true},
        {"header size", 4, 32, 2, true},
        {"check byte", 6, good[6] ^ 0x01u, 1, false},
        {"algorithm XPRESS", 7, 3, 1, true},
        {"algorithm MSZIP", 7, 2, 1, true},
        {"total size one less", 8, out.size() - 1, 8, true},
        {"total size one more", 8, out.size() + 1, 8, true},
        {"total size 2^63", 8, 1ull << 63, 8, true},
        {"first chunk above the total", 16, out.size() + 1, 8, true},
        {"first chunk of no bytes", 16, 0, 8, true},
        {"first chunk smaller than the data", 16, out.size() / 2, 8, true},
        {"chunk length past the end", 24, good.size(), 4, false},
        {"chunk length one short", 24, good.size() - 24 - 4 - 1, 4, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        changed = good;
        SetLittleEndian(&changed, c.offset, c.value, c.count);
        if (c.fix_check_byte)
            SetCheckByte(&changed);
        uint64_t total = 0;
        bool header_ok = ReadLzmsBufferSize(changed.data(), changed.size(), &total);
        EXPECT_EQ(c.offset >= 8, header_ok);
        EXPECT_FALSE(DecodeLzmsBuffer(changed.data(), changed.size(), out.data(), out.size()));
    }
    EXPECT_FALSE(ReadLzmsBufferSize(good.data(), kLzmsBufferHeaderSize - 1, nullptr));
    EXPECT_FALSE(DecodeLzmsBuffer(good.data(), good.size(), out.data(), out.size() - 1));
}

TEST(LzmsBufferHeader, WriterStatesTheFirstChunkAndAnEmptyBufferHoldsNoChunk)
{
    const struct {
        uint64_t total, chunk, first;
    } cases[] = {{0, kLzmsBufferChunkSize, 0},
                 {1, kLzmsBufferChunkSize, 1},
                 {kLzmsBufferChunkSize, kLzmsBufferChunkSize, kLzmsBufferChunkSize},
                 {kLzmsBufferChunkSize + 1, kLzmsBufferChunkSize, kLzmsBufferChunkSize},
                 {1ull << 40, 17, 17}};
    for (const auto &c : cases) {
        Bytes header(kLzmsBufferHeaderSize);
        WriteLzmsBufferHeader(header.data(), c.total, c.chunk);
        uint64_t total = 0, first = 0;
        ASSERT_TRUE(ReadLzmsBufferSize(header.data(), header.size(), &total));
        for (int i = 7; i >= 0; i--)
            first = first << 8 | header[16 + (size_t)i];
        EXPECT_EQ(c.total, total);
        EXPECT_EQ(c.first, first);
    }

    Bytes empty = BuildLzmsBuffer(Bytes(), kLzmsBufferChunkSize);
    ASSERT_EQ(kLzmsBufferHeaderSize, empty.size());
    uint8_t unused = 0;
    EXPECT_TRUE(DecodeLzmsBuffer(empty.data(), empty.size(), &unused, 0));
    empty.insert(empty.end(), {0, 0, 0, 0});
    EXPECT_FALSE(DecodeLzmsBuffer(empty.data(), empty.size(), &unused, 0));
}

TEST(LzmsChunk, RefusesImpossibleInputAndMatchesBeforeTheStart)
{
    const uint8_t zeros[8] = {};
    uint8_t out[64];
    for (size_t size : {0, 1, 2, 3, 5, 7})
        EXPECT_FALSE(DecodeLzmsChunk(zeros, size, out, sizeof out)) << size;
    // A code of all ones makes the first decision a match, which has nothing to refer to.
    const uint8_t ones[4] = {0xff, 0xff, 0xff, 0xff};
    EXPECT_FALSE(DecodeLzmsChunk(ones, sizeof ones, out, sizeof out));
    // All zeros: zero literals only, also into outputs too short for any offset code.
    for (size_t size : {0, 1, 2, 3, 64}) {
        memset(out, 0xcc, sizeof out);
        EXPECT_TRUE(DecodeLzmsChunk(zeros, 4, out, size)) << size;
        EXPECT_EQ(size, (size_t)(std::find_if(out, out + sizeof out, [](uint8_t b) { return b != 0; }) - out));
    }
}

TEST(LzmsWimlibCrossCheck, ExecutablesAndText)
{
    for (const std::string &path : ExecutablePaths()) {
        Bytes program = ReadBytes(path);
        ASSERT_FALSE(program.empty()) << path;
        ExpectRoundTrip(program, path);
    }
    ExpectRoundTrip(RepositoryText(), "the repository's sources");
    ExpectRoundTrip(TextLikeBytes(3 << 20, 1), "generated text");
    ExpectRoundTrip(DeltaFriendlyBytes(1 << 20, 2), "rising and falling sequences");
    for (size_t size : {18, 40, 5000, 300000})
        ExpectRoundTrip(X86LikeBytes(size, (uint32_t)size), "x86-like instructions");
}

TEST(LzmsWimlibCrossCheck, X86TranslationFromTheSecondByteToTheTail)
{
    // A call at byte 1 and one at byte 200 to the same target mark code, so that the call after
    // it is translated; then calls up to the last untranslated bytes.
    Bytes code(400, 0x90);
    auto call = [&code](size_t at, uint32_t target) {
        code[at] = 0xe8;
        uint32_t relative = target - (uint32_t)(at + 5);
        for (int i = 0; i < 4; i++)
            code[at + 1 + (size_t)i] = (uint8_t)(relative >> (8 * i));
    };
    call(1, 0x1234);
    call(200, 0x1234);
    call(210, 0x5678);
    for (size_t at = 370; at < 390; at += 5)
        call(at, 0x5678);
    ExpectRoundTrip(code, "calls");
}

TEST(LzmsWimlibCrossCheck, SizesFromNothingToMegabytes)
{
    const size_t sizes[] = {0,   1,    2,    3,    4,    5,     17,    18,    19,      64,      255,
                            256, 1000, 4096, 65535, 65536, 65537, 300000, 1 << 20, 3 << 20};
    for (size_t size : sizes) {
        ExpectRoundTrip(Bytes(size, 0), "zeros");
        ExpectRoundTrip(RandomBytes(size, (uint32_t)size), "random");
        ExpectRoundTrip(TokenBytes(size, (uint32_t)size), "tokens");
    }
}

TEST(LzmsWimlibCrossCheck, HuffmanRebuildBoundaries)
{
    // Random bytes are mostly literals: the literal code is rebuilt every 1024. Tokens give
    // matches: length and delta power codes every 512, offsets every 1024.
    for (size_t n = 1; n <= 6; n++)
        for (size_t size : {1024 * n - 1, 1024 * n, 1024 * n + 1})
            ExpectRoundTrip(RandomBytes(size, (uint32_t)size), "random");
    for (size_t size = 512; size < 48000; size += 613)
        ExpectRoundTrip(TokenBytes(size, (uint32_t)size), "tokens");
    for (size_t size = 512; size < 48000; size += 1931)
        ExpectRoundTrip(DeltaFriendlyBytes(size, (uint32_t)size), "rising and falling sequences");
    // Rare literals among frequent ones get codewords longer than the decoder's table.
    for (size_t size : {5000, 60000})
        ExpectRoundTrip(SkewedBytes(size, (uint32_t)size), "skewed literals");
}

TEST(LzmsWimlibCrossCheck, BuffersOfSmallChunks)
{
    Bytes program = ReadBytes(ExecutablePaths().back());
    Bytes mixed = Concatenate({TextLikeBytes(40000, 3), Bytes(program.begin(), program.begin() + 30000),
                               Bytes(5000, 0), RandomBytes(9000, 4), DeltaFriendlyBytes(16000, 5)});
    for (size_t chunk_size : {1, 2, 3, 4, 17, 18, 1000, 4096, 65536}) {
        SCOPED_TRACE(chunk_size);
        Bytes data(mixed.begin(), mixed.begin() + (ptrdiff_t)std::min(mixed.size(), chunk_size * 3000));
        Bytes buffer = BuildLzmsBuffer(data, chunk_size);
        Bytes out;
        ASSERT_TRUE(DecodeBuffer(buffer, data.size(), &out));
        EXPECT_TRUE(out == data);
    }
}
