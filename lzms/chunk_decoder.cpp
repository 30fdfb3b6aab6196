// One raw LZMS chunk: literals, LZ matches and delta matches told apart by range-coded
// decisions, their values read as Huffman-coded slots and plain bits, then the x86 translation
// undone.
#include "lzms/lzms.h"

#include <stdlib.h>
#include <string.h>

#include "lzms/bit_reader.h"
#include "lzms/force_inline.h"
#include "lzms/huffman_code.h"
#include "lzms/range_decoder.h"
#include "lzms/slot_tables.h"
#include "lzms/x86_filter.h"

namespace {

// Longer chunks than this are refused; Windows writes chunks of at most 64 MiB.
const size_t kMaxChunkSize = (size_t)1 << 30;

// Table sizes only trade table building against the slower path for long codewords.
const unsigned kLiteralTableBits = 9;
const unsigned kOffsetTableBits = 10;
const unsigned kLengthTableBits = 8;
const unsigned kPowerTableBits = 7;

const unsigned kLiteralRebuild = 1024;
const unsigned kOffsetRebuild = 1024;
const unsigned kLengthRebuild = 512;
const unsigned kPowerRebuild = 512;
const unsigned kPowerSymbols = 8;

// How many recent decisions pick the probability of each decision class.
const uint32_t kMainStates = 16;
const uint32_t kMatchStates = 32;
const uint32_t kOtherStates = 64;

enum Item { ItemLiteral, ItemLz, ItemDelta };

// Recently used match sources, most recent first. A source just used is not referred to by the
// item right after it, if that is a match of the same kind: it joins the queue only after that
// item, so then the references start at the second entry. Three entries can be referred to; a
// fourth moves up when one of them is used.
struct RepeatQueue {
    uint64_t entries[4];
};

// The recent decisions of the classes other than the main one (which the loop keeps at hand) and
// the repeat queues live here too: they are needed only for matches.
struct ChunkState {
    LzmsProbability main[kMainStates];
    LzmsProbability match[kMatchStates];
    LzmsProbability lz[kOtherStates];
    LzmsProbability delta[kOtherStates];
    LzmsProbability lz_repeat[2][kOtherStates];
    LzmsProbability delta_repeat[2][kOtherStates];
    uint32_t match_state, lz_state, delta_state;
    uint32_t lz_repeat_states[2], delta_repeat_states[2];
    RepeatQueue lz_queue, delta_queue;
    LzmsHuffmanCode literal;
    LzmsHuffmanCode lz_offset;
    LzmsHuffmanCode length;
    LzmsHuffmanCode delta_offset;
    LzmsHuffmanCode delta_power;
    LzmsX86History x86;
};

LZMS_FORCE_INLINE void InitRepeatQueue(RepeatQueue *queue)
{
    for (unsigned i = 0; i < 4; i++)
        queue->entries[i] = i + 1;
}

LZMS_FORCE_INLINE void PushFront(RepeatQueue *queue, uint64_t source)
{
    uint64_t *entries = queue->entries;
    entries[3] = entries[2];
    entries[2] = entries[1];
    entries[1] = entries[0];
    entries[0] = source;
}

// Decodes whether a new source follows (false) or which queued one is used again (true, in
// *source, moved to the front). `after_same_kind` says whether the item before was a match of
// this kind.
LZMS_FORCE_INLINE bool TakeRepeat(LzmsRangeDecoder *range, LzmsProbability *explicit_probabilities, uint32_t *explicit_state,
                                  LzmsProbability (*repeat_probabilities)[kOtherStates], uint32_t *repeat_states,
                                  RepeatQueue *queue, bool after_same_kind, uint64_t *source)
{
    if (DecodeLzmsBit(range, explicit_probabilities, explicit_state, kOtherStates - 1) == 0)
        return false;
    unsigned index = 0;
    while (index < 2 && DecodeLzmsBit(range, repeat_probabilities[index], &repeat_states[index], kOtherStates - 1))
        index++;
    index += after_same_kind;
    uint64_t *entries = queue->entries;
    uint64_t taken = entries[index];
    entries[3] = index >= 3 ? entries[2] : entries[3];
    entries[2] = index >= 2 ? entries[1] : entries[2];
    entries[1] = index >= 1 ? entries[0] : entries[1];
    entries[0] = taken;
    *source = taken;
    return true;
}

LZMS_FORCE_INLINE uint32_t DecodeSlotValue(LzmsBitReader *bits, LzmsHuffmanCode *code, unsigned table_bits, const LzmsSlotTable &slots)
{
    unsigned slot = DecodeLzmsSymbol(bits, code, table_bits);
    // Most lengths have no extra bits.
    unsigned extra_bits = slots.extra_bits[slot];
    return extra_bits == 0 ? slots.base[slot] : slots.base[slot] + ReadLzmsBits(bits, extra_bits);
}

// Copies an LZ match whose source and length were checked; source and copy may overlap.
LZMS_FORCE_INLINE void CopyMatch(uint8_t *next, uint32_t offset, uint32_t length, const uint8_t *end)
{
    const uint8_t *source = next - offset;
    if (offset >= 8 && (size_t)(end - next) >= (size_t)length + 8) {
        // Whole words, as far as 7 bytes beyond the match, which later items overwrite.
        uint8_t *stop = next + length;
        do {
            memcpy(next, source, 8);
            next += 8;
            source += 8;
        } while (next < stop);
    } else if (offset == 1) {
        memset(next, *source, length);
    } else {
        for (uint32_t i = 0; i < length; i++)
            next[i] = source[i];
    }
}

// The number of offset slots that a chunk of `size` bytes can use.
unsigned OffsetSlotCount(size_t size)
{
    unsigned count = 0;
    while (count < kLzmsOffsetSlots && size >= 2 && kLzmsOffsetSlotTable.base[count] <= size - 1)
        count++;
    return count;
}

bool DecodeItems(ChunkState *s, const uint8_t *data, size_t size, uint8_t *out, size_t out_size)
{
    InitLzmsProbabilities(&s->main[0], sizeof s->main / sizeof s->main[0]);
    InitLzmsProbabilities(&s->match[0], sizeof s->match / sizeof s->match[0]);
    InitLzmsProbabilities(&s->lz[0], sizeof s->lz / sizeof s->lz[0]);
    InitLzmsProbabilities(&s->delta[0], sizeof s->delta / sizeof s->delta[0]);
    InitLzmsProbabilities(&s->lz_repeat[0][0], sizeof s->lz_repeat / sizeof s->lz_repeat[0][0]);
    InitLzmsProbabilities(&s->delta_repeat[0][0], sizeof s->delta_repeat / sizeof s->delta_repeat[0][0]);
    unsigned offset_slots = OffsetSlotCount(out_size);
    InitLzmsHuffmanCode(&s->literal, 256, kLiteralTableBits, kLiteralRebuild);
    InitLzmsHuffmanCode(&s->lz_offset, offset_slots, kOffsetTableBits, kOffsetRebuild);
    InitLzmsHuffmanCode(&s->length, kLzmsLengthSlots, kLengthTableBits, kLengthRebuild);
    InitLzmsHuffmanCode(&s->delta_offset, offset_slots, kOffsetTableBits, kOffsetRebuild);
    InitLzmsHuffmanCode(&s->delta_power, kPowerSymbols, kPowerTableBits, kPowerRebuild);

    LzmsRangeDecoder range;
    LzmsBitReader bits;
    InitLzmsRangeDecoder(&range, data, size);
    InitLzmsBitReader(&bits, data, size);
    uint32_t main_state = 0;
    s->match_state = s->lz_state = s->delta_state = 0;
    s->lz_repeat_states[0] = s->lz_repeat_states[1] = s->delta_repeat_states[0] = s->delta_repeat_states[1] = 0;
    InitRepeatQueue(&s->lz_queue);
    InitRepeatQueue(&s->delta_queue);
    Item previous = ItemLiteral;

    uint8_t *next = out;
    uint8_t *end = out + out_size;
    // The bit reader is topped up to 49 bits before each item and before each further value of
    // up to 15 + 30 bits (a slot and its extra bits) that an item needs.
    while (next != end) {
        RefillLzmsBits(&bits);
        if (DecodeLzmsBit(&range, s->main, &main_state, kMainStates - 1) == 0) {
            *next++ = (uint8_t)DecodeLzmsSymbol(&bits, &s->literal, kLiteralTableBits);
            previous = ItemLiteral;
            continue;
        }
        // Every match refers back at least one byte.
        if (next == out)
            return false;
        size_t written = (size_t)(next - out);

        if (DecodeLzmsBit(&range, s->match, &s->match_state, kMatchStates - 1) == 0) {
            uint64_t offset;
            if (!TakeRepeat(&range, s->lz, &s->lz_state, s->lz_repeat, s->lz_repeat_states, &s->lz_queue,
                            previous == ItemLz, &offset)) {
                offset = DecodeSlotValue(&bits, &s->lz_offset, kOffsetTableBits, kLzmsOffsetSlotTable);
                PushFront(&s->lz_queue, offset);
                RefillLzmsBits(&bits);
            }
            previous = ItemLz;
            uint32_t length = DecodeSlotValue(&bits, &s->length, kLengthTableBits, kLzmsLengthSlotTable);
            if (offset > written || length > (size_t)(end - next))
                return false;
            CopyMatch(next, (uint32_t)offset, length, end);
            next += length;
            continue;
        }

        // A delta match: source pairs are (power << 32) | raw offset, the offset in spans of
        // 2^power bytes.
        uint64_t pair;
        if (!TakeRepeat(&range, s->delta, &s->delta_state, s->delta_repeat, s->delta_repeat_states, &s->delta_queue,
                        previous == ItemDelta, &pair)) {
            uint64_t power = DecodeLzmsSymbol(&bits, &s->delta_power, kPowerTableBits);
            RefillLzmsBits(&bits);
            pair = power << 32 | DecodeSlotValue(&bits, &s->delta_offset, kOffsetTableBits, kLzmsOffsetSlotTable);
            PushFront(&s->delta_queue, pair);
            RefillLzmsBits(&bits);
        }
        previous = ItemDelta;
        uint32_t length = DecodeSlotValue(&bits, &s->length, kLengthTableBits, kLzmsLengthSlotTable);
        unsigned power = (unsigned)(pair >> 32);
        size_t span = (size_t)1 << power;
        uint64_t offset = (pair & 0xffffffff) << power;
        if (offset + span > written || length > (size_t)(end - next))
            return false;
        const uint8_t *source = next - (size_t)offset;
        for (uint8_t *stop = next + length; next != stop; next++, source++)
            *next = (uint8_t)(*source + *(next - span) - *(source - span));
    }
    return !s->literal.failed && !s->lz_offset.failed && !s->length.failed && !s->delta_offset.failed &&
           !s->delta_power.failed;
}

} // namespace

bool DecodeLzmsChunk(const uint8_t *data, size_t size, uint8_t *out, size_t out_size)
{
    if (size < 4 || size % 2 != 0 || out_size > kMaxChunkSize)
        return false;
    ChunkState *state = (ChunkState *)malloc(sizeof *state);
    if (state == nullptr)
        return false;
    bool decoded = DecodeItems(state, data, size, out, out_size);
    if (decoded)
        UndoLzmsX86Translation(out, out_size, &state->x86);
    free(state);
    return decoded;
}
