#include "lzms/huffman_code.h"

#include <string.h>

namespace {

// The symbols ordered by frequency, ties by symbol value: a counting sort on the frequencies
// below kFewFrequencies, then an insertion sort of the few above. Their sum stays below twice
// the symbol count plus the rebuild interval, so at most 57 of them reach 64. The two halves of
// the symbols are counted and placed side by side: one bucket's count and place then make two
// chains of additions instead of one.
const unsigned kFewFrequencies = 64;

unsigned Bucket(uint32_t frequency)
{
    return frequency < kFewFrequencies ? frequency : kFewFrequencies;
}

void SortByFrequency(const uint32_t *frequencies, unsigned count, uint16_t *sorted)
{
    unsigned half = (count + 1) / 2;
    unsigned first[kFewFrequencies + 1], second[kFewFrequencies + 1];
    memset(first, 0, sizeof first);
    memset(second, 0, sizeof second);
    for (unsigned s = 0; s < half; s++) {
        first[Bucket(frequencies[s])]++;
        if (half + s < count)
            second[Bucket(frequencies[half + s])]++;
    }
    for (unsigned f = 0, total = 0; f <= kFewFrequencies; f++) {
        unsigned in_first = first[f], in_second = second[f];
        first[f] = total;
        second[f] = total + in_first;
        total += in_first + in_second;
    }
    unsigned frequent = first[kFewFrequencies];
    for (unsigned s = 0; s < half; s++) {
        sorted[first[Bucket(frequencies[s])]++] = (uint16_t)s;
        if (half + s < count)
            sorted[second[Bucket(frequencies[half + s])]++] = (uint16_t)(half + s);
    }
    for (unsigned i = frequent + 1; i < count; i++) {
        uint16_t s = sorted[i];
        unsigned j = i;
        for (; j > frequent && frequencies[sorted[j - 1]] > frequencies[s]; j--)
            sorted[j] = sorted[j - 1];
        sorted[j] = s;
    }
}

// How many codewords of each length the Huffman tree of the sorted symbols gives, merging the two
// lightest nodes each time and taking a leaf over an inner node of the same weight. False when a
// codeword would be longer than 15 bits.
bool CountCodewordLengths(const uint32_t *frequencies, const uint16_t *sorted, unsigned count,
                          unsigned leaves_at[kLzmsMaxCodewordLength + 2])
{
    // Leaf weights in order and inner node weights as they are made; an exhausted list (and the
    // node being made) reads as infinitely heavy, so that every pick is one comparison.
    uint32_t leaf_weight[kLzmsMaxSymbols + 1];
    uint32_t weight[kLzmsMaxSymbols];
    uint16_t parent[kLzmsMaxSymbols];
    uint8_t depth[kLzmsMaxSymbols];
    for (unsigned i = 0; i < count; i++)
        leaf_weight[i] = frequencies[sorted[i]];
    leaf_weight[count] = UINT32_MAX;

    // The lightest leaves, while they weigh the same, pair up among themselves: each is no
    // heavier than a pair of them. (Their pairs' parents are written when the pairs are taken.)
    unsigned equal = 1;
    while (equal < count && leaf_weight[equal] == leaf_weight[0])
        equal++;
    unsigned made = 0;
    for (; made < equal / 2; made++)
        weight[made] = 2 * leaf_weight[0];
    unsigned leaf = 2 * made, inner = 0;
    for (; made < count - 1; made++) {
        weight[made] = UINT32_MAX;
        uint32_t sum = 0;
        for (int pick = 0; pick < 2; pick++) {
            if (leaf_weight[leaf] <= weight[inner]) {
                sum += leaf_weight[leaf++];
            } else {
                sum += weight[inner];
                parent[inner++] = (uint16_t)made;
            }
        }
        weight[made] = sum;
    }

    // Inner nodes are made after their children, so the root is the last one. An inner node at
    // depth d has two children at d + 1; those that are not inner nodes are leaves.
    // Counted in two tallies, for odd and even nodes, for the same reason as in the sort.
    unsigned inner_at[2][kLzmsMaxCodewordLength + 1];
    memset(inner_at, 0, sizeof inner_at);
    unsigned root = count - 2;
    depth[root] = 0;
    inner_at[root & 1][0] = 1;
    for (unsigned node = root; node-- > 0;) {
        unsigned d = depth[parent[node]] + 1u;
        if (d >= kLzmsMaxCodewordLength)
            return false;
        depth[node] = (uint8_t)d;
        inner_at[node & 1][d]++;
    }
    for (unsigned length = 1; length <= kLzmsMaxCodewordLength; length++) {
        unsigned above = inner_at[0][length - 1] + inner_at[1][length - 1];
        unsigned here = length < kLzmsMaxCodewordLength ? inner_at[0][length] + inner_at[1][length] : 0;
        leaves_at[length] = 2 * above - here;
    }
    return true;
}

void BuildCode(LzmsHuffmanCode *code, unsigned table_bits)
{
    unsigned count = code->symbol_count;
    unsigned table_size = 1u << table_bits;
    if (count < 2) {
        for (unsigned i = 0; i < table_size; i++)
            code->table[i] = 0 << 4 | 1;
        return;
    }

    uint16_t sorted[kLzmsMaxSymbols];
    unsigned leaves_at[kLzmsMaxCodewordLength + 2];
    SortByFrequency(code->frequencies, count, sorted);
    if (!CountCodewordLengths(code->frequencies, sorted, count, leaves_at)) {
        code->failed = true;
        return;
    }

    // The rarest symbols get the longest codewords; equal frequencies put the lower symbol first.
    uint8_t lengths[kLzmsMaxSymbols];
    unsigned next = 0;
    code->max_length = 0;
    for (unsigned length = kLzmsMaxCodewordLength; length >= 1; length--) {
        if (leaves_at[length] != 0 && code->max_length == 0)
            code->max_length = length;
        for (unsigned i = 0; i < leaves_at[length]; i++)
            lengths[sorted[next++]] = (uint8_t)length;
    }

    // Canonical codewords: by length, then by symbol. A codeword of at most table_bits bits fills
    // the table entries that it begins; the entries after all of those begin longer codewords.
    uint16_t next_codeword[kLzmsMaxCodewordLength + 1];
    unsigned codeword = 0, start = 0, filled = 0;
    for (unsigned length = 1; length <= kLzmsMaxCodewordLength; length++) {
        code->first_codeword[length] = (uint16_t)codeword;
        code->length_count[length] = (uint16_t)leaves_at[length];
        code->length_start[length] = (uint16_t)start;
        next_codeword[length] = (uint16_t)codeword;
        codeword = (codeword + leaves_at[length]) << 1;
        start += leaves_at[length];
        if (length <= table_bits)
            filled += leaves_at[length] << (table_bits - length);
    }
    memset(code->table + filled, 0, (table_size - filled) * sizeof code->table[0]);
    for (unsigned s = 0; s < count; s++) {
        unsigned length = lengths[s];
        unsigned c = next_codeword[length]++;
        if (length > table_bits) {
            code->ordered[code->length_start[length] + c - code->first_codeword[length]] = (uint16_t)s;
            continue;
        }
        // Four entries at a time where the codeword covers that many.
        uint16_t entry = (uint16_t)(s << 4 | length);
        uint16_t *first = code->table + (c << (table_bits - length));
        unsigned n = 1u << (table_bits - length);
        if (n >= 4) {
            uint64_t four = entry * 0x0001000100010001ull;
            for (unsigned i = 0; i < n; i += 4)
                memcpy(first + i, &four, sizeof four);
        } else {
            first[0] = entry;
            first[n - 1] = entry;
        }
    }
}

} // namespace

