#include "install/version_store.h"

#include "core/ascii_case.h"
#include "core/busy_retry.h"
#include "core/folder_walk.h"
#include "core/format.h"
#include "core/setup_log.h"
#include "fetch/release_source.h"
#include "release/version_text.h"
#include "uninstall/remove_tree.h"

#include <windows.h>

#include <string.h>

// A pointer is read no further than this: a version text with a line end and some slack.
static const DWORD kPointerReadLimit = 33;

// The names of a run's entries in the store: the version followed by one of these.
static const char kPackageSuffix[] = ".tpk";
static const char kStagingSuffix[] = ".kur";
static const char kBackupInfix[] = ".eski-"; // then the tick count

static bool StoreEntryPath(const wchar_t *install_folder, const char *version, const char *suffix, wchar_t *out,
                           size_t capacity)
{
    return FormatWide(out, capacity, L"%s\\surumler\\%hs%hs", install_folder, version, suffix) >= 0;
}

bool VersionDirPath(const wchar_t *install_folder, const char *version, wchar_t *out, size_t capacity)
{
    return StoreEntryPath(install_folder, version, "", out, capacity);
}

bool PackagePath(const wchar_t *install_folder, const char *version, wchar_t *out, size_t capacity)
{
    return StoreEntryPath(install_folder, version, kPackageSuffix, out, capacity);
}

bool StagingDirPath(const wchar_t *install_folder, const char *version, wchar_t *out, size_t capacity)
{
    return StoreEntryPath(install_folder, version, kStagingSuffix, out, capacity);
}

bool BackupDirPath(const wchar_t *install_folder, const char *version, unsigned long long ticks, wchar_t *out,
                   size_t capacity)
{
    return FormatWide(out, capacity, L"%s\\surumler\\%hs%hs%llu", install_folder, version, kBackupInfix, ticks) >= 0;
}

Status ReadVersionPointer(const wchar_t *folder, const wchar_t *name, char *out, size_t out_size)
{
    if (folder == nullptr || name == nullptr || out == nullptr || out_size < 32)
        return StatusInvalid;
    out[0] = 0;
    wchar_t path[260];
    if (FormatWide(path, 260, L"%s\\%s", folder, name) < 0)
        return StatusNotFound;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return StatusNotFound;
    char text[kPointerReadLimit + 1];
    DWORD length = 0;
    if (!ReadFile(file, text, kPointerReadLimit, &length, nullptr))
        length = 0;
    CloseHandle(file);

    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' '))
        length--;
    text[length] = 0;
    // A zero byte inside would hide what follows it from the version check.
    if (strlen(text) != length || !IsValidVersion(text))
        return StatusInvalid;
    memcpy(out, text, length + 1);
    return StatusOk;
}

