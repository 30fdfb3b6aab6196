#include "tools/lzms/x86_filter.h"

#include "tools/lzms/little_endian.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// A translation applies only this close after the last place that looked like x86 code, half
// as far for a call, the commonest and least certain pattern.
const int32_t kMaxTranslationDistance = 1023;
// Two references to the same target this close together mark code.
const int32_t kCodeWindow = 65535;
// Nothing is translated in the last bytes of a chunk, nor in chunks this short.
const size_t kUntranslatedTail = 16;
const size_t kMinTranslatedSize = 18;

// The first bytes of the recognised patterns: REX.W prefixes 48 and 4c (lea and mov relative to
// the instruction pointer), call e8, jmp e9 (skipped, never translated), lock f0 (add) and ff
// (indirect call).
struct PatternStarts {
    bool is_start[256];
};

constexpr PatternStarts MakePatternStarts()
{
    const uint8_t bytes[] = {0x48, 0x4c, 0xe8, 0xe9, 0xf0, 0xff};
    PatternStarts starts = {};
    for (uint8_t byte : bytes)
        starts.is_start[byte] = true;
    return starts;
}

constexpr PatternStarts kPatternStarts = MakePatternStarts();

// Which of 16 bytes from data[block] on are pattern starts (bit i for data[block + i]).
struct StartsAhead {
    size_t block;
    unsigned starts;
};

// The position of the next pattern start from data[i] on; data[limit] is one. Translations
// change only bytes that the scan has passed, so what `ahead` remembers stays true.
size_t NextPatternStart(const uint8_t *data, size_t i, size_t limit, StartsAhead *ahead)
{
#if defined(__SSE2__)
    if (i - ahead->block < 16) {
        unsigned starts = ahead->starts >> (i - ahead->block);
        if (starts != 0)
            return i + (unsigned)__builtin_ctz(starts);
        i = ahead->block + 16;
    }
    const __m128i not_48_4c = _mm_set1_epi8((char)~0x04);
    const __m128i not_e8_e9 = _mm_set1_epi8((char)~0x01);
    for (; i + 16 <= limit + 1; i += 16) {
        __m128i bytes = _mm_loadu_si128((const __m128i *)(data + i));
        __m128i rex = _mm_cmpeq_epi8(_mm_and_si128(bytes, not_48_4c), _mm_set1_epi8(0x48));
        __m128i call_jump = _mm_cmpeq_epi8(_mm_and_si128(bytes, not_e8_e9), _mm_set1_epi8((char)0xe8));
        __m128i lock = _mm_cmpeq_epi8(bytes, _mm_set1_epi8((char)0xf0));
        __m128i group = _mm_cmpeq_epi8(bytes, _mm_set1_epi8((char)0xff));
        unsigned starts = (unsigned)_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(rex, call_jump), _mm_or_si128(lock, group)));
        if (starts != 0) {
            ahead->block = i;
            ahead->starts = starts;
            return i + (unsigned)__builtin_ctz(starts);
        }
    }
#else
    (void)limit;
    (void)ahead;
#endif
    while (!kPatternStarts.is_start[data[i]])
        i++;
    return i;
}

// The length of the opcode bytes before a 32-bit address at data[i], or 0 when no pattern that is
// translated starts there. data[i + 2] is always inside the chunk.
unsigned OpcodeLength(const uint8_t *p)
{
    if (p[0] == 0xe8)
        return 1;
    if (p[0] == 0xf0)
        return p[1] == 0x83 && p[2] == 0x05 ? 3 : 0;
    if (p[0] == 0xff)
        return p[1] == 0x15 ? 2 : 0;
    // 48 or 4c. The r/m field alone (not the mod field) selects instruction-relative addressing.
    if ((p[2] & 0x07) == 0x05 && (p[1] == 0x8d || (p[1] == 0x8b && (p[0] & 0x04) == 0 && (p[2] & 0xf0) == 0)))
        return 3;
    return 0;
}

} // namespace

void UndoLzmsX86Translation(uint8_t *data, size_t size, LzmsX86History *history)
{
    if (size < kMinTranslatedSize)
        return;
    for (int32_t &last : history->last_reference)
        last = -kCodeWindow - 1;
    int32_t last_code = -kMaxTranslationDistance - 1;

    // The first byte is never a pattern start. Every address read or written ends at most
    // 16 - 7 bytes before the end of the chunk, so the last byte can stop the scan for a moment.
    size_t end = size - kUntranslatedTail;
    uint8_t last_byte = data[size - 1];
    data[size - 1] = 0xe8;
    StartsAhead ahead = {size, 0};
    size_t i = 1;
    for (;;) {
        i = NextPatternStart(data, i, size - 1, &ahead);
        if (i >= end)
            break;
        if (data[i] == 0xe9) {
            i += 5;
            continue;
        }
        unsigned opcode_length = OpcodeLength(data + i);
        if (opcode_length == 0) {
            i++;
            continue;
        }
        int32_t position = (int32_t)i;
        uint8_t *address = data + i + opcode_length;
        int32_t max_distance = data[i] == 0xe8 ? kMaxTranslationDistance / 2 : kMaxTranslationDistance;
        if (position - last_code <= max_distance)
            StoreLittleEndian<uint32_t>(address, LoadLittleEndian<uint32_t>(address) - (uint32_t)position);
        uint16_t target = (uint16_t)(position + LoadLittleEndian<uint16_t>(address));
        int32_t address_end = position + (int32_t)opcode_length + 3;
        if (address_end - history->last_reference[target] <= kCodeWindow)
            last_code = address_end;
        history->last_reference[target] = address_end;
        i += opcode_length + 4;
    }
    data[size - 1] = last_byte;
}
