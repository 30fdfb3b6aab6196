#include "registration/registry_values.h"

#include "core/setup_log.h"

#include <wchar.h>

// One value written; a refused write is logged by the value's name.
static bool SetValue(HKEY key, const wchar_t *name, DWORD type, const BYTE *data, DWORD size)
{
    LONG result = RegSetValueExW(key, name, 0, type, data, size);
    if (result != ERROR_SUCCESS)
        LogFailedCall("RegSetValueExW", name, (unsigned long)result);
    return result == ERROR_SUCCESS;
}

bool SetStringValue(HKEY key, const wchar_t *name, const wchar_t *text)
{
    DWORD size = (DWORD)((wcslen(text) + 1) * sizeof(wchar_t));
    return SetValue(key, name, REG_SZ, (const BYTE *)text, size);
}

bool SetDwordValue(HKEY key, const wchar_t *name, DWORD number)
{
    return SetValue(key, name, REG_DWORD, (const BYTE *)&number, sizeof number);
}
