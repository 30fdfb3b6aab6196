// The entry of the setup program: hardening, command line, single instance, install folder,
// log, conflict check, then the silent worker or the paged wizard.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include "app/conflict_check.h"
#include "app/error_box.h"
#include "app/install_folder.h"
#include "app/options.h"
#include "app/single_instance.h"
#include "app/worker.h"
#include "core/format.h"
#include "core/own_image.h"
#include "core/process_values.h"
#include "core/progress_state.h"
#include "core/setup_log.h"
#include "core/system_library.h"
#include "ui/wizard.h"

namespace {

const wchar_t kUsage[] = L"Kullanım: Talvor-Kurulum [/sessiz] [/masaustu-yok] [--yerel=<klasör>]\n"
                         L"Kaldırma: Talvor-Kurulum /kaldir [/sessiz] [/ayarlari-sil]";

bool ParseCommandLine()
{
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr)
        return false;
    bool ok = ParseOptions(count, arguments, DefaultBaseUrl, &Options);
    LocalFree(arguments);
    return ok;
}

void InitCommonControls6(HINSTANCE instance)
{
    auto init = LoadSystemFunction<decltype(&InitCommonControlsEx)>(L"comctl32.dll", "InitCommonControlsEx");
    if (init != nullptr) {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
        init(&controls);
    }
    AppIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
}

// Install runs log into the install folder; removal runs into the temporary folder, since the
// install folder is about to go. A path too long for the buffer leaves the run unlogged rather
// than writing a log under a cut name, or into whatever the current folder is.
void ChooseLogPath()
{
    if (Options.mode == ModeInstall) {
        SHCreateDirectoryExW(nullptr, InstallFolder, nullptr);
        if (FormatWide(LogPath, 260, L"%s\\kurulum.log", InstallFolder) < 0)
            LogPath[0] = 0;
        return;
    }
    // The log's final path is compared with this one, so short 8.3 names are made long first.
    wchar_t temp[228];
    DWORD length = GetTempPathW(228, temp);
    if (length > 0 && length < 228)
        length = GetLongPathNameW(temp, temp, 228);
    if (length == 0 || length >= 228 || FormatWide(LogPath, 260, L"%sTalvor-Kaldir.log", temp) < 0)
        LogPath[0] = 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    if (!ParseCommandLine()) {
        ShowErrorBox(L"Geçersiz komut", kUsage);
        return 2;
    }
    // Before anything is changed, and held from here on: the uninstaller copy is made from it.
    if (!OpenOwnImage()) {
        ShowErrorBox(L"Kurulum dosyası doğrulanamadı",
                     L"Çalışan kurulum programının dosyası taşınmış ya da değiştirilmiş. Bilgisayarında hiçbir şey "
                     L"değiştirilmedi; kurulum programını yeniden indirip çalıştır.");
        return 1;
    }

    InitCommonControls6(instance);

    if (GetInstallFolder(InstallFolder, 260) != StatusOk) {
        ShowErrorBox(L"Program Files bulunamadı", L"Kurulum klasörü belirlenemedi.");
        return 1;
    }

    HANDLE mutex = nullptr;
    InstanceClaim claim = ClaimSingleInstance(InstallFolder, &mutex);
    if (claim == InstanceRunning) {
        ShowErrorBox(L"Kurulum zaten çalışıyor",
                     L"Talvor kurulumu ya da kaldırması şu an başka bir pencerede sürüyor.");
        return 2;
    }

    ChooseLogPath();
    wchar_t refused_log_folder[260];
    ClaimLogFile(refused_log_folder, 260);
    LogLine("Talvor %s %s basladi", SetupVersion, Options.mode == ModeRemoval ? "kaldirma" : "kurulum");
    if (refused_log_folder[0] != 0)
        LogLine("gunluk %ls klasorune yazilmadi (sahibi baska bir kullanici); yerine: %ls", refused_log_folder, LogPath);
    if (claim == InstanceNameSquatted)
        LogLine("Global\\Talvor-Kurulum kurulum olmayan bir programin elinde; yok sayildi");

    ConflictFound = DetectConflictingSoftware();
    if (ConflictFound) {
        MultiByteToWideChar(CP_UTF8, 0, ConflictWarningText(), -1, ConflictWarning, 600);
        LogLine("Kaspersky bulundu");
    }

    if (Options.silent) {
        WorkerThread(nullptr);
    } else {
        int declined_or_failed = RunWizard(WorkerThread);
        if (declined_or_failed != 0)
            return declined_or_failed;
    }

    if (!Progress.succeeded)
        return 1;
    if (mutex != nullptr) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    return 0;
}
