#include "service/service_control.h"

#include "core/format.h"
#include "core/process_values.h"
#include "core/setup_log.h"
#include "service/process_end.h"

#include <stdlib.h>
#include <string.h>

const wchar_t kProductServiceName[] = L"Talvor";

static const DWORD kPollMs = 250;
static const DWORD kStopTimeoutMs = 30000;
static const DWORD kStartTimeoutMs = 30000;
static const ULONGLONG kEarlyStopGraceMs = 2000;
static const DWORD kStabilityPauseMs = 3000;
// How long a service's process may take to end after the service reported stopped, or after it
// was ended; its program and libraries stay in use until then.
static const DWORD kProcessEndMs = 10000;

// A service that is absent or already on its way out.
static bool IsGone(DWORD error)
{
    return error == ERROR_SERVICE_DOES_NOT_EXIST || error == ERROR_SERVICE_MARKED_FOR_DELETE;
}

SC_HANDLE SvcOpen(const wchar_t *name, DWORD access, DWORD *error)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        *error = GetLastError();
        LogFailedCall("OpenSCManagerW", name, *error);
        return nullptr;
    }
    SC_HANDLE service = OpenServiceW(manager, name, access);
    *error = service != nullptr ? ERROR_SUCCESS : GetLastError();
    // A service that is gone is what some callers look for; they log it where it is a failure.
    if (service == nullptr && !IsGone(*error))
        LogFailedCall("OpenServiceW", name, *error);
    CloseServiceHandle(manager);
    return service;
}

// Opens the product's service that the caller has just seen or registered: gone is a failure too.
static SC_HANDLE OpenRegisteredService(DWORD access)
{
    DWORD error;
    SC_HANDLE service = SvcOpen(kProductServiceName, access, &error);
    if (service == nullptr && IsGone(error))
        LogFailedCall("OpenServiceW", kProductServiceName, error);
    return service;
}

// ERROR_SUCCESS, or the query's error.
static DWORD QueryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS *status)
{
    DWORD needed = 0;
    if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (BYTE *)status, sizeof *status, &needed))
        return ERROR_SUCCESS;
    return GetLastError();
}

// The process a service runs in, followed from the first status that names it: a service whose
// process has ended is stopped, whatever state the manager still reports (Wine reports one whose
// process ended while starting as start-pending for ever).
struct ServiceProcess {
    wchar_t program[520]; // the service's configured program; empty when it could not be read
    DWORD id;
    HANDLE handle; // held, so that a new process under the same id is never taken for it
    bool ended;
};

// The configured program of an open service (SERVICE_QUERY_CONFIG), empty when it cannot be read.
static void ReadProgram(SC_HANDLE service, wchar_t *out, size_t capacity)
{
    out[0] = 0;
    DWORD needed = 0;
    QueryServiceConfigW(service, nullptr, 0, &needed);
    QUERY_SERVICE_CONFIGW *config = needed > 0 ? (QUERY_SERVICE_CONFIGW *)malloc(needed) : nullptr;
    if (config != nullptr && QueryServiceConfigW(service, config, needed, &needed) && config->lpBinaryPathName &&
        !ExtractImagePath(config->lpBinaryPathName, out, capacity)) {
        wcsncpy(out, config->lpBinaryPathName, capacity - 1);
        out[capacity - 1] = 0;
    }
    free(config);
}

static void StartFollowing(SC_HANDLE service, ServiceProcess *process)
{
    ReadProgram(service, process->program, 520);
    process->id = 0;
    process->handle = nullptr;
    process->ended = false;
}

static void StopFollowing(ServiceProcess *process)
{
    if (process->handle != nullptr)
        CloseHandle(process->handle);
    process->handle = nullptr;
}

// Takes the process the status names; true when the service's own process has ended: it is
// gone, or another program now has its id.
static bool ProcessEnded(ServiceProcess *process, DWORD id)
{
    if (id != 0 && id != process->id) {
        StopFollowing(process);
        DWORD error;
        process->id = id;
        process->handle = OpenProcessToEnd(id, &error);
        process->ended = process->handle == nullptr && error == ERROR_INVALID_PARAMETER;
        if (process->handle != nullptr && process->program[0] != 0 &&
            !ProcessRunsProgram(process->handle, process->program)) {
            StopFollowing(process);
            process->ended = true;
        }
    }
    if (process->handle != nullptr && WaitForSingleObject(process->handle, 0) == WAIT_OBJECT_0)
        process->ended = true;
    return process->ended;
}

// The state, SERVICE_STOPPED when the service's process has ended; ERROR_SUCCESS or the
// query's error.
static DWORD QueryState(SC_HANDLE service, ServiceProcess *process, DWORD *state)
{
    SERVICE_STATUS_PROCESS status;
    DWORD error = QueryStatus(service, &status);
    if (error == ERROR_SUCCESS)
        *state = ProcessEnded(process, status.dwProcessId) ? (DWORD)SERVICE_STOPPED : status.dwCurrentState;
    return error;
}

