#include "fetch/release_source.h"

#include <windows.h>
#include <stdlib.h>

#include "core/format.h"
#include "core/process_values.h"
#include "core/progress_state.h"
#include "core/setup_log.h"
#include "core/whole_file.h"
#include "fetch/http_download.h"

namespace {

const uint32_t kDownloadTimeoutMs = 30000;
const double kMegabyte = 1048576.0;

} // namespace

uint32_t DownloadProgress(uintptr_t context, uint32_t received, uint32_t total)
{
    uint32_t start = (uint32_t)context;
    wchar_t text[160];
    if (total != 0) {
        FormatWide(text, 160, L"Program paketi indiriliyor: %.1f / %.1f MB", received / kMegabyte, total / kMegabyte);
        SetStatus(text, start + (uint32_t)((uint64_t)received * 55 / total), 0);
    } else {
        FormatWide(text, 160, L"Program paketi indiriliyor: %.1f MB", received / kMegabyte);
        SetStatus(text, start, 1);
    }
    return Progress.cancel_requested == 0 ? 1 : 0;
}

bool SaveBufferToFile(const wchar_t *path, const uint8_t *buffer, uint32_t size)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        LogFailedCall("CreateFileW", path, GetLastError());
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(file, buffer, size, &written, nullptr) != FALSE;
    if (!ok)
        LogFailedCall("WriteFile", path, GetLastError());
    ok = ok && written == size;
    if (ok && !FlushFileBuffers(file)) {
        LogFailedCall("FlushFileBuffers", path, GetLastError());
        ok = false;
    }
    CloseHandle(file);
    if (!ok)
        DeleteFileW(path);
    return ok;
}

bool FetchReleaseFile(const char *name, uint32_t max_size, bool progress, uint32_t start_percent, uint8_t **buffer,
                      uint32_t *size)
{
    *buffer = nullptr;
    *size = 0;
    wchar_t wide_name[160];
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, wide_name, 160) == 0)
        return false;

    // A cut path or URL would name another file: refuse rather than fetch it.
    wchar_t location[460];
    if (Options.local_folder[0] != 0) {
        bool fits = FormatWide(location, 460, L"%s\\%s", Options.local_folder, wide_name) >= 0;
        LogLine("yerel dosya okunuyor: %s", name);
        if (!fits || !ReadWholeFile(location, max_size, false, buffer, size))
            return false;
        if (*size == 0) { // an empty file is no release file
            free(*buffer);
            *buffer = nullptr;
        }
        return *size != 0;
    }

    LogLine("indiriliyor: %s", name);
    uint32_t http_status = 0;
    Status status = StatusInvalid;
    if (FormatWide(location, 460, L"%s%s", Options.base_url, wide_name) >= 0)
        status = HttpDownload(location, max_size, kDownloadTimeoutMs, progress ? DownloadProgress : nullptr,
                              start_percent, buffer, size, &http_status);
    if (status == StatusOk)
        return true;
    LogLine("indirilemedi: %s (http %u)", name, http_status);
    return false;
}
