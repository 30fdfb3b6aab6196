#include "service/run_program.h"

#include "core/format.h"
#include "core/setup_log.h"

#include <wchar.h>

static const DWORD kProgramTimeoutMs = 60000;

bool RunProgramAndWait(const wchar_t *executable, const wchar_t *arguments, DWORD *exit_code)
{
    wchar_t command_line[520];
    wchar_t folder[520];
    if (FormatWide(command_line, 520, L"\"%s\" %s", executable, arguments) < 0 ||
        FormatWide(folder, 520, L"%s", executable) < 0)
        return false;
    wchar_t *last_separator = wcsrchr(folder, L'\\');
    if (last_separator != nullptr)
        *last_separator = 0;

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(executable, command_line, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, folder, &startup,
                        &process)) {
        LogFailedCall("CreateProcessW", executable, GetLastError());
        return false;
    }
    WaitForSingleObject(process.hProcess, kProgramTimeoutMs);
    if (!GetExitCodeProcess(process.hProcess, exit_code))
        *exit_code = 1;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}
