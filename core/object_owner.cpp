#include "core/object_owner.h"

#include <stdlib.h>

TOKEN_USER *ProcessUser()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return nullptr;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    TOKEN_USER *user = size != 0 ? (TOKEN_USER *)malloc(size) : nullptr;
    if (user != nullptr && !GetTokenInformation(token, TokenUser, user, size, &size)) {
        free(user);
        user = nullptr;
    }
    CloseHandle(token);
    return user;
}

// Whether `sid` is the user of this process's token.
static bool IsOwnUser(PSID sid)
{
    TOKEN_USER *user = ProcessUser();
    bool same = user != nullptr && EqualSid(user->User.Sid, sid);
    free(user);
    return same;
}

// Calls `check` with the owner of the object behind `handle`; false when it cannot be read.
template <typename Check> static bool CheckOwner(HANDLE handle, SE_OBJECT_TYPE type, Check check)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, type, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &descriptor) !=
        ERROR_SUCCESS)
        return false;
    bool passed = owner != nullptr && IsValidSid(owner) && check(owner);
    LocalFree(descriptor);
    return passed;
}

bool IsTrustedOwner(HANDLE handle, SE_OBJECT_TYPE type, bool or_own_user)
{
    return CheckOwner(handle, type, [or_own_user](PSID owner) {
        return IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
               (or_own_user && IsOwnUser(owner));
    });
}

bool IsOwnedBy(HANDLE handle, SE_OBJECT_TYPE type, PSID owner)
{
    return CheckOwner(handle, type, [owner](PSID actual) { return EqualSid(actual, owner) != 0; });
}
