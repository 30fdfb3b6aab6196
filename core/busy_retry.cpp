#include "core/busy_retry.h"

#include "core/setup_log.h"

namespace {

// The pauses of a whole run together; measured with the tick count.
const ULONGLONG kRetryBudgetMs = 5000;
const DWORD kFirstPauseMs = 50;
ULONGLONG RetryBudgetSpentMs;

} // namespace

bool IsBusyError(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

bool WaitToRetry(DWORD error, const char *call, const wchar_t *subject, unsigned attempt)
{
    if (!IsBusyError(error) || RetryBudgetSpentMs >= kRetryBudgetMs)
        return false;
    if (attempt == 0)
        LogLine("mesgul, yeniden deneniyor: %s %ls (kod %lu)", call, subject, error);
    ULONGLONG pause = (ULONGLONG)kFirstPauseMs << (attempt < 10 ? attempt : 10);
    if (pause > kRetryBudgetMs - RetryBudgetSpentMs)
        pause = kRetryBudgetMs - RetryBudgetSpentMs;
    // Counted as it was meant or as it lasted, whichever is longer, so that the budget runs out
    // however coarse the sleep is.
    ULONGLONG start = GetTickCount64();
    Sleep((DWORD)pause);
    ULONGLONG lasted = GetTickCount64() - start;
    RetryBudgetSpentMs += lasted > pause ? lasted : pause;
    return true;
}

DWORD MoveRetrying(const wchar_t *from, const wchar_t *to, DWORD flags)
{
    return Retrying("MoveFileExW", from, [=] { return ErrorOf(MoveFileExW(from, to, flags)); });
}
