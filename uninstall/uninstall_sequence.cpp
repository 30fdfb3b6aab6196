#include "uninstall/uninstall_sequence.h"

#include "core/folder_walk.h"
#include "core/format.h"
#include "core/object_owner.h"
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

#include <stdlib.h>

static const wchar_t kSettingsKey[] = L"Software\\Tekvar Yazılım\\Talvor";

// "<known folder>\Talvor" into `folder` of 260 characters; false when there is no such known
// folder or the path does not fit.
static bool DataFolder(REFKNOWNFOLDERID known, wchar_t *folder)
{
    wchar_t *base = nullptr;
    if (FAILED(SHGetKnownFolderPath(known, 0, nullptr, &base)))
        return false;
    bool fits = FormatWide(folder, 260, L"%s\\Talvor", base) >= 0;
    CoTaskMemFree(base);
    return fits;
}

// The user's own data folder, at a path the user's settings choose, removed without deletion at
// restart: the user's data is theirs to unlock. With the user's unelevated token it goes with the
// user's rights. Without one (no shell of the user runs, or a deployment tool runs the removal)
// the setup's own rights delete it only where the user could have: owned by the user, in the
// user's profile as the machine's profile list names it, never another user's profile or a shared
// folder the settings point at. False when it was left for that.
static bool RemoveUserDataFolder(const wchar_t *folder)
{
    HANDLE user = OpenUnelevatedUserToken();
    LogLine("kullanici klasoru %s haklariyla siliniyor", user != nullptr ? "kullanicinin kendi" : "kurulumun");
    if (user != nullptr) {
        if (SetThreadToken(nullptr, user)) {
            RemoveTreeLogged(folder, false, false);
            RevertToSelf();
        } else {
            LogFailedCall("SetThreadToken", folder, GetLastError());
        }
        CloseHandle(user);
        return true;
    }
    TOKEN_USER *self = ProcessUser();
    if (self == nullptr) {
        LogFailedCall("GetTokenInformation", folder, GetLastError());
        return false;
    }
    wchar_t profile[kPathCapacity] = L"";
    ProfileFolderOf(self->User.Sid, profile, kPathCapacity);
    bool left = RemoveUserTreeLogged(folder, self->User.Sid, profile);
    free(self);
    return !left;
}

// The data folders and the settings key. The shared data folder goes only with a trusted owner.
// False when the user's data folder was left; `user_folder` (260 characters) then names it.
static bool DeleteSettings(wchar_t *user_folder)
{
    SetStatus(L"Ayarlar ve kayıtlar siliniyor…", 90, 0);
    wchar_t shared_folder[260];
    if (DataFolder(FOLDERID_ProgramData, shared_folder))
        RemoveTreeLogged(shared_folder, false, true);
    bool user_folder_left = DataFolder(FOLDERID_LocalAppData, user_folder) && !RemoveUserDataFolder(user_folder);
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKey);
    return !user_folder_left;
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

    wchar_t user_folder[260];
    bool user_folder_left = Options.delete_settings && !DeleteSettings(user_folder);
    wchar_t left_text[400];
    if (user_folder_left)
        FormatWide(left_text, 400,
                   L" Ayarların silindi; ancak %s klasörü senin profilinde olmadığı ya da başkasına ait olduğu için "
                   L"silinmedi.",
                   user_folder);

    SetStatus(L"Talvor kaldırıldı.", 100, 0);
    FormatWide(Progress.result_text, 1024, L"Talvor bilgisayarından kaldırıldı.%s%s",
               user_folder_left          ? left_text
               : Options.delete_settings ? L" Ayarların ve kayıtların da silindi."
                                         : L" Ayarların bu bilgisayarda duruyor.",
               restart_pending ? L" Kalan birkaç dosya bilgisayar yeniden başlayınca silinecek." : L"");
    LogLine("kaldirma tamam (yeniden baslatma %d)", restart_pending ? 1 : 0);
    return true;
}
