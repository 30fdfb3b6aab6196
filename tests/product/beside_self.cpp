#include "beside_self.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

bool BesideSelf(const wchar_t *name, wchar_t *path, size_t size)
{
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    wchar_t *slash = wcsrchr(self, L'\\');
    if (slash == nullptr)
        return false;
    slash[1] = 0;
    if (wcslen(self) + wcslen(name) >= size)
        return false;
    wcscpy(path, self);
    wcscat(path, name);
    return true;
}

bool AppendLine(const wchar_t *path, const char *line)
{
    size_t length = strlen(line);
    char *bytes = (char *)malloc(length + 2);
    if (bytes == nullptr)
        return false;
    memcpy(bytes, line, length);
    memcpy(bytes + length, "\r\n", 2);
    bool ok = false;
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        ok = WriteFile(file, bytes, (DWORD)(length + 2), &written, nullptr) && written == length + 2;
        CloseHandle(file);
    }
    free(bytes);
    return ok;
}
