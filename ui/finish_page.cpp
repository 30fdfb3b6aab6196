#include "ui/pages.h"

#include "core/process_values.h"
#include "core/progress_state.h"

TASKDIALOGCONFIG FinishPage;

static TASKDIALOG_BUTTON FinishButtons[1];

void BuildFinishPage()
{
    bool removal = Options.mode == ModeRemoval;
    InitPageConfig(&FinishPage, PageFinish);
    FinishButtons[0] = {IDOK, Progress.succeeded ? L"Bitir" : L"Kapat"};
    FinishPage.pButtons = FinishButtons;
    FinishPage.cButtons = 1;
    FinishPage.dwFlags |= TDF_ALLOW_DIALOG_CANCELLATION;
    FinishPage.pszContent = Progress.result_text;
    if (Progress.succeeded) {
        FinishPage.pszMainInstruction = removal ? L"Talvor kaldırıldı" : L"Talvor hazır";
        if (!removal) {
            FinishPage.pszVerificationText = L"Talvor'yi şimdi aç";
            FinishPage.dwFlags |= TDF_VERIFICATION_FLAG_CHECKED;
            AddConflictFooter(&FinishPage);
        }
        return;
    }
    FinishPage.dwFlags &= ~TDF_USE_HICON_MAIN;
    FinishPage.pszMainIcon = TD_ERROR_ICON;
    FinishPage.pszMainInstruction = removal ? L"Talvor kaldırılamadı" : L"Talvor kurulamadı";
}
