#include "registration/startup_entry.h"

#include "core/format.h"
#include "core/process_values.h"
#include "core/setup_log.h"
#include "registration/registry_values.h"

#include <windows.h>

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunValueName[] = L"Talvor";

bool WriteStartupEntry()
{
    HKEY key;
    LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE, &key);
    if (opened != ERROR_SUCCESS) {
        LogFailedCall("RegOpenKeyExW", kRunKey, (unsigned long)opened);
        return false;
    }
    wchar_t command[292];
    bool ok = FormatWide(command, 292, L"\"%s\\Talvor.exe\" --tepside", InstallFolder) >= 0 &&
              SetStringValue(key, kRunValueName, command);
    RegCloseKey(key);
    return ok;
}

void DeleteStartupEntry()
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    LONG deleted = RegDeleteValueW(key, kRunValueName);
    if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND)
        LogFailedCall("RegDeleteValueW", kRunValueName, (unsigned long)deleted);
    RegCloseKey(key);
}
