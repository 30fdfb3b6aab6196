#pragma once

#include <stdint.h>

// Gets the release file `name` (UTF-8) into a malloc'd buffer the caller frees: from the
// options' local folder when one is set, otherwise downloaded from the base URL. At most
// `max_size` bytes. With `progress`, the download moves the status and bar from
// `start_percent` towards start_percent + 55 and stops once the user asks to cancel. Logs what
// it reads or downloads and why a download failed.
bool FetchReleaseFile(const char *name, uint32_t max_size, bool progress, uint32_t start_percent, uint8_t **buffer,
                      uint32_t *size);

// Creates or replaces the file with the whole buffer, flushed to disk; leaves no file behind on
// failure.
bool SaveBufferToFile(const wchar_t *path, const uint8_t *buffer, uint32_t size);

// Download progress into the progress state; the low 32 bits of `context` are the percentage at
// which the download starts. Returns 0 once the user asked to cancel.
uint32_t DownloadProgress(uintptr_t context, uint32_t received, uint32_t total);
