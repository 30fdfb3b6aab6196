#include "app/error_box.h"

#include <windows.h>
#include <commctrl.h>

#include "app/options.h"
#include "core/system_library.h"

void ShowErrorBox(const wchar_t *instruction, const wchar_t *content)
{
    if (Options.silent)
        return;
    auto task_dialog = LoadSystemFunction<decltype(&TaskDialog)>(L"comctl32.dll", "TaskDialog");
    if (task_dialog == nullptr)
        return;
    task_dialog(nullptr, GetModuleHandleW(nullptr), L"Talvor", instruction, content, TDCBF_CLOSE_BUTTON,
                TD_ERROR_ICON, nullptr);
}
