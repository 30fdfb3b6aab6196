// Reading a package: its layout through the setup's own reader, with a message for the rule it
// breaks, and the bytes of one entry, unpacked with our own LZMS decoder and checked against the
// entry's digest.

#include "tools/yayin/yayin.h"

#include <inttypes.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "lzms/lzms.h"
#include "release/package_format.h"
#include "release/package_reader.h"

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
        PrintError("%s geçersiz paket: %s", package, detail);
    else
        PrintError("%s geçersiz paket: %zu. girdi: %s", package, index, detail);
    return StatusInvalid;
}

// The message for a rule that the entry `index` breaks before its name has been read.
Status MalformedEntryStart(const char *package, size_t index, PackageFault fault, const PackageEntryView &entry)
{
    if (fault == PackageFaultEntryStart)
        return Malformed(package, index, "dosya girdinin başında bitiyor");
    if (fault == PackageFaultNameLength)
        return Malformed(package, index, "ad uzunluğu %" PRIu32 "; 1 ile 240 arasında olmalı", entry.name_length);
    return Malformed(package, index, "dosya girdinin alanlarından önce bitiyor");
}

// The message for a rule on the sizes or the method of the entry `index`, named `shown`.
Status MalformedEntryFields(const char *package, size_t index, PackageFault fault, const PackageEntryView &entry,
                            const char *shown)
{
    if (fault == PackageFaultStoredBytes)
        return Malformed(package, index, "\"%s\": saklanan %" PRIu32 " bayt dosyanın sonunu aşıyor", shown,
                         entry.stored_size);
    if (fault == PackageFaultUnpackedSize)
        return Malformed(package, index, "\"%s\": açılmış boyut %" PRIu32 " bayt; en çok %" PRIu32, shown,
                         entry.unpacked_size, kPackageMaxUnpackedSize);
    if (fault == PackageFaultMethod)
        return Malformed(package, index, "\"%s\": yöntem %u; 0 ya da 1 olmalı", shown, entry.method);
    return Malformed(package, index, "\"%s\": yöntem 0 ama saklanan %" PRIu32 " bayt, açılmış %" PRIu32 " bayt", shown,
                     entry.stored_size, entry.unpacked_size);
}

// The entries of the package `file` (of at most 512 MiB, read from `package`, which messages
// name), refused as the setup refuses them and, beyond that, when Windows could not convert a
// name or would take two names for one path.
Status ParsePackage(const char *package, const std::vector<uint8_t> &file, std::vector<PackageEntry> *entries)
{
    PackageReader reader;
    PackageFault fault = OpenPackage(&reader, file.data(), file.size());
    if (fault == PackageFaultHeader)
        return Malformed(package, 0, "TPK1 ile başlamıyor");
    if (fault == PackageFaultEntryCount)
        return Malformed(package, 0, "girdi sayısı %" PRIu32 "; 1 ile 4096 arasında olmalı", reader.entry_count);
    for (size_t index = 1; index <= reader.entry_count; index++) {
        PackageEntryView view;
        fault = ReadPackageEntry(&reader, &view);
        if (fault == PackageFaultEntryStart || fault == PackageFaultNameLength || fault == PackageFaultEntryFields)
            return MalformedEntryStart(package, index, fault, view);
        // The name's rules come first, ours included, as soon as the name is there.
        PackageEntry entry;
        entry.name.assign(view.name, view.name_length);
        std::string shown = EscapeText(entry.name.data(), entry.name.size());
        const char *name_fault = EntryNameFault(entry.name);
        if (name_fault != nullptr)
            return Malformed(package, index, "\"%s\": %s", shown.c_str(), name_fault);
        if (fault != PackageFaultNone)
            return MalformedEntryFields(package, index, fault, view, shown.c_str());
        entry.size = view.unpacked_size;
        entry.stored_size = view.stored_size;
        entry.method = view.method;
        memcpy(entry.sha256, view.digest, sizeof entry.sha256);
        entry.stored = view.stored;
        entries->push_back(entry);
    }
    if (FinishPackage(&reader) != PackageFaultNone)
        return Malformed(package, 0, "son girdiden sonra %zu bayt fazla", reader.size - reader.position);
    std::vector<std::string> names;
    for (const PackageEntry &entry : *entries)
        names.push_back(entry.name);
    return CheckNameCollisions(names);
}

bool DecodeStored(const uint8_t *stored, uint32_t stored_size, uint8_t *out, uint32_t out_size, void *)
{
    return DecodeLzmsBuffer(stored, stored_size, out, out_size);
}

} // namespace

Status ReadPackageFile(const char *path, std::vector<uint8_t> *file, std::vector<PackageEntry> *entries)
{
    entries->clear();
    Status status = LoadFile(path, kPackageMaxSize, file);
    if (status == StatusBufferTooSmall)
        return StatusInvalid; // the setup refuses a file of that size just the same
    return status == StatusOk ? ParsePackage(path, *file, entries) : status;
}

PackageFault DecodeEntry(const PackageEntry &entry, std::vector<uint8_t> *bytes)
{
    // Room for one byte more, so that the buffer exists for an empty file too.
    bytes->assign((size_t)entry.size + 1, 0);
    PackageEntryView view = {entry.name.data(), (uint32_t)entry.name.size(), entry.size, entry.stored_size,
                             entry.method,       entry.sha256,                entry.stored};
    PackageFault fault = UnpackPackageEntry(&view, DecodeStored, nullptr, bytes->data());
    bytes->resize(entry.size);
    return fault;
}

Status ReportEntryFault(const char *package, const PackageEntry &entry, PackageFault fault)
{
    std::string shown = EscapeText(entry.name.data(), entry.name.size());
    switch (fault) {
    case PackageFaultNone:
        return StatusOk;
    case PackageFaultDecoding:
        PrintError("%s geçersiz paket: \"%s\" LZMS verisi %" PRIu32 " bayta açılmıyor", package, shown.c_str(),
                   entry.size);
        return StatusInvalid;
    case PackageFaultNoDigest:
        PrintError("SHA-256 hesaplanamıyor");
        return StatusIoError;
    default:
        PrintError("%s geçersiz paket: \"%s\" SHA-256 özeti tutmuyor", package, shown.c_str());
        return StatusInvalid;
    }
}

Status UnpackEntry(const char *package, const PackageEntry &entry, std::vector<uint8_t> *bytes)
{
    return ReportEntryFault(package, entry, DecodeEntry(entry, bytes));
}
