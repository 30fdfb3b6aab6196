#pragma once

#include <windows.h>

// Calls visit with the image name and id of each running process, in the order Windows lists
// them, until it returns false. A process list that cannot be read visits nothing. `listed_at` is
// the system time taken right before the list was: a process created since may have taken the id
// of one listed that ended.
typedef bool (*ProcessVisitor)(const wchar_t *image_name, DWORD process_id, const FILETIME *listed_at,
                               void *context);
void ForEachProcess(ProcessVisitor visit, void *context);
