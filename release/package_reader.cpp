#include "release/package_reader.h"

#include <string.h>

#include "release/digest.h"
#include "release/entry_name.h"
#include "release/little_endian.h"
#include "release/package_format.h"

PackageFault OpenPackage(PackageReader *reader, const uint8_t *data, size_t size)
{
    reader->data = data;
    reader->size = size;
    reader->entry_count = 0;
    reader->entries_read = 0;
    reader->position = kPackageHeaderSize;
    if (size < kPackageHeaderSize || memcmp(data, kPackageMagic, sizeof kPackageMagic) != 0)
        return PackageFaultHeader;
    reader->entry_count = ReadU32(data + 4);
    if (reader->entry_count < kPackageMinEntries || reader->entry_count > kPackageMaxEntries)
        return PackageFaultEntryCount;
    return PackageFaultNone;
}

PackageFault ReadPackageEntry(PackageReader *reader, PackageEntryView *entry)
{
    const uint8_t *data = reader->data;
    size_t size = reader->size;
    size_t p = reader->position;
    memset(entry, 0, sizeof *entry);
    if (size - p < kEntryNameLengthSize)
        return PackageFaultEntryStart;
    entry->name_length = ReadU16(data + p);
    p += kEntryNameLengthSize;
    if (entry->name_length < kEntryNameMinLength || entry->name_length > kEntryNameMaxLength)
        return PackageFaultNameLength;
    if (size - p < entry->name_length + kEntryFieldsSize)
        return PackageFaultEntryFields;
    entry->name = (const char *)data + p;
    p += entry->name_length;
    entry->unpacked_size = ReadU32(data + p + kEntryUnpackedSizeOffset);
    entry->stored_size = ReadU32(data + p + kEntryStoredSizeOffset);
    entry->method = data[p + kEntryMethodOffset];
    entry->digest = data + p + kEntryDigestOffset;
    p += kEntryFieldsSize;
    entry->stored = data + p;
    if (!IsSafeEntryName(entry->name, entry->name_length))
        return PackageFaultName;
    if (entry->stored_size > size - p)
        return PackageFaultStoredBytes;
    if (entry->unpacked_size > kPackageMaxUnpackedSize)
        return PackageFaultUnpackedSize;
    if (entry->method != kPackageMethodStored && entry->method != kPackageMethodLzms)
        return PackageFaultMethod;
    if (entry->method == kPackageMethodStored && entry->stored_size != entry->unpacked_size)
        return PackageFaultStoredSize;
    reader->position = p + entry->stored_size;
    reader->entries_read++;
    return PackageFaultNone;
}

PackageFault FinishPackage(const PackageReader *reader)
{
    if (reader->entries_read < reader->entry_count)
        return PackageFaultEntryStart;
    return reader->position == reader->size ? PackageFaultNone : PackageFaultTrailingBytes;
}

PackageFault UnpackPackageEntry(const PackageEntryView *entry, PackageDecoder decode, void *context, uint8_t *out)
{
    if (entry->method == kPackageMethodLzms) {
        if (!decode(entry->stored, entry->stored_size, out, entry->unpacked_size, context))
            return PackageFaultDecoding;
    } else if (entry->stored_size > 0) {
        memcpy(out, entry->stored, entry->stored_size);
    }
    uint8_t digest[kEntryDigestSize];
    if (Sha256Buffer(out, entry->unpacked_size, digest) != StatusOk)
        return PackageFaultNoDigest;
    return memcmp(digest, entry->digest, kEntryDigestSize) == 0 ? PackageFaultNone : PackageFaultDigest;
}
