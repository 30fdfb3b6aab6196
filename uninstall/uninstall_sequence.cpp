#include "uninstall/uninstall_sequence.h"

#include "core/format.h"
#include "core/process_values.h"
#include "core/progress_state.h"
#include "core/setup_log.h"
#include "registration/shortcuts.h"
#include "registration/startup_entry.h"
#include "registration/uninstall_entry.h"
#include "service/app_shutdown.h"
#include "service/legacy_driver.h"
#include "service/service_control.h"
#include "uninstall/remove_tree.h"
#include "uninstall/user_rights.h"

#include <windows.h>
#include <shlobj.h>

static const wchar_t kSettingsKey[] = L"Software\\Tekvar Yazılım\\Talvor";

// "<known folder>\Talvor" removed without deletion at restart: the user's data is theirs to
// unlock, and a shared folder must pass the owner check when asked. With a user's token, the
// removal runs with that user's rights.
static void RemoveDataFolder(REFKNOWNFOLDERID known, bool require_trusted_owner, HANDLE user)
{
    wchar_t *base = nullptr;
    if (FAILED(SHGetKnownFolderPath(known, 0, nullptr, &base)))
        return;
    wchar_t folder[260];
    bool fits = FormatWide(folder, 260, L"%s\\Talvor", base) >= 0;
    CoTaskMemFree(base);
    if (!fits)
        return;
    if (user != nullptr && !SetThreadToken(nullptr, user)) {
        LogFailedCall("SetThreadToken", folder, GetLastError());
        return;
    }
    RemoveTreeLogged(folder, false, require_trusted_owner);
    if (user != nullptr)
        RevertToSelf();
}

static void DeleteSettings()
{
    SetStatus(L"Ayarlar ve kayıtlar siliniyor…", 90, 0);
    RemoveDataFolder(FOLDERID_ProgramData, true, nullptr);
    HANDLE user = OpenUnelevatedUserToken();
    LogLine("kullanici klasoru %s haklariyla siliniyor", user != nullptr ? "kullanicinin kendi" : "kurulumun");
    RemoveDataFolder(FOLDERID_LocalAppData, false, user);
    if (user != nullptr)
        CloseHandle(user);
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKey);
}

bool RunUninstall()
{
    RaiseFlag(&Progress.cancel_locked);

    SetStatus(L"Talvor kapatılıyor…", 10, 0);
    CloseRunningApp();

    SetStatus(L"Talvor hizmeti kaldırılıyor…", 30, 0);
    // DeleteService only marks a service that is still running: one that does not stop would go
    // on running from the files about to be deleted while the removal reports success. A stop that
    // fails ends the removal before anything is taken away, unless the service cannot even be
    // opened because it is already marked for deletion, which counts as removed. A service that
    // does not stop is kept from starting with Windows, so that the removal run again after a
    // restart finds it stopped instead of failing the same way for ever.
    bool removed = false;
    DWORD error = ERROR_SUCCESS;
    bool stopped = SvcStop(kProductServiceName, &error);
    if (stopped || error == ERROR_SERVICE_MARKED_FOR_DELETE)
        removed = SvcStopAndDelete(kProductServiceName, &error);
    else
        SvcKeepFromStarting(kProductServiceName);
    if (!removed)
        return ReportError(L"Talvor hizmeti kaldırılamadı (kod %lu). Bilgisayarı yeniden başlatıp tekrar dene.",
                           error);
    RemoveLegacyDriverService();

    SetStatus(L"Kısayollar ve kayıtlar siliniyor…", 50, 0);
    DeleteShortcut(FOLDERID_CommonPrograms);
    DeleteShortcut(FOLDERID_PublicDesktop);
    DeleteStartupEntry();
    DeleteUninstallEntry();

    SetStatus(L"Dosyalar siliniyor…", 70, 0);
    bool restart_pending = RemoveInstallTree(InstallFolder);

    if (Options.delete_settings)
        DeleteSettings();

    SetStatus(L"Talvor kaldırıldı.", 100, 0);
    FormatWide(Progress.result_text, 1024, L"Talvor bilgisayarından kaldırıldı.%s%s",
               Options.delete_settings ? L" Ayarların ve kayıtların da silindi." : L" Ayarların bu bilgisayarda duruyor.",
               restart_pending ? L" Kalan birkaç dosya bilgisayar yeniden başlayınca silinecek." : L"");
    LogLine("kaldirma tamam (yeniden baslatma %d)", restart_pending ? 1 : 0);
    return true;
}
