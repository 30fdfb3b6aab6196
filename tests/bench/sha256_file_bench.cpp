// Hashes one file with the setup's Sha256File and prints the time it took, in milliseconds.
#include <windows.h>
#include <stdio.h>

#include "release/digest.h"

int wmain(int count, wchar_t **arguments)
{
    if (count != 2) {
        fprintf(stderr, "usage: sha256_file_bench FILE\n");
        return 2;
    }
    uint8_t digest[32];
    ULONGLONG start = GetTickCount64();
    Status status = Sha256File(arguments[1], digest);
    ULONGLONG elapsed = GetTickCount64() - start;
    if (status != StatusOk) {
        fprintf(stderr, "Sha256File: status %u\n", status);
        return 1;
    }
    for (int i = 0; i < 32; i++)
        printf("%02x", digest[i]);
    printf(" %llu\n", elapsed);
    return 0;
}
