#pragma once

#include <stddef.h>
#include <stdint.h>

// Reading the package layout (release/package_format.h) with every rule a package must keep:
// the header, then one entry at a time, each refused on the first rule it breaks, then the end
// of the file; and an entry's unpacked bytes against its sizes and digest. Portable: the setup's
// extractor and the release tool read packages through it and keep only the decoding of method 1
// and the writing of files to themselves.

// The rule a package breaks, in the order the reader tries them.
enum PackageFault {
    PackageFaultNone,
    PackageFaultHeader,        // shorter than the header, or not the magic
    PackageFaultEntryCount,    // an entry count outside 1 to 4096
    PackageFaultEntryStart,    // the file ends before an entry's name length
    PackageFaultNameLength,    // a name length of 0 or above 240
    PackageFaultEntryFields,   // the file ends inside the name or the fields after it
    PackageFaultName,          // a name that IsSafeEntryName refuses
    PackageFaultStoredBytes,   // stored bytes that reach past the end of the file
    PackageFaultUnpackedSize,  // an unpacked size above 512 MiB
    PackageFaultMethod,        // a method other than 0 or 1
    PackageFaultStoredSize,    // method 0 with a stored size other than the unpacked size
    PackageFaultTrailingBytes, // bytes after the last entry
    PackageFaultDecoding,      // method 1 bytes that do not decode to exactly the unpacked size
    PackageFaultDigest,        // unpacked bytes whose SHA-256 is not the entry's
    PackageFaultNoDigest,      // the SHA-256 could not be computed: not the package's fault
};

// A package held in memory, read front to back.
struct PackageReader {
    const uint8_t *data;
    size_t size;
    uint32_t entry_count; // as the header states it, also when out of range
    uint32_t entries_read;
    size_t position;      // where the next entry begins
};

// One entry, pointing into the package's bytes. The name is not zero-terminated.
struct PackageEntryView {
    const char *name;
    uint32_t name_length;
    uint32_t unpacked_size;
    uint32_t stored_size;
    uint8_t method;
    const uint8_t *digest; // 32 bytes, SHA-256 of the unpacked bytes
    const uint8_t *stored; // stored_size bytes
};

// Checks the header of the `size` bytes at `data`, which stay the caller's.
PackageFault OpenPackage(PackageReader *reader, const uint8_t *data, size_t size);

// The next entry, to be called entry_count times. On a fault the reader stays where it was and
// `entry` holds what was read before the broken rule: the name length from
// PackageFaultNameLength on, the name, sizes and method from PackageFaultName on.
PackageFault ReadPackageEntry(PackageReader *reader, PackageEntryView *entry);

// After the last entry: PackageFaultEntryStart when entries were left unread,
// PackageFaultTrailingBytes when bytes follow the last one.
PackageFault FinishPackage(const PackageReader *reader);

// Decodes method 1 bytes into `out`, which must come out exactly full; false otherwise.
typedef bool (*PackageDecoder)(const uint8_t *stored, uint32_t stored_size, uint8_t *out, uint32_t out_size,
                               void *context);

// The entry's file in `out` (room for unpacked_size bytes, not null): its stored bytes for
// method 0, what `decode` makes of them for method 1; then checked against the entry's digest.
PackageFault UnpackPackageEntry(const PackageEntryView *entry, PackageDecoder decode, void *context, uint8_t *out);
