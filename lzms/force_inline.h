// The decoder's inner steps take the decoders' state by pointer; inlining them is what lets that
// state live in registers.
#pragma once

#if defined(__GNUC__)
#define LZMS_FORCE_INLINE inline __attribute__((always_inline))
#else
#define LZMS_FORCE_INLINE inline
#endif
