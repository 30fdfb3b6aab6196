#include "core/own_image.h"

#include "core/busy_retry.h"
#include "core/format.h"
#include "core/setup_log.h"

#include <winternl.h>
#include <stdint.h>
#include <stdlib.h>

// Documented for drivers and exported by ntdll to every process; the loader itself asks it.
extern "C" NTSYSAPI NTSTATUS NTAPI NtAreMappedFilesTheSame(PVOID one, PVOID other);

namespace {

HANDLE OwnImage = INVALID_HANDLE_VALUE;

const DWORD kCopyChunk = 65536;

// The thread's last error, or `fallback` when a call failed without setting one (a short read).
DWORD ErrorOr(DWORD fallback)
{
    DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

// Reads `size` bytes at `offset`.
bool ReadAt(HANDLE file, uint64_t offset, void *buffer, DWORD size)
{
    OVERLAPPED at = {};
    at.Offset = (DWORD)offset;
    at.OffsetHigh = (DWORD)(offset >> 32);
    DWORD got = 0;
    return ReadFile(file, buffer, size, &got, &at) && got == size;
}

} // namespace

bool IsFileOfImage(const void *image, HANDLE file)
{
    // Mapped as an image, as the loader maps a program: a section of the same file is the same
    // section, which NtAreMappedFilesTheSame tells apart from any other by the file it was made
    // of, not by what the file holds.
    HANDLE section = CreateFileMappingW(file, nullptr, PAGE_READONLY | SEC_IMAGE, 0, 0, nullptr);
    if (section == nullptr)
        return false;
    void *view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0);
    bool same = view != nullptr && NtAreMappedFilesTheSame((PVOID)image, view) == 0;
    if (view != nullptr)
        UnmapViewOfFile(view);
    CloseHandle(section);
    return same;
}

bool OpenOwnImage()
{
    wchar_t path[1024];
    DWORD length = GetModuleFileNameW(nullptr, path, 1024);
    if (length == 0 || length >= 1024)
        return false;
    OwnImage = CreateFileW(path, GENERIC_READ | GENERIC_EXECUTE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (OwnImage == INVALID_HANDLE_VALUE)
        return false;
    if (GetFileType(OwnImage) == FILE_TYPE_DISK && IsFileOfImage(GetModuleHandleW(nullptr), OwnImage))
        return true;
    CloseHandle(OwnImage);
    OwnImage = INVALID_HANDLE_VALUE;
    return false;
}

DWORD CopyOwnImage(const wchar_t *target)
{
    wchar_t temporary[300];
    if (OwnImage == INVALID_HANDLE_VALUE)
        return ERROR_INVALID_HANDLE;
    if (FormatWide(temporary, 300, L"%s.yeni", target) < 0)
        return ERROR_FILENAME_EXCED_RANGE;
    // Written under a name of its own and put in place whole.
    DeleteFileW(temporary);
    HANDLE copy = CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (copy == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        LogFailedCall("CreateFileW", temporary, error);
        return error;
    }
    uint8_t *chunk = (uint8_t *)malloc(kCopyChunk);
    DWORD error = chunk != nullptr ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
    LARGE_INTEGER size = {};
    if (error == ERROR_SUCCESS && !GetFileSizeEx(OwnImage, &size))
        error = GetLastError();
    for (uint64_t done = 0; error == ERROR_SUCCESS && done < (uint64_t)size.QuadPart;) {
        uint64_t left = (uint64_t)size.QuadPart - done;
        DWORD part = left < kCopyChunk ? (DWORD)left : kCopyChunk;
        DWORD written = 0;
        if (!ReadAt(OwnImage, done, chunk, part)) {
            error = ErrorOr(ERROR_HANDLE_EOF);
            LogFailedCall("ReadFile", L"kurulum programi", error);
        } else if (!WriteFile(copy, chunk, part, &written, nullptr) || written != part) {
            error = ErrorOr(ERROR_WRITE_FAULT);
            LogFailedCall("WriteFile", temporary, error);
        }
        done += part;
    }
    free(chunk);
    if (error == ERROR_SUCCESS && !FlushFileBuffers(copy)) {
        error = GetLastError();
        LogFailedCall("FlushFileBuffers", temporary, error);
    }
    CloseHandle(copy);
    if (error == ERROR_SUCCESS) {
        // An earlier copy from a read-only medium is read-only itself, and could not be replaced.
        SetFileAttributesW(target, FILE_ATTRIBUTE_NORMAL);
        error = MoveRetrying(temporary, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        if (error != ERROR_SUCCESS)
            LogFailedCall("MoveFileExW", target, error);
    }
    if (error != ERROR_SUCCESS)
        DeleteFileW(temporary);
    return error;
}
