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

SC_HANDLE SvcOpen(const wchar_t *name, DWORD access)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        LogFailedCall("OpenSCManagerW", name, GetLastError());
        return nullptr;
    }
    SC_HANDLE service = OpenServiceW(manager, name, access);
    DWORD error = GetLastError();
    // A service that is absent or already on its way out is what the callers look for, no failure.
    if (service == nullptr && error != ERROR_SERVICE_DOES_NOT_EXIST && error != ERROR_SERVICE_MARKED_FOR_DELETE)
        LogFailedCall("OpenServiceW", name, error);
    CloseServiceHandle(manager);
    SetLastError(error);
    return service;
}

static bool QueryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS *status)
{
    DWORD needed = 0;
    return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (BYTE *)status, sizeof *status, &needed) != 0;
}

bool SvcWaitState(SC_HANDLE service, DWORD wanted_state, DWORD timeout_ms)
{
    ULONGLONG start = GetTickCount64();
    for (;;) {
        SERVICE_STATUS_PROCESS status;
        if (!QueryStatus(service, &status))
            return false;
        if (status.dwCurrentState == wanted_state)
            return true;
        ULONGLONG waited = GetTickCount64() - start;
        if (wanted_state == SERVICE_RUNNING && status.dwCurrentState == SERVICE_STOPPED && waited > kEarlyStopGraceMs)
            return false;
        if (waited >= timeout_ms) {
            SetLastError(ERROR_SERVICE_REQUEST_TIMEOUT);
            return false;
        }
        Sleep(kPollMs);
    }
}

bool SvcQueryImagePath(const wchar_t *name, wchar_t *out, size_t capacity)
{
    if (capacity > 0)
        out[0] = 0;
    SC_HANDLE service = SvcOpen(name, SERVICE_QUERY_CONFIG);
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

bool SvcStop(const wchar_t *name)
{
    SC_HANDLE service = SvcOpen(name, SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (service == nullptr)
        return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    // A service still starting may not take the control yet; it is asked again once it runs, so
    // that a slow start is stopped rather than left to reach running after the wait.
    ULONGLONG start = GetTickCount64();
    DWORD refused = ERROR_SERVICE_NOT_ACTIVE;
    DWORD error = ERROR_SUCCESS;
    bool asked = false, stopped = false;
    for (;;) {
        SERVICE_STATUS_PROCESS current;
        if (!QueryStatus(service, &current)) {
            error = GetLastError();
            break;
        }
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
            error = ERROR_SERVICE_REQUEST_TIMEOUT;
            break;
        }
        Sleep(kPollMs);
    }
    if (!stopped) {
        // A refused control explains the failure better than the wait after it; a control that
        // went unanswered ends the wait with a time-out (1053), which is the control's failure too.
        bool control_failed = refused != ERROR_SUCCESS && refused != ERROR_SERVICE_NOT_ACTIVE &&
                              refused != ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
        bool unanswered = error == ERROR_SERVICE_REQUEST_TIMEOUT;
        LogFailedCall(control_failed || unanswered ? "ControlService" : "QueryServiceStatusEx", name,
                      control_failed ? refused : error);
    }
    CloseServiceHandle(service);
    SetLastError(error);
    return stopped;
}

bool SvcStopAndDelete(const wchar_t *name)
{
    SvcStop(name);
    SC_HANDLE service = SvcOpen(name, DELETE);
    if (service == nullptr)
        return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST || GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
    bool deleted = DeleteService(service) || GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
    DWORD error = GetLastError();
    if (!deleted)
        LogFailedCall("DeleteService", name, error);
    CloseServiceHandle(service);
    SetLastError(error);
    return deleted;
}

bool SvcKeepFromStarting(const wchar_t *name)
{
    SC_HANDLE service = SvcOpen(name, SERVICE_CHANGE_CONFIG);
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
    SC_HANDLE service = SvcOpen(kProductServiceName, SERVICE_CHANGE_CONFIG);
    if (service == nullptr)
        return false;
    wchar_t image[264];
    bool changed = FormatWide(image, 264, L"\"%s\"", executable) >= 0;
    if (changed && !ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE, image,
                                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)) {
        LogFailedCall("ChangeServiceConfigW", kProductServiceName, GetLastError());
        changed = false;
    }
    CloseServiceHandle(service);
    return changed;
}

bool SvcStartAndCheck()
{
    SC_HANDLE service = SvcOpen(kProductServiceName, SERVICE_START | SERVICE_QUERY_STATUS);
    if (service == nullptr) {
        // Absent here means the registration just made or repointed is gone: a failure too.
        if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST)
            LogFailedCall("OpenServiceW", kProductServiceName, ERROR_SERVICE_DOES_NOT_EXIST);
        return false;
    }
    bool healthy = false;
    SERVICE_STATUS_PROCESS status;
    if (!StartServiceW(service, 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
        LogLine("hizmet baslatilamadi (kod %lu)", GetLastError());
    } else if (SvcWaitState(service, SERVICE_RUNNING, kStartTimeoutMs) && QueryStatus(service, &status)) {
        // A service that crashed and was restarted during the pause runs in another process.
        DWORD process_id = status.dwProcessId;
        Sleep(kStabilityPauseMs);
        healthy = QueryStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING &&
                  status.dwProcessId == process_id;
    }
    CloseServiceHandle(service);
    return healthy;
}
