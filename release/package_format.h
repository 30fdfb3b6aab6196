#pragma once

#include <stddef.h>
#include <stdint.h>

// A package: the magic "TPK1", an unsigned 32-bit entry count, then exactly that many entries
// back to back, ending exactly at the end of the file. Integers are little-endian.
const char kPackageMagic[4] = {'T', 'P', 'K', '1'};
const size_t kPackageHeaderSize = 8;
const uint32_t kPackageMinEntries = 1;
const uint32_t kPackageMaxEntries = 4096;
// The largest package file, and so the largest size a manifest entry may declare for it.
const uint32_t kPackageMaxSize = 536870912;
// The largest file inside a package: a limit of its own, as large as the package's.
const uint32_t kPackageMaxUnpackedSize = 536870912;

// One entry, n being the name length and s the stored size:
//   u16 n | n bytes of name | u32 unpacked size | u32 stored size | u8 method | 32-byte SHA-256 of
//   the unpacked bytes | s stored bytes
// The name is a '/'-separated relative path in UTF-8 that passes IsSafeEntryName.
const size_t kEntryNameLengthSize = 2;
const size_t kEntryNameMinLength = 1;
const size_t kEntryNameMaxLength = 240;
// Offsets of the fields that follow the name, counted from the end of the name.
const size_t kEntryUnpackedSizeOffset = 0;
const size_t kEntryStoredSizeOffset = 4;
const size_t kEntryMethodOffset = 8;
const size_t kEntryDigestOffset = 9;
const size_t kEntryDigestSize = 32;
const size_t kEntryFieldsSize = 41; // from the end of the name to the stored bytes
// An entry occupies kEntryOverhead + n + s bytes.
const size_t kEntryOverhead = kEntryNameLengthSize + kEntryFieldsSize;

// Method 0 stores the bytes as they are (stored size equal to unpacked size); method 1 holds
// what the Compression API's Compress writes for the whole file with LZMS in buffer mode.
const uint8_t kPackageMethodStored = 0;
const uint8_t kPackageMethodLzms = 1;
