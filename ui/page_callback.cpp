#include "ui/pages.h"

#include "core/process_values.h"
#include "core/progress_state.h"

#include <string.h>

LPTHREAD_START_ROUTINE PageWork;

// What the progress page last showed, so that an unchanged text is not sent again and the bar
// mode is set on the first tick (-1: never set).
static wchar_t ShownStatus[256];
static LONG ShownMarquee = -1;
// Set at the progress page's first timer tick. "Vazgeç" is the page's only button and so its
// default: an Enter pressed twice on "Kur" would otherwise cancel the download it just started.
static bool ProgressTicked;

static void StartWorker()
{
    ShownStatus[0] = 0;
    ShownMarquee = -1;
    ProgressTicked = false;
    HANDLE worker = CreateThread(nullptr, 0, PageWork, nullptr, 0, nullptr);
    if (worker == nullptr) {
        ReportError(L"Kurulum başlatılamadı.");
        RaiseFlag(&Progress.worker_done);
        return;
    }
    CloseHandle(worker);
}

// A cancel request is passed to the worker once; after the point of no return clicks do nothing.
static HRESULT ProgressButtonClicked(HWND window)
{
    if (Progress.cancel_locked || !ProgressTicked)
        return S_FALSE;
    RaiseFlag(&Progress.cancel_requested);
    SendMessageW(window, TDM_ENABLE_BUTTON, IDCANCEL, FALSE);
    return S_FALSE;
}

static void ShowProgress(HWND window)
{
    ProgressTicked = true;
    wchar_t status[256];
    AcquireSRWLockShared(&Progress.status_lock);
    memcpy(status, Progress.status_text, sizeof status);
    unsigned percent = Progress.percent;
    LONG marquee = (LONG)Progress.marquee;
    ReleaseSRWLockShared(&Progress.status_lock);

    if (wcscmp(status, ShownStatus) != 0) {
        memcpy(ShownStatus, status, sizeof status);
        SendMessageW(window, TDM_SET_ELEMENT_TEXT, TDE_CONTENT, (LPARAM)ShownStatus);
    }
    if (marquee != ShownMarquee) {
        ShownMarquee = marquee;
        SendMessageW(window, TDM_SET_MARQUEE_PROGRESS_BAR, marquee, 0);
        SendMessageW(window, TDM_SET_PROGRESS_BAR_MARQUEE, marquee, 30);
    }
    if (!marquee)
        SendMessageW(window, TDM_SET_PROGRESS_BAR_POS, percent, 0);
    if (Progress.cancel_locked)
        SendMessageW(window, TDM_ENABLE_BUTTON, IDCANCEL, FALSE);
    if (Progress.worker_done) {
        BuildFinishPage();
        SendMessageW(window, TDM_NAVIGATE_PAGE, 0, (LPARAM)&FinishPage);
    }
}

HRESULT CALLBACK PageCallback(HWND window, UINT notification, WPARAM wparam, LPARAM, LONG_PTR page)
{
    switch (notification) {
    case TDN_CREATED:
        if (AppIcon != nullptr) {
            SendMessageW(window, WM_SETICON, ICON_BIG, (LPARAM)AppIcon);
            SendMessageW(window, WM_SETICON, ICON_SMALL, (LPARAM)AppIcon);
        }
        break;
    case TDN_NAVIGATED:
        if (page == PageProgress)
            StartWorker();
        break;
    case TDN_BUTTON_CLICKED:
        if (page == PageConfirm && (int)wparam == ButtonProceed) {
            SendMessageW(window, TDM_NAVIGATE_PAGE, 0, (LPARAM)&ProgressPage);
            return S_FALSE;
        }
        if (page == PageProgress)
            return ProgressButtonClicked(window);
        break;
    case TDN_TIMER:
        if (page == PageProgress)
            ShowProgress(window);
        break;
    case TDN_VERIFICATION_CLICKED:
        if (page == PageConfirm)
            Options.delete_settings = wparam != 0;
        else if (page == PageFinish)
            LaunchAfterFinish = (BOOL)wparam;
        break;
    }
    return S_OK;
}
