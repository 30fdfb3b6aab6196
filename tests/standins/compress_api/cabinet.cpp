// Test infrastructure, not part of the product: a stand-in for the Windows Compression API's
// decompressor in cabinet.dll, which Wine lacks. It decodes LZMS in buffer mode with our own
// codec; other algorithms and block mode (COMPRESS_RAW) fail with ERROR_NOT_SUPPORTED. The
// harness installs it into the test prefix's system folder for our programs only.
#include <windows.h>

#include <compressapi.h>

#include "lzms/lzms.h"

// "The specified buffer contains ill-formed data."; missing from MinGW's winerror.h.
#ifndef ERROR_BAD_COMPRESSION_BUFFER
#define ERROR_BAD_COMPRESSION_BUFFER 605L
#endif

namespace {

const uint32_t kHandleMark = 0x4c5a4d53;

struct Decompressor {
    uint32_t mark;
    COMPRESS_ALLOCATION_ROUTINES routines; // the caller's, or null routines for the process heap
};

Decompressor *FromHandle(DECOMPRESSOR_HANDLE handle)
{
    Decompressor *decompressor = (Decompressor *)handle;
    return decompressor != nullptr && decompressor->mark == kHandleMark ? decompressor : nullptr;
}

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

} // namespace

extern "C" BOOL WINAPI CreateDecompressor(DWORD Algorithm, PCOMPRESS_ALLOCATION_ROUTINES AllocationRoutines,
                                          PDECOMPRESSOR_HANDLE DecompressorHandle)
{
    if (DecompressorHandle == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    *DecompressorHandle = nullptr;
    DWORD algorithm = Algorithm & ~(DWORD)COMPRESS_RAW;
    if (algorithm < COMPRESS_ALGORITHM_MSZIP || algorithm >= COMPRESS_ALGORITHM_MAX)
        return Fail(ERROR_INVALID_PARAMETER);
    if (Algorithm != COMPRESS_ALGORITHM_LZMS)
        return Fail(ERROR_NOT_SUPPORTED);
    if (AllocationRoutines != nullptr && (AllocationRoutines->Allocate == nullptr || AllocationRoutines->Free == nullptr))
        return Fail(ERROR_INVALID_PARAMETER);

    Decompressor *decompressor =
        (Decompressor *)(AllocationRoutines != nullptr
                             ? AllocationRoutines->Allocate(AllocationRoutines->UserContext, sizeof(Decompressor))
                             : HeapAlloc(GetProcessHeap(), 0, sizeof(Decompressor)));
    if (decompressor == nullptr)
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    decompressor->mark = kHandleMark;
    decompressor->routines = AllocationRoutines != nullptr ? *AllocationRoutines : COMPRESS_ALLOCATION_ROUTINES{};
    *DecompressorHandle = (DECOMPRESSOR_HANDLE)decompressor;
    return TRUE;
}

// Buffer mode: the stated size comes from the data's header. A buffer smaller than it (a null
// buffer of size 0 asks for the size) fails with ERROR_INSUFFICIENT_BUFFER and reports the size;
// data that does not decode fails with ERROR_BAD_COMPRESSION_BUFFER.
extern "C" BOOL WINAPI Decompress(DECOMPRESSOR_HANDLE DecompressorHandle, PVOID CompressedData, SIZE_T CompressedDataSize,
                                  PVOID UncompressedBuffer, SIZE_T UncompressedBufferSize, PSIZE_T UncompressedDataSize)
{
    if (FromHandle(DecompressorHandle) == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    if ((CompressedData == nullptr && CompressedDataSize != 0) ||
        (UncompressedBuffer == nullptr && UncompressedBufferSize != 0))
        return Fail(ERROR_INVALID_PARAMETER);
    if (UncompressedDataSize != nullptr)
        *UncompressedDataSize = 0;

    uint64_t total = 0;
    if (CompressedData == nullptr || !ReadLzmsBufferSize((const uint8_t *)CompressedData, CompressedDataSize, &total))
        return Fail(ERROR_BAD_COMPRESSION_BUFFER);
    if (total > UncompressedBufferSize) {
        if (UncompressedDataSize != nullptr)
            *UncompressedDataSize = (SIZE_T)total;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    if (!DecodeLzmsBuffer((const uint8_t *)CompressedData, CompressedDataSize, (uint8_t *)UncompressedBuffer, (size_t)total))
        return Fail(ERROR_BAD_COMPRESSION_BUFFER);
    if (UncompressedDataSize != nullptr)
        *UncompressedDataSize = (SIZE_T)total;
    return TRUE;
}

extern "C" BOOL WINAPI CloseDecompressor(DECOMPRESSOR_HANDLE DecompressorHandle)
{
    Decompressor *decompressor = FromHandle(DecompressorHandle);
    if (decompressor == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    decompressor->mark = 0;
    if (decompressor->routines.Free != nullptr)
        decompressor->routines.Free(decompressor->routines.UserContext, decompressor);
    else
        HeapFree(GetProcessHeap(), 0, decompressor);
    return TRUE;
}
