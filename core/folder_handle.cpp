#include "core/folder_handle.h"

#include "core/format.h"
#include "core/setup_log.h"

#include <winternl.h>

#include <stdlib.h>
#include <string.h>

namespace {

// The class value of the Windows SDK; MinGW-w64 declares it only for later SDK versions.
const FILE_INFO_BY_HANDLE_CLASS kFileDispositionInfoEx = (FILE_INFO_BY_HANDLE_CLASS)21;
// One listing call's worth of entries: a name is at most 255 characters.
const DWORD kListingBytes = 16384;

bool IsDots(const wchar_t *name, size_t length)
{
    return (length == 1 && name[0] == L'.') || (length == 2 && name[0] == L'.' && name[1] == L'.');
}

} // namespace

DWORD OpenFolderEntry(HANDLE folder, const wchar_t *name, ACCESS_MASK access, ULONG share, ULONG disposition,
                      ULONG options, HANDLE *entry)
{
    *entry = INVALID_HANDLE_VALUE;
    size_t length = wcslen(name);
    if (length == 0 || length > 255)
        return ERROR_INVALID_NAME;
    UNICODE_STRING relative = {(USHORT)(length * sizeof(wchar_t)), (USHORT)(length * sizeof(wchar_t)), (PWSTR)name};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &relative, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK io;
    HANDLE opened = nullptr;
    NTSTATUS status = NtCreateFile(&opened, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                                   share, disposition,
                                   options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT |
                                       FILE_OPEN_FOR_BACKUP_INTENT,
                                   nullptr, 0);
    if (!NT_SUCCESS(status))
        return RtlNtStatusToDosError(status);
    *entry = opened;
    return ERROR_SUCCESS;
}

DWORD ListFolderHandle(HANDLE folder, const wchar_t *folder_path, FolderHandleVisitor visit, void *context)
{
    // On the heap: the tree removal lists one folder on every level it goes down.
    unsigned char *listing = (unsigned char *)malloc(kListingBytes);
    if (listing == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    DWORD error = ERROR_SUCCESS;
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    bool go_on = true;
    while (go_on) {
        if (!GetFileInformationByHandleEx(folder, kind, listing, kListingBytes)) {
            error = GetLastError();
            break;
        }
        kind = FileIdBothDirectoryInfo;
        const unsigned char *at = listing;
        for (;;) {
            const FILE_ID_BOTH_DIR_INFO *info = (const FILE_ID_BOTH_DIR_INFO *)at;
            size_t length = info->FileNameLength / sizeof(wchar_t);
            wchar_t name[256];
            if (length > 0 && length < 256 && !IsDots(info->FileName, length)) {
                memcpy(name, info->FileName, length * sizeof(wchar_t));
                name[length] = 0;
                go_on = visit(name, info->FileAttributes, context);
            }
            if (!go_on || info->NextEntryOffset == 0)
                break;
            at += info->NextEntryOffset;
        }
    }
    free(listing);
    if (error == ERROR_NO_MORE_FILES)
        return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS)
        LogFailedCall("GetFileInformationByHandleEx", folder_path, error);
    return error;
}

DWORD DeleteThroughHandle(HANDLE entry)
{
    // POSIX semantics take the name away at once, so that the folder above can go even while a
    // scanner still holds the file; file systems without them take the classic disposition.
    FILE_DISPOSITION_INFO_EX now = {FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS};
    if (SetFileInformationByHandle(entry, kFileDispositionInfoEx, &now, sizeof now))
        return ERROR_SUCCESS;
    DWORD error = GetLastError();
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION)
        return error;
    FILE_DISPOSITION_INFO at_close = {TRUE};
    return SetFileInformationByHandle(entry, FileDispositionInfo, &at_close, sizeof at_close) ? ERROR_SUCCESS
                                                                                              : GetLastError();
}

bool FinalNtPath(HANDLE handle, wchar_t *path, DWORD capacity)
{
    DWORD length = GetFinalPathNameByHandleW(handle, path, capacity, FILE_NAME_NORMALIZED | VOLUME_NAME_NT);
    return length > 0 && length < capacity;
}

bool IsEntryOfFolder(HANDLE entry, const wchar_t *folder_nt_path, const wchar_t *name)
{
    wchar_t expected[600];
    wchar_t actual[600];
    return FormatWide(expected, 600, L"%s\\%s", folder_nt_path, name) >= 0 && FinalNtPath(entry, actual, 600) &&
           CompareStringOrdinal(expected, -1, actual, -1, TRUE) == CSTR_EQUAL;
}
