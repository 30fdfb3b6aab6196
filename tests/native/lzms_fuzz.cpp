// libFuzzer target for the LZMS decoder, built with AddressSanitizer and UndefinedBehaviorSanitizer.
// Every input is tried as a whole buffer-mode buffer and as one raw chunk.
#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "lzms/lzms.h"

namespace {

const size_t kMaxOutput = 1 << 20;

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    uint64_t total = 0;
    if (ReadLzmsBufferSize(data, size, &total) && total <= kMaxOutput) {
        std::vector<uint8_t> out((size_t)total);
        DecodeLzmsBuffer(data, size, out.data(), out.size());
    }
    // The raw chunk decodes into four times its size, which most damaged chunks can fill.
    std::vector<uint8_t> out(size * 4 < kMaxOutput ? size * 4 : kMaxOutput);
    DecodeLzmsChunk(data, size, out.data(), out.size());
    return 0;
}