// Whether the program lies in the product's version store: only such a service process is ever
// ended by the setup.
static bool IsStoreProgram(const wchar_t *program)
{
    wchar_t store[300];
    int length = FormatWide(store, 300, L"%s\\surumler\\", InstallFolder);
    return InstallFolder[0] != 0 && length > 0 && wcslen(program) > (size_t)length &&
           CompareStringOrdinal(program, length, store, length, TRUE) == CSTR_EQUAL;
}

// Ends the service's own process, the one followed since the wait began; true once it is gone.
static bool EndServiceProcess(ServiceProcess *process, const wchar_t *name)
{
    if (process->handle == nullptr || !IsStoreProgram(process->program))
        return false;
    LogLine("%ls hizmetinin sureci sonlandiriliyor (pid %lu): %ls", name, process->id, process->program);
    process->ended = EndProcessAndWait(process->handle, kProcessEndMs, process->program);
    if (!process->ended)
        LogLine("hizmet sureci sonlandirilamadi (pid %lu)", process->id);
    return process->ended;
}

// Polls every 250 ms until the service reports the wanted state, its process followed; false on
// time-out or a failed query. While waiting for SERVICE_RUNNING, a service found stopped after
// 2 s is given up.
static bool WaitForState(SC_HANDLE service, ServiceProcess *process, DWORD wanted_state, DWORD timeout_ms)
{
    ULONGLONG start = GetTickCount64();
    for (;;) {
        DWORD state;
        if (QueryState(service, process, &state) != ERROR_SUCCESS)
            return false;
        if (state == wanted_state)
            return true;
        ULONGLONG waited = GetTickCount64() - start;
        if (wanted_state == SERVICE_RUNNING && state == SERVICE_STOPPED && waited > kEarlyStopGraceMs)
            return false;
        if (waited >= timeout_ms)
            return false;
        Sleep(kPollMs);
    }
}

bool SvcQueryImagePath(const wchar_t *name, wchar_t *out, size_t capacity)
{
    if (capacity > 0)
        out[0] = 0;
    DWORD error;
    SC_HANDLE service = SvcOpen(name, SERVICE_QUERY_CONFIG, &error);
    if (service == nullptr)
        return false;
    if (capacity > 0)
        ReadProgram(service, out, capacity);
    CloseServiceHandle(service);
    return true;
}

bool ExtractImagePath(const wchar_t *command_line, wchar_t *out, size_t capacity)
{
    if (command_line == nullptr || capacity == 0)
        return false;
    const wchar_t *start = command_line;
    while (*start == L' ')
        start++;
    size_t length;
    if (*start == L'"') {
        start++;
        const wchar_t *close = wcschr(start, L'"');
        if (close == nullptr)
            return false;
        length = (size_t)(close - start);
    } else {
        const wchar_t *exe = wcsstr(start, L".exe");
        length = exe != nullptr ? (size_t)(exe + 4 - start) : wcslen(start);
    }
    if (length == 0 || length >= capacity)
        return false;
    memcpy(out, start, length * sizeof(wchar_t));
    out[length] = 0;
    return true;
}

bool SvcStop(const wchar_t *name, DWORD *error)
{
    DWORD failure;
    SC_HANDLE service = SvcOpen(name, SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG, &failure);
    if (service == nullptr) {
        if (error != nullptr)
            *error = failure;
        return failure == ERROR_SERVICE_DOES_NOT_EXIST;
    }
    ServiceProcess process;
    StartFollowing(service, &process);
    // A service still starting may not take the control yet; it is asked again once it runs, so
    // that a slow start is stopped rather than left to reach running after the wait.
    ULONGLONG start = GetTickCount64();
    DWORD refused = ERROR_SERVICE_NOT_ACTIVE;
    DWORD waited = ERROR_SUCCESS;
    bool asked = false, stopped = false;
    for (;;) {
        DWORD state;
        waited = QueryState(service, &process, &state);
        if (waited != ERROR_SUCCESS)
            break;
        if (state == SERVICE_STOPPED) {
            stopped = true;
            break;
        }
        if (!asked && state != SERVICE_STOP_PENDING) {
            SERVICE_STATUS status;
            asked = ControlService(service, SERVICE_CONTROL_STOP, &status) != 0;
            refused = asked ? ERROR_SUCCESS : GetLastError();
        }
        if (GetTickCount64() - start >= kStopTimeoutMs) {
            waited = ERROR_SERVICE_REQUEST_TIMEOUT;
            break;
        }
        Sleep(kPollMs);
    }
    if (!stopped) {
        // A refused control explains the failure better than the wait after it; a control that
        // went unanswered ends the wait with a time-out (1053), which is the control's failure too.
        bool control_failed = refused != ERROR_SUCCESS && refused != ERROR_SERVICE_NOT_ACTIVE &&
                              refused != ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
        bool unanswered = waited == ERROR_SERVICE_REQUEST_TIMEOUT;
        failure = control_failed ? refused : waited;
        LogFailedCall(control_failed || unanswered ? "ControlService" : "QueryServiceStatusEx", name, failure);
        // As Windows does at shutdown with a service that does not stop in time.
        stopped = unanswered && EndServiceProcess(&process, name);
        if (!stopped && error != nullptr)
            *error = failure;
    } else if (process.handle != nullptr && !process.ended &&
               WaitForSingleObject(process.handle, kProcessEndMs) == WAIT_TIMEOUT) {
        // Reported stopped, its process still holds the program and its libraries.
        LogLine("%ls hizmeti durdu ama sureci %lu ms icinde bitmedi", name, kProcessEndMs);
        EndServiceProcess(&process, name);
    }
    StopFollowing(&process);
    CloseServiceHandle(service);
    return stopped;
}