DWORD ReplaceFileDurably(const wchar_t *path, const uint8_t *bytes, uint32_t size)
{
    wchar_t temporary[270];
    if (FormatWide(temporary, 270, L"%s.yeni", path) < 0)
        return ERROR_FILENAME_EXCED_RANGE;
    if (!SaveBufferToFile(temporary, bytes, size))
        return ERROR_WRITE_FAULT;
    DWORD error = MoveRetrying(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (error != ERROR_SUCCESS) {
        LogFailedCall("MoveFileExW", path, error);
        DeleteFileW(temporary);
    }
    return error;
}

Status WriteVersionPointer(const wchar_t *folder, const wchar_t *name, const char *value)
{
    if (folder == nullptr || name == nullptr || value == nullptr || (value[0] != 0 && !IsValidVersion(value)))
        return StatusInvalid;
    wchar_t path[260];
    if (FormatWide(path, 260, L"%s\\%s", folder, name) < 0)
        return StatusInvalid;
    if (value[0] == 0) {
        DWORD error = Retrying("DeleteFileW", path, [&path] { return ErrorOf(DeleteFileW(path)); });
        if (error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND)
            return StatusOk;
        LogFailedCall("DeleteFileW", path, error);
        return StatusIoError;
    }
    return ReplaceFileDurably(path, (const uint8_t *)value, (uint32_t)strlen(value)) == ERROR_SUCCESS ? StatusOk
                                                                                                       : StatusIoError;
}

const char *PreviousToKeep(const char *current, const char *new_version)
{
    if (current != nullptr && IsValidVersion(current) && strcmp(current, new_version) != 0)
        return current;
    return new_version;
}

// Calls visit for every entry of the store folder "surumler", in listing order.
static void ForEachStoreEntry(const wchar_t *install_folder, FolderEntryVisitor visit, void *context)
{
    wchar_t store[kPathCapacity];
    if (FormatWide(store, kPathCapacity, L"%s\\surumler", install_folder) >= 0)
        WalkFolder(store, kPathCapacity, visit, context);
}

struct VersionDirWalk {
    VersionDirVisitor visit;
    void *context;
};

static void VisitVersionDir(const wchar_t *path, const WIN32_FIND_DATAW &entry, void *context)
{
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return;
    char name[32];
    if (WideCharToMultiByte(CP_UTF8, 0, entry.cFileName, -1, name, sizeof name, nullptr, nullptr) == 0)
        return;
    if (IsValidVersion(name)) {
        VersionDirWalk *walk = (VersionDirWalk *)context;
        walk->visit(name, walk->context);
    }
}

void ForEachVersionDir(const wchar_t *install_folder, VersionDirVisitor visit, void *context)
{
    VersionDirWalk walk = {visit, context};
    ForEachStoreEntry(install_folder, VisitVersionDir, &walk);
}

struct PruneState {
    const wchar_t *install_folder;
    const char *keep;
    const char *keep_also;
    unsigned deleted;
};

static void PruneOne(const char *name, void *context)
{
    PruneState *state = (PruneState *)context;
    if (strcmp(name, state->keep) == 0 || (state->keep_also != nullptr && strcmp(name, state->keep_also) == 0))
        return;
    wchar_t path[260];
    if (VersionDirPath(state->install_folder, name, path, 260) && DeleteTreePlain(path) == StatusOk)
        state->deleted++;
}

unsigned PruneVersions(const wchar_t *install_folder, const char *keep, const char *keep_also)
{
    if (install_folder == nullptr || keep == nullptr || !IsValidVersion(keep))
        return 0;
    PruneState state = {install_folder, keep, keep_also, 0};
    ForEachVersionDir(install_folder, PruneOne, &state);
    return state.deleted;
}

// Whether the file's first bytes hold anything: a file whose contents a power cut lost reads as
// empty or as zeros to its size, which no program of the product is.
static bool HoldsData(const wchar_t *path)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    uint8_t head[4096];
    DWORD length = 0;
    bool read = ReadFile(file, head, sizeof head, &length, nullptr) != FALSE;
    CloseHandle(file);
    for (DWORD i = 0; read && i < length; i++)
        if (head[i] != 0)
            return true;
    return false;
}

bool HasRequiredFiles(const wchar_t *directory)
{
    for (const wchar_t *name : RequiredFiles) {
        wchar_t path[260];
        if (FormatWide(path, 260, L"%s\\%s", directory, name) < 0 || !IsRegularFile(path)) {
            LogLine("pakette eksik dosya: %ls", name);
            return false;
        }
        if (!HoldsData(path)) {
            LogLine("bos ya da sifirlarla dolu dosya: %ls", path);
            return false;
        }
    }
    return true;
}

