// talvor-denetle: checks a release folder the way the setup will take it, with the setup's own
// procedures and its built-in release key, and prints one stable key=value line per check.
//
//   talvor-denetle --yerel=<folder>
//
// Exit code 0 when every check passed, 1 otherwise, 2 for a bad command line.
#include <windows.h>
#include <stdarg.h>
#include <stdlib.h>
#include <wchar.h>

#include "app/options.h"
#include "core/format.h"
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

// Reads at most one byte more than a manifest may have, so that an oversized file still
// reaches the reader, which refuses it.
bool ReadManifestFile(const wchar_t *path, uint8_t **data, uint32_t *size)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const DWORD room = kManifestMaxSize + 1;
    uint8_t *buffer = (uint8_t *)malloc(room);
    DWORD total = 0;
    bool ok = buffer != nullptr;
    while (ok && total < room) {
        DWORD got = 0;
        ok = ReadFile(file, buffer + total, room - total, &got, nullptr) != 0;
        if (got == 0)
            break;
        total += got;
    }
    CloseHandle(file);
    if (!ok) {
        free(buffer);
        return false;
    }
    *data = buffer;
    *size = total;
    return true;
}

// Returns true when every check passed.
bool CheckRelease(HANDLE out, const wchar_t *folder)
{
    wchar_t path[300];
    uint8_t *data = nullptr;
    uint32_t size = 0;
    if (FormatWide(path, 300, L"%s\\bildirim.tdb", folder) < 1 || !ReadManifestFile(path, &data, &size)) {
        Print(out, "hata=%ls", L"Kurulum klasöründe bildirim.tdb bulunamadı.");
        return false;
    }
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
    const wchar_t *name = count == 2 ? OptionName(arguments[1]) : nullptr;
    if (name == nullptr || wcsncmp(name, L"yerel=", 6) != 0 || name[6] == 0 || wcslen(name + 6) >= 260) {
        Print(GetStdHandle(STD_ERROR_HANDLE), "kullanim: talvor-denetle --yerel=<klasor>");
        return 2;
    }
    const wchar_t *folder = name + 6;
    return CheckRelease(GetStdHandle(STD_OUTPUT_HANDLE), folder) ? 0 : 1;
}
