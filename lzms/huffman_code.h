// LZMS's adaptive Huffman codes: canonical codes rebuilt from the symbols' frequencies every so
// many symbols, decoded through a lookup table on the top bits of the bit reader.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "lzms/bit_reader.h"
#include "lzms/force_inline.h"

constexpr unsigned kLzmsMaxSymbols = 799;
constexpr unsigned kLzmsMaxCodewordLength = 15;
constexpr unsigned kLzmsMaxTableBits = 11;

struct LzmsHuffmanCode {
    unsigned symbol_count;
    unsigned rebuild_interval;
    unsigned until_rebuild;
    // Set when a rebuild would need codewords longer than 15 bits; the old code stays in use.
    bool failed;
    uint32_t frequencies[kLzmsMaxSymbols];
    // For every value of the top table bits (the caller's choice, at most kLzmsMaxTableBits): (symbol << 4) | length of the codeword they
    // begin, or 0 when that codeword is longer than table_bits.
    uint16_t table[1u << kLzmsMaxTableBits];
    // The longer codewords, by length: the first codeword of that length, how many there are,
    // and where their symbols start in `ordered` (all symbols by codeword).
    uint16_t first_codeword[kLzmsMaxCodewordLength + 1];
    uint16_t length_count[kLzmsMaxCodewordLength + 1];
    uint16_t length_start[kLzmsMaxCodewordLength + 1];
    unsigned max_length;
    uint16_t ordered[kLzmsMaxSymbols];
};

// Every frequency 1 and the code built from them. A code of no symbols is never decoded; a code
// of one symbol decodes every one-bit codeword to it.
void InitLzmsHuffmanCode(LzmsHuffmanCode *code, unsigned symbol_count, unsigned table_bits,
                         unsigned rebuild_interval);

// Builds the code from the current frequencies, then halves them (f / 2 + 1).
void RebuildLzmsHuffmanCode(LzmsHuffmanCode *code, unsigned table_bits);

// The symbol of a codeword longer than the table covers; `top` is the next 15 bits.
unsigned DecodeLongLzmsCodeword(const LzmsHuffmanCode *code, unsigned table_bits, uint32_t top, unsigned *length);

// Decodes one symbol, counts it and rebuilds the code when its interval is over. At least 15
// bits must be loaded.
LZMS_FORCE_INLINE unsigned DecodeLzmsSymbol(LzmsBitReader *reader, LzmsHuffmanCode *code, unsigned table_bits)
{
    unsigned entry = code->table[PeekLzmsBits(reader, table_bits)];
    unsigned length = entry & 15;
    unsigned symbol = entry >> 4;
    if (length == 0)
        symbol = DecodeLongLzmsCodeword(code, table_bits, PeekLzmsBits(reader, kLzmsMaxCodewordLength), &length);
    ConsumeLzmsBits(reader, length);
    code->frequencies[symbol]++;
    if (--code->until_rebuild == 0)
        RebuildLzmsHuffmanCode(code, table_bits);
    return symbol;
}
