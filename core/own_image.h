#pragma once

#include <windows.h>

// The setup's own program file. A running program can be renamed and another file put at its
// name, so the uninstaller copy, which Windows later runs as administrator, is written from a
// handle that the setup opens at its very start and holds until it ends, without write or delete
// sharing: from then on the file can be neither changed nor moved.

// Opens the file the process was started from and checks that it is the file the running image
// was mapped from. False when it cannot be opened, or is another file (the program's file was
// moved and replaced before the setup opened it), however alike. Called before the log exists: nothing is logged.
bool OpenOwnImage();

// Writes the file opened by OpenOwnImage to `target` as a plain new file, with normal attributes
// and no other streams: a file already there is replaced whole, also a read-only one, and never
// left half-written. ERROR_SUCCESS or the failed call's error, which is logged.
DWORD CopyOwnImage(const wchar_t *target);

// Whether `file` is the file that the image mapped at `image` was mapped from, as Windows knows
// it: a copy of the same bytes is another file. False also when the system cannot say.
bool IsFileOfImage(const void *image, HANDLE file);
