#pragma once

// Inputs and wimlib's compressor for the LZMS decoder's tests, its mutation run and its benchmark.

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// The names of the Windows samples in tests/data/compress-api-lzms (NAME.lzms and NAME.raw).
extern const char *const kLzmsSampleNames[7];

Bytes ReadBytes(const std::string &path);
// tests/data/compress-api-lzms/NAME.EXTENSION of the repository.
Bytes ReadLzmsSample(const char *name, const char *extension);

// One raw LZMS chunk as wimlib compresses it, given room for twice the input; empty when wimlib
// declines (inputs shorter than 4 bytes).
Bytes WimlibCompressChunk(const uint8_t *data, size_t size);

// The Compression API's buffer framing around `data` cut into chunks of `chunk_size`: each chunk
// compressed by wimlib, or stored when that is not smaller.
Bytes BuildLzmsBuffer(const Bytes &data, size_t chunk_size);

// Seeded inputs of `size` bytes.
Bytes RandomBytes(size_t size, uint32_t seed);
// Words from a small vocabulary with punctuation and line breaks.
Bytes TextLikeBytes(size_t size, uint32_t seed);
// Rising and falling 8-, 16- and 32-bit sequences with a little noise: material for delta matches.
Bytes DeltaFriendlyBytes(size_t size, uint32_t seed);
// Eight-byte tokens from a set of 40: many short matches.
Bytes TokenBytes(size_t size, uint32_t seed);
// Instructions with 32-bit relative addresses (call, jmp, indirect call, lock add, lea and mov
// relative to the instruction pointer) aimed at a few dozen targets, between filler bytes: the
// material of the x86 translation.
Bytes X86LikeBytes(size_t size, uint32_t seed);
// Byte values with halving frequencies, byte 0 the most frequent: literals of very unequal weight.
Bytes SkewedBytes(size_t size, uint32_t seed);
