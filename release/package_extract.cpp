#include "release/package_extract.h"

#include "core/setup_log.h"
#include "core/system_library.h"
#include "release/digest.h"
#include "release/entry_name.h"
#include "release/package_format.h"
#include "uninstall/remove_tree.h"

#include <compressapi.h>

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

static const size_t kDestinationMaxLength = 244;

bool ReadWholeFile(const wchar_t *path, uint8_t **buffer, uint32_t *size)
{
    *buffer = nullptr;
    *size = 0;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        LogFailedCall("CreateFileW", path, GetLastError());
        return false;
    }
    LARGE_INTEGER length;
    bool ok = GetFileSizeEx(file, &length) && length.QuadPart <= kPackageMaxSize;
    uint8_t *data = ok ? (uint8_t *)malloc((size_t)length.QuadPart + 1) : nullptr;
    if (data != nullptr && length.QuadPart > 0) {
        DWORD got = 0;
        ok = ReadFile(file, data, (DWORD)length.QuadPart, &got, nullptr) != FALSE;
        if (!ok)
            LogFailedCall("ReadFile", path, GetLastError());
        ok = ok && got == (DWORD)length.QuadPart;
    }
    CloseHandle(file);
    if (data == nullptr || !ok) {
        free(data);
        return false;
    }
    *buffer = data;
    *size = (uint32_t)length.QuadPart;
    return true;
}

bool WriteAll(HANDLE file, const void *data, DWORD length)
{
    DWORD written = 0;
    return WriteFile(file, data, length, &written, nullptr) && written == length;
}

