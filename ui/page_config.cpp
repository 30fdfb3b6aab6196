#include "ui/pages.h"

#include "core/process_values.h"

void InitPageConfig(TASKDIALOGCONFIG *config, LONG_PTR page)
{
    ZeroMemory(config, sizeof *config);
    config->cbSize = sizeof *config;
    config->hInstance = GetModuleHandleW(nullptr);
    config->pszWindowTitle = Options.mode == ModeRemoval ? L"Talvor Kaldırma" : L"Talvor Kurulumu";
    config->dwFlags = TDF_POSITION_RELATIVE_TO_WINDOW | TDF_SIZE_TO_CONTENT;
    config->pfCallback = PageCallback;
    config->lpCallbackData = page;
    if (AppIcon != nullptr) {
        config->dwFlags |= TDF_USE_HICON_MAIN;
        config->hMainIcon = AppIcon;
    }
}

void AddConflictFooter(TASKDIALOGCONFIG *config)
{
    if (!ConflictFound || Options.mode != ModeInstall)
        return;
    config->pszFooterIcon = TD_WARNING_ICON;
    config->pszFooter = ConflictWarning;
}
