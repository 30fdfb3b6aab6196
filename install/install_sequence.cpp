#include "install/install_sequence.h"

#include "core/ascii_case.h"
#include "core/busy_retry.h"
#include "core/format.h"
#include "core/own_image.h"
#include "core/process_values.h"
#include "core/progress_state.h"
#include "core/setup_log.h"
#include "core/whole_file.h"
#include "install/acquisition.h"
#include "install/disk_room.h"
#include "install/version_store.h"
#include "registration/shortcuts.h"
#include "registration/startup_entry.h"
#include "registration/uninstall_entry.h"
#include "release/package_extract.h"
#include "service/app_shutdown.h"
#include "service/legacy_driver.h"
#include "service/run_program.h"
#include "service/service_control.h"
#include "uninstall/remove_tree.h"
#include "uninstall/restart_deletions.h"

#include <windows.h>
#include <shlobj.h>

#include <stdlib.h>
#include <string.h>

// An install, an update and a reinstall take the same road: acquire the release, unpack it
// beside the installed versions, stop the product, swap the new version in, switch the service
// over and watch it, then register. Only the finishing text tells them apart.

namespace {

// Far more than the product's launcher will ever be.
const uint32_t kLauncherMaxSize = 64u << 20;

struct RunState {
    ProgramEntry entry;
    uint8_t *manifest; // the manifest file's bytes, kept in the install folder once the run succeeded
    uint32_t manifest_size;
    bool had_service;
    bool first_install; // no service and no current version when the run stopped the product
    bool writes_uninstaller; // the uninstaller copy is written by this run (it is not the running program)
    wchar_t old_service_path[520];
    char current_before[32];
    char previous_before[32];
    DWORD installer_exit_code;
    uint32_t unpacked_count;
    wchar_t store_root[260];
    wchar_t package_path[260];
    wchar_t staging_dir[260];
    wchar_t version_dir[260];
    wchar_t backup_dir[260];
    wchar_t new_service_path[260];
    wchar_t launcher_source[260];
    wchar_t launcher_target[260];
    wchar_t uninstaller_path[260];
    wchar_t kept_manifest[260];
};

// Every path of the run is formed before anything changes, so that no move, copy or removal is
// ever given a cut path. The backup's name is checked with the longest tick count it can get.
bool FormRunPaths(RunState *run)
{
    const char *version = run->entry.version;
    bool fits = FormatWide(run->store_root, 260, L"%s\\surumler", InstallFolder) >= 0 &&
                PackagePath(InstallFolder, version, run->package_path, 260) &&
                StagingDirPath(InstallFolder, version, run->staging_dir, 260) &&
                VersionDirPath(InstallFolder, version, run->version_dir, 260) &&
                BackupDirPath(InstallFolder, version, ~0ULL, run->backup_dir, 260) &&
                FormatWide(run->new_service_path, 260, L"%s\\talvor_svc.exe", run->version_dir) >= 0 &&
                FormatWide(run->launcher_source, 260, L"%s\\Talvor.exe", run->version_dir) >= 0 &&
                FormatWide(run->launcher_target, 260, L"%s\\Talvor.exe", InstallFolder) >= 0 &&
                FormatWide(run->uninstaller_path, 260, L"%s\\Talvor-Kaldir.exe", InstallFolder) >= 0 &&
                KeptManifestPath(run->kept_manifest);
    run->backup_dir[0] = 0;
    if (!fits)
        return ReportError(L"Kurulum klasörünün yolu çok uzun. Bilgisayarında hiçbir şey değiştirilmedi.");
    return true;
}

// Gets the signed manifest and the package it names into the store. Until its end the user
// may still cancel, and nothing of the installed product has changed.
bool AcquireRelease(RunState *run)
{
    run->previous_before[0] = 0;
    run->installer_exit_code = 1;
    run->unpacked_count = 0;
    if (!AcquireManifest(&run->entry, &run->manifest, &run->manifest_size) || !FormRunPaths(run))
        return false;
    // The package and, beside it, its files: these take at least the package's size less an
    // eighth (stored entries are their files; compressed ones are smaller than them; an eighth
    // covers the entries' headers many times), so a refusal here is never one the run would pass.
    uint64_t package = run->entry.size;
    if (!EnsureRoom(package + (package - package / 8) + kRoomMargin))
        return false;
    SHCreateDirectoryExW(nullptr, run->store_root, nullptr);
    if (!AcquirePackage(&run->entry, run->package_path))
        return false;
    if (CancelRequested()) {
        DeleteFileW(run->package_path);
        return ReportError(L"Kurulumdan vazgeçildi. Bilgisayarında hiçbir şey değiştirilmedi.");
    }
    return true;
}

// Unpacks the package into the staging folder and checks that the product is complete there.
bool UnpackRelease(RunState *run)
{
    SetStatus(L"Dosyalar açılıyor…", 62, 0);
    RemoveInstallTree(run->staging_dir);
    // A run that was ended half-way leaves its staging folder, package or backup behind.
    ClearStoreLeftovers(InstallFolder, run->entry.version);
    uint64_t unpacked = 0;
    Status status = ExtractPackage(run->package_path, run->staging_dir, &run->unpacked_count, RoomForFiles(), &unpacked);
    bool complete = status == StatusOk && HasRequiredFiles(run->staging_dir);
    // Room that the package's files do not find, before the unpack or during it (another program
    // filled the disk), is named as such: asked with the package still there, as it was then.
    bool room = (status != StatusBufferTooSmall && status != StatusIoError) || EnsureRoom(unpacked + kRoomMargin);
    DeleteFileW(run->package_path);
    if (!complete) {
        RemoveInstallTree(run->staging_dir);
        return room ? ReportError(kPackageNotUnpackedMessage) : false;
    }
    LogLine("paket acildi: %u dosya", run->unpacked_count);
    return true;
}

// Reads the pointers, preferring the version the service really runs when an earlier run was
// ended after writing the pointers but before switching the service: that version is the one to
// keep and to go back to, whichever version this run installs. A current pointer that holds no
// version stays no version.
void ReadInstalledVersions(RunState *run)
{
    if (ReadVersionPointer(InstallFolder, kPointerCurrent, run->current_before, 32) != StatusOk)
        run->current_before[0] = 0;
    if (ReadVersionPointer(InstallFolder, kPointerPrevious, run->previous_before, 32) != StatusOk)
        run->previous_before[0] = 0;
    // A version whose files a power cut or a disk fault left empty is none to keep or go back to:
    // this install puts whole files in its place.
    wchar_t current_dir[260];
    if (run->current_before[0] != 0 && VersionDirPath(InstallFolder, run->current_before, current_dir, 260) &&
        !HasRequiredFiles(current_dir)) {
        LogLine("guncel surum %s butun degil; kurulum yerine butun dosyalar koyacak", run->current_before);
        run->current_before[0] = 0;
    }
    char running[32];
    if (run->had_service && run->current_before[0] != 0 &&
        VersionOfServiceProgram(InstallFolder, run->old_service_path, running, sizeof running) &&
        strcmp(running, run->current_before) != 0 && IsRegularFile(run->old_service_path)) {
        LogLine("hizmet %s surumunu calistiriyor; guncel yerine o esas aliniyor", running);
        memcpy(run->current_before, running, sizeof running);
    }
}

// Passes the point of no return and stops the running product.
bool StopRunningProduct(RunState *run)
{
    RaiseFlag(&Progress.cancel_locked);
    SetStatus(L"Çalışan Talvor durduruluyor…", 72, 0);
    CloseRunningApp();
    run->had_service = SvcQueryImagePath(kProductServiceName, run->old_service_path, 520);
    ReadInstalledVersions(run);
    LogLine("onceki kurulum: hizmet=%d yol=%ls guncel=%s", run->had_service ? 1 : 0, run->old_service_path,
            run->current_before);
    // A service that cannot be stopped, or whose name stays taken by a deleted one, is kept from
    // starting with Windows: after the restart the message asks for, the rerun finds it stopped.
    bool marked = false;
    if (run->had_service &&
        (!SvcStop(kProductServiceName) || !SvcWaitWhileMarkedForDeletion(kProductServiceName, &marked))) {
        SvcKeepFromStarting(kProductServiceName);
        RemoveInstallTree(run->staging_dir);
        return ReportError(
            L"Çalışan Talvor hizmeti durdurulamadı. Bilgisayarı yeniden başlatıp kurulumu tekrar çalıştır.");
    }
    // A service that was deleted (a removal ran while another program held it) is no service.
    if (marked) {
        run->had_service = false;
        run->old_service_path[0] = 0;
    }
    run->first_install = !run->had_service && run->current_before[0] == 0;
    RemoveLegacyDriverService();
    return true;
}

// The outcome of copying a program into the install folder. A failed copy over an earlier one
// keeps that one and is only logged; with no earlier copy in place the error is returned, since
// the start-up entry, the shortcuts and the uninstall entry would name a program that is not there.
DWORD KeepingEarlier(DWORD copy_error, const wchar_t *to, const char *what)
{
    if (copy_error == ERROR_SUCCESS)
        return ERROR_SUCCESS;
    LogLine("%s kopyalanamadi (kod %lu)", what, copy_error);
    return IsRegularFile(to) ? ERROR_SUCCESS : copy_error;
}

// The launcher copied from the new version's folder as a new file, flushed, then moved over the
// old one: after a power cut the start menu's program is the old launcher or the new one, whole.
DWORD CopyLauncher(const RunState *run)
{
    uint8_t *bytes = nullptr;
    uint32_t size = 0;
    if (!ReadWholeFile(run->launcher_source, kLauncherMaxSize, true, &bytes, &size))
        return ERROR_READ_FAULT;
    DWORD error = ReplaceFileDurably(run->launcher_target, bytes, size);
    free(bytes);
    return error;
}

// The launcher and the uninstaller copy in the install folder. The uninstaller is the running
// setup's own file, as it held it from its start, never whatever stands at its name now.
DWORD CopyInstallFolderPrograms(RunState *run)
{
    DWORD copied = CopyLauncher(run);
    DWORD error = KeepingEarlier(copied, run->launcher_target, "baslatici");
    wchar_t self[260];
    DWORD length = GetModuleFileNameW(nullptr, self, 260);
    if (error != ERROR_SUCCESS || length == 0 || length >= 260 || SameIgnoringAsciiCase(self, run->uninstaller_path))
        return error;
    run->writes_uninstaller = true;
    return KeepingEarlier(CopyOwnImage(run->uninstaller_path), run->uninstaller_path, "kaldirici");
}

// A first install that fails once its files are placed takes back what it placed: a service
// left behind would fail at every start of Windows, and nothing of it could be removed from the
// list of installed programs. The install folder's log stays; the message names it.
void UndoFirstInstall(const RunState *run)
{
    SvcStopAndDelete(kProductServiceName);
    RemoveInstallTree(run->version_dir);
    WriteVersionPointer(InstallFolder, kPointerCurrent, "");
    WriteVersionPointer(InstallFolder, kPointerPrevious, "");
    DeleteFileW(run->launcher_target);
    if (run->writes_uninstaller)
        DeleteFileW(run->uninstaller_path);
    RemoveDirectoryW(run->store_root);
    LogLine("ilk kurulum geri alindi");
}

// A failure after the new folder is in place but before the service was switched: the stopped
// service still points at its own folder and is started again, and a first install is undone.
void TakeBackBeforeSwitch(const RunState *run)
{
    if (run->first_install)
        UndoFirstInstall(run);
    else if (run->had_service)
        SvcStartAndCheck();
}

// Moves the staging folder into the version's place (an existing one of the same version is set
// aside first and deleted after), places the install folder's programs and writes the pointers.
bool SwapVersionIn(RunState *run)
{
    SetStatus(L"Dosyalar yerleştiriliyor…", 78, 0);
    // A removal that waits for a restart would otherwise delete at that restart what this
    // install is about to place.
    unsigned taken_back = CancelRestartDeletions(InstallFolder);
    if (taken_back > 0)
        LogLine("yeniden baslatmada silinecek %u kayit geri alindi", taken_back);
    run->backup_dir[0] = 0;
    // A version folder that cannot be set aside (a file in it is open) is left exactly as it is:
    // deleting what can be deleted of it would break the installed product at the next restart.
    bool placed = true;
    DWORD code = ERROR_SUCCESS;
    if (GetFileAttributesW(run->version_dir) != INVALID_FILE_ATTRIBUTES) {
        BackupDirPath(InstallFolder, run->entry.version, GetTickCount64(), run->backup_dir, 260);
        code = MoveRetrying(run->version_dir, run->backup_dir, 0);
        placed = code == ERROR_SUCCESS;
        if (!placed) {
            LogFailedCall("MoveFileExW", run->version_dir, code);
            run->backup_dir[0] = 0;
        }
    }
    if (placed) {
        code = MoveRetrying(run->staging_dir, run->version_dir, 0);
        placed = code == ERROR_SUCCESS;
        if (!placed && run->backup_dir[0] != 0)
            MoveRetrying(run->backup_dir, run->version_dir, 0);
    }
    if (!placed) {
        RemoveInstallTree(run->staging_dir);
        if (run->had_service)
            SvcStartAndCheck();
        return ReportError(L"Dosyalar yerine konamadı (kod %lu). Önceki kurulum olduğu gibi bırakıldı.", code);
    }
    if (run->backup_dir[0] != 0)
        RemoveInstallTree(run->backup_dir);

    code = CopyInstallFolderPrograms(run);
    if (code != ERROR_SUCCESS) {
        TakeBackBeforeSwitch(run);
        return ReportError(L"Program dosyaları kurulum klasörüne kopyalanamadı (kod %lu). Ayrıntı: %s\\kurulum.log",
                           code, InstallFolder);
    }

    const char *version = run->entry.version;
    bool written = WriteVersionPointer(InstallFolder, kPointerCurrent, version) == StatusOk;
    if (written &&
        WriteVersionPointer(InstallFolder, kPointerPrevious, PreviousToKeep(run->current_before, version)) != StatusOk) {
        // guncel goes back too, so that it names the version the old service runs again.
        WriteVersionPointer(InstallFolder, kPointerCurrent, run->current_before);
        written = false;
    }
    if (!written) {
        TakeBackBeforeSwitch(run);
        return ReportError(L"Kurulum bilgisi yazılamadı.");
    }
    return true;
}

// Points the service at the new version, or has the service program register itself, then
// starts it and watches that it stays up.
bool StartNewService(RunState *run)
{
    SetStatus(L"Talvor hizmeti başlatılıyor…", 86, 0);
    // SvcRepoint has logged why it failed.
    if (run->had_service && !SvcRepoint(run->new_service_path)) {
        LogLine("hizmet yolu ayarlanamadi; yeniden kuruluyor");
        SvcStopAndDelete(kProductServiceName);
        run->had_service = false;
        Sleep(1000);
    }
    if (!run->had_service) {
        DWORD exit_code = 0;
        bool ran = RunProgramAndWait(run->new_service_path, L"kur", &exit_code);
        if (ran)
            run->installer_exit_code = exit_code;
        if (!ran || exit_code != 0)
            LogLine("hizmet kurulamadi (cikis %lu)", run->installer_exit_code);
    }
    return SvcStartAndCheck();
}

// The kept manifest, registration, shortcuts and pruning; none of them can fail the install any
// more. The manifest is kept as the pointers are written, so that after a power cut the next run
// compares with a whole one.
void FinishInstall(const RunState *run)
{
    LogLine("hizmet calisiyor: %ls", run->new_service_path);
    if (ReplaceFileDurably(run->kept_manifest, run->manifest, run->manifest_size) != ERROR_SUCCESS)
        LogLine("surum bilgisi kurulum klasorunde saklanamadi");
    SetStatus(L"Kısayollar ve kayıtlar oluşturuluyor…", 95, 0);
    if (!WriteUninstallEntry(run->version_dir, run->entry.version))
        LogLine("kaldirma kaydi yazilamadi");
    if (!WriteStartupEntry())
        LogLine("baslangic kaydi yazilamadi");
    if (!CreateShortcut(FOLDERID_CommonPrograms))
        LogLine("baslat menusu kisayolu olusturulamadi");
    if (Options.desktop_shortcut && !CreateShortcut(FOLDERID_PublicDesktop))
        LogLine("masaustu kisayolu olusturulamadi");

    const char *version = run->entry.version;
    PruneVersions(InstallFolder, version, PreviousToKeep(run->current_before, version));
    SetStatus(L"Kurulum tamamlandı.", 100, 0);
    if (run->current_before[0] != 0 && strcmp(run->current_before, version) != 0)
        FormatWide(Progress.result_text, 1024,
                   L"Talvor %hs sürümünden %hs sürümüne güncellendi. Ayarların korundu ve hizmet çalışıyor.",
                   run->current_before, version);
    else
        FormatWide(Progress.result_text, 1024,
                   L"Talvor %hs kuruldu ve hizmeti çalışıyor. Başlat menüsünden%s açabilirsin; Windows açılınca "
                   L"kendiliğinden başlar.",
                   version, Options.desktop_shortcut ? L" ya da masaüstünden" : L"");
    LogLine("kurulum tamam: %s", version);
}

// Points the pointers back at the version the service runs again. When guncel held no version
// before the run, that version is read from the old program's place in the store.
void RestorePointers(const RunState *run)
{
    char found[32];
    const char *back = run->current_before;
    if (back[0] == 0) {
        if (!VersionOfServiceProgram(InstallFolder, run->old_service_path, found, sizeof found))
            return;
        back = found;
    }
    WriteVersionPointer(InstallFolder, kPointerCurrent, back);
    WriteVersionPointer(InstallFolder, kPointerPrevious, run->previous_before[0] != 0 ? run->previous_before : back);
}

// The new service did not stay up: back to the previous executable and pointers where the old
// service program is still there to run. The new program is stopped first, ended when it does
// not stop, whether or not there is an old one: one still starting would answer the rollback's
// start as already running and pass its check in place of the old, and none of it may be left.
// Whatever happens, the pointers name the version the service is registered with.
bool RollBack(const RunState *run)
{
    LogLine("yeni hizmet saglikli acilmadi");
    // In a reinstall the old and the new program are one file: there is no earlier one to run.
    bool earlier = run->old_service_path[0] != 0 && IsRegularFile(run->old_service_path) &&
                   !SameIgnoringAsciiCase(run->old_service_path, run->new_service_path);
    bool stopped = SvcStop(kProductServiceName);
    bool repointed = earlier && stopped && SvcRepoint(run->old_service_path);
    if (repointed)
        RestorePointers(run);
    if (repointed && SvcStartAndCheck())
        return ReportError(L"Yeni sürüm %hs bu bilgisayarda açılamadı; önceki Talvor'ya geri dönüldü ve çalışıyor.",
                           run->entry.version);
    if (run->first_install)
        UndoFirstInstall(run);
    return ReportError(L"Talvor hizmeti başlatılamadı. Ayrıntı: %s\\kurulum.log", InstallFolder);
}

// The whole run; the caller frees the manifest's bytes whatever step it ended in.
bool InstallRelease(RunState *run)
{
    if (!AcquireRelease(run) || !UnpackRelease(run)) {
        // A first install leaves only its log, no empty store.
        if (run->store_root[0] != 0)
            RemoveDirectoryW(run->store_root);
        return false;
    }
    if (!StopRunningProduct(run) || !SwapVersionIn(run))
        return false;
    if (!StartNewService(run))
        return RollBack(run);
    FinishInstall(run);
    return true;
}

} // namespace

bool RunInstall()
{
    RunState run;
    memset(&run, 0, sizeof run);
    bool installed = InstallRelease(&run);
    free(run.manifest);
    return installed;
}
