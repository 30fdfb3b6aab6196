#pragma once

#include <wchar.h>

// Full path of the log file; empty means that nothing is logged. Fixed at start.
extern wchar_t LogPath[260];

// Appends one line "YYYY-MM-DD hh:mm:ss message" with CR LF, in UTF-8, to the file at LogPath.
// The message is cut at 1023 bytes. The log never reports its own failures: a line that cannot
// be written is lost. Each call opens, writes once and closes, so lines of the main thread and
// the worker never interleave within a line.
void LogLine(const char *format, ...);
