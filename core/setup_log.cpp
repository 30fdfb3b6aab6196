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

void LogFailedCall(const char *call, const wchar_t *subject, unsigned long code, const char *kind)
{
    // Callers go on to read the thread's last error after logging.
    DWORD kept = GetLastError();
    char code_text[16];
    FormatNarrow(code_text, sizeof code_text, (code & 0x80000000UL) ? "0x%08lX" : "%lu", code);
    LogLine("%s basarisiz%s%ls (kod %s%s%s)", call, subject != nullptr ? ": " : "", subject != nullptr ? subject : L"",
            code_text, kind != nullptr ? ", " : "", kind != nullptr ? kind : "");
    SetLastError(kept);
}
