#pragma once

#include <windows.h>

// Calls visit with the image name and id of each running process, in the order Windows lists
// them, until it returns false. A process list that cannot be read visits nothing.
typedef bool (*ProcessVisitor)(const wchar_t *image_name, DWORD process_id, void *context);
void ForEachProcess(ProcessVisitor visit, void *context);
