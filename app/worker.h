#pragma once

#include <windows.h>

// The body of every run: the install or the removal sequence, on a COM single-threaded
// apartment. Leaves the result in Progress.succeeded, then raises Progress.worker_done.
// The parameter is ignored; the result is always 0.
DWORD WINAPI WorkerThread(void *unused);