bool SvcStopAndDelete(const wchar_t *name, DWORD *error)
{
    SvcStop(name);
    DWORD failure;
    SC_HANDLE service = SvcOpen(name, DELETE, &failure);
    if (service != nullptr) {
        failure = DeleteService(service) ? ERROR_SUCCESS : GetLastError();
        if (failure != ERROR_SUCCESS && !IsGone(failure))
            LogFailedCall("DeleteService", name, failure);
        CloseServiceHandle(service);
    }
    bool deleted = failure == ERROR_SUCCESS || IsGone(failure);
    if (!deleted && error != nullptr)
        *error = failure;
    return deleted;
}

bool SvcWaitWhileMarkedForDeletion(const wchar_t *name, bool *was_marked)
{
    *was_marked = false;
    for (ULONGLONG start = GetTickCount64();; Sleep(kPollMs)) {
        DWORD error;
        SC_HANDLE service = SvcOpen(name, SERVICE_CHANGE_CONFIG, &error);
        // A change that changes nothing tells a marked service from a live one.
        if (service != nullptr) {
            error = ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr,
                                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)
                        ? ERROR_SUCCESS
                        : GetLastError();
            CloseServiceHandle(service);
        }
        if (error != ERROR_SERVICE_MARKED_FOR_DELETE)
            return true;
        if (!*was_marked)
            LogLine("%ls hizmeti silinmek uzere isaretli; adinin bosalmasi bekleniyor", name);
        *was_marked = true;
        if (GetTickCount64() - start >= kStopTimeoutMs) {
            LogLine("%ls hizmetinin adi %lu ms icinde bosalmadi", name, kStopTimeoutMs);
            return false;
        }
    }
}

bool SvcKeepFromStarting(const wchar_t *name)
{
    DWORD error;
    SC_HANDLE service = SvcOpen(name, SERVICE_CHANGE_CONFIG, &error);
    if (service == nullptr)
        return false;
    bool changed = ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE, nullptr,
                                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) != 0;
    if (!changed)
        LogFailedCall("ChangeServiceConfigW", name, GetLastError());
    CloseServiceHandle(service);
    return changed;
}

bool SvcRepoint(const wchar_t *executable)
{
    wchar_t image[264];
    if (FormatWide(image, 264, L"\"%s\"", executable) < 0) {
        LogLine("hizmet yolu cok uzun: %ls", executable);
        return false;
    }
    SC_HANDLE service = OpenRegisteredService(SERVICE_CHANGE_CONFIG);
    if (service == nullptr)
        return false;
    bool changed = ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE, image,
                                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) != 0;
    if (!changed)
        LogFailedCall("ChangeServiceConfigW", kProductServiceName, GetLastError());
    CloseServiceHandle(service);
    return changed;
}

bool SvcStartAndCheck()
{
    // Gone here means the registration just made or repointed is gone.
    SC_HANDLE service = OpenRegisteredService(SERVICE_START | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG);
    if (service == nullptr)
        return false;
    ServiceProcess process;
    StartFollowing(service, &process);
    bool healthy = false;
    SERVICE_STATUS_PROCESS status;
    DWORD started = StartServiceW(service, 0, nullptr) ? ERROR_SUCCESS : GetLastError();
    if (started != ERROR_SUCCESS && started != ERROR_SERVICE_ALREADY_RUNNING) {
        LogLine("hizmet baslatilamadi (kod %lu)", started);
    } else if (WaitForState(service, &process, SERVICE_RUNNING, kStartTimeoutMs) &&
               QueryStatus(service, &status) == ERROR_SUCCESS) {
        // A service that crashed and was restarted during the pause runs in another process; one
        // that crashed may still be reported running.
        DWORD process_id = status.dwProcessId;
        Sleep(kStabilityPauseMs);
        healthy = QueryStatus(service, &status) == ERROR_SUCCESS && status.dwCurrentState == SERVICE_RUNNING &&
                  status.dwProcessId == process_id && !ProcessEnded(&process, process_id);
    }
    if (!healthy && process.ended)
        LogLine("hizmetin sureci sona erdi (pid %lu)", process.id);
    StopFollowing(&process);
    CloseServiceHandle(service);
    return healthy;
}