void InitLzmsHuffmanCode(LzmsHuffmanCode *code, unsigned symbol_count, unsigned table_bits, unsigned rebuild_interval)
{
    code->symbol_count = symbol_count;
    code->rebuild_interval = rebuild_interval;
    code->until_rebuild = rebuild_interval;
    code->failed = false;
    for (unsigned s = 0; s < symbol_count; s++)
        code->frequencies[s] = 1;
    BuildCode(code, table_bits);
}

void RebuildLzmsHuffmanCode(LzmsHuffmanCode *code, unsigned table_bits)
{
    BuildCode(code, table_bits);
    for (unsigned s = 0; s < code->symbol_count; s++)
        code->frequencies[s] = (code->frequencies[s] >> 1) + 1;
    code->until_rebuild = code->rebuild_interval;
}

unsigned DecodeLongLzmsCodeword(const LzmsHuffmanCode *code, unsigned table_bits, uint32_t top, unsigned *length)
{
    // The code is complete, so the prefix of the longest length is always a codeword.
    unsigned n = table_bits + 1;
    while (n < code->max_length &&
           (top >> (kLzmsMaxCodewordLength - n)) - code->first_codeword[n] >= code->length_count[n])
        n++;
    *length = n;
    return code->ordered[code->length_start[n] + (top >> (kLzmsMaxCodewordLength - n)) - code->first_codeword[n]];
}
