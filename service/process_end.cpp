#include "service/process_end.h"

#include "core/setup_log.h"

namespace {

// Enables or disables the debug privilege of the process's token; true when it was changed.
bool SetDebugPrivilege(bool enabled)
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return false;
    TOKEN_PRIVILEGES privileges = {1, {{{0, 0}, enabled ? (DWORD)SE_PRIVILEGE_ENABLED : 0u}}};
    bool changed = LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &privileges.Privileges[0].Luid) &&
                   AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
                   GetLastError() == ERROR_SUCCESS;
    CloseHandle(token);
    return changed;
}

const DWORD kEndAccess = PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION;

} // namespace

HANDLE OpenProcessToEnd(DWORD process_id, DWORD *error)
{
    HANDLE process = OpenProcess(kEndAccess, FALSE, process_id);
    DWORD failure = process != nullptr ? ERROR_SUCCESS : GetLastError();
    if (failure == ERROR_ACCESS_DENIED && SetDebugPrivilege(true)) {
        process = OpenProcess(kEndAccess, FALSE, process_id);
        failure = process != nullptr ? ERROR_SUCCESS : GetLastError();
        SetDebugPrivilege(false);
    }
    if (error != nullptr)
        *error = failure;
    return process;
}

bool ProcessRunsProgram(HANDLE process, const wchar_t *path)
{
    wchar_t image[600];
    DWORD length = 600;
    return QueryFullProcessImageNameW(process, 0, image, &length) &&
           CompareStringOrdinal(image, (int)length, path, -1, TRUE) == CSTR_EQUAL;
}

bool EndProcessAndWait(HANDLE process, DWORD wait_ms, const wchar_t *what)
{
    if (!TerminateProcess(process, 0) && WaitForSingleObject(process, 0) != WAIT_OBJECT_0) {
        LogFailedCall("TerminateProcess", what, GetLastError());
        return false;
    }
    return WaitForSingleObject(process, wait_ms) == WAIT_OBJECT_0;
}
