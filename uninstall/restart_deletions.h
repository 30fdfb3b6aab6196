#pragma once

// Takes back every deletion at the next restart that names `folder` itself or anything below it
// (entries of Windows' PendingFileRenameOperations with no new name), so that what is installed
// there again after a removal survives the restart. Renames and the entries of other folders
// stay as they were. Returns how many deletions were taken back; 0 also when the list cannot be
// read or written.
unsigned CancelRestartDeletions(const wchar_t *folder);
