#include "app/worker.h"

#include <windows.h>
#include <objbase.h>

#include "app/options.h"
#include "core/progress_state.h"
#include "install/install_sequence.h"
#include "uninstall/uninstall_sequence.h"

DWORD WINAPI WorkerThread(void *)
{
    // The result is not looked at: the shortcut step needs COM on this thread and reports its
    // own failure.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Progress.succeeded = Options.mode == ModeRemoval ? RunUninstall() : RunInstall();
    CoUninitialize();
    RaiseFlag(&Progress.worker_done);
    return 0;
}
