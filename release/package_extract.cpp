#include "release/package_extract.h"

#include "core/setup_log.h"
#include "core/system_library.h"
#include "core/whole_file.h"
#include "release/package_format.h"
#include "release/package_reader.h"
// The one include that points up the layering: a half-unpacked folder is removed with the same
// junction-safe tree removal the uninstaller uses, rather than a second copy of it.
#include "uninstall/remove_tree.h"

#include <compressapi.h>

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

static const size_t kDestinationMaxLength = 244;

DWORD WriteAll(HANDLE file, const void *data, DWORD length)
{
    DWORD written = 0;
    if (!WriteFile(file, data, length, &written, nullptr))
        return GetLastError();
    return written == length ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
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

// The Compression API of cabinet.dll, loaded from the system folder on first use.
struct Decompressor {
    decltype(&CreateDecompressor) create;
    decltype(&Decompress) decompress;
    decltype(&CloseDecompressor) close;
    DECOMPRESSOR_HANDLE handle;
};

static bool OpenDecompressor(Decompressor *d)
{
    // A lookup hands back its error only when it fails, so this is a failed one's.
    DWORD error = ERROR_SUCCESS;
    d->create = LoadSystemFunction<decltype(&CreateDecompressor)>(L"cabinet.dll", "CreateDecompressor", &error);
    d->decompress = LoadSystemFunction<decltype(&Decompress)>(L"cabinet.dll", "Decompress", &error);
    d->close = LoadSystemFunction<decltype(&CloseDecompressor)>(L"cabinet.dll", "CloseDecompressor", &error);
    d->handle = nullptr;
    if (d->create == nullptr || d->decompress == nullptr || d->close == nullptr) {
        LogFailedCall("GetProcAddress", L"cabinet.dll", error);
        return false;
    }
    if (!d->create(COMPRESS_ALGORITHM_LZMS, nullptr, &d->handle)) {
        LogFailedCall("CreateDecompressor", nullptr, GetLastError());
        return false;
    }
    return true;
}

// Method 1 bytes through the Compression API, which must fill exactly the entry's size.
static bool DecompressStored(const uint8_t *stored, uint32_t stored_size, uint8_t *out, uint32_t out_size,
                             void *context)
{
    Decompressor *decompressor = (Decompressor *)context;
    SIZE_T produced = 0;
    return decompressor->decompress(decompressor->handle, (void *)stored, stored_size, out, out_size, &produced) &&
           produced == out_size;
}

// Reads the next entry, unpacks it and writes its file.
static Status ExtractEntry(PackageReader *reader, Decompressor *decompressor, const wchar_t *destination,
                           size_t destination_length)
{
    PackageEntryView entry;
    if (ReadPackageEntry(reader, &entry) != PackageFaultNone)
        return StatusInvalid;
    uint8_t *out = (uint8_t *)malloc((size_t)entry.unpacked_size + 1);
    if (out == nullptr)
        return StatusNoMemory;
    Status status = UnpackPackageEntry(&entry, DecompressStored, decompressor, out) == PackageFaultNone ? StatusOk
                                                                                                         : StatusInvalid;
    wchar_t target[260];
    if (status == StatusOk) {
        char name[kEntryNameMaxLength + 1];
        memcpy(name, entry.name, entry.name_length);
        name[entry.name_length] = 0;
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
            // On the disk before the staging folder becomes the version's folder, which the
            // pointers and the service then name: a power cut must find the files whole.
            DWORD error = WriteAll(file, out, entry.unpacked_size);
            if (error != ERROR_SUCCESS) {
                LogFailedCall("WriteFile", target, error);
                status = StatusIoError;
            } else if (!FlushFileBuffers(file)) {
                LogFailedCall("FlushFileBuffers", target, GetLastError());
                status = StatusIoError;
            }
            CloseHandle(file);
        }
    }
    free(out);
    return status;
}

// The sum of the entries' unpacked sizes, as far as the entries can be read.
static uint64_t UnpackedSize(PackageReader reader)
{
    uint64_t total = 0;
    PackageEntryView entry;
    for (uint32_t i = 0; i < reader.entry_count && ReadPackageEntry(&reader, &entry) == PackageFaultNone; i++)
        total += entry.unpacked_size;
    return total;
}

Status ExtractPackage(const wchar_t *package, const wchar_t *destination, uint32_t *count, uint64_t room,
                      uint64_t *unpacked)
{
    if (package == nullptr || destination == nullptr)
        return StatusInvalid;
    size_t destination_length = wcslen(destination);
    if (destination_length > kDestinationMaxLength || GetFileAttributesW(destination) != INVALID_FILE_ATTRIBUTES)
        return StatusInvalid;

    uint8_t *data;
    uint32_t size;
    if (!ReadWholeFile(package, kPackageMaxSize, true, &data, &size))
        return StatusNotFound;
    PackageReader reader;
    if (OpenPackage(&reader, data, size) != PackageFaultNone) {
        free(data);
        return StatusInvalid;
    }
    uint64_t needed = UnpackedSize(reader);
    if (unpacked != nullptr)
        *unpacked = needed;
    if (needed > room) {
        free(data);
        return StatusBufferTooSmall;
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
        for (uint32_t i = 0; i < reader.entry_count && status == StatusOk; i++)
            status = ExtractEntry(&reader, &decompressor, destination, destination_length);
        if (status == StatusOk && FinishPackage(&reader) != PackageFaultNone)
            status = StatusInvalid;
        if (status != StatusOk)
            DeleteTreePlain(destination);
    }
    decompressor.close(decompressor.handle);
    free(data);
    if (status == StatusOk && count != nullptr)
        *count = reader.entry_count;
    return status;
}
