// talvor-denetle: checks a release folder the way the setup will take it, with the setup's own
// procedures and its built-in release key, and prints one stable key=value line per check.
//
//   talvor-denetle --yerel=<folder>
//   talvor-denetle --adres=<base URL>
//
// Exit code 0 when every check passed, 1 otherwise, 2 for a bad command line.
#include <windows.h>
#include <stdarg.h>
#include <stdlib.h>
#include <wchar.h>

#include "app/options.h"
#include "core/format.h"
#include "fetch/http_download.h"
#include "fetch/release_source.h"
#include "release/component_list.h"
#include "release/signature.h"
#include "release/signed_manifest.h"

namespace {

void Print(HANDLE out, const char *format, ...)
{
    char line[1024];
    va_list args;
    va_start(args, format);
    int length = FormatNarrowV(line, sizeof line - 1, format, args);
    va_end(args);
    if (length < 0)
        return;
    size_t used = (size_t)length < sizeof line - 2 ? (size_t)length : sizeof line - 2;
    line[used++] = '\n';
    DWORD written;
    WriteFile(out, line, (DWORD)used, &written, nullptr);
}

// Gets bildirim.tdb the way the setup does: read from the folder, or downloaded from the base
// URL, whose outcome is printed as indirme=<HTTP status> (0 when none, or on success).
bool FetchManifest(HANDLE out, uint8_t **data, uint32_t *size)
{
    if (Options.local_folder[0] != 0) {
        if (FetchReleaseFile("bildirim.tdb", kManifestMaxSize, false, 0, data, size))
            return true;
        Print(out, "hata=%ls", L"Kurulum klasöründe bildirim.tdb bulunamadı.");
        return false;
    }
    wchar_t url[600];
    uint32_t http_status = 0;
    Status status = StatusInvalid;
    if (FormatWide(url, 600, L"%sbildirim.tdb", Options.base_url) > 0)
        status = HttpDownload(url, kManifestMaxSize, 30000, nullptr, 0, data, size, &http_status);
    Print(out, "indirme=%u", status == StatusOk ? 0 : http_status);
    if (status == StatusOk)
        return true;
    Print(out, "hata=%ls", L"Sürüm bilgisi alınamadı. İnternet bağlantını denetleyip kurulumu yeniden çalıştır.");
    return false;
}

// Returns true when every check passed.
bool CheckRelease(HANDLE out)
{
    uint8_t *data = nullptr;
    uint32_t size = 0;
    if (!FetchManifest(out, &data, &size))
        return false;
    SignedManifest *manifest = nullptr;
    Status status = ParseSignedManifest(data, size, GetReleasePublicKey(), &manifest);
    free(data);
    Print(out, "bildirim=%u", status);
    if (status != StatusOk)
        return false;

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
    return installable;
}

} // namespace

int wmain(int count, wchar_t **arguments)
{
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // One source, given as the setup takes it: a folder, or a base URL.
    const wchar_t *name = count == 2 ? OptionName(arguments[1]) : nullptr;
    bool ok = name != nullptr && ParseOptions(count, arguments, DefaultBaseUrl, &Options) &&
              (wcsncmp(name, L"yerel=", 6) == 0 || wcsncmp(name, L"adres=", 6) == 0);
    if (!ok) {
        Print(GetStdHandle(STD_ERROR_HANDLE), "kullanim: talvor-denetle --yerel=<klasor> | --adres=<temel adres>");
        return 2;
    }
    return CheckRelease(GetStdHandle(STD_OUTPUT_HANDLE)) ? 0 : 1;
}
