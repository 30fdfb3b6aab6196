// LZMS's offset and length slots: a slot's base is the sum of 2^extra over the slots before it,
// starting at 1, and its extra bits are read plainly after the slot's Huffman codeword.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr unsigned kLzmsOffsetSlots = 799;
constexpr unsigned kLzmsLengthSlots = 54;

struct LzmsSlotTable {
    uint32_t base[kLzmsOffsetSlots + 1]; // one more: the end of the last slot
    uint8_t extra_bits[kLzmsOffsetSlots];
};

// The table of `runs` (number of slots, extra bits per slot).
constexpr LzmsSlotTable MakeLzmsSlotTable(const uint16_t (*runs)[2], size_t run_count)
{
    LzmsSlotTable table = {};
    unsigned slot = 0;
    uint32_t base = 1;
    for (size_t r = 0; r < run_count; r++) {
        for (unsigned i = 0; i < runs[r][0]; i++, slot++) {
            table.base[slot] = base;
            table.extra_bits[slot] = (uint8_t)runs[r][1];
            base += (uint32_t)1 << runs[r][1];
        }
    }
    table.base[slot] = base;
    return table;
}

constexpr uint16_t kLzmsOffsetSlotRuns[][2] = {
    {8, 0},   {9, 2},   {7, 3},   {10, 4},  {15, 5},  {15, 6},  {20, 7},
    {20, 8},  {30, 9},  {33, 10}, {40, 11}, {42, 12}, {45, 13}, {60, 14},
    {73, 15}, {80, 16}, {85, 17}, {95, 18}, {105, 19}, {6, 20}, {1, 30}};
constexpr uint16_t kLzmsLengthSlotRuns[][2] = {
    {26, 0}, {4, 1}, {6, 2}, {4, 3}, {5, 4}, {2, 5}, {1, 6},
    {1, 7},  {1, 8}, {1, 9}, {1, 10}, {1, 16}, {1, 30}};

constexpr LzmsSlotTable kLzmsOffsetSlotTable =
    MakeLzmsSlotTable(kLzmsOffsetSlotRuns, sizeof kLzmsOffsetSlotRuns / sizeof kLzmsOffsetSlotRuns[0]);
constexpr LzmsSlotTable kLzmsLengthSlotTable =
    MakeLzmsSlotTable(kLzmsLengthSlotRuns, sizeof kLzmsLengthSlotRuns / sizeof kLzmsLengthSlotRuns[0]);

static_assert(kLzmsOffsetSlotTable.base[kLzmsOffsetSlots] == 0x465be4a5, "offset slots end after the largest offset");
static_assert(kLzmsLengthSlotTable.base[kLzmsLengthSlots] == 0x400108ab, "length slots end after the longest match");
