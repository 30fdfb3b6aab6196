#include "registration/uninstall_entry.h"

#include "core/folder_walk.h"
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

// Links are neither followed nor counted. A file counts by its listing alone; a folder too deep
// to name is left out of what is only an estimate.
static void AddEntrySize(const wchar_t *path, const WIN32_FIND_DATAW &entry, void *context)
{
    uint64_t *total = (uint64_t *)context;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return;
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        *total += ((uint64_t)entry.nFileSizeHigh << 32) + entry.nFileSizeLow;
    else if (path != nullptr)
        *total += DirectorySize(path);
}

uint64_t DirectorySize(const wchar_t *folder)
{
    uint64_t total = 0;
    WalkFolder(folder, kPathCapacity, AddEntrySize, &total);
    return total;
}
