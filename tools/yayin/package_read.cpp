// Reading a package: its layout with every check the setup's extractor makes, and the bytes of
// one entry, unpacked with our own LZMS decoder and checked against the entry's digest.

#include "tools/yayin/yayin.h"

#include <inttypes.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "release/digest.h"
#include "release/little_endian.h"
#include "release/package_format.h"
#include "lzms/lzms.h"

namespace {

Status Malformed(const char *package, size_t index, const char *format, ...) __attribute__((format(printf, 3, 4)));

// "PACKAGE: entry INDEX: ..." for a fault inside an entry, "PACKAGE: ..." without an index.
Status Malformed(const char *package, size_t index, const char *format, ...)
{
    char detail[512];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(detail, sizeof detail, format, arguments);
    va_end(arguments);
    if (index == 0)
        ReportError("%s geçersiz paket: %s", package, detail);
    else
        ReportError("%s geçersiz paket: %zu. girdi: %s", package, index, detail);
    return StatusInvalid;
}

// The entries of the package `file` (of at most 512 MiB, read from `package`, which messages
// name), refused as the setup refuses them and, beyond that, when Windows would take two names
// for one path.
Status ParsePackage(const char *package, const std::vector<uint8_t> &file, std::vector<PackageEntry> *entries)
{
    const uint8_t *data = file.data();
    size_t size = file.size();
    if (size < kPackageHeaderSize || memcmp(data, kPackageMagic, sizeof kPackageMagic) != 0)
        return Malformed(package, 0, "TPK1 ile başlamıyor");
    uint32_t count = ReadU32(data + 4);
    if (count < kPackageMinEntries || count > kPackageMaxEntries)
        return Malformed(package, 0, "girdi sayısı %" PRIu32 "; 1 ile 4096 arasında olmalı", count);
    size_t p = kPackageHeaderSize;
    for (size_t index = 1; index <= count; index++) {
        if (size - p < kEntryNameLengthSize)
            return Malformed(package, index, "dosya girdinin başında bitiyor");
        size_t n = ReadU16(data + p);
        p += kEntryNameLengthSize;
        if (n < kEntryNameMinLength || n > kEntryNameMaxLength)
            return Malformed(package, index, "ad uzunluğu %zu; 1 ile 240 arasında olmalı", n);
        if (size - p < n + kEntryFieldsSize)
            return Malformed(package, index, "dosya girdinin alanlarından önce bitiyor");
        PackageEntry entry;
        entry.name.assign((const char *)data + p, n);
        p += n;
        entry.size = ReadU32(data + p + kEntryUnpackedSizeOffset);
        entry.stored_size = ReadU32(data + p + kEntryStoredSizeOffset);
        entry.method = data[p + kEntryMethodOffset];
        memcpy(entry.sha256, data + p + kEntryDigestOffset, kEntryDigestSize);
        p += kEntryFieldsSize;
        std::string shown = EscapeText(entry.name.data(), entry.name.size());
        const char *fault = EntryNameFault(entry.name);
        if (fault != nullptr)
            return Malformed(package, index, "\"%s\": %s", shown.c_str(), fault);
        if (entry.stored_size > size - p)
            return Malformed(package, index, "\"%s\": saklanan %" PRIu32 " bayt dosyanın sonunu aşıyor", shown.c_str(),
                             entry.stored_size);
        if (entry.size > kPackageMaxUnpackedSize)
            return Malformed(package, index, "\"%s\": açılmış boyut %" PRIu32 " bayt; en çok %" PRIu32, shown.c_str(),
                             entry.size, kPackageMaxUnpackedSize);
        if (entry.method != kPackageMethodStored && entry.method != kPackageMethodLzms)
            return Malformed(package, index, "\"%s\": yöntem %u; 0 ya da 1 olmalı", shown.c_str(), entry.method);
        if (entry.method == kPackageMethodStored && entry.stored_size != entry.size)
            return Malformed(package, index, "\"%s\": yöntem 0 ama saklanan %" PRIu32 " bayt, açılmış %" PRIu32 " bayt",
                             shown.c_str(), entry.stored_size, entry.size);
        entry.stored = data + p;
        p += entry.stored_size;
        entries->push_back(entry);
    }
    if (p != size)
        return Malformed(package, 0, "son girdiden sonra %zu bayt fazla", size - p);
    std::vector<std::string> names;
    for (const PackageEntry &entry : *entries)
        names.push_back(entry.name);
    return CheckNameCollisions(names);
}

} // namespace

Status ReadPackageFile(const char *path, std::vector<uint8_t> *file, std::vector<PackageEntry> *entries)
{
    entries->clear();
    Status status = ReadWholeFile(path, kPackageMaxSize, file);
    if (status == StatusBufferTooSmall)
        return StatusInvalid; // the setup refuses a file of that size just the same
    return status == StatusOk ? ParsePackage(path, *file, entries) : status;
}

Status UnpackEntry(const char *package, const PackageEntry &entry, std::vector<uint8_t> *bytes)
{
    std::string shown = EscapeText(entry.name.data(), entry.name.size());
    bytes->assign(entry.size, 0);
    if (entry.method == kPackageMethodStored) {
        if (entry.size > 0)
            memcpy(bytes->data(), entry.stored, entry.size);
    } else if (!DecodeLzmsBuffer(entry.stored, entry.stored_size, bytes->data(), bytes->size())) {
        ReportError("%s geçersiz paket: \"%s\" LZMS verisi %" PRIu32 " bayta açılmıyor", package, shown.c_str(),
                    entry.size);
        return StatusInvalid;
    }
    uint8_t digest[32];
    if (Sha256Buffer(bytes->data(), entry.size, digest) != StatusOk) {
        ReportError("SHA-256 hesaplanamıyor");
        return StatusIoError;
    }
    if (memcmp(digest, entry.sha256, sizeof digest) != 0) {
        ReportError("%s geçersiz paket: \"%s\" SHA-256 özeti tutmuyor", package, shown.c_str());
        return StatusInvalid;
    }
    return StatusOk;
}
