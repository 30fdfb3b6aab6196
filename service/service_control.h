#pragma once

#include <windows.h>

// The product's service and the thin layer over the service control manager through which it is
// queried, stopped, deleted, repointed and started. Every call opens and closes its own handles;
// a service that does not exist counts as stopped and as deleted.

extern const wchar_t kProductServiceName[]; // "Talvor"

// Opens a service with the given access, or returns null with the open's error (above all
// ERROR_SERVICE_DOES_NOT_EXIST) as the thread's last error.
SC_HANDLE SvcOpen(const wchar_t *name, DWORD access);

// Polls every 250 ms until the service reports the wanted state; false on time-out (last error
// ERROR_SERVICE_REQUEST_TIMEOUT) or a failed query. While waiting for SERVICE_RUNNING, a service
// found stopped after 2 s is given up.
bool SvcWaitState(SC_HANDLE service, DWORD wanted_state, DWORD timeout_ms);

// True when the service exists and could be opened; out receives its executable path, empty
// when the configuration could not be read.
bool SvcQueryImagePath(const wchar_t *name, wchar_t *out, size_t capacity);

// The executable path of a service command line: the quoted part, else up to and including the
// first ".exe" (lower case), else the whole rest (a driver path). False when it does not fit.
bool ExtractImagePath(const wchar_t *command_line, wchar_t *out, size_t capacity);

// Asks the service to stop and waits up to 30 s for it, asking again if it was still starting
// when first asked; true when it is stopped or absent. On false the thread's last error is the
// failed open's or query's, or ERROR_SERVICE_REQUEST_TIMEOUT.
bool SvcStop(const wchar_t *name);

// Stops and deletes the service; true when it is gone or marked for deletion. On false the
// thread's last error is the failed step's.
bool SvcStopAndDelete(const wchar_t *name);

// Sets the service to be started by nobody, the next start of Windows included; true when done.
bool SvcKeepFromStarting(const wchar_t *name);

// Points the product's service at the quoted executable and sets it to start automatically.
bool SvcRepoint(const wchar_t *executable);

// Starts the product's service, waits up to 30 s for it to run, and confirms that after 3 s it
// still runs in the same process.
bool SvcStartAndCheck();
