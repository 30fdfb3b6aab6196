#include "service/product_launch.h"

#include "core/format.h"
#include "core/process_values.h"
#include "core/setup_log.h"

void LaunchProduct()
{
    wchar_t explorer[260];
    wchar_t command[600];
    UINT length = GetWindowsDirectoryW(explorer, 260);
    if (length == 0 || length >= 260 || FormatWide(explorer + length, 260 - length, L"\\explorer.exe") < 0 ||
        FormatWide(command, 600, L"\"%s\" \"%s\\Talvor.exe\"", explorer, InstallFolder) < 0)
        return;
    // Started by the shell, never by the elevated setup itself; the shell's program is started by
    // its full path, since a verb looked up by the shell would come from the merged class view,
    // which the user's own HKCU\Software\Classes may override for every program.
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process;
    if (!CreateProcessW(explorer, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        LogFailedCall("CreateProcessW", explorer, GetLastError());
        return;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}
