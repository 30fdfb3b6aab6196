// Listing a package's entries without unpacking them.

#include "tools/yayin/yayin.h"

#include <inttypes.h>
#include <stdio.h>

Status ShowPackageFile(const char *path)
{
    std::vector<uint8_t> file;
    std::vector<PackageEntry> entries;
    Status status = ReadPackageFile(path, &file, &entries);
    for (size_t i = 0; i < entries.size() && status == StatusOk; i++) {
        const PackageEntry &entry = entries[i];
        printf("girdi=%s|%u|%" PRIu32 "|%" PRIu32 "|%s\n", entry.name.c_str(), entry.method, entry.size,
               entry.stored_size, HexDigest(entry.sha256).c_str());
    }
    return status;
}
