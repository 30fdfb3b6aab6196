#include "service/service_control.h"

#include "core/format.h"
#include "core/setup_log.h"

#include <stdlib.h>
#include <string.h>

const wchar_t kProductServiceName[] = L"Talvor";

static const DWORD kPollMs = 250;
static const DWORD kStopTimeoutMs = 30000;
static const DWORD kStartTimeoutMs = 30000;
static const ULONGLONG kEarlyStopGraceMs = 2000;
static const DWORD kStabilityPauseMs = 3000;

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

bool SvcWaitState(SC_HANDLE service, DWORD wanted_state, DWORD timeout_ms)
{
    ULONGLONG start = GetTickCount64();
    for (;;) {
        SERVICE_STATUS_PROCESS status;
        if (QueryStatus(service, &status) != ERROR_SUCCESS)
            return false;
        if (status.dwCurrentState == wanted_state)
            return true;
        ULONGLONG waited = GetTickCount64() - start;
        if (wanted_state == SERVICE_RUNNING && status.dwCurrentState == SERVICE_STOPPED && waited > kEarlyStopGraceMs)
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
    DWORD needed = 0;
    QueryServiceConfigW(service, nullptr, 0, &needed);
    QUERY_SERVICE_CONFIGW *config = needed > 0 ? (QUERY_SERVICE_CONFIGW *)malloc(needed) : nullptr;
    if (config != nullptr && QueryServiceConfigW(service, config, needed, &needed) && config->lpBinaryPathName &&
        capacity > 0 && !ExtractImagePath(config->lpBinaryPathName, out, capacity)) {
        wcsncpy(out, config->lpBinaryPathName, capacity - 1);
        out[capacity - 1] = 0;
    }
    free(config);
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
    SC_HANDLE service = SvcOpen(name, SERVICE_STOP | SERVICE_QUERY_STATUS, &failure);
    if (service == nullptr) {
        if (error != nullptr)
            *error = failure;
        return failure == ERROR_SERVICE_DOES_NOT_EXIST;
    }
    // A service still starting may not take the control yet; it is asked again once it runs, so
    // that a slow start is stopped rather than left to reach running after the wait.
    ULONGLONG start = GetTickCount64();
    DWORD refused = ERROR_SERVICE_NOT_ACTIVE;
    DWORD waited = ERROR_SUCCESS;
    bool asked = false, stopped = false;
    for (;;) {
        SERVICE_STATUS_PROCESS current;
        waited = QueryStatus(service, &current);
        if (waited != ERROR_SUCCESS)
            break;
        if (current.dwCurrentState == SERVICE_STOPPED) {
            stopped = true;
            break;
        }
        if (!asked && current.dwCurrentState != SERVICE_STOP_PENDING) {
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
        if (error != nullptr)
            *error = failure;
    }
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
    SC_HANDLE service = OpenRegisteredService(SERVICE_START | SERVICE_QUERY_STATUS);
    if (service == nullptr)
        return false;
    bool healthy = false;
    SERVICE_STATUS_PROCESS status;
    DWORD started = StartServiceW(service, 0, nullptr) ? ERROR_SUCCESS : GetLastError();
    if (started != ERROR_SUCCESS && started != ERROR_SERVICE_ALREADY_RUNNING) {
        LogLine("hizmet baslatilamadi (kod %lu)", started);
    } else if (SvcWaitState(service, SERVICE_RUNNING, kStartTimeoutMs) &&
               QueryStatus(service, &status) == ERROR_SUCCESS) {
        // A service that crashed and was restarted during the pause runs in another process.
        DWORD process_id = status.dwProcessId;
        Sleep(kStabilityPauseMs);
        healthy = QueryStatus(service, &status) == ERROR_SUCCESS && status.dwCurrentState == SERVICE_RUNNING &&
                  status.dwProcessId == process_id;
    }
    CloseServiceHandle(service);
    return healthy;
}
