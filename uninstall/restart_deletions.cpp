#include "uninstall/restart_deletions.h"

#include "core/setup_log.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

static const wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
static const wchar_t kPendingValue[] = L"PendingFileRenameOperations";

// Whether an entry's path ("\??\" followed by a path) is the folder or lies below it.
static bool NamesFolderOrBelow(const wchar_t *entry, const wchar_t *folder, size_t folder_length)
{
    if (wcsncmp(entry, L"\\??\\", 4) == 0)
        entry += 4;
    return _wcsnicmp(entry, folder, folder_length) == 0 && (entry[folder_length] == 0 || entry[folder_length] == L'\\');
}

// Copies the pairs to keep from `list` (count characters) into `kept`, which has room for all of
// them; returns how many deletions it left out. The list is pairs of a path and a new name, an
// empty new name meaning delete, and ends at an empty path or its size.
static unsigned FilterPendingList(const wchar_t *list, size_t count, const wchar_t *folder, wchar_t *kept,
                                  size_t *kept_count)
{
    size_t folder_length = wcslen(folder);
    unsigned dropped = 0;
    size_t out = 0;
    size_t at = 0;
    while (at < count && list[at] != 0) {
        size_t source = at;
        while (at < count && list[at] != 0)
            at++;
        size_t target = ++at;
        while (at < count && list[at] != 0)
            at++;
        size_t end = ++at < count ? at : count;
        if (target < count && list[target] == 0 && NamesFolderOrBelow(list + source, folder, folder_length)) {
            dropped++;
            continue;
        }
        memcpy(kept + out, list + source, (end - source) * sizeof(wchar_t));
        out += end - source;
    }
    *kept_count = out;
    return dropped;
}

unsigned CancelRestartDeletions(const wchar_t *folder)
{
    if (folder == nullptr || folder[0] == 0)
        return 0;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    unsigned dropped = 0;
    DWORD type = 0;
    DWORD size = 0;
    wchar_t *list = nullptr;
    wchar_t *kept = nullptr;
    if (RegQueryValueExW(key, kPendingValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_MULTI_SZ ||
        size < sizeof(wchar_t))
        goto done;
    list = (wchar_t *)malloc(size);
    // Room for the kept pairs and the list's closing terminator.
    kept = (wchar_t *)malloc(size + sizeof(wchar_t));
    if (list == nullptr || kept == nullptr ||
        RegQueryValueExW(key, kPendingValue, nullptr, &type, (BYTE *)list, &size) != ERROR_SUCCESS)
        goto done;
    {
        size_t kept_count = 0;
        unsigned found = FilterPendingList(list, size / sizeof(wchar_t), folder, kept, &kept_count);
        if (found == 0)
            goto done;
        LONG written;
        if (kept_count == 0) {
            written = RegDeleteValueW(key, kPendingValue);
        } else {
            kept[kept_count++] = 0;
            written = RegSetValueExW(key, kPendingValue, 0, REG_MULTI_SZ, (const BYTE *)kept,
                                     (DWORD)(kept_count * sizeof(wchar_t)));
        }
        if (written == ERROR_SUCCESS)
            dropped = found;
        else
            LogFailedCall(kept_count == 0 ? "RegDeleteValueW" : "RegSetValueExW", kPendingValue, (unsigned long)written);
    }
done:
    free(kept);
    free(list);
    RegCloseKey(key);
    return dropped;
}
