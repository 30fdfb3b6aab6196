#pragma once

#include <windows.h>

// Ending a process of another user or of a service, which an administrator's elevated token may
// do only with the debug privilege it holds: that privilege is enabled only around the open, and
// only for a program under the install folder.

// Opens the process to wait for it, read its program and end it. Null when it cannot be opened;
// then *error (when given) receives why: ERROR_INVALID_PARAMETER means there is no such process.
HANDLE OpenProcessToEnd(DWORD process_id, DWORD *error = nullptr);

// Whether the open process is one that was listed as running `image_name` at `listed_at`: it
// runs a program of that name (ASCII case ignored) and was created before that time. A process
// that took the id of a listed one that ended is neither. A failed query is logged.
bool IsListedProcess(HANDLE process, const wchar_t *image_name, const FILETIME *listed_at);

// Whether the open process runs the program at `path` (compared ignoring case).
bool ProcessRunsProgram(HANDLE process, const wchar_t *path);

// Ends the open process and waits up to `wait_ms` for it to be gone; true once it is. The
// failed call's error is logged with `what` as the subject.
bool EndProcessAndWait(HANDLE process, DWORD wait_ms, const wchar_t *what);
