#include "service/product_launch.h"

#include "core/format.h"
#include "core/process_values.h"

#include <shellapi.h>

void LaunchProduct()
{
    wchar_t product[262];
    wchar_t explorer[260];
    if (FormatWide(product, 262, L"\"%s\\Talvor.exe\"", InstallFolder) < 0)
        return;
    UINT length = GetWindowsDirectoryW(explorer, 260);
    if (length == 0 || length >= 260 || FormatWide(explorer + length, 260 - length, L"\\explorer.exe") < 0)
        return;
    // Started by the shell, never by the elevated setup itself.
    ShellExecuteW(nullptr, L"open", explorer, product, nullptr, SW_SHOWNORMAL);
}
