// talvor-denetle: checks a release folder the way the setup will take it, with the setup's own
// procedures and its built-in release key, and prints one stable key=value line per check.
//
//   talvor-denetle --yerel=<folder> [--ac=<folder>]
//   talvor-denetle --adres=<base URL> [--ac=<folder>]
//
// It shows the manifest's serial and expiry and refuses an expired manifest, as the setup does.
// After the manifest it takes the package as the setup does, into a temporary folder, and unpacks
// it there, or with --ac into the given folder (which must not exist), where it is left.
//
// Exit code 0 when every check passed, 1 otherwise, 2 for a bad command line.
#include <windows.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "app/options.h"
#include "core/format.h"
#include "core/progress_state.h"
#include "fetch/http_download.h"
#include "fetch/release_source.h"
#include "install/acquisition.h"
#include "install/install_sequence.h"
#include "install/version_store.h"
#include "release/component_list.h"
#include "release/manifest_freshness.h"
#include "release/package_extract.h"
#include "release/signature.h"
#include "release/signed_manifest.h"
#include "uninstall/remove_tree.h"

namespace {

void Print(HANDLE out, const char *format, ...)
{
    char line[1024];
    va_list args;
    va_start(args, format);
    // A line too long for the buffer is printed cut, with room left for its line end.
    FormatNarrowV(line, sizeof line - 1, format, args);
    va_end(args);
    size_t used = strlen(line);
    line[used++] = '\n';
    DWORD written;
    WriteFile(out, line, (DWORD)used, &written, nullptr);
}

// Gets bildirim.tdb the way the setup does: read from the folder, or downloaded from the base
// URL, whose outcome is printed as indirme=<HTTP status> (0 when none, or on success).
bool FetchManifest(HANDLE out, uint8_t **data, uint32_t *size)
{
    if (Options.local_folder[0] != 0) {
        if (FetchReleaseFile(kManifestFileName, kManifestMaxSize, false, 0, data, size))
            return true;
        Print(out, "hata=%ls", kManifestNotInFolderMessage);
        return false;
    }
    wchar_t url[600];
    uint32_t http_status = 0;
    Status status = StatusInvalid;
    if (FormatWide(url, 600, L"%s%hs", Options.base_url, kManifestFileName) >= 0)
        status = HttpDownload(url, kManifestMaxSize, 30000, nullptr, 0, data, size, &http_status);
    Print(out, "indirme=%u", status == StatusOk ? 0 : http_status);
    if (status == StatusOk)
        return true;
    Print(out, "hata=%ls", kManifestNotFetchedMessage);
    return false;
}

const wchar_t kManifestExpiredMessage[] =
    L"Sürüm bilgisinin geçerlilik süresi dolmuş. Yayımcının bildirimi talvor-yayin yenile ile yenilemesi gerekiyor.";

// A FILETIME counts 100-nanosecond ticks since 1601; the manifest counts seconds since 1970.
const uint64_t kTicksPerSecond = 10000000;
const uint64_t kSecondsFrom1601To1970 = 11644473600ull;

uint64_t UnixTimeNow()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint64_t seconds = ((uint64_t)now.dwHighDateTime << 32 | now.dwLowDateTime) / kTicksPerSecond;
    return seconds > kSecondsFrom1601To1970 ? seconds - kSecondsFrom1601To1970 : 0;
}

// Prints the manifest's expiry as seconds since 1970 and as UTC date and time, the latter "-"
// past the year 9999.
void PrintExpiry(HANDLE out, uint64_t expires_at)
{
    Print(out, "gecerlilik=%llu", (unsigned long long)expires_at);
    ULARGE_INTEGER ticks;
    ticks.QuadPart = (expires_at + kSecondsFrom1601To1970) * kTicksPerSecond;
    FILETIME time = {ticks.LowPart, ticks.HighPart};
    SYSTEMTIME fields;
    if (expires_at <= 253402300799ull && FileTimeToSystemTime(&time, &fields))
        Print(out, "gecerlilik_utc=%04u-%02u-%02uT%02u:%02u:%02uZ", fields.wYear, fields.wMonth, fields.wDay,
              fields.wHour, fields.wMinute, fields.wSecond);
    else
        Print(out, "gecerlilik_utc=-");
}

