#pragma once

#include <windows.h>

// An impersonation token of the signed-in user with the user's own, unelevated rights, for the
// work the elevated setup does in the user's own folders, where a program of the user may have
// laid anything: what the user could not delete, the setup then does not delete either. Null
// where Windows gives the setup no such token (the token linked to the setup's own is only an
// identification, and no shell of the same user runs, as under the SYSTEM account). The caller
// closes it.
HANDLE OpenUnelevatedUserToken();

// The profile folder of `user` as the machine's profile list names it, with the system's
// environment variables expanded, into `folder` of `capacity` characters. False, logged, when the
// list has none for the user or it does not fit.
bool ProfileFolderOf(PSID user, wchar_t *folder, DWORD capacity);
