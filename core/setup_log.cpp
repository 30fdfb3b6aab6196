#include "core/setup_log.h"

#include <windows.h>
#include <stdarg.h>

#include "core/format.h"

wchar_t LogPath[260];

void LogLine(const char *format, ...)
{
    if (LogPath[0] == 0)
        return;

    char message[1024];
    va_list args;
    va_start(args, format);
    FormatNarrowV(message, sizeof message, format, args);
    va_end(args);

    SYSTEMTIME now;
    GetLocalTime(&now);
    char line[1100];
    int length = FormatNarrow(line, sizeof line, "%04u-%02u-%02u %02u:%02u:%02u %s\r\n", now.wYear,
                              now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, message);
    if (length <= 0)
        return;

    HANDLE file = CreateFileW(LogPath, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, line, (DWORD)length, &written, nullptr);
    CloseHandle(file);
}
