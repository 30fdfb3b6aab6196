#pragma once

#include <stdint.h>

// Reads the whole file at `path`, at most `max_size` bytes, into one heap buffer of its size
// plus one byte, which the caller frees. With `open_link_itself` a link at the path is opened as
// itself, never followed. Only a file on a disk is read, never a pipe or device; the owner of
// whatever is opened learns no more than who the setup is. A failed call is logged with its
// error; on failure *buffer is null and *size 0.
bool ReadWholeFile(const wchar_t *path, uint32_t max_size, bool open_link_itself, uint8_t **buffer, uint32_t *size);
