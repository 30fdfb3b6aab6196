#pragma once

#include "core/status.h"
#include "install/required_files.h"

#include <windows.h>

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

// The version store in the install folder: every release unpacked into surumler\<version>, and
// two pointer files, guncel (the current version) and onceki (the one before it), each holding
// just the version text.

// The pointer files' names in the install folder.
const wchar_t kPointerCurrent[] = L"guncel";
const wchar_t kPointerPrevious[] = L"onceki";

// "<install folder>\surumler\<version>"; false when it does not fit the capacity (a cut path
// would name another folder).
bool VersionDirPath(const wchar_t *install_folder, const char *version, wchar_t *out, size_t capacity);

// The entries a run keeps beside the version directories while it works, in the same form and
// with the same false: the package "<version>.tpk", the staging folder "<version>.kur" and the
// replaced version directory set aside as "<version>.eski-<ticks>".
bool PackagePath(const wchar_t *install_folder, const char *version, wchar_t *out, size_t capacity);
bool StagingDirPath(const wchar_t *install_folder, const char *version, wchar_t *out, size_t capacity);
bool BackupDirPath(const wchar_t *install_folder, const char *version, unsigned long long ticks, wchar_t *out,
                   size_t capacity);

// Reads a pointer file without following a link: at most 33 bytes, trailing CR, LF and spaces
// dropped, the rest accepted only as a version text. StatusOk, StatusInvalid (also for a buffer
// under 32 bytes, which is then left untouched) or StatusNotFound; on failure out is empty.
Status ReadVersionPointer(const wchar_t *folder, const wchar_t *name, char *out, size_t out_size);

// Replaces `path` with exactly `size` bytes through a temporary file "<path>.yeni", flushed to
// the disk before one replacing move with write-through: the name shows the old or the new
// content whole, never a mixture, nor after a power cut a new name over contents that were never
// written. ERROR_SUCCESS or the error (logged); a failure leaves the old file and no temporary one.
DWORD ReplaceFileDurably(const wchar_t *path, const uint8_t *bytes, uint32_t size);

// Replaces a pointer file with exactly the version's bytes with ReplaceFileDurably; an empty
// value deletes the pointer. StatusOk, StatusInvalid or StatusIoError; a failed
// write leaves the old content and no temporary file.
Status WriteVersionPointer(const wchar_t *folder, const wchar_t *name, const char *value);

// The version to record as previous: the current one when it is a valid version other than the
// new one, otherwise the new one.
const char *PreviousToKeep(const char *current, const char *new_version);

// Calls visit once for each version directory (a real directory, not a link, named by a version
// text), in the order the file system lists them.
typedef void (*VersionDirVisitor)(const char *name, void *context);
void ForEachVersionDir(const wchar_t *install_folder, VersionDirVisitor visit, void *context);

// Deletes every version directory except keep and keep_also (which may be null); returns how
// many it deleted completely. Names are compared byte for byte, never as numbers.
unsigned PruneVersions(const wchar_t *install_folder, const char *keep, const char *keep_also);

// Whether the directory holds every required file, each with data (not empty, nor zeros at its
// start, as a power cut leaves a file whose contents were not yet written); logs the first one
// that is not so.
bool HasRequiredFiles(const wchar_t *directory);

// Clears what an interrupted run left in the store: "<version>.kur" staging folders,
// "<version>.tpk" packages and "<version>.eski-<ticks>" backups. A backup whose version directory
// is missing is moved back into place instead, since it may be the only copy the service points
// at. The staging folder and package of `own_version` belong to the running install and are
// kept. Each entry is logged.
void ClearStoreLeftovers(const wchar_t *install_folder, const char *own_version);

// The version whose directory in the store holds `executable` directly, as "talvor_svc.exe"
// (letters in any case); false for any other path.
bool VersionOfServiceProgram(const wchar_t *install_folder, const wchar_t *executable, char *version, size_t size);

// The path exists and is not a directory.
bool IsRegularFile(const wchar_t *path);
