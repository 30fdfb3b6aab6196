#include "uninstall/remove_tree.h"

#include "core/folder_walk.h"
#include "core/setup_log.h"

#include <aclapi.h>

// Inside the walk only: an entry stays that is neither gone nor handed to the restart. The
// folders above it are then not scheduled either: Windows could not delete them at the restart,
// and a removal would announce deletions that never come.
static const unsigned EntryLeft = 16;

// An entry whose path does not fit, or a folder too deep to be listed, stays where it is; it is
// named rather than passed over, so that the log explains the folders left above it.
static void LogPathTooLong(const wchar_t *folder, const wchar_t *name)
{
    if (name != nullptr)
        LogLine("yol cok uzun, silinmedi: %ls\\%ls", folder, name);
    else
        LogLine("yol cok uzun, silinmedi: %ls", folder);
}

// A link at the top path is removed as itself; anything else that is not a plain directory
// (a file, or a path that cannot be read) is left alone.
static unsigned RemoveTopThatIsNoFolder(const wchar_t *path)
{
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveDirectoryW(path);
        return LinkNotFollowed;
    }
    return 0;
}

static unsigned ScheduleAtRestart(const wchar_t *path)
{
    if (MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        return ScheduledAtRestart;
    LogFailedCall("MoveFileExW", path, GetLastError());
    return EntryLeft;
}

// Removes one listed entry that is not a plain directory: a file, a file link or a directory
// link. Removing a link never touches its target.
static unsigned RemoveEntry(const wchar_t *child, DWORD attributes, bool allow_restart)
{
    bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    BOOL removed = directory ? RemoveDirectoryW(child) : DeleteFileW(child);
    if (removed)
        return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? (unsigned)LinkNotFollowed : 0u;
    if (!allow_restart) {
        LogFailedCall(directory ? "RemoveDirectoryW" : "DeleteFileW", child, GetLastError());
        return EntryLeft;
    }
    return ScheduleAtRestart(child);
}

static unsigned RemoveTreeWalk(const wchar_t *path, bool allow_restart, bool require_trusted_owner);

struct TreeRemoval {
    const wchar_t *folder;
    bool allow_restart;
    unsigned result;
};

static void RemoveListedEntry(const wchar_t *child, const WIN32_FIND_DATAW &entry, void *context)
{
    TreeRemoval *removal = (TreeRemoval *)context;
    DWORD attributes = entry.dwFileAttributes;
    if (child == nullptr) {
        LogPathTooLong(removal->folder, entry.cFileName);
        removal->result |= PathTooLong | EntryLeft;
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        removal->result |= RemoveTreeWalk(child, removal->allow_restart, false);
    } else {
        removal->result |= RemoveEntry(child, attributes, removal->allow_restart);
    }
}

static unsigned RemoveTreeWalk(const wchar_t *path, bool allow_restart, bool require_trusted_owner)
{
    // Opened as itself, never through a link, and kept open without delete sharing so that the
    // folder cannot be swapped for a link while it is being emptied.
    HANDLE folder = CreateFileW(path, READ_CONTROL | FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES ? EntryLeft : 0u;
    BY_HANDLE_FILE_INFORMATION info;
    bool plain_folder = GetFileInformationByHandle(folder, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                        !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    // Some file systems open a link's target despite FILE_FLAG_OPEN_REPARSE_POINT; the path's own
    // attributes still show the link, and its target must not be emptied through it.
    DWORD path_attributes = GetFileAttributesW(path);
    if (path_attributes != INVALID_FILE_ATTRIBUTES && (path_attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        plain_folder = false;
    if (!plain_folder) {
        CloseHandle(folder);
        return RemoveTopThatIsNoFolder(path);
    }
    if (require_trusted_owner && !IsAdminOwned(folder)) {
        CloseHandle(folder);
        return OwnerRefused;
    }

    TreeRemoval removal = {path, allow_restart, 0};
    DWORD listed = WalkFolder(path, kPathCapacity, RemoveListedEntry, &removal);
    unsigned result = removal.result;
    // What was not listed may still be there.
    if (listed != ERROR_SUCCESS)
        result |= EntryLeft;
    CloseHandle(folder);

    // A folder is scheduled only after everything it still holds, so that it goes with them.
    DWORD error = RemoveDirectoryW(path) ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_SUCCESS || GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES)
        return result & ~EntryLeft;
    if (listed == ERROR_FILENAME_EXCED_RANGE) {
        LogPathTooLong(path, nullptr);
        result |= PathTooLong;
    }
    if (allow_restart && !(result & EntryLeft))
        return result | ScheduleAtRestart(path);
    if (error != ERROR_DIR_NOT_EMPTY)
        LogFailedCall("RemoveDirectoryW", path, error);
    return result | EntryLeft;
}

unsigned RemoveTree(const wchar_t *path, bool allow_restart, bool require_trusted_owner)
{
    return RemoveTreeWalk(path, allow_restart, require_trusted_owner) & ~EntryLeft;
}

bool RemoveTreeLogged(const wchar_t *path, bool allow_restart, bool require_trusted_owner)
{
    unsigned result = RemoveTree(path, allow_restart, require_trusted_owner);
    if (result & LinkNotFollowed)
        LogLine("baglanti noktasi izlenmedi, yalniz kendisi silindi: %ls", path);
    if (result & OwnerRefused)
        LogLine("sahibi yonetici olmayan klasor silinmedi: %ls", path);
    return (result & ScheduledAtRestart) != 0;
}

bool RemoveInstallTree(const wchar_t *path)
{
    return RemoveTreeLogged(path, true, false);
}

bool IsAdminOwned(HANDLE handle)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS)
        return false;
    bool trusted = owner != nullptr &&
                   (IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
    LocalFree(descriptor);
    return trusted;
}

struct PlainRemoval {
    const wchar_t *folder;
    Status result;
};

static void DeleteListedEntry(const wchar_t *child, const WIN32_FIND_DATAW &entry, void *context)
{
    PlainRemoval *removal = (PlainRemoval *)context;
    DWORD attributes = entry.dwFileAttributes;
    if (child == nullptr) {
        LogPathTooLong(removal->folder, entry.cFileName);
        removal->result = StatusIoError;
    } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(child, FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileW(child)) {
            LogFailedCall("DeleteFileW", child, GetLastError());
            removal->result = StatusIoError;
        }
    } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        if (!RemoveDirectoryW(child)) {
            LogFailedCall("RemoveDirectoryW", child, GetLastError());
            removal->result = StatusIoError;
        }
    } else if (DeleteTreePlain(child) != StatusOk) {
        removal->result = StatusIoError;
    }
}

Status DeleteTreePlain(const wchar_t *path)
{
    if (path == nullptr || path[0] == 0)
        return StatusInvalid;
    PlainRemoval removal = {path, StatusOk};
    DWORD listed = WalkFolder(path, kLongPathCapacity, DeleteListedEntry, &removal);
    Status result = removal.result;
    if (!RemoveDirectoryW(path)) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            result = StatusIoError;
            // A folder left non-empty is explained by the lines of what it still holds.
            if (listed == ERROR_FILENAME_EXCED_RANGE)
                LogPathTooLong(path, nullptr);
            if (error != ERROR_DIR_NOT_EMPTY)
                LogFailedCall("RemoveDirectoryW", path, error);
        }
    }
    return result;
}
