#pragma once

#include <windows.h>

#include <stddef.h>

// Path of `name` in the folder of the running program (not the working folder): the stand-ins
// are run from wherever the setup put them. False when the path does not fit `size`.
bool BesideSelf(const wchar_t *name, wchar_t *path, size_t size);

// Appends `line` and "\r\n" to the file, creating it; one write, so that lines of processes
// writing at the same time do not mix.
bool AppendLine(const wchar_t *path, const char *line);
