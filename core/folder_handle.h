#pragma once

#include <windows.h>

// Work below a folder that a program of the user can write, done through a handle that the setup
// holds on that folder and never through a path: a path is looked up again at every call, and the
// user may have swapped a folder on it for a link or a mount point in between. The handle stays
// on the folder itself whatever happens to its name.

// Opens the entry `name` of the folder behind `folder`, relative to that handle, as itself when it
// is a link or mount point (never its target). `disposition` and `options` are those of
// NtCreateFile (FILE_OPEN, FILE_OPEN_IF, FILE_NON_DIRECTORY_FILE...); the handle is synchronous.
// Returns ERROR_SUCCESS or the Windows error.
DWORD OpenFolderEntry(HANDLE folder, const wchar_t *name, ACCESS_MASK access, ULONG share, ULONG disposition,
                      ULONG options, HANDLE *entry);

// Called for each entry of a folder but "." and "..", with its name and the attributes the listing
// gives. Returning false ends the listing.
typedef bool (*FolderHandleVisitor)(const wchar_t *name, DWORD attributes, void *context);

// Lists the folder behind `folder` (opened with FILE_LIST_DIRECTORY, synchronous) and calls visit
// for every entry. ERROR_SUCCESS once the whole folder was listed, or the failed call's error,
// which is logged here with `folder_path`.
DWORD ListFolderHandle(HANDLE folder, const wchar_t *folder_path, FolderHandleVisitor visit, void *context);

// Deletes the object behind `entry` (opened with DELETE): at once where the file system allows it
// (the name goes even while another program still holds the object), else when the last handle
// closes. A link goes as itself. ERROR_SUCCESS or the Windows error: a read-only file, a folder
// that still holds entries.
DWORD DeleteThroughHandle(HANDLE entry);

// The path of the object behind `handle` as Windows resolves it, in the NT form that every
// volume has ("\Device\HarddiskVolume3\..."), into `path` of `capacity` characters. False when
// it cannot be read or does not fit.
bool FinalNtPath(HANDLE handle, wchar_t *path, DWORD capacity);

// Whether `entry`, opened by OpenFolderEntry, is the object that stands in the folder whose
// final NT path is `folder_nt_path` under `name`. It is not when the file system opened a link's
// target despite being asked for the link itself.
bool IsEntryOfFolder(HANDLE entry, const wchar_t *folder_nt_path, const wchar_t *name);
