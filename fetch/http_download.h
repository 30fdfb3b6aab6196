#pragma once

#include <stdint.h>

#include "core/status.h"

// Called after every chunk of a download with the bytes received so far and the length the
// server announced (0 when it gave none). Returns non-zero to go on, 0 to stop the download.
typedef uint32_t (*DownloadProgressFn)(uintptr_t context, uint32_t received, uint32_t total);

// One synchronous GET of `url` (http or https) through WinHTTP, the body into one malloc'd
// buffer that the caller frees. Refuses a body larger than `max_size` (StatusBufferTooSmall),
// answers other than 200 (StatusNotFound, with the status in `*http_status`), no answer at all
// (StatusNotFound, status 0) and a stop from `progress` (StatusCancelled). `http_status` may be
// null; on any failure no buffer is handed out.
Status HttpDownload(const wchar_t *url, uint32_t max_size, uint32_t timeout_ms, DownloadProgressFn progress,
                    uintptr_t context, uint8_t **body, uint32_t *size, uint32_t *http_status);
