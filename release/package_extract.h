#pragma once

#include "core/status.h"

#include <windows.h>
#include <stdint.h>

// Unpacks a package into `destination`, which this call creates and which must not exist yet:
// every entry checked (name, sizes, method, digest of the unpacked bytes) before it is written.
// StatusOk with *count (when given) set to the number of files; otherwise StatusInvalid,
// StatusNotFound, StatusIoError or StatusNoMemory, and nothing of the destination is left. The
// entries' unpacked sizes together go into *unpacked (when given) once the package is read; when
// they exceed `room` bytes nothing is written and the result is StatusBufferTooSmall.
Status ExtractPackage(const wchar_t *package, const wchar_t *destination, uint32_t *count,
                      uint64_t room = UINT64_MAX, uint64_t *unpacked = nullptr);

// One WriteFile of the whole length: ERROR_SUCCESS, the write's error, or ERROR_WRITE_FAULT when
// it wrote less.
DWORD WriteAll(HANDLE file, const void *data, DWORD length);

// Creates every folder of `path` after position base_length + 1 and before its last component.
bool CreateParentDirectories(wchar_t *path, size_t base_length);
