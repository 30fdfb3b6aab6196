#include "uninstall/user_rights.h"

#include "core/folder_walk.h"
#include "core/format.h"
#include "core/setup_log.h"
#include "core/system_library.h"

#include <sddl.h>
#include <userenv.h>

#include <stdlib.h>

namespace {

// The user of a token, in a heap block the caller frees, or null.
TOKEN_USER *UserOf(HANDLE token)
{
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    TOKEN_USER *user = size != 0 ? (TOKEN_USER *)malloc(size) : nullptr;
    if (user != nullptr && !GetTokenInformation(token, TokenUser, user, size, &size)) {
        free(user);
        user = nullptr;
    }
    return user;
}

bool SameUser(HANDLE one, HANDLE other)
{
    TOKEN_USER *first = UserOf(one);
    TOKEN_USER *second = UserOf(other);
    bool same = first != nullptr && second != nullptr && EqualSid(first->User.Sid, second->User.Sid);
    free(first);
    free(second);
    return same;
}

// The unelevated token Windows links to an elevated one; usable only when it is more than an
// identification, which Windows gives to callers that hold the trusted computing base privilege.
HANDLE LinkedToken(HANDLE own)
{
    TOKEN_ELEVATION_TYPE type;
    TOKEN_LINKED_TOKEN linked;
    SECURITY_IMPERSONATION_LEVEL level;
    DWORD size;
    if (!GetTokenInformation(own, TokenElevationType, &type, sizeof type, &size) || type != TokenElevationTypeFull ||
        !GetTokenInformation(own, TokenLinkedToken, &linked, sizeof linked, &size))
        return nullptr;
    if (GetTokenInformation(linked.LinkedToken, TokenImpersonationLevel, &level, sizeof level, &size) &&
        level >= SecurityImpersonation)
        return linked.LinkedToken;
    CloseHandle(linked.LinkedToken);
    return nullptr;
}

// The token of the shell the user signed in with, when it is the same user's and not elevated.
HANDLE ShellToken(HANDLE own)
{
    DWORD shell_id = 0;
    HWND shell = GetShellWindow();
    if (shell == nullptr || GetWindowThreadProcessId(shell, &shell_id) == 0)
        return nullptr;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shell_id);
    if (process == nullptr)
        return nullptr;
    HANDLE primary = nullptr;
    HANDLE token = nullptr;
    TOKEN_ELEVATION elevation;
    DWORD size;
    if (OpenProcessToken(process, TOKEN_QUERY | TOKEN_DUPLICATE, &primary) && SameUser(own, primary) &&
        GetTokenInformation(primary, TokenElevation, &elevation, sizeof elevation, &size) && !elevation.TokenIsElevated &&
        !DuplicateTokenEx(primary, TOKEN_IMPERSONATE | TOKEN_QUERY, nullptr, SecurityImpersonation, TokenImpersonation,
                          &token))
        token = nullptr;
    if (primary != nullptr)
        CloseHandle(primary);
    CloseHandle(process);
    return token;
}

} // namespace

HANDLE OpenUnelevatedUserToken()
{
    HANDLE own;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own))
        return nullptr;
    HANDLE token = LinkedToken(own);
    if (token == nullptr)
        token = ShellToken(own);
    CloseHandle(own);
    return token;
}

bool ProfileFolderOf(PSID user, wchar_t *folder, DWORD capacity)
{
    wchar_t *sid = nullptr;
    if (!ConvertSidToStringSidW(user, &sid)) {
        LogFailedCall("ConvertSidToStringSidW", nullptr, GetLastError());
        return false;
    }
    wchar_t key[200];
    bool fits = FormatWide(key, 200, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\%s", sid) >= 0;
    LocalFree(sid);
    wchar_t stored[kPathCapacity];
    DWORD type = REG_NONE;
    DWORD size = sizeof stored;
    LSTATUS error = fits ? RegGetValueW(HKEY_LOCAL_MACHINE, key, L"ProfileImagePath",
                                        RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type, stored, &size)
                         : ERROR_INSUFFICIENT_BUFFER;
    if (error != ERROR_SUCCESS) {
        LogFailedCall("RegGetValueW", key, error);
        return false;
    }
    if (type != REG_EXPAND_SZ)
        return FormatWide(folder, capacity, L"%s", stored) >= 0;
    // With the system's variables only: this elevated process runs with the user's environment,
    // in which the user may give %SystemDrive% any value.
    DWORD load_error = ERROR_SUCCESS;
    auto expand = LoadSystemFunction<decltype(&ExpandEnvironmentStringsForUserW)>(
        L"userenv.dll", "ExpandEnvironmentStringsForUserW", &load_error);
    if (expand == nullptr || !expand(nullptr, stored, folder, capacity)) {
        LogFailedCall("ExpandEnvironmentStringsForUserW", stored, expand == nullptr ? load_error : GetLastError());
        return false;
    }
    return true;
}
