#include "registration/registry_values.h"

#include <wchar.h>

bool SetStringValue(HKEY key, const wchar_t *name, const wchar_t *text)
{
    DWORD size = (DWORD)((wcslen(text) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, (const BYTE *)text, size) == ERROR_SUCCESS;
}

bool SetDwordValue(HKEY key, const wchar_t *name, DWORD number)
{
    return RegSetValueExW(key, name, 0, REG_DWORD, (const BYTE *)&number, sizeof number) == ERROR_SUCCESS;
}
