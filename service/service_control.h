#pragma once

#include <windows.h>

// The product's service and the thin layer over the service control manager through which it is
// queried, stopped, deleted, repointed and started. Every call opens and closes its own handles;
// a service that does not exist counts as stopped and as deleted.

extern const wchar_t kProductServiceName[]; // "Talvor"

// Opens a service with the given access, or returns null and hands back the open's error in
// *error (above all ERROR_SERVICE_DOES_NOT_EXIST). A service that is absent or marked for
// deletion is not logged: callers decide whether that is a failure.
SC_HANDLE SvcOpen(const wchar_t *name, DWORD access, DWORD *error);

// True when the service exists and could be opened; out receives its executable path, empty
// when the configuration could not be read.
bool SvcQueryImagePath(const wchar_t *name, wchar_t *out, size_t capacity);

// The executable path of a service command line: the quoted part, else up to and including the
// first ".exe" (lower case), else the whole rest (a driver path). False when it does not fit.
bool ExtractImagePath(const wchar_t *command_line, wchar_t *out, size_t capacity);

// Asks the service to stop and waits up to 30 s for it, asking again if it was still starting
// when first asked; true when it is stopped or absent. A service whose process has ended is
// stopped, whatever state the manager reports. One that does not stop in time has its own
// process ended, as Windows does at shutdown, when that process still runs the service's program
// from the version store; after a stop, its process is given 10 s to end, and then ended too.
// On false *error (when given) receives the failed open's, control's or query's error, or
// ERROR_SERVICE_REQUEST_TIMEOUT.
bool SvcStop(const wchar_t *name, DWORD *error = nullptr);

// Waits up to 30 s while the service is marked for deletion (another program still holds a
// handle to it, and no registration of the name can be made); *was_marked tells whether it was.
// True when the name can be used: the service is gone, or was never marked.
bool SvcWaitWhileMarkedForDeletion(const wchar_t *name, bool *was_marked);

// Stops and deletes the service; true when it is gone or marked for deletion. On false *error
// (when given) receives the failed step's error.
bool SvcStopAndDelete(const wchar_t *name, DWORD *error = nullptr);

// Sets the service to be started by nobody, the next start of Windows included; true when done.
bool SvcKeepFromStarting(const wchar_t *name);

// Points the product's service at the quoted executable and sets it to start automatically.
// Every failure is logged here, a service that is gone and a path too long to quote included.
bool SvcRepoint(const wchar_t *executable);

// Starts the product's service, waits up to 30 s for it to run, and confirms that after 3 s it
// still runs in the same process; a service whose process has ended counts as stopped.
bool SvcStartAndCheck();
