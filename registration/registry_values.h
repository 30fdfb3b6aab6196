#pragma once

#include <windows.h>

// A REG_SZ value written with its terminating zero.
bool SetStringValue(HKEY key, const wchar_t *name, const wchar_t *text);
// A 4-byte REG_DWORD value.
bool SetDwordValue(HKEY key, const wchar_t *name, DWORD number);
