#pragma once

#include <windows.h>
#include <aclapi.h>

// The user this process runs as (its token's TokenUser), in a heap block the caller frees with
// free, or null.
TOKEN_USER *ProcessUser();

// Whether the object behind `handle` (a file or folder with SE_FILE_OBJECT, a named kernel object
// with SE_KERNEL_OBJECT) is owned by LocalSystem or the Administrators group, the owners of what
// the system and an elevated setup make, or, with `or_own_user`, by the user this process runs
// as. A program of another user cannot give its objects any of these owners. False when the
// owner cannot be read.
bool IsTrustedOwner(HANDLE handle, SE_OBJECT_TYPE type, bool or_own_user);

// Whether the object behind `handle` is owned by exactly `owner`.
bool IsOwnedBy(HANDLE handle, SE_OBJECT_TYPE type, PSID owner);
