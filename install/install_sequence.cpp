#include "install/install_sequence.h"

#include "core/progress_state.h"

bool RunInstall()
{
    return ReportError(L"Bu kurulum sürümü Talvor'ı henüz kuramıyor.");
}
