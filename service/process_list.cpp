#include "service/process_list.h"

#include <tlhelp32.h>

void ForEachProcess(ProcessVisitor visit, void *context)
{
    FILETIME listed_at;
    GetSystemTimeAsFileTime(&listed_at);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    BOOL more = Process32FirstW(snapshot, &entry);
    while (more && visit(entry.szExeFile, entry.th32ProcessID, &listed_at, context))
        more = Process32NextW(snapshot, &entry);
    CloseHandle(snapshot);
}
