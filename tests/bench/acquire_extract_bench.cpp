// Takes the release in a local folder as the setup does (manifest, then the package fetched,
// saved and hashed) and unpacks the package, and prints the milliseconds of acquisition and of
// extraction, the number of files and the process's peak working set in bytes.
#include <windows.h>
#include <psapi.h>
#include <stdio.h>

#include "core/format.h"
#include "app/options.h"
#include "core/process_values.h"
#include "core/progress_state.h"
#include "install/acquisition.h"
#include "release/package_extract.h"

int wmain(int count, wchar_t **arguments)
{
    if (count != 3 || !ParseOptions(0, nullptr, DefaultBaseUrl, &Options) ||
        FormatWide(Options.local_folder, 260, L"%s", arguments[1]) < 0) {
        fprintf(stderr, "usage: acquire_extract_bench RELEASE_FOLDER WORK_FOLDER\n");
        return 2;
    }
    wchar_t package[260];
    wchar_t unpacked[260];
    FormatWide(package, 260, L"%s\\paket.tpk", arguments[2]);
    FormatWide(unpacked, 260, L"%s\\acilan", arguments[2]);
    ProgramEntry entry;
    if (!AcquireManifest(&entry)) {
        fprintf(stderr, "%ls\n", Progress.result_text);
        return 1;
    }
    ULONGLONG start = GetTickCount64();
    if (!AcquirePackage(&entry, package)) {
        fprintf(stderr, "%ls\n", Progress.result_text);
        return 1;
    }
    ULONGLONG acquired = GetTickCount64();
    uint32_t files = 0;
    Status status = ExtractPackage(package, unpacked, &files);
    ULONGLONG extracted = GetTickCount64();
    if (status != StatusOk) {
        fprintf(stderr, "ExtractPackage: status %u\n", status);
        return 1;
    }
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    printf("%llu %llu %u %llu\n", acquired - start, extracted - acquired, files,
           (unsigned long long)memory.PeakWorkingSetSize);
    return 0;
}
