#pragma once

#include <windows.h>

// Runs a paged setup: the task dialog with its pages, `work` on its own thread under the
// progress page. Returns 0 when the work ran (its result is in Progress), 1 when the dialog
// could not be shown, 2 when the user left before the work began.
int RunWizard(LPTHREAD_START_ROUTINE work);
