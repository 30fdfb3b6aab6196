#include "uninstall/uninstall_sequence.h"

#include "core/progress_state.h"

bool RunUninstall()
{
    return ReportError(L"Bu kurulum sürümü Talvor'ı henüz kaldıramıyor.");
}
