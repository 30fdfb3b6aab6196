#include "service/process_end.h"

#include "core/ascii_case.h"
#include "core/format.h"
#include "core/process_values.h"
#include "core/setup_log.h"

#include <wchar.h>

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

// Whether the program, `length` characters, lies under the install folder, which only
// administrators may write to: a program there is the product's own.
bool IsUnderInstallFolder(const wchar_t *program, DWORD length)
{
    wchar_t folder[262];
    int folder_length = FormatWide(folder, 262, L"%s\\", InstallFolder);
    return InstallFolder[0] != 0 && folder_length > 0 && (DWORD)folder_length < length &&
           CompareStringOrdinal(program, folder_length, folder, folder_length, TRUE) == CSTR_EQUAL;
}

// Opens with the debug privilege, but only a process of the product's own: the privilege opens
// any process, a service or one marked critical (whose end stops Windows) too, and an id that was
// listed may have passed to such a process since. The program is read through an open that an elevated administrator is granted for almost every
// process; that handle is held over the privileged open, so that the id cannot pass to another
// process in between. Null when not opened, with *error set by a failed open (left as it was when
// the privilege is not tried).
HANDLE OpenOwnProcessWithPrivilege(DWORD process_id, DWORD *error)
{
    HANDLE seen = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
    if (seen == nullptr) {
        *error = GetLastError();
        return nullptr;
    }
    HANDLE process = nullptr;
    wchar_t program[600];
    DWORD length = 600;
    if (!QueryFullProcessImageNameW(seen, 0, program, &length)) {
        LogFailedCall("QueryFullProcessImageNameW", nullptr, GetLastError());
    } else if (!IsUnderInstallFolder(program, length)) {
        LogLine("surec kurulum klasoru disinda, hata ayiklama yetkisiyle acilmadi (pid %lu): %ls", process_id,
                program);
    } else if (SetDebugPrivilege(true)) {
        process = OpenProcess(kEndAccess, FALSE, process_id);
        *error = process != nullptr ? ERROR_SUCCESS : GetLastError();
        SetDebugPrivilege(false);
    }
    CloseHandle(seen);
    return process;
}

} // namespace

HANDLE OpenProcessToEnd(DWORD process_id, DWORD *error)
{
    HANDLE process = OpenProcess(kEndAccess, FALSE, process_id);
    DWORD failure = process != nullptr ? ERROR_SUCCESS : GetLastError();
    if (failure == ERROR_ACCESS_DENIED)
        process = OpenOwnProcessWithPrivilege(process_id, &failure);
    if (error != nullptr)
        *error = failure;
    return process;
}

bool IsListedProcess(HANDLE process, const wchar_t *image_name, const FILETIME *listed_at)
{
    wchar_t image[600];
    DWORD length = 600;
    if (!QueryFullProcessImageNameW(process, 0, image, &length)) {
        LogFailedCall("QueryFullProcessImageNameW", image_name, GetLastError());
        return false;
    }
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        LogFailedCall("GetProcessTimes", image_name, GetLastError());
        return false;
    }
    const wchar_t *name = wcsrchr(image, L'\\');
    // The time is taken with the system clock's resolution: one of the same tick may be younger.
    return SameIgnoringAsciiCase(name != nullptr ? name + 1 : image, image_name) &&
           CompareFileTime(&created, listed_at) < 0;
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
