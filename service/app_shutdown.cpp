#include "service/app_shutdown.h"

#include "core/ascii_case.h"
#include "core/setup_log.h"

#include <windows.h>

#include <tlhelp32.h>

static const DWORD kTerminateWaitMs = 5000;

void CloseRunningApp()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (!SameIgnoringAsciiCase(entry.szExeFile, L"talvor_gui.exe"))
            continue;
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (process == nullptr)
            continue;
        TerminateProcess(process, 0);
        WaitForSingleObject(process, kTerminateWaitMs);
        CloseHandle(process);
        LogLine("arayuz kapatildi (pid %lu)", entry.th32ProcessID);
    }
    CloseHandle(snapshot);
}
