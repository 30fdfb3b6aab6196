#include "core/own_image.h"

#include "core/busy_retry.h"
#include "core/format.h"
#include "core/setup_log.h"

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

HANDLE OwnImage = INVALID_HANDLE_VALUE;

// Far more than the setup will ever be; a larger file is no image of it.
const uint64_t kImageMaxSize = 64ull << 20;
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

// The file's headers and sections, as read from it.
struct FileImage {
    uint8_t *bytes;
    uint64_t size;
    const IMAGE_NT_HEADERS64 *nt; // in bytes, checked to lie inside
};

// The file offset of an image address, or 0 when no section holds it in the file.
uint64_t FileOffsetOf(const FileImage &file, uint32_t rva, uint32_t length)
{
    const IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(file.nt);
    for (WORD i = 0; i < file.nt->FileHeader.NumberOfSections; i++, section++) {
        uint32_t start = section->VirtualAddress;
        if (rva >= start && (uint64_t)rva + length <= (uint64_t)start + section->SizeOfRawData) {
            uint64_t offset = (uint64_t)section->PointerToRawData + (rva - start);
            return offset + length <= file.size ? offset : 0;
        }
    }
    return 0;
}

// Applies the file's base relocations to its bytes, so that they read as the loader left the
// image at `delta` from its preferred base.
bool Relocate(FileImage &file, int64_t delta)
{
    const IMAGE_DATA_DIRECTORY &relocations = file.nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    uint32_t done = 0;
    while (delta != 0 && done + sizeof(IMAGE_BASE_RELOCATION) <= relocations.Size) {
        uint64_t at = FileOffsetOf(file, relocations.VirtualAddress + done, sizeof(IMAGE_BASE_RELOCATION));
        if (at == 0)
            return false;
        IMAGE_BASE_RELOCATION block;
        memcpy(&block, file.bytes + at, sizeof block);
        if (block.SizeOfBlock < sizeof block || done + block.SizeOfBlock > relocations.Size)
            return false;
        for (uint32_t entry = sizeof block; entry + 2 <= block.SizeOfBlock; entry += 2) {
            uint16_t item;
            memcpy(&item, file.bytes + at + entry, 2);
            int type = item >> 12;
            uint32_t width = type == IMAGE_REL_BASED_DIR64 ? 8 : type == IMAGE_REL_BASED_HIGHLOW ? 4 : 0;
            if (type == IMAGE_REL_BASED_ABSOLUTE)
                continue;
            uint64_t target = width != 0 ? FileOffsetOf(file, block.VirtualAddress + (item & 0xFFF), width) : 0;
            if (target == 0)
                return false;
            uint64_t value = 0;
            memcpy(&value, file.bytes + target, width);
            value += (uint64_t)delta;
            memcpy(file.bytes + target, &value, width);
        }
        done += block.SizeOfBlock;
    }
    return true;
}

// Compares image addresses [start, end) of the file and the image, leaving out the one range the
// loader writes there, the import address table.
bool SameBytes(const FileImage &file, uint64_t offset, const uint8_t *image, uint32_t start, uint32_t end)
{
    const IMAGE_DATA_DIRECTORY &imports = file.nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
    uint32_t skip_from = imports.VirtualAddress, skip_to = imports.VirtualAddress + imports.Size;
    for (uint32_t rva = start; rva < end;) {
        uint32_t stop = end;
        if (rva >= skip_from && rva < skip_to) {
            rva = skip_to < end ? skip_to : end;
            continue;
        }
        if (skip_from > rva && skip_from < end)
            stop = skip_from;
        if (memcmp(file.bytes + offset + (rva - start), image + rva, stop - rva) != 0)
            return false;
        rva = stop;
    }
    return true;
}

bool SameImage(FileImage &file, const uint8_t *image)
{
    const IMAGE_DOS_HEADER *dos = (const IMAGE_DOS_HEADER *)image;
    const IMAGE_NT_HEADERS64 *mapped = (const IMAGE_NT_HEADERS64 *)(image + dos->e_lfanew);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || mapped->Signature != IMAGE_NT_SIGNATURE ||
        mapped->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        return false;
    uint32_t headers = mapped->OptionalHeader.SizeOfHeaders;
    uint64_t base_field = (uint64_t)dos->e_lfanew + offsetof(IMAGE_NT_HEADERS64, OptionalHeader.ImageBase);
    if (file.size < headers || base_field + 8 > headers ||
        memcmp(file.bytes, image, (size_t)base_field) != 0 ||
        memcmp(file.bytes + base_field + 8, image + base_field + 8, (size_t)(headers - base_field - 8)) != 0)
        return false;
    // The headers are the same, so the file's section table is the image's.
    file.nt = (const IMAGE_NT_HEADERS64 *)(file.bytes + dos->e_lfanew);
    if ((const uint8_t *)(IMAGE_FIRST_SECTION(file.nt) + file.nt->FileHeader.NumberOfSections) > file.bytes + headers)
        return false;
    if (!Relocate(file, (int64_t)((uint64_t)(uintptr_t)image - file.nt->OptionalHeader.ImageBase)))
        return false;
    const IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(file.nt);
    for (WORD i = 0; i < file.nt->FileHeader.NumberOfSections; i++, section++) {
        uint32_t length = section->SizeOfRawData < section->Misc.VirtualSize ? section->SizeOfRawData
                                                                             : section->Misc.VirtualSize;
        if ((section->Characteristics & IMAGE_SCN_MEM_WRITE) || length == 0)
            continue;
        uint64_t end = (uint64_t)section->VirtualAddress + length;
        if ((uint64_t)section->PointerToRawData + length > file.size || end > mapped->OptionalHeader.SizeOfImage ||
            !SameBytes(file, section->PointerToRawData, image, section->VirtualAddress, (uint32_t)end))
            return false;
    }
    return true;
}

} // namespace

bool ImageMatchesFile(const void *image, HANDLE file)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart <= 0 || (uint64_t)size.QuadPart > kImageMaxSize)
        return false;
    FileImage read = {(uint8_t *)malloc((size_t)size.QuadPart), (uint64_t)size.QuadPart, nullptr};
    bool same = read.bytes != nullptr && ReadAt(file, 0, read.bytes, (DWORD)read.size) &&
                SameImage(read, (const uint8_t *)image);
    free(read.bytes);
    return same;
}

bool OpenOwnImage()
{
    wchar_t path[1024];
    DWORD length = GetModuleFileNameW(nullptr, path, 1024);
    if (length == 0 || length >= 1024)
        return false;
    OwnImage = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (OwnImage == INVALID_HANDLE_VALUE)
        return false;
    if (GetFileType(OwnImage) == FILE_TYPE_DISK && ImageMatchesFile(GetModuleHandleW(nullptr), OwnImage))
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
