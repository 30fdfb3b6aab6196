#include "registration/uninstall_entry.h"

#include "core/format.h"
#include "core/process_values.h"
#include "core/setup_log.h"
#include "registration/registry_values.h"

#include <windows.h>

const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Talvor";

static const wchar_t kUninstallerName[] = L"Talvor-Kaldir.exe";

// A value formatted into a buffer of 520 characters; one that does not fit is not written cut.
static bool SetFormattedValue(HKEY key, const wchar_t *name, const wchar_t *format, ...)
{
    wchar_t text[520];
    va_list args;
    va_start(args, format);
    int length = FormatWideV(text, 520, format, args);
    va_end(args);
    return length >= 0 && SetStringValue(key, name, text);
}

bool WriteUninstallEntry(const wchar_t *version_folder, const char *version_text)
{
    HKEY key;
    LONG opened = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (opened != ERROR_SUCCESS) {
        LogFailedCall("RegCreateKeyExW", kUninstallKey, (unsigned long)opened);
        return false;
    }
    wchar_t version[32];
    if (MultiByteToWideChar(CP_UTF8, 0, version_text, -1, version, 32) == 0)
        version[0] = 0;
    SYSTEMTIME now;
    GetLocalTime(&now);

    bool ok = SetStringValue(key, L"DisplayName", L"Talvor");
    ok &= SetStringValue(key, L"DisplayVersion", version);
    ok &= SetStringValue(key, L"Publisher", L"Tekvar Yazılım");
    ok &= SetStringValue(key, L"URLInfoAbout", L"https://www.tekvar.com.tr/talvor/");
    ok &= SetStringValue(key, L"InstallLocation", InstallFolder);
    ok &= SetFormattedValue(key, L"DisplayIcon", L"%s\\Talvor.exe,0", InstallFolder);
    ok &= SetFormattedValue(key, L"UninstallString", L"\"%s\\%s\" /kaldir", InstallFolder, kUninstallerName);
    ok &= SetFormattedValue(key, L"QuietUninstallString", L"\"%s\\%s\" /kaldir /sessiz", InstallFolder,
                            kUninstallerName);
    ok &= SetFormattedValue(key, L"InstallDate", L"%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    ok &= SetDwordValue(key, L"NoModify", 1);
    ok &= SetDwordValue(key, L"NoRepair", 1);
    ok &= SetDwordValue(key, L"EstimatedSize", (DWORD)(DirectorySize(version_folder) / 1024));
    RegCloseKey(key);
    return ok;
}

void DeleteUninstallEntry()
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUninstallKey);
    LONG deleted = RegDeleteKeyW(HKEY_LOCAL_MACHINE, kUninstallKey);
    if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND)
        LogFailedCall("RegDeleteKeyW", kUninstallKey, (unsigned long)deleted);
}

uint64_t DirectorySize(const wchar_t *folder)
{
    wchar_t pattern[260];
    if (FormatWide(pattern, 260, L"%s\\*", folder) < 0)
        return 0;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(pattern, &entry);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    uint64_t total = 0;
    do {
        const wchar_t *name = entry.cFileName;
        if ((name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0))) ||
            (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            wchar_t child[260];
            if (FormatWide(child, 260, L"%s\\%s", folder, name) >= 0)
                total += DirectorySize(child);
        } else {
            total += ((uint64_t)entry.nFileSizeHigh << 32) + entry.nFileSizeLow;
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return total;
}
