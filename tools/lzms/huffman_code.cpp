#include "tools/lzms/huffman_code.h"

#include <string.h>

namespace {

// The symbols ordered by frequency, ties by symbol value. A stable radix sort on the two 6-bit
// digits of the frequency: between rebuilds no frequency can reach 4096 (their sum stays below
// twice the symbol count plus the rebuild interval).
void SortByFrequency(const uint32_t *frequencies, unsigned count, uint16_t *sorted)
{
    uint16_t by_low_digit[kLzmsMaxSymbols];
    unsigned starts[64];

    memset(starts, 0, sizeof starts);
    for (unsigned s = 0; s < count; s++)
        starts[frequencies[s] & 63]++;
    for (unsigned d = 0, total = 0; d < 64; d++) {
        unsigned n = starts[d];
        starts[d] = total;
        total += n;
    }
    for (unsigned s = 0; s < count; s++)
        by_low_digit[starts[frequencies[s] & 63]++] = (uint16_t)s;

    memset(starts, 0, sizeof starts);
    for (unsigned s = 0; s < count; s++)
        starts[(frequencies[s] >> 6) & 63]++;
    for (unsigned d = 0, total = 0; d < 64; d++) {
        unsigned n = starts[d];
        starts[d] = total;
        total += n;
    }
    for (unsigned i = 0; i < count; i++) {
        uint16_t s = by_low_digit[i];
        sorted[starts[(frequencies[s] >> 6) & 63]++] = s;
    }
}

// How many codewords of each length the Huffman tree of the sorted symbols gives, merging the two
// lightest nodes each time and taking a leaf over an inner node of the same weight. False when a
// codeword would be longer than 15 bits.
bool CountCodewordLengths(const uint32_t *frequencies, const uint16_t *sorted, unsigned count,
                          unsigned leaves_at[kLzmsMaxCodewordLength + 2])
{
    // Leaf weights in order and inner node weights as they are made; an exhausted list reads as
    // infinitely heavy, so that every pick is a comparison without a branch.
    uint32_t leaf_weight[kLzmsMaxSymbols + 1];
    uint32_t weight[kLzmsMaxSymbols];
    uint16_t parent[kLzmsMaxSymbols];
    uint8_t depth[kLzmsMaxSymbols];
    for (unsigned i = 0; i < count; i++)
        leaf_weight[i] = frequencies[sorted[i]];
    leaf_weight[count] = UINT32_MAX;
    unsigned leaf = 0, inner = 0;
    for (unsigned made = 0; made < count - 1; made++) {
        weight[made] = UINT32_MAX;
        uint32_t sum = 0;
        for (int pick = 0; pick < 2; pick++) {
            uint32_t leaf_side = leaf_weight[leaf], inner_side = weight[inner];
            bool take_leaf = leaf_side <= inner_side;
            sum += take_leaf ? leaf_side : inner_side;
            // Harmless when a leaf is taken: the node's real parent is written when it is taken.
            parent[inner] = (uint16_t)made;
            leaf += take_leaf;
            inner += !take_leaf;
        }
        weight[made] = sum;
    }

    // Inner nodes are made after their children, so the root is the last one. An inner node at
    // depth d has two children at d + 1; those that are not inner nodes are leaves.
    unsigned inner_at[kLzmsMaxCodewordLength + 1];
    memset(inner_at, 0, sizeof inner_at);
    unsigned root = count - 2;
    depth[root] = 0;
    inner_at[0] = 1;
    for (unsigned node = root; node-- > 0;) {
        unsigned d = depth[parent[node]] + 1u;
        if (d >= kLzmsMaxCodewordLength)
            return false;
        depth[node] = (uint8_t)d;
        inner_at[d]++;
    }
    for (unsigned length = 1; length <= kLzmsMaxCodewordLength; length++)
        leaves_at[length] = 2 * inner_at[length - 1] - (length < kLzmsMaxCodewordLength ? inner_at[length] : 0);
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

    // Canonical codewords: by length, then by symbol.
    unsigned codeword = 0, start = 0;
    uint16_t place[kLzmsMaxCodewordLength + 1];
    code->length_count[0] = 0;
    for (unsigned length = 1; length <= kLzmsMaxCodewordLength; length++) {
        code->first_codeword[length] = (uint16_t)codeword;
        code->length_count[length] = (uint16_t)leaves_at[length];
        code->length_start[length] = (uint16_t)start;
        place[length] = (uint16_t)start;
        codeword = (codeword + leaves_at[length]) << 1;
        start += leaves_at[length];
    }
    for (unsigned s = 0; s < count; s++)
        code->ordered[place[lengths[s]]++] = (uint16_t)s;

    // Codewords in order fill the table from its start, each over the entries it begins.
    unsigned position = 0;
    for (unsigned i = 0; i < count; i++) {
        unsigned s = code->ordered[i];
        unsigned length = lengths[s];
        if (length > table_bits)
            break;
        uint16_t entry = (uint16_t)(s << 4 | length);
        for (unsigned end = position + (1u << (table_bits - length)); position < end; position++)
            code->table[position] = entry;
    }
    for (; position < table_size; position++)
        code->table[position] = 0;
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
