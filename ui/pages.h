#pragma once

#include <windows.h>
#include <commctrl.h>

// The wizard is one task dialog whose three pages are swapped by navigation. Their
// configurations live for the whole process, since the dialog reads them when it navigates.

// Page identifiers, the callback data of each page's configuration.
enum : LONG_PTR { PageConfirm = 1, PageProgress = 2, PageFinish = 3 };
// The confirmation page's proceed button; IDCANCEL is every "Vazgeç", IDOK the finish button.
enum : int { ButtonProceed = 100 };

extern TASKDIALOGCONFIG ConfirmPage;
extern TASKDIALOGCONFIG ProgressPage;
extern TASKDIALOGCONFIG FinishPage;

// The fields every page shares: size, instance, title by mode, flags, callback and its page
// identifier, and the program's icon when it loaded.
void InitPageConfig(TASKDIALOGCONFIG *config, LONG_PTR page);

// The conflicting security software warning in the footer; install pages only.
void AddConflictFooter(TASKDIALOGCONFIG *config);

// Fills the confirmation page for this run's mode and installed version.
void BuildConfirmPage();

// Fills the progress page for this run's mode.
void BuildProgressPage();

// Fills the finish page from the worker's outcome.
void BuildFinishPage();

// What the progress page runs on its own thread, given by whoever runs the wizard.
extern LPTHREAD_START_ROUTINE PageWork;

// The one callback of all three pages.
HRESULT CALLBACK PageCallback(HWND window, UINT notification, WPARAM wparam, LPARAM lparam, LONG_PTR page);
