#include "core/folder_walk.h"

#include "core/format.h"
#include "core/setup_log.h"

static bool IsDots(const wchar_t *name)
{
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

DWORD WalkFolder(const wchar_t *folder, PathCapacity capacity, FolderEntryVisitor visit, void *context)
{
    // One buffer holds the pattern and then each entry's path: the removals recurse through here.
    wchar_t path[kLongPathCapacity];
    if (FormatWide(path, capacity, L"%s\\*", folder) < 0)
        return ERROR_FILENAME_EXCED_RANGE;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(path, &entry);
    if (find == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        // A folder that is not there has nothing to walk; its callers expect that often.
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            LogFailedCall("FindFirstFileW", folder, error);
        return error;
    }
    do {
        if (IsDots(entry.cFileName))
            continue;
        bool fits = FormatWide(path, capacity, L"%s\\%s", folder, entry.cFileName) >= 0;
        visit(fits ? path : nullptr, entry, context);
    } while (FindNextFileW(find, &entry));
    DWORD error = GetLastError();
    FindClose(find);
    if (error == ERROR_NO_MORE_FILES)
        return ERROR_SUCCESS;
    LogFailedCall("FindNextFileW", folder, error);
    return error;
}
