#pragma once

#include <stddef.h>

// Whether the `length` bytes of `name` (no terminator counted) are a relative path that an
// extractor may create below its destination: 1 to 240 bytes, no leading or trailing '/', no
// byte below 0x20 and none of \ : * ? < > | ", and every '/'-separated component non-empty,
// neither "." nor "..", not ending in '.' or a space, and not a device name such as NUL or
// com1.txt. Bytes of 0x80 and above pass (UTF-8).
bool IsSafeEntryName(const char *name, size_t length);
