#pragma once

#include <stddef.h>
#include <wchar.h>

// Full path of the log file; empty means that nothing is logged. Fixed at start.
extern wchar_t LogPath[260];

// Checks, before the first line, that the log can be written to LogPath as a plain file of its
// own; when a link or anything but such a file stands there, LogPath becomes a new file beside
// it, "<name>-<process id>-<ticks>.log", or empty when none can be made. A folder whose owner is
// neither the user the setup runs as, nor the system or the administrators, gets no log: LogPath
// then moves to the system's own temporary folder, and `refused_folder` receives the folder
// (else it is emptied). Every line is written under the same check.
void ClaimLogFile(wchar_t *refused_folder, size_t capacity);

// Appends one line "YYYY-MM-DD hh:mm:ss message" with CR LF, in UTF-8, to the file at LogPath.
// The message is cut at 1023 bytes. The log never reports its own failures: a line that cannot
// be written is lost. Each call opens, writes once and closes, so lines of the main thread and
// the worker never interleave within a line.
void LogLine(const char *format, ...);

// Logs the Windows call that made a step fail, with what it acted on and its error:
// "<call> basarisiz: <subject> (kod <code>)", or with ", <kind>" after the code when the caller
// names the kind of failure. The subject (a path, file or service name) may be null. HRESULTs
// and other codes with the top bit set are written in hexadecimal, as Windows documents them.
// The code is the one the caller took right after the failed call: the log's own calls change
// the thread's last error.
void LogFailedCall(const char *call, const wchar_t *subject, unsigned long code, const char *kind = nullptr);
