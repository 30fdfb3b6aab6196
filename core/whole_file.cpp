#include "core/whole_file.h"

#include "core/setup_log.h"

#include <windows.h>

#include <stdlib.h>

bool ReadWholeFile(const wchar_t *path, uint32_t max_size, bool open_link_itself, uint8_t **buffer, uint32_t *size)
{
    *buffer = nullptr;
    *size = 0;
    // The path may lie in a folder the user's programs write, and lead to a named pipe of theirs:
    // the pipe's server gets no more than an identification of the elevated setup, and nothing
    // but a file on a disk is read.
    DWORD flags = (open_link_itself ? FILE_FLAG_OPEN_REPARSE_POINT : FILE_ATTRIBUTE_NORMAL) | SECURITY_SQOS_PRESENT |
                  SECURITY_IDENTIFICATION;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        LogFailedCall("CreateFileW", path, GetLastError());
        return false;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        LogLine("disk dosyasi degil, okunmadi: %ls", path);
        CloseHandle(file);
        return false;
    }
    LARGE_INTEGER length;
    bool ok = GetFileSizeEx(file, &length) && (uint64_t)length.QuadPart <= max_size;
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
