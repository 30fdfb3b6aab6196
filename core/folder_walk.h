#pragma once

#include <windows.h>

// How long a path a folder walk forms, in characters with the terminator: the Windows path
// limit, which the setup's own paths keep to, and the wider one of the plain tree removal.
enum PathCapacity : unsigned { kPathCapacity = 260, kLongPathCapacity = 520 };

// Called for each entry of a folder but "." and "..", with its full path "<folder>\<name>" and
// its find data. A path that does not fit the walk's capacity is passed as null: the entry is
// still reported, for the caller to name in the log or to pass over knowingly.
typedef void (*FolderEntryVisitor)(const wchar_t *path, const WIN32_FIND_DATAW &entry, void *context);

// Lists "<folder>\*" and calls visit for every entry, in the order the file system lists them.
// ERROR_SUCCESS once the whole folder was listed; ERROR_FILENAME_EXCED_RANGE when the folder's
// own pattern does not fit (nothing visited); a missing folder gives FindFirstFileW's
// ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND. Any other failed listing call is logged here and
// its error returned.
DWORD WalkFolder(const wchar_t *folder, PathCapacity capacity, FolderEntryVisitor visit, void *context);
