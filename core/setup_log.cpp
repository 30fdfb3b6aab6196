#include "core/setup_log.h"

#include <windows.h>
#include <winternl.h>
#include <stdarg.h>
#include <string.h>

#include "core/folder_handle.h"
#include "core/object_owner.h"
#include "core/format.h"

wchar_t LogPath[260];

// Whether the object behind the handle is at `path` (its first `length` characters), as
// Windows resolves it: a link anywhere on the way makes the final path another one.
static bool FinalPathIs(HANDLE handle, const wchar_t *path, size_t length)
{
    wchar_t final_path[300] = L"";
    DWORD got = GetFinalPathNameByHandleW(handle, final_path, 300, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    const wchar_t *plain = wcsncmp(final_path, L"\\\\?\\", 4) == 0 ? final_path + 4 : final_path;
    return got > 0 && got < 300 && CompareStringOrdinal(plain, -1, path, (int)length, TRUE) == CSTR_EQUAL;
}

// The setup runs elevated, and the removal's log lies in a folder the user's own programs can
// write: a hard link, a symbolic link or a junction planted at the log's name or above it would
// make it create or append to any file on the computer. The folder is opened first and checked
// to be the folder asked for; the file is then opened relative to that handle, so that no swap of
// the folder in between can lead elsewhere, and kept only when it is one plain file (not a link,
// one name) whose final path is the path asked for. The folder's owner must be the user the setup
// runs as, the system or the administrators: a log in a folder the user pointed TEMP at, one of
// another user or one only administrators may write, would put lines of the user's choosing
// where they do not belong (*foreign_folder then says so). `disposition` is FILE_OPEN_IF or
// FILE_CREATE.
static HANDLE OpenLogFile(const wchar_t *path, ULONG disposition, bool *foreign_folder = nullptr)
{
    const wchar_t *slash = wcsrchr(path, L'\\');
    wchar_t folder_path[260];
    size_t folder_length = slash != nullptr ? (size_t)(slash - path) : 0;
    if (folder_length == 0 || folder_length >= 260)
        return INVALID_HANDLE_VALUE;
    memcpy(folder_path, path, folder_length * sizeof(wchar_t));
    folder_path[folder_length] = 0;
    HANDLE folder = CreateFileW(folder_path, FILE_LIST_DIRECTORY | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    HANDLE file = INVALID_HANDLE_VALUE;
    bool trusted = IsTrustedOwner(folder, SE_FILE_OBJECT, true);
    if (foreign_folder != nullptr)
        *foreign_folder = !trusted;
    if (trusted && FinalPathIs(folder, folder_path, folder_length))
        OpenFolderEntry(folder, slash + 1, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, disposition,
                        FILE_NON_DIRECTORY_FILE, &file);
    CloseHandle(folder);
    if (file == INVALID_HANDLE_VALUE)
        return file;
    BY_HANDLE_FILE_INFORMATION info;
    bool own = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
               info.nNumberOfLinks == 1 &&
               !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
               FinalPathIs(file, path, wcslen(path));
    if (!own) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

// Moves LogPath into the system's own temporary folder for administrators ("SystemTemp" where
// Windows has it, else "Temp" in the Windows folder) and opens it there.
static HANDLE OpenInSystemTemp(const wchar_t *name)
{
    wchar_t windows[MAX_PATH];
    UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return INVALID_HANDLE_VALUE;
    static const wchar_t *const kTemps[] = {L"SystemTemp", L"Temp"};
    for (const wchar_t *temp : kTemps) {
        wchar_t path[260];
        if (FormatWide(path, 260, L"%s\\%s\\%s", windows, temp, name) < 0)
            continue;
        HANDLE file = OpenLogFile(path, FILE_OPEN_IF);
        if (file != INVALID_HANDLE_VALUE) {
            memcpy(LogPath, path, sizeof path);
            return file;
        }
    }
    return INVALID_HANDLE_VALUE;
}

void ClaimLogFile(wchar_t *refused_folder, size_t capacity)
{
    refused_folder[0] = 0;
    if (LogPath[0] == 0)
        return;
    bool foreign = false;
    HANDLE file = OpenLogFile(LogPath, FILE_OPEN_IF, &foreign);
    if (file == INVALID_HANDLE_VALUE && foreign) {
        const wchar_t *slash = wcsrchr(LogPath, L'\\');
        FormatWide(refused_folder, capacity, L"%.*s", (int)(slash - LogPath), LogPath);
        file = OpenInSystemTemp(slash + 1);
        if (file == INVALID_HANDLE_VALUE)
            LogPath[0] = 0;
    } else if (file == INVALID_HANDLE_VALUE) {
        // Whatever stands at the name is left alone; the run gets a new file of its own beside it.
        size_t length = wcslen(LogPath);
        wchar_t fresh[260];
        if (length > 4 && FormatWide(fresh, 260, L"%.*s-%lu-%llu.log", (int)(length - 4), LogPath,
                                     GetCurrentProcessId(), GetTickCount64()) >= 0)
            file = OpenLogFile(fresh, FILE_CREATE);
        if (file != INVALID_HANDLE_VALUE)
            memcpy(LogPath, fresh, sizeof fresh);
        else
            LogPath[0] = 0;
    }
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

void LogLine(const char *format, ...)
{
    if (LogPath[0] == 0)
        return;

    char message[1024];
    va_list args;
    va_start(args, format);
    FormatNarrowV(message, sizeof message, format, args);
    va_end(args);

    SYSTEMTIME now;
    GetLocalTime(&now);
    char line[1100];
    int length = FormatNarrow(line, sizeof line, "%04u-%02u-%02u %02u:%02u:%02u %s\r\n", now.wYear,
                              now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, message);
    if (length < 0)
        return;

    HANDLE file = OpenLogFile(LogPath, FILE_OPEN_IF);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, line, (DWORD)length, &written, nullptr);
    CloseHandle(file);
}

void LogFailedCall(const char *call, const wchar_t *subject, unsigned long code, const char *kind)
{
    char code_text[16];
    FormatNarrow(code_text, sizeof code_text, (code & 0x80000000UL) ? "0x%08lX" : "%lu", code);
    LogLine("%s basarisiz%s%ls (kod %s%s%s)", call, subject != nullptr ? ": " : "", subject != nullptr ? subject : L"",
            code_text, kind != nullptr ? ", " : "", kind != nullptr ? kind : "");
}
