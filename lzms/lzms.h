// Decoding what the Windows Compression API writes for LZMS: its buffer-mode framing and the raw
// LZMS chunks inside it. Portable C++17, no Win32: used by the release tool natively and by the
// Compression API stand-in of the test prefix.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The buffer-mode header: magic 0a 51 e5 c0, u16 header size, u8 check byte, u8 algorithm,
// u64 total size, u64 size of the first chunk.
constexpr size_t kLzmsBufferHeaderSize = 24;
constexpr uint8_t kLzmsAlgorithm = 5;
// The chunk size that Windows uses in buffer mode; every chunk is an independent stream.
constexpr uint64_t kLzmsBufferChunkSize = 0x4000000;

// Fills a 24-byte header for a buffer of total_size bytes cut into chunks of chunk_size
// (the first chunk is min(total_size, chunk_size)), check byte included.
void WriteLzmsBufferHeader(uint8_t* header, uint64_t total_size, uint64_t chunk_size);

// True when data starts with a well-formed LZMS buffer-mode header; *total_size receives the
// size it states. Reads at most kLzmsBufferHeaderSize bytes.
bool ReadLzmsBufferSize(const uint8_t* data, size_t size, uint64_t* total_size);

// Decodes a whole buffer-mode buffer into out, whose size must equal the stated total. False
// for anything malformed (header, check byte, algorithm, sizes that disagree, truncated or
// trailing data, a chunk that does not decode); never reads or writes outside the buffers.
bool DecodeLzmsBuffer(const uint8_t* data, size_t size, uint8_t* out, size_t out_size);

// Decodes one raw LZMS chunk into exactly out_size bytes, the x86 translation undone.
bool DecodeLzmsChunk(const uint8_t* data, size_t size, uint8_t* out, size_t out_size);
