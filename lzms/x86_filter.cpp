#include "lzms/x86_filter.h"

#include "lzms/little_endian.h"

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

// Which of 16 places from data[block] on start a pattern (bit i for data[block + i]).
struct StartsAhead {
    size_t block;
    unsigned starts;
};

#if defined(__SSE2__)
// The patterns of 16 places at once, each place's byte and the two after it compared as
// OpcodeLength compares them; jmp e9 counts too (it is skipped).
unsigned PatternStartsAt(const uint8_t *p)
{
    __m128i b0 = _mm_loadu_si128((const __m128i *)p);
    __m128i b1 = _mm_loadu_si128((const __m128i *)(p + 1));
    __m128i b2 = _mm_loadu_si128((const __m128i *)(p + 2));
    auto is = [](__m128i bytes, int value) { return _mm_cmpeq_epi8(bytes, _mm_set1_epi8((char)value)); };
    auto masked_is = [&is](__m128i bytes, int mask, int value) { return is(_mm_and_si128(bytes, _mm_set1_epi8((char)mask)), value); };
    __m128i call_jump = masked_is(b0, 0xfe, 0xe8);
    __m128i indirect_call = _mm_and_si128(is(b0, 0xff), is(b1, 0x15));
    __m128i lock_add = _mm_and_si128(_mm_and_si128(is(b0, 0xf0), is(b1, 0x83)), is(b2, 0x05));
    __m128i mov = _mm_and_si128(_mm_and_si128(is(b1, 0x8b), is(b0, 0x48)), masked_is(b2, 0xf0, 0x00));
    __m128i relative = _mm_and_si128(_mm_and_si128(masked_is(b0, 0xfb, 0x48), masked_is(b2, 0x07, 0x05)),
                                     _mm_or_si128(is(b1, 0x8d), mov));
    __m128i any = _mm_or_si128(_mm_or_si128(call_jump, indirect_call), _mm_or_si128(lock_add, relative));
    return (unsigned)_mm_movemask_epi8(any);
}
#endif

// The next place from data[i] on that may start a pattern; data[size - 1] is a pattern start
// byte. Translations change only bytes that the scan has passed, so what `ahead` remembers
// stays true.
size_t NextPatternStart(const uint8_t *data, size_t i, size_t size, StartsAhead *ahead)
{
#if defined(__SSE2__)
    if (i - ahead->block < 16) {
        unsigned starts = ahead->starts >> (i - ahead->block);
        if (starts != 0)
            return i + (unsigned)__builtin_ctz(starts);
        i = ahead->block + 16;
    }
    for (; i + 18 <= size; i += 16) {
        unsigned starts = PatternStartsAt(data + i);
        if (starts != 0) {
            ahead->block = i;
            ahead->starts = starts;
            return i + (unsigned)__builtin_ctz(starts);
        }
    }
#else
    (void)size;
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
        i = NextPatternStart(data, i, size, &ahead);
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