// Fetches, saves and proves the package in a temporary folder of its own, then unpacks it into
// `open_into` or, when that is empty, beside it and removes what it unpacked.
bool CheckPackage(HANDLE out, const ProgramEntry *entry, const wchar_t *open_into)
{
    wchar_t temp[MAX_PATH];
    wchar_t work[MAX_PATH];
    wchar_t package[MAX_PATH];
    wchar_t unpacked[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, temp);
    bool named = length > 0 && length < MAX_PATH &&
                 FormatWide(work, MAX_PATH, L"%stalvor-denetle-%lu", temp, GetCurrentProcessId()) >= 0 &&
                 FormatWide(package, MAX_PATH, L"%s\\%hs", work, entry->package_file) >= 0 &&
                 (open_into[0] != 0 ? FormatWide(unpacked, MAX_PATH, L"%s", open_into)
                                    : FormatWide(unpacked, MAX_PATH, L"%s\\acilan", work)) >= 0;
    if (!named || !CreateDirectoryW(work, nullptr)) {
        Print(out, "hata=%ls", L"Geçici klasör kurulamadı.");
        return false;
    }
    bool proven = AcquirePackage(entry, package);
    Print(out, "paket_dogrulandi=%d", proven ? 1 : 0);
    bool ok = false;
    if (!proven) {
        Print(out, "hata=%ls", Progress.result_text);
    } else {
        uint32_t count = 0;
        Status status = ExtractPackage(package, unpacked, &count);
        Print(out, "acma=%u", status);
        Print(out, "dosya=%u", status == StatusOk ? count : 0);
        bool complete = status == StatusOk && HasRequiredFiles(unpacked);
        if (status == StatusOk)
            Print(out, "tam=%d", complete ? 1 : 0);
        if (!complete)
            Print(out, "hata=%ls", kPackageNotUnpackedMessage);
        ok = complete;
    }
    DeleteFileW(package);
    if (open_into[0] == 0)
        DeleteTreePlain(unpacked);
    RemoveDirectoryW(work);
    return ok;
}

// Returns true when every check passed.
bool CheckRelease(HANDLE out, const wchar_t *open_into)
{
    uint8_t *data = nullptr;
    uint32_t size = 0;
    if (!FetchManifest(out, &data, &size))
        return false;
    SignedManifest *manifest = nullptr;
    Status status = ParseSignedManifest(data, size, GetReleasePublicKey(), &manifest);
    free(data);
    // An expiry that is no time makes the manifest unusable, as a damaged one is.
    bool has_expiry = false;
    uint64_t expires_at = 0;
    if (status == StatusOk && !ReadManifestExpiry(manifest, &has_expiry, &expires_at))
        status = StatusInvalid;
    Print(out, "bildirim=%u", status);
    if (status != StatusOk) {
        FreeManifest(manifest);
        return false;
    }
    Print(out, "seri=%llu", (unsigned long long)manifest->header_u64);
    if (has_expiry) {
        PrintExpiry(out, expires_at);
        if (UnixTimeNow() > expires_at) {
            FreeManifest(manifest);
            Print(out, "hata=%ls", kManifestExpiredMessage);
            return false;
        }
    }

    ProgramEntry entry;
    status = LookupManifestEntry(manifest, "program", &entry);
    FreeManifest(manifest);
    Print(out, "program=%u", status);
    if (status != StatusOk)
        return false;
    bool installable = IsInstallableEntry(&entry);
    Print(out, "surum=%s", entry.version);
    Print(out, "boyut=%llu", (unsigned long long)entry.size);
    Print(out, "paket=%s", entry.package_file);
    Print(out, "kurulabilir=%d", installable ? 1 : 0);
    return installable && CheckPackage(out, &entry, open_into);
}

} // namespace

int wmain(int count, wchar_t **arguments)
{
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // One source, given as the setup takes it (a folder or a base URL), and where to unpack.
    const wchar_t *open_into = L"";
    wchar_t *source[2] = {count > 0 ? arguments[0] : nullptr, nullptr};
    int sources = 0;
    bool ok = true;
    for (int i = 1; i < count && ok; i++) {
        const wchar_t *name = OptionName(arguments[i]);
        if (name != nullptr && wcsncmp(name, L"ac=", 3) == 0 && name[3] != 0 && open_into[0] == 0)
            open_into = name + 3;
        else if (name != nullptr && (wcsncmp(name, L"yerel=", 6) == 0 || wcsncmp(name, L"adres=", 6) == 0) &&
                 sources == 0)
            source[++sources] = arguments[i];
        else
            ok = false;
    }
    ok = ok && sources == 1 && ParseOptions(2, source, DefaultBaseUrl, &Options);
    if (!ok) {
        Print(GetStdHandle(STD_ERROR_HANDLE),
              "kullanim: talvor-denetle --yerel=<klasor> | --adres=<temel adres> [--ac=<klasor>]");
        return 2;
    }
    return CheckRelease(GetStdHandle(STD_OUTPUT_HANDLE), open_into) ? 0 : 1;
}
