#include "ui/wizard.h"

#include "core/process_values.h"
#include "core/progress_state.h"
#include "core/setup_log.h"
#include "core/system_library.h"
#include "service/product_launch.h"
#include "ui/pages.h"

int RunWizard(LPTHREAD_START_ROUTINE work)
{
    PageWork = work;
    BuildConfirmPage();
    BuildProgressPage();
    auto task_dialog = LoadSystemFunction<decltype(&TaskDialogIndirect)>(L"comctl32.dll", "TaskDialogIndirect");
    BOOL verification = FALSE;
    if (task_dialog == nullptr || FAILED(task_dialog(&ConfirmPage, nullptr, nullptr, &verification))) {
        LogLine("pencere acilamadi");
        return 1;
    }
    if (!Progress.worker_done) {
        LogLine("kullanici vazgecti");
        return 2;
    }
    if (Progress.succeeded && Options.mode == ModeInstall && LaunchAfterFinish)
        LaunchProduct();
    return 0;
}
