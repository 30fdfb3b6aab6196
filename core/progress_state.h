#pragma once

#include <windows.h>

// The one channel between the worker thread and the pages. Zero at start. The status triple is
// written under status_lock held exclusively and read under it held shared; the three flags go
// from 0 to 1 by atomic exchange and are never cleared; succeeded and result_text are written by
// the worker before it raises worker_done, so whoever sees worker_done also sees the outcome.
struct ProgressState {
    SRWLOCK status_lock;
    wchar_t status_text[256]; // at most 255 used
    unsigned percent;         // 0 to 100
    unsigned marquee;
    volatile LONG worker_done;
    volatile LONG cancel_requested;
    volatile LONG cancel_locked;
    int succeeded;
    wchar_t result_text[1024]; // at most 1023 used
};

extern ProgressState Progress;

// Stores at most 255 characters of `text`, the percentage capped at 100 and the marquee flag.
void SetStatus(const wchar_t *text, unsigned percent, unsigned marquee);

// True when the user asked to cancel and the work has not passed the point of no return.
bool CancelRequested();

// Raises one of the flags of Progress (worker_done, cancel_requested, cancel_locked).
void RaiseFlag(volatile LONG *flag);

// Replaces result_text with the formatted message, logs it with "HATA: " and returns false, so
// that a failing step can end with `return ReportError(...)`.
bool ReportError(const wchar_t *format, ...);
