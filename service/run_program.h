#pragma once

#include <windows.h>

// Runs "\"<executable>\" <arguments>" without a window, in the program's own folder, and waits up
// to 60 s. True when the process could be created; *exit_code then holds its exit code, or
// STILL_ACTIVE (259) for a program still running, which is left running. On false *exit_code
// is untouched.
bool RunProgramAndWait(const wchar_t *executable, const wchar_t *arguments, DWORD *exit_code);
