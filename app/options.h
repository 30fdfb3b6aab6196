#pragma once

#include "core/process_values.h"

// The update server's release folder.
extern const wchar_t DefaultBaseUrl[];

// Returns the option name behind its prefix ("--", "/" or "-"), or null for an argument that
// has no prefix.
const wchar_t *OptionName(const wchar_t *argument);

// Stores an "https://" or "http://" URL of 9 to 510 characters with a "/" appended unless it
// ends in one. A refused URL leaves base_url as it was.
bool SetBaseUrl(SetupOptions *options, const wchar_t *url);

// Clears and fills `options` from the arguments (argument 0, the program, is skipped). False
// means an invalid command line; parsing stops at the first bad argument, but `silent` is then
// still set when any argument is "sessiz", so that an unattended run shows no box.
bool ParseOptions(int count, wchar_t **arguments, const wchar_t *default_base_url, SetupOptions *options);
