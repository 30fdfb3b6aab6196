#include "core/progress_state.h"

#include <stdarg.h>

#include "core/format.h"
#include "core/setup_log.h"

ProgressState Progress;

void SetStatus(const wchar_t *text, unsigned percent, unsigned marquee)
{
    AcquireSRWLockExclusive(&Progress.status_lock);
    const size_t room = sizeof Progress.status_text / sizeof Progress.status_text[0] - 1;
    size_t i = 0;
    for (; i < room && text[i] != 0; i++)
        Progress.status_text[i] = text[i];
    for (; i <= room; i++)
        Progress.status_text[i] = 0;
    Progress.percent = percent < 100 ? percent : 100;
    Progress.marquee = marquee;
    ReleaseSRWLockExclusive(&Progress.status_lock);
}

bool CancelRequested()
{
    return Progress.cancel_requested != 0 && Progress.cancel_locked == 0;
}

void RaiseFlag(volatile LONG *flag)
{
    InterlockedExchange(flag, 1);
}

bool ReportError(const wchar_t *format, ...)
{
    // A text too long is cut to the 1023 characters that fit before the terminator.
    va_list args;
    va_start(args, format);
    FormatWideV(Progress.result_text, sizeof Progress.result_text / sizeof Progress.result_text[0], format, args);
    va_end(args);

    char utf8[1500];
    int length = WideCharToMultiByte(CP_UTF8, 0, Progress.result_text, -1, utf8, sizeof utf8, nullptr, nullptr);
    if (length == 0) {
        // Too long for the log buffer: log the first 499 characters, which always fit (at most
        // three bytes each), without splitting a surrogate pair. The page shows the whole text.
        int count = 499;
        if (IS_HIGH_SURROGATE(Progress.result_text[count - 1]))
            count--;
        length = WideCharToMultiByte(CP_UTF8, 0, Progress.result_text, count, utf8, sizeof utf8 - 1, nullptr, nullptr);
        utf8[length] = 0;
    }
    LogLine("HATA: %s", utf8);
    return false;
}
