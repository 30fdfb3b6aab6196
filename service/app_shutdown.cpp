#include "service/app_shutdown.h"

#include "core/ascii_case.h"
#include "core/setup_log.h"
#include "service/process_end.h"
#include "service/process_list.h"

static const DWORD kTerminateWaitMs = 5000;

// Every instance, also those of other users' sessions, which the elevated setup may end only
// with its debug privilege.
static bool EndTrayApp(const wchar_t *image_name, DWORD process_id, void *)
{
    if (!SameIgnoringAsciiCase(image_name, L"talvor_gui.exe"))
        return true;
    DWORD error;
    HANDLE process = OpenProcessToEnd(process_id, &error);
    if (process == nullptr) {
        // One that ended meanwhile is no failure.
        if (error != ERROR_INVALID_PARAMETER)
            LogLine("arayuz kapatilamadi (pid %lu, kod %lu)", process_id, error);
        return true;
    }
    if (EndProcessAndWait(process, kTerminateWaitMs, L"talvor_gui.exe"))
        LogLine("arayuz kapatildi (pid %lu)", process_id);
    else
        LogLine("arayuz kapatilamadi (pid %lu)", process_id);
    CloseHandle(process);
    return true;
}

void CloseRunningApp()
{
    ForEachProcess(EndTrayApp, nullptr);
}
