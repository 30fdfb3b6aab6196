// libFuzzer target for the package reader, built with AddressSanitizer and
// UndefinedBehaviorSanitizer. Every input is walked as the setup walks a package, each entry the
// reader accepts is unpacked with the LZMS decoder, and what the reader hands out is held to the
// layout: an accepted entry lies inside the input, keeps every rule and ends where the next one
// begins, and the package is accepted only when its entries end exactly at its end.
#include <stdlib.h>

#include <memory>

#include "lzms/lzms.h"
#include "release/entry_name.h"
#include "release/package_format.h"
#include "release/package_reader.h"

namespace {

// Large enough for the seeds' files, small enough that a damaged size cannot exhaust memory.
const uint32_t kMaxOutput = 1 << 20;

bool Decode(const uint8_t *stored, uint32_t stored_size, uint8_t *out, uint32_t out_size, void *)
{
    return DecodeLzmsBuffer(stored, stored_size, out, out_size);
}

// A broken promise of the reader ends the run, so that libFuzzer keeps the input.
void Require(bool condition)
{
    if (!condition)
        abort();
}

bool Inside(const uint8_t *data, size_t size, const void *part, size_t length)
{
    const uint8_t *start = (const uint8_t *)part;
    return start >= data && length <= size && (size_t)(start - data) <= size - length;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    PackageReader reader;
    if (OpenPackage(&reader, data, size) != PackageFaultNone)
        return 0;
    Require(reader.entry_count >= kPackageMinEntries && reader.entry_count <= kPackageMaxEntries);
    size_t end = kPackageHeaderSize;
    for (uint32_t i = 0; i < reader.entry_count; i++) {
        PackageEntryView entry;
        size_t before = reader.position;
        if (ReadPackageEntry(&reader, &entry) != PackageFaultNone) {
            Require(reader.position == before && reader.entries_read == i);
            return 0;
        }
        Require(Inside(data, size, entry.name, entry.name_length) && Inside(data, size, entry.digest, 32) &&
                Inside(data, size, entry.stored, entry.stored_size));
        Require(IsSafeEntryName(entry.name, entry.name_length));
        Require(entry.unpacked_size <= kPackageMaxUnpackedSize);
        Require(entry.method == kPackageMethodLzms ||
                (entry.method == kPackageMethodStored && entry.stored_size == entry.unpacked_size));
        end += kEntryOverhead + entry.name_length + entry.stored_size;
        Require(reader.position == end);
        if (entry.unpacked_size <= kMaxOutput) {
            // Exactly the entry's size, so that the sanitizer sees a write of one byte too many.
            std::unique_ptr<uint8_t[]> out(new uint8_t[entry.unpacked_size]);
            UnpackPackageEntry(&entry, Decode, nullptr, out.get());
        }
    }
    Require((FinishPackage(&reader) == PackageFaultNone) == (end == size));
    return 0;
}
