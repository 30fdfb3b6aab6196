#include <string.h>

#include <gtest/gtest.h>

#include "lzms/huffman_code.h"

namespace {

// Frequencies 1, 1, 2, 3, 5, ...: each merge takes the next leaf and everything so far, so
// symbol s gets a codeword of count - max(s, 1) bits, the longest count - 1.
void SetFibonacciFrequencies(LzmsHuffmanCode *code, unsigned count)
{
    uint32_t a = 1, b = 1;
    for (unsigned s = 0; s < count; s++) {
        code->frequencies[s] = a;
        uint32_t next = a + b;
        a = b;
        b = next;
    }
}

// Decodes one codeword placed at the end of a 4-byte chunk, where the backward bit reader
// starts.
unsigned DecodeCodeword(LzmsHuffmanCode *code, unsigned table_bits, uint32_t codeword, unsigned length)
{
    uint16_t word = (uint16_t)(codeword << (16 - length));
    uint8_t data[4] = {0, 0, (uint8_t)word, (uint8_t)(word >> 8)};
    LzmsBitReader reader;
    InitLzmsBitReader(&reader, data, sizeof data);
    RefillLzmsBits(&reader);
    unsigned symbol = DecodeLzmsSymbol(&reader, code, table_bits);
    // The reader holds the two words and zeros after them: 64 bits less the codeword.
    EXPECT_EQ(64u - length, reader.count);
    return symbol;
}

} // namespace

TEST(LzmsHuffmanCode, CodewordsUpToFifteenBitsDecodeAndLongerCodesAreRefused)
{
    static LzmsHuffmanCode code;
    const unsigned table_bits = 7, count = 16;
    InitLzmsHuffmanCode(&code, count, table_bits, 1024);
    SetFibonacciFrequencies(&code, count);
    RebuildLzmsHuffmanCode(&code, table_bits);
    ASSERT_FALSE(code.failed);

    // Canonical codewords from the expected lengths: shorter first, then by symbol.
    unsigned lengths[count];
    for (unsigned s = 0; s < count; s++)
        lengths[s] = count - (s == 0 ? 1 : s);
    uint32_t next_codeword = 0;
    for (unsigned length = 1; length <= kLzmsMaxCodewordLength; length++) {
        for (unsigned s = 0; s < count; s++)
            if (lengths[s] == length) {
                SCOPED_TRACE(s);
                EXPECT_EQ(s, DecodeCodeword(&code, table_bits, next_codeword++, length));
            }
        next_codeword <<= 1;
    }

    // One symbol more would need 16 bits: the rebuild is refused and the old code stays.
    InitLzmsHuffmanCode(&code, count + 1, table_bits, 1024);
    uint16_t before[1u << 7];
    memcpy(before, code.table, sizeof before);
    SetFibonacciFrequencies(&code, count + 1);
    RebuildLzmsHuffmanCode(&code, table_bits);
    EXPECT_TRUE(code.failed);
    EXPECT_EQ(0, memcmp(before, code.table, sizeof before));
}
