#include "service/app_shutdown.h"

#include "core/ascii_case.h"
#include "core/setup_log.h"
#include "service/process_end.h"
#include "service/process_list.h"

static const DWORD kTerminateWaitMs = 5000;
static const wchar_t kTrayProgram[] = L"talvor_gui.exe";

// Every instance, also those of other users' sessions, which the elevated setup may end only
// with its debug privilege. An instance that ended after the list was taken may have left its id
// to another process: only the process that was listed is ended.
static bool EndTrayApp(const wchar_t *image_name, DWORD process_id, const FILETIME *listed_at, void *)
{
    if (!SameIgnoringAsciiCase(image_name, kTrayProgram))
        return true;
    DWORD error;
    HANDLE process = OpenProcessToEnd(process_id, &error);
    if (process == nullptr) {
        // One that ended meanwhile is no failure.
        if (error != ERROR_INVALID_PARAMETER)
            LogLine("arayuz kapatilamadi (pid %lu, kod %lu)", process_id, error);
        return true;
    }
    if (!IsListedProcess(process, kTrayProgram, listed_at))
        LogLine("arayuz sanilan surec birakildi (pid %lu): liste alindiktan sonra baslamis ya da baska bir program",
                process_id);
    else if (EndProcessAndWait(process, kTerminateWaitMs, kTrayProgram))
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
