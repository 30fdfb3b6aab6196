#pragma once

#include <stdint.h>

// Room on the install folder's volume for what a run will write. A run that cannot fit stops
// before it writes, with one sentence that names the drive, what is needed and what is free, in
// MB; and a write that fails for lack of room anyway (another program filled the disk meanwhile)
// is named the same way rather than blamed on the package.

// What the run writes beside its files: the launcher and uninstaller copies, the pointers, the
// log, and the file system's own overhead.
const uint64_t kRoomMargin = 16ull << 20;

// True when `needed` bytes fit on the install folder's volume, or its free space cannot be read;
// otherwise the run fails with the sentence (ReportError) and the figures are logged. Asked
// again after a write failed, it tells lack of room from any other cause.
bool EnsureRoom(uint64_t needed);

// What files may take on the install folder's volume beside the margin; all there is when the
// free space cannot be read.
uint64_t RoomForFiles();