bool CreateParentDirectories(wchar_t *path, size_t base_length)
{
    for (wchar_t *p = path + base_length + 1; *p != 0; p++) {
        if (*p != L'\\')
            continue;
        *p = 0;
        bool made = CreateDirectoryW(path, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
        if (!made)
            LogFailedCall("CreateDirectoryW", path, GetLastError());
        *p = L'\\';
        if (!made)
            return false;
    }
    return true;
}

static uint32_t ReadU32(const uint8_t *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// The Compression API of cabinet.dll, loaded from the system folder on first use.
struct Decompressor {
    decltype(&CreateDecompressor) create;
    decltype(&Decompress) decompress;
    decltype(&CloseDecompressor) close;
    DECOMPRESSOR_HANDLE handle;
};

static bool OpenDecompressor(Decompressor *d)
{
    d->create = LoadSystemFunction<decltype(&CreateDecompressor)>(L"cabinet.dll", "CreateDecompressor");
    d->decompress = LoadSystemFunction<decltype(&Decompress)>(L"cabinet.dll", "Decompress");
    d->close = LoadSystemFunction<decltype(&CloseDecompressor)>(L"cabinet.dll", "CloseDecompressor");
    d->handle = nullptr;
    if (d->create == nullptr || d->decompress == nullptr || d->close == nullptr) {
        LogFailedCall("GetProcAddress", L"cabinet.dll", GetLastError());
        return false;
    }
    if (!d->create(COMPRESS_ALGORITHM_LZMS, nullptr, &d->handle)) {
        LogFailedCall("CreateDecompressor", nullptr, GetLastError());
        return false;
    }
    return true;
}

// Unpacks the entry at *position and writes its file; advances *position past it.
static Status ExtractEntry(const uint8_t *data, uint32_t size, uint32_t *position, Decompressor *decompressor,
                           const wchar_t *destination, size_t destination_length)
{
    uint32_t p = *position;
    if (size - p < kEntryNameLengthSize)
        return StatusInvalid;
    uint32_t name_length = (uint32_t)data[p] | (uint32_t)data[p + 1] << 8;
    p += kEntryNameLengthSize;
    if (name_length < kEntryNameMinLength || name_length > kEntryNameMaxLength || size - p < name_length + kEntryFieldsSize)
        return StatusInvalid;
    char name[kEntryNameMaxLength + 1];
    memcpy(name, data + p, name_length);
    name[name_length] = 0;
    p += name_length;
    uint32_t unpacked_size = ReadU32(data + p + kEntryUnpackedSizeOffset);
    uint32_t stored_size = ReadU32(data + p + kEntryStoredSizeOffset);
    uint8_t method = data[p + kEntryMethodOffset];
    const uint8_t *digest = data + p + kEntryDigestOffset;
    p += kEntryFieldsSize;
    if (!IsSafeEntryName(name, name_length) || stored_size > size - p || unpacked_size > kPackageMaxUnpackedSize ||
        (method != kPackageMethodStored && method != kPackageMethodLzms) ||
        (method == kPackageMethodStored && stored_size != unpacked_size))
        return StatusInvalid;

    uint8_t *out = (uint8_t *)malloc((size_t)unpacked_size + 1);
    if (out == nullptr)
        return StatusNoMemory;
    Status status = StatusOk;
    if (method == kPackageMethodLzms) {
        SIZE_T produced = 0;
        if (!decompressor->decompress(decompressor->handle, (void *)(data + p), stored_size, out, unpacked_size,
                                      &produced) ||
            produced != unpacked_size)
            status = StatusInvalid;
    } else if (stored_size > 0) {
        memcpy(out, data + p, stored_size);
    }
    p += stored_size;

    uint8_t actual[32];
    if (status == StatusOk &&
        (Sha256Buffer(out, unpacked_size, actual) != StatusOk || memcmp(actual, digest, kEntryDigestSize) != 0))
        status = StatusInvalid;

    wchar_t target[260];
    if (status == StatusOk) {
        for (char *c = name; *c != 0; c++)
            if (*c == '/')
                *c = '\\';
        // The destination, a backslash and the converted name must fit with the terminator.
        memcpy(target, destination, destination_length * sizeof(wchar_t));
        target[destination_length] = L'\\';
        int room = (int)(260 - destination_length - 1);
        int converted = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, target + destination_length + 1, room);
        if (converted == 0 || !CreateParentDirectories(target, destination_length))
            status = StatusInvalid;
    }
    if (status == StatusOk) {
        HANDLE file = CreateFileW(target, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            LogFailedCall("CreateFileW", target, GetLastError());
            status = StatusIoError;
        } else {
            if (!WriteAll(file, out, unpacked_size)) {
                LogFailedCall("WriteFile", target, GetLastError());
                status = StatusIoError;
            }
            CloseHandle(file);
        }
    }
    free(out);
    *position = p;
    return status;
}

Status ExtractPackage(const wchar_t *package, const wchar_t *destination, uint32_t *count)
{
    if (package == nullptr || destination == nullptr)
        return StatusInvalid;
    size_t destination_length = wcslen(destination);
    if (destination_length > kDestinationMaxLength || GetFileAttributesW(destination) != INVALID_FILE_ATTRIBUTES)
        return StatusInvalid;

    uint8_t *data;
    uint32_t size;
    if (!ReadWholeFile(package, &data, &size))
        return StatusNotFound;
    uint32_t entries = size >= kPackageHeaderSize ? ReadU32(data + 4) : 0;
    if (size < kPackageHeaderSize || memcmp(data, kPackageMagic, 4) != 0 || entries < kPackageMinEntries ||
        entries > kPackageMaxEntries) {
        free(data);
        return StatusInvalid;
    }
    Decompressor decompressor;
    if (!OpenDecompressor(&decompressor)) {
        free(data);
        return StatusIoError;
    }
    Status status = StatusOk;
    if (!CreateDirectoryW(destination, nullptr)) {
        LogFailedCall("CreateDirectoryW", destination, GetLastError());
        status = StatusIoError;
    } else {
        uint32_t position = kPackageHeaderSize;
        for (uint32_t i = 0; i < entries && status == StatusOk; i++)
            status = ExtractEntry(data, size, &position, &decompressor, destination, destination_length);
        if (status == StatusOk && position != size)
            status = StatusInvalid; // trailing bytes after the last entry
        if (status != StatusOk)
            DeleteTreePlain(destination);
    }
    decompressor.close(decompressor.handle);
    free(data);
    if (status == StatusOk && count != nullptr)
        *count = entries;
    return status;
}
