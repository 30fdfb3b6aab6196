#include "ui/wizard.h"

#include "app/error_box.h"
#include "core/setup_log.h"

int RunWizard()
{
    // The pages are not part of this version: say so plainly instead of doing nothing.
    LogLine("sayfali kurulum bu surumde yok");
    ShowErrorBox(L"Sayfalı kurulum henüz yok",
                 L"Bu Talvor Kurulum sürümü yalnızca /sessiz ile çalışır.");
    return 1;
}
