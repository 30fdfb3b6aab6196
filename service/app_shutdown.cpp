#include "service/app_shutdown.h"

#include "core/ascii_case.h"
#include "core/setup_log.h"
#include "service/process_list.h"

static const DWORD kTerminateWaitMs = 5000;

static bool EndTrayApp(const wchar_t *image_name, DWORD process_id, void *)
{
    if (!SameIgnoringAsciiCase(image_name, L"talvor_gui.exe"))
        return true;
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, process_id);
    if (process == nullptr)
        return true;
    TerminateProcess(process, 0);
    WaitForSingleObject(process, kTerminateWaitMs);
    CloseHandle(process);
    LogLine("arayuz kapatildi (pid %lu)", process_id);
    return true;
}

void CloseRunningApp()
{
    ForEachProcess(EndTrayApp, nullptr);
}
