#pragma once

#include <windows.h>

// On Windows a file or folder is often busy for a moment: an antivirus program, the search
// indexer or Explorer's icon reader opens every new program right after it is written, and NTFS
// refuses to rename a folder while any file in it is open. A move, copy or deletion that fails so
// is tried again after a growing pause, within one budget of a few seconds for the whole run (so
// that a removal with many files really in use is not slowed by more than that), and only then
// fails as it would have.

// Whether the error is one a moment may cure: a sharing or lock violation, or access denied
// (NTFS's answer for a folder whose files are open, and for a program still being scanned).
bool IsBusyError(DWORD error);

// Called after `call` on `subject` failed with `error` on its `attempt`th try (0 for the first):
// when the error is a busy one and the run's budget is not spent, pauses (50 ms, doubling) and
// returns true, logging the first retry of the operation with its code; otherwise false.
bool WaitToRetry(DWORD error, const char *call, const wchar_t *subject, unsigned attempt);

// Runs `operation`, a call that returns ERROR_SUCCESS or the Windows error it failed with, until
// it works or its failure is not worth another try. ERROR_SUCCESS or the last error, for the
// caller to log.
template <typename Operation>
DWORD Retrying(const char *call, const wchar_t *subject, Operation operation)
{
    for (unsigned attempt = 0;; attempt++) {
        DWORD error = operation();
        if (error == ERROR_SUCCESS || !WaitToRetry(error, call, subject, attempt))
            return error;
    }
}

// For an operation of Retrying that makes a call returning whether it worked: ERROR_SUCCESS, or
// the call's error.
inline DWORD ErrorOf(BOOL worked)
{
    return worked ? ERROR_SUCCESS : GetLastError();
}

// MoveFileExW, tried again while busy.
DWORD MoveRetrying(const wchar_t *from, const wchar_t *to, DWORD flags);
