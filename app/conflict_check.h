#pragma once

#include <windows.h>

// Looks for the security product that may block the packet driver: one of its services
// registered, or one of its processes running. Returns 1 when found, else 0. Never fails: a
// service manager or process list that cannot be read counts as nothing found.
int DetectConflictingSoftware();

// True when the service `name` exists (it can be opened for status queries).
bool ServiceKnown(SC_HANDLE manager, const wchar_t *name);

// True when one of the listed processes runs; image names are compared ignoring ASCII case.
bool ProcessRunning();

// The warning shown to the user when the check found something, in UTF-8.
const char *ConflictWarningText();
