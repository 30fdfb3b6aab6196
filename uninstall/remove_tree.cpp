#include "uninstall/remove_tree.h"

#include "core/busy_retry.h"
#include "core/folder_handle.h"
#include "core/object_owner.h"
#include "core/folder_walk.h"
#include "core/format.h"
#include "core/setup_log.h"

#include <aclapi.h>

#include <stdlib.h>
#include <wchar.h>

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

// An entry that cannot go now: handed to the restart when that is allowed (only in the setup's
// own trees, which no user can write, so that its path still names it then), else it stays and
// is named with the call that failed.
static unsigned LeaveEntry(const wchar_t *path, const char *call, DWORD error, bool allow_restart)
{
    if (allow_restart)
        return ScheduleAtRestart(path);
    LogFailedCall(call, path, error);
    return EntryLeft;
}

// Folders are emptied through a handle held on them, and every entry is opened relative to it,
// as itself, and deleted through its own handle: the user may swap a folder of the tree for a
// link or a mount point at any moment, and no path is ever looked up again that could lead there.
// A folder is held without delete sharing, so it cannot be moved away either; one that another
// program holds so (a command prompt in it) is emptied all the same and handed to the restart.
struct TreeRemoval {
    HANDLE folder;
    const wchar_t *path;    // for the log and the restart list
    wchar_t final_path[600]; // the folder as Windows resolves it, which every entry must be in
    bool allow_restart;
    unsigned result;
};

static const DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// A folder that cannot be opened for deletion may still be emptied.
static bool CannotBeOpenedForDeletion(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// `open_error` is the error of opening the folder for deletion, ERROR_SUCCESS when it was.
static unsigned EmptyAndDeleteFolder(HANDLE folder, DWORD open_error, const wchar_t *path, bool allow_restart);

// Whether the path is the program this process runs from (the uninstaller copy removing itself).
static bool IsRunningProgram(const wchar_t *path)
{
    wchar_t self[260];
    DWORD length = GetModuleFileNameW(nullptr, self, 260);
    return length > 0 && length < 260 && CompareStringOrdinal(self, -1, path, -1, TRUE) == CSTR_EQUAL;
}

static unsigned RemoveEntryOf(TreeRemoval *removal, const wchar_t *name, DWORD listed, const wchar_t *child)
{
    bool listed_folder = (listed & FILE_ATTRIBUTE_DIRECTORY) && !(listed & FILE_ATTRIBUTE_REPARSE_POINT);
    // A file is opened to be deleted and nothing more; a folder also to be listed. One that is
    // busy for a moment is tried again, but never the running program itself, which stays so.
    DWORD access = listed_folder ? kFolderAccess : FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    HANDLE entry = INVALID_HANDLE_VALUE;
    auto open = [&] {
        return OpenFolderEntry(removal->folder, name, access | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN, 0,
                               &entry);
    };
    DWORD error = IsRunningProgram(child) ? open() : Retrying("NtCreateFile", child, open);
    DWORD open_error = error;
    if (listed_folder && CannotBeOpenedForDeletion(error))
        error = OpenFolderEntry(removal->folder, name, kFolderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                                0, &entry);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return 0; // gone meanwhile
    if (error != ERROR_SUCCESS) {
        // What a folder holds is not known: it cannot be handed to the restart whole.
        if (listed_folder) {
            LogFailedCall("NtCreateFile", child, error);
            return EntryLeft;
        }
        return LeaveEntry(child, "NtCreateFile", error, removal->allow_restart);
    }
    // Some file systems open a link's target despite being asked for the link itself: what was
    // opened is then not this folder's entry, and nothing is deleted through it.
    BY_HANDLE_FILE_INFORMATION info;
    if (!IsEntryOfFolder(entry, removal->final_path, name) || !GetFileInformationByHandle(entry, &info)) {
        CloseHandle(entry);
        LogLine("baglanti kendisi olarak acilamadi, silinmedi: %ls", child);
        return EntryLeft;
    }
    bool link = ((info.dwFileAttributes | listed) & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !link)
        return EmptyAndDeleteFolder(entry, open_error, child, removal->allow_restart);
    // A read-only file stays so; anything else may be busy for a moment.
    error = open_error;
    if (open_error == ERROR_SUCCESS && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY))
        error = DeleteThroughHandle(entry);
    else if (open_error == ERROR_SUCCESS)
        error = Retrying("SetFileInformationByHandle", child, [entry] { return DeleteThroughHandle(entry); });
    CloseHandle(entry);
    if (error == ERROR_SUCCESS)
        return link ? (unsigned)LinkNotFollowed : 0u;
    return LeaveEntry(child, "SetFileInformationByHandle", error, removal->allow_restart);
}

static bool RemoveListedEntry(const wchar_t *name, DWORD attributes, void *context)
{
    TreeRemoval *removal = (TreeRemoval *)context;
    wchar_t child[kPathCapacity];
    if (FormatWide(child, kPathCapacity, L"%s\\%s", removal->path, name) < 0) {
        LogPathTooLong(removal->path, name);
        removal->result |= PathTooLong | EntryLeft;
    } else {
        removal->result |= RemoveEntryOf(removal, name, attributes, child);
    }
    return true;
}