bool IsRegularFile(const wchar_t *path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

enum LeftoverKind { NotLeftover, LeftoverStaging, LeftoverPackage, LeftoverBackup };

// Cuts `suffix` off the end of `text` when something stands before it.
static bool CutSuffix(char *text, const char *suffix)
{
    size_t length = strlen(text);
    size_t count = strlen(suffix);
    if (length <= count || strcmp(text + length - count, suffix) != 0)
        return false;
    text[length - count] = 0;
    return true;
}

// Splits a store entry name into its version and the kind of transient entry it is.
static LeftoverKind ClassifyStoreEntry(const wchar_t *name, char *version, size_t size)
{
    char text[64];
    if (WideCharToMultiByte(CP_UTF8, 0, name, -1, text, sizeof text, nullptr, nullptr) == 0)
        return NotLeftover;
    LeftoverKind kind = NotLeftover;
    char *backup = strstr(text, kBackupInfix);
    if (backup != nullptr) {
        const char *digits = backup + strlen(kBackupInfix);
        size_t count = strspn(digits, "0123456789");
        if (count == 0 || count > 20 || digits[count] != 0)
            return NotLeftover;
        *backup = 0;
        kind = LeftoverBackup;
    } else if (CutSuffix(text, kStagingSuffix)) {
        kind = LeftoverStaging;
    } else if (CutSuffix(text, kPackageSuffix)) {
        kind = LeftoverPackage;
    }
    if (kind == NotLeftover || !IsValidVersion(text) || strlen(text) >= size)
        return NotLeftover;
    memcpy(version, text, strlen(text) + 1);
    return kind;
}

// Puts a backup back where its version directory was; true when it moved.
static bool RestoreBackup(const wchar_t *install_folder, const char *version, const wchar_t *backup)
{
    wchar_t version_dir[260];
    if (!VersionDirPath(install_folder, version, version_dir, 260) ||
        GetFileAttributesW(version_dir) != INVALID_FILE_ATTRIBUTES || MoveRetrying(backup, version_dir, 0) != ERROR_SUCCESS)
        return false;
    LogLine("yarim kalan kurulumun yedegi geri kondu: %ls", version_dir);
    return true;
}

struct LeftoverSweep {
    const wchar_t *install_folder;
    const char *own_version;
};

static void ClearLeftover(const wchar_t *path, const WIN32_FIND_DATAW &entry, void *context)
{
    LeftoverSweep *sweep = (LeftoverSweep *)context;
    char version[32];
    LeftoverKind kind = ClassifyStoreEntry(entry.cFileName, version, sizeof version);
    // The store forms each of its paths to fit before it makes it: an entry too long to name is
    // none of its leftovers.
    if (path == nullptr || kind == NotLeftover || (kind != LeftoverBackup && strcmp(version, sweep->own_version) == 0))
        return;
    if (kind == LeftoverBackup && RestoreBackup(sweep->install_folder, version, path))
        return;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveInstallTree(path);
    else
        DeleteFileW(path);
    bool gone = GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES;
    LogLine("yarim kalan kurulumdan kalan %s: %ls", gone ? "silindi" : "silinemedi", path);
}

void ClearStoreLeftovers(const wchar_t *install_folder, const char *own_version)
{
    LeftoverSweep sweep = {install_folder, own_version};
    ForEachStoreEntry(install_folder, ClearLeftover, &sweep);
}

bool VersionOfServiceProgram(const wchar_t *install_folder, const wchar_t *executable, char *version, size_t size)
{
    wchar_t store[260];
    if (FormatWide(store, 260, L"%s\\surumler\\", install_folder) < 0)
        return false;
    size_t store_length = wcslen(store);
    if (_wcsnicmp(executable, store, store_length) != 0)
        return false;
    const wchar_t *name = executable + store_length;
    const wchar_t *separator = wcschr(name, L'\\');
    if (separator == nullptr || !SameIgnoringAsciiCase(separator + 1, L"talvor_svc.exe"))
        return false;
    char text[32];
    int length = WideCharToMultiByte(CP_UTF8, 0, name, (int)(separator - name), text, sizeof text - 1, nullptr, nullptr);
    if (length <= 0)
        return false;
    text[length] = 0;
    if (!IsValidVersion(text) || (size_t)length >= size)
        return false;
    memcpy(version, text, length + 1);
    return true;
}
