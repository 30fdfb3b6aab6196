#include "ui/pages.h"

#include "core/process_values.h"

TASKDIALOGCONFIG ProgressPage;

static TASKDIALOG_BUTTON ProgressButtons[1];

void BuildProgressPage()
{
    InitPageConfig(&ProgressPage, PageProgress);
    ProgressPage.dwFlags |= TDF_SHOW_PROGRESS_BAR | TDF_CALLBACK_TIMER;
    ProgressPage.pszMainInstruction = Options.mode == ModeRemoval ? L"Talvor kaldırılıyor" : L"Talvor kuruluyor";
    ProgressPage.pszContent = L"Hazırlanıyor…";
    ProgressButtons[0] = {IDCANCEL, L"Vazgeç"};
    ProgressPage.pButtons = ProgressButtons;
    ProgressPage.cButtons = 1;
}