// Empties the folder behind `folder` and deletes it through that handle, which it closes.
static unsigned EmptyAndDeleteFolder(HANDLE folder, DWORD open_error, const wchar_t *path, bool allow_restart)
{
    TreeRemoval *removal = (TreeRemoval *)malloc(sizeof(TreeRemoval));
    if (removal == nullptr) {
        CloseHandle(folder);
        return EntryLeft;
    }
    *removal = {folder, path, {0}, allow_restart, 0};
    DWORD listed = ERROR_INVALID_NAME;
    if (FinalNtPath(folder, removal->final_path, 600))
        listed = ListFolderHandle(folder, path, RemoveListedEntry, removal);
    else
        LogFailedCall("GetFinalPathNameByHandleW", path, GetLastError());
    unsigned result = removal->result;
    free(removal);
    // What was not listed may still be there.
    if (listed != ERROR_SUCCESS)
        result |= EntryLeft;

    // A folder is scheduled only after everything it still holds, so that it goes with them.
    DWORD error = open_error == ERROR_SUCCESS ? DeleteThroughHandle(folder) : open_error;
    CloseHandle(folder);
    if (error == ERROR_SUCCESS)
        return result & ~EntryLeft;
    if (allow_restart && !(result & EntryLeft))
        return result | ScheduleAtRestart(path);
    if (error != ERROR_DIR_NOT_EMPTY)
        LogFailedCall(open_error == ERROR_SUCCESS ? "SetFileInformationByHandle" : "NtCreateFile", path, error);
    return result | EntryLeft;
}

// What the top folder of a tree must be for anything in it to be deleted.
struct TopFolderRule {
    bool check_owner;
    PSID owner;            // null: LocalSystem or the Administrators group
    const wchar_t *within; // a folder it must lie inside, or null
};

// Whether the object behind `handle` is owned by `required`, or, when that is null, by LocalSystem
// or the Administrators group.
static bool OwnedBy(HANDLE handle, PSID required)
{
    return required != nullptr ? IsOwnedBy(handle, SE_FILE_OBJECT, required)
                               : IsTrustedOwner(handle, SE_FILE_OBJECT, false);
}

// Whether the folder behind `handle` lies inside `folder`, going by the path Windows resolves for
// the handle (long names), not by the one it was opened with.
static bool LiesInside(HANDLE handle, const wchar_t *folder, const wchar_t *path)
{
    wchar_t final_path[kLongPathCapacity];
    DWORD length =
        GetFinalPathNameByHandleW(handle, final_path, kLongPathCapacity, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= kLongPathCapacity) {
        LogFailedCall("GetFinalPathNameByHandleW", path, length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    // "\\?\C:\..." on a drive; on a network share ("\\?\UNC\...") it is inside no local folder.
    const wchar_t *resolved = wcsncmp(final_path, L"\\\\?\\", 4) == 0 ? final_path + 4 : final_path;
    size_t folder_length = wcslen(folder);
    return folder_length > 0 && wcslen(resolved) > folder_length + 1 && resolved[folder_length] == L'\\' &&
           CompareStringOrdinal(resolved, (int)folder_length, folder, (int)folder_length, TRUE) == CSTR_EQUAL;
}

static unsigned RemoveTreeWalk(const wchar_t *path, bool allow_restart, const TopFolderRule &rule)
{
    // Opened as itself, never through a link.
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE folder = CreateFileW(path, READ_CONTROL | kFolderAccess | DELETE, share, nullptr, OPEN_EXISTING, flags,
                                nullptr);
    DWORD open_error = folder != INVALID_HANDLE_VALUE ? ERROR_SUCCESS : GetLastError();
    if (CannotBeOpenedForDeletion(open_error))
        folder = CreateFileW(path, READ_CONTROL | kFolderAccess, share, nullptr, OPEN_EXISTING, flags, nullptr);
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
    if (rule.check_owner &&
        !(OwnedBy(folder, rule.owner) && (rule.within == nullptr || LiesInside(folder, rule.within, path)))) {
        CloseHandle(folder);
        return OwnerRefused;
    }
    return EmptyAndDeleteFolder(folder, open_error, path, allow_restart);
}

unsigned RemoveTree(const wchar_t *path, bool allow_restart, bool require_trusted_owner)
{
    return RemoveTreeWalk(path, allow_restart, {require_trusted_owner, nullptr, nullptr}) & ~EntryLeft;
}

// RemoveTreeWalk, then logs a link met, or a top folder refused with `refusal`.
static unsigned RemoveTreeWalkLogged(const wchar_t *path, bool allow_restart, const TopFolderRule &rule,
                                     const char *refusal)
{
    unsigned result = RemoveTreeWalk(path, allow_restart, rule) & ~EntryLeft;
    if (result & LinkNotFollowed)
        LogLine("baglanti noktasi izlenmedi, yalniz kendisi silindi: %ls", path);
    if (result & OwnerRefused)
        LogLine("%s: %ls", refusal, path);
    return result;
}

bool RemoveTreeLogged(const wchar_t *path, bool allow_restart, bool require_trusted_owner)
{
    return (RemoveTreeWalkLogged(path, allow_restart, {require_trusted_owner, nullptr, nullptr},
                                 "sahibi yonetici olmayan klasor silinmedi") &
            ScheduledAtRestart) != 0;
}

bool RemoveUserTreeLogged(const wchar_t *path, PSID user, const wchar_t *profile)
{
    return (RemoveTreeWalkLogged(path, false, {true, user, profile},
                                 "kullanici klasoru kullanicinin profilinde degil ya da sahibi baska, silinmedi") &
            OwnerRefused) != 0;
}

bool RemoveInstallTree(const wchar_t *path)
{
    return RemoveTreeLogged(path, true, false);
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
        DWORD error = Retrying("DeleteFileW", child, [child] { return ErrorOf(DeleteFileW(child)); });
        if (error != ERROR_SUCCESS) {
            LogFailedCall("DeleteFileW", child, error);
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
    DWORD error = Retrying("RemoveDirectoryW", path, [path] { return ErrorOf(RemoveDirectoryW(path)); });
    if (error != ERROR_SUCCESS) {
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
