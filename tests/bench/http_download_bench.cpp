// Downloads one URL with the setup's HttpDownload, the expected size as its limit, and prints
// the bytes received, the milliseconds it took and the process's peak working set in bytes.
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "fetch/http_download.h"

int wmain(int count, wchar_t **arguments)
{
    wchar_t *end = nullptr;
    unsigned long long expected = count == 3 ? wcstoull(arguments[2], &end, 10) : 0;
    if (count != 3 || *end != 0 || expected == 0 || expected > UINT32_MAX) {
        fprintf(stderr, "usage: http_download_bench URL EXPECTED_SIZE\n");
        return 2;
    }
    uint8_t *body = nullptr;
    uint32_t size = 0;
    uint32_t http_status = 0;
    ULONGLONG start = GetTickCount64();
    Status status = HttpDownload(arguments[1], (uint32_t)expected, 30000, nullptr, 0, &body, &size, &http_status);
    ULONGLONG elapsed = GetTickCount64() - start;
    free(body);
    if (status != StatusOk) {
        fprintf(stderr, "HttpDownload: status %u, HTTP status %u\n", status, http_status);
        return 1;
    }
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory)) {
        fprintf(stderr, "K32GetProcessMemoryInfo: error %lu\n", GetLastError());
        return 1;
    }
    printf("%u %llu %llu\n", size, elapsed, (unsigned long long)memory.PeakWorkingSetSize);
    return 0;
}
