// The removal run as the real program after a real install of the stand-in product in the test
// prefix: what it takes off the machine, what it leaves, what it hands to the next restart and
// how it fails.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <ostream>
#include <string>
#include <vector>

#include "service/service_control.h"
#include "support/installed_product.h"
#include "support/test_support.h"

namespace {

const wchar_t kSettingsParentKey[] = L"Software\\Tekvar Yazılım";
// Another program of the same maker, whose settings share the parent key.
const wchar_t kNeighbourKey[] = L"Software\\Tekvar Yazılım\\Talvor-Komsu-Deneme";
const char kDoneWithoutRestart[] = "kaldirma tamam (yeniden baslatma 0)";
const char kWithTheUsersRights[] = "kullanici klasoru kullanicinin kendi haklariyla siliniyor";

bool KeyExists(HKEY root, const wchar_t *path)
{
    HKEY key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// What an install leaves on the machine, each part seen on its own.
struct ProductTraces {
    bool service, folder, uninstall_entry, run_value, start_menu, desktop;
    bool operator==(const ProductTraces &other) const
    {
        return service == other.service && folder == other.folder && uninstall_entry == other.uninstall_entry &&
               run_value == other.run_value && start_menu == other.start_menu && desktop == other.desktop;
    }
};

void PrintTo(const ProductTraces &t, std::ostream *out)
{
    *out << "{service " << t.service << ", folder " << t.folder << ", uninstall entry " << t.uninstall_entry
         << ", run value " << t.run_value << ", start menu " << t.start_menu << ", desktop " << t.desktop << "}";
}

const ProductTraces kWholeProduct = {true, true, true, true, true, true};
const ProductTraces kNoTrace = {false, false, false, false, false, false};

ProductTraces Traces()
{
    std::wstring run_value;
    return {QueryProductService().exists,
            FileExists(kProductFolder),
            KeyExists(HKEY_LOCAL_MACHINE, kUninstallEntryKey),
            ReadMachineString(kRunEntryKey, L"Talvor", run_value),
            FileExists(StartMenuShortcut()),
            FileExists(DesktopShortcut())};
}

bool LegacyDriverRegistered()
{
    wchar_t image[520];
    return SvcQueryImagePath(L"WinDivert", image, 520);
}

// Every test starts and ends without the product, the legacy driver service, the data folders,
// the settings keys and the removal log; the list of deletions at the next restart is put back
// as it was found. One release of the stand-in product serves the whole program.
class UninstallRunTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        release_ = MakeTempFolder(L"kaldirma-yayin");
        published_ = !release_.empty() && PublishProductRelease(release_, "2.0.0");
    }
    static void TearDownTestSuite() { RemoveFolder(release_); }

    void SetUp() override
    {
        REQUIRE_DEVELOPMENT_KEY();
        ASSERT_TRUE(published_);
        settings_parent_existed_ = KeyExists(HKEY_CURRENT_USER, kSettingsParentKey);
        Clean();
    }
    void TearDown() override
    {
        Clean();
        if (!settings_parent_existed_)
            RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsParentKey);
    }
    static void Clean()
    {
        RemoveProductCompletely();
        DeleteTestService(L"WinDivert");
        RemoveUserData();
        RegDeleteTreeW(HKEY_CURRENT_USER, kNeighbourKey);
        RegDeleteKeyW(HKEY_CURRENT_USER, kNeighbourKey);
        DeleteFileW(RemovalLogPath().c_str());
        for (const std::wstring &path : FreshRemovalLogs())
            DeleteFileW(path.c_str());
    }
    static std::wstring TempFolder() { return RemovalLogPath().substr(0, RemovalLogPath().rfind(L'\\')); }
    // The logs that runs made beside a log name they would not write through.
    static std::vector<std::wstring> FreshRemovalLogs()
    {
        std::vector<std::wstring> found;
        for (const std::string &name : FolderEntries(TempFolder()))
            if (name.rfind("Talvor-Kaldir-", 0) == 0)
                found.push_back(TempFolder() + L"\\" + Utf8ToWide(name));
        return found;
    }

    static long Remove(const std::wstring &arguments)
    {
        return RunProgram(SetupCommand(L"/kaldir /sessiz " + arguments), 120000);
    }

    static std::wstring release_;
    static bool published_;
    bool settings_parent_existed_ = false;
    PendingDeletionsGuard pending_guard_;
};

std::wstring UninstallRunTest::release_;
bool UninstallRunTest::published_;

} // namespace

// Nothing installed, no data: the removal succeeds and leaves nothing for a restart.
TEST_F(UninstallRunTest, NothingInstalledIsSuccessWithoutRestart)
{
    std::vector<std::wstring> pending_before = PendingDeletions();
    EXPECT_EQ(0, Remove(L"/ayarlari-sil"));
    EXPECT_EQ(kDoneWithoutRestart, LastLine(LogLines(RemovalLogPath())));
    EXPECT_EQ(pending_before, PendingDeletions());
    EXPECT_EQ(kNoTrace, Traces());
}

// The running tray application, the service, an old driver registration from the product folder,
// the shortcuts, the registration and the install folder all go; the user's data and settings
// stay, since they were not asked for; nothing is left for a restart.
TEST_F(UninstallRunTest, InstalledProductIsRemovedWholeWhileSettingsStay)
{
    ASSERT_EQ(0, InstallFrom(release_));
    ASSERT_NO_FATAL_FAILURE(MakeUserData());
    ASSERT_TRUE(CreateTestService(L"WinDivert", (std::wstring(kProductFolder) + L"\\WinDivert64.sys").c_str()));
    HANDLE tray = StartProgram(L"\"" + std::wstring(kProductFolder) + L"\\surumler\\2.0.0\\talvor_gui.exe\"");
    ASSERT_NE(nullptr, tray);
    DWORD tray_pid = GetProcessId(tray);
    ASSERT_EQ(kWholeProduct, Traces());
    std::vector<std::wstring> pending_before = PendingDeletions();

    EXPECT_EQ(0, Remove(L""));
    bool tray_ended = WaitForSingleObject(tray, 0) == WAIT_OBJECT_0;
    if (!tray_ended)
        TerminateProcess(tray, 0);
    CloseHandle(tray);

    EXPECT_TRUE(tray_ended);
    EXPECT_EQ(kNoTrace, Traces());
    EXPECT_FALSE(LegacyDriverRegistered());
    EXPECT_EQ(pending_before, PendingDeletions());
    std::vector<std::string> lines = LogLines(RemovalLogPath());
    EXPECT_TRUE(HasLine(lines, "arayuz kapatildi (pid " + std::to_string(tray_pid) + ")"));
    EXPECT_TRUE(HasLine(lines, "eski WinDivert kaydi kaldiriliyor"));
    EXPECT_EQ(kDoneWithoutRestart, LastLine(lines));

    for (const std::wstring &folder : {SharedDataFolder(), UserDataFolder()})
        EXPECT_EQ("dil=tr", ReadFileBytes(folder + L"\\ayarlar.ini")) << Utf8(folder);
    EXPECT_TRUE(SettingsValueExists(kSettingsKey));
}

// With /ayarlari-sil the user's own data folder and settings key go with the product; the maker's
// parent key and another program's key under it stay. The shared data folder goes only when its
// owner is trusted: under Wine every file reads as owned by an ordinary user
// (S-1-5-21-0-0-0-1000), so there it is refused whole and the log says so.
TEST_F(UninstallRunTest, SettingsDeletionTakesTheUsersDataAndKeyAndChecksTheSharedFoldersOwner)
{
    ASSERT_EQ(0, InstallFrom(release_));
    ASSERT_NO_FATAL_FAILURE(MakeUserData());
    ASSERT_TRUE(WriteSettingsValue(kNeighbourKey));
    std::wstring shared = SharedDataFolder();
    bool shared_trusted = FolderOwnerIsTrusted(shared);

    EXPECT_EQ(0, Remove(L"/ayarlari-sil"));
    EXPECT_EQ(kNoTrace, Traces());
    EXPECT_FALSE(FileExists(UserDataFolder()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kSettingsParentKey));
    EXPECT_TRUE(SettingsValueExists(kNeighbourKey));

    std::vector<std::string> lines = LogLines(RemovalLogPath());
    if (shared_trusted) {
        EXPECT_FALSE(FileExists(shared));
        EXPECT_FALSE(HasLine(lines, SharedFolderRefusal()));
    } else {
        EXPECT_EQ("dil=tr", ReadFileBytes(shared + L"\\ayarlar.ini"));
        EXPECT_TRUE(HasLine(lines, SharedFolderRefusal()));
    }
    EXPECT_EQ(kDoneWithoutRestart, LastLine(lines));
}

// The owner check alone decides about the shared folder, so no install is needed here.
TEST_F(UninstallRunTest, SharedDataFolderOfTrustedOwnerIsDeleted)
{
    std::wstring shared = SharedDataFolder();
    ASSERT_TRUE(CreateDirectoryW(shared.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(shared + L"\\ayarlar.ini", "dil=tr"));
    ASSERT_TRUE(SetFolderOwner(shared, WinBuiltinAdministratorsSid));
    if (!FolderOwnerIsTrusted(shared))
        GTEST_SKIP() << "the owner cannot be set here: Wine reports success for SetNamedSecurityInfoW with an owner, "
                        "but every file still reads as owned by S-1-5-21-0-0-0-1000";

    EXPECT_EQ(0, Remove(L"/ayarlari-sil"));
    EXPECT_FALSE(FileExists(shared));
    EXPECT_FALSE(HasLine(LogLines(RemovalLogPath()), SharedFolderRefusal()));
}

// A file of the user's own data folder that another program holds open stays where it is: user
// data is never handed to the next restart, and the rest of the removal goes on.
TEST_F(UninstallRunTest, LockedUserDataFileStaysWithoutRestart)
{
    ASSERT_EQ(0, InstallFrom(release_));
    ASSERT_NO_FATAL_FAILURE(MakeUserData());
    std::wstring local = UserDataFolder();
    std::wstring locked = local + L"\\gunluk.txt";
    ASSERT_TRUE(WriteFileBytes(locked, "acik"));
    FileHeldElsewhere holder(locked);
    ASSERT_TRUE(holder.held());
    std::vector<std::wstring> pending_before = PendingDeletions();

    EXPECT_EQ(0, Remove(L"/ayarlari-sil"));
    EXPECT_EQ("acik", ReadFileBytes(locked));
    EXPECT_FALSE(FileExists(local + L"\\ayarlar.ini"));
    EXPECT_EQ(pending_before, PendingDeletions());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
    EXPECT_EQ(kNoTrace, Traces());
    EXPECT_EQ(kDoneWithoutRestart, LastLine(LogLines(RemovalLogPath())));
}

// A program of the user swaps a folder of the user's data for a link to another folder of the
// user's, over and over, while removals with /ayarlari-sil run; the data folder's files carry the
// other folder's names, as an attacker would give them. Nothing outside the data folder is ever
// deleted, in any round.
TEST_F(UninstallRunTest, DataFolderSwappedForALinkDuringTheRemovalLosesNothingOutside)
{
    if (!RunningUnderWine())
        GTEST_SKIP() << "Windows keeps a folder the removal holds from being renamed; the swap it allows, a mount "
                        "point made of the emptied folder, is RemoveTreeTest.MountPointMadeOfAHeldFolderLeadsNowhere";
    const int kFiles = 600;
    std::wstring other = MakeTempFolder(L"baska");
    for (int i = 0; i < kFiles; i++)
        ASSERT_TRUE(WriteFileBytes(other + L"\\belge-" + std::to_wstring(i) + L".txt", "x"));
    for (int round = 0; round < 3; round++) {
        ASSERT_NO_FATAL_FAILURE(MakeUserData());
        std::wstring records = UserDataFolder() + L"\\kayitlar";
        ASSERT_TRUE(CreateDirectoryW(records.c_str(), nullptr));
        for (int i = 0; i < kFiles; i++)
            ASSERT_TRUE(WriteFileBytes(records + L"\\belge-" + std::to_wstring(i) + L".txt", "x"));
        FolderSwapper swapper(records, other);
        EXPECT_EQ(0, Remove(L"/ayarlari-sil"));
        EXPECT_GT(swapper.Stop(), 0) << "round " << round;
        EXPECT_EQ((size_t)kFiles, FolderEntries(other).size()) << "round " << round;
        RemoveUserData();
    }
    RemoveFolder(other);
}

// The user's own data folder is deleted with the user's own rights where Windows gives the setup
// the user's unelevated token: a file there that only administrators may delete stays. Where it
// gives none, the removal says it used its own rights.
TEST_F(UninstallRunTest, UserDataFolderIsDeletedWithTheUsersOwnRights)
{
    ASSERT_NO_FATAL_FAILURE(MakeUserData());
    std::wstring guarded = UserDataFolder() + L"\\yonetici";
    PSECURITY_DESCRIPTOR only_admins_delete = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)",
                                                                     SDDL_REVISION_1, &only_admins_delete, nullptr));
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, only_admins_delete, FALSE};
    bool made = CreateDirectoryW(guarded.c_str(), &attributes) && WriteFileBytes(guarded + L"\\kayit.dat", "x");
    LocalFree(only_admins_delete);
    ASSERT_TRUE(made);

    EXPECT_EQ(0, Remove(L"/ayarlari-sil"));
    std::vector<std::string> lines = LogLines(RemovalLogPath());
    if (!HasLine(lines, kWithTheUsersRights)) {
        EXPECT_TRUE(HasLine(lines, "kullanici klasoru kurulumun haklariyla siliniyor"));
        GTEST_SKIP() << "Windows gives this setup no unelevated token of the user (under Wine the linked token is an "
                        "identification and no shell window runs)";
    }
    EXPECT_EQ("x", ReadFileBytes(guarded + L"\\kayit.dat"));
    EXPECT_FALSE(FileExists(UserDataFolder() + L"\\ayarlar.ini"));
}

// Without the user's unelevated token (a deployment tool runs the removal; under Wine there is
// none) the setup deletes the user's data folder with its own rights only where the user could
// have: owned by the user, in the user's profile as the machine's profile list names it. Where the
// user's shell folders put it outside the profile, it stays with its files, and the log says so;
// so does one in the profile that another account owns.
TEST_F(UninstallRunTest, UserDataFolderIsDeletedWithTheSetupsRightsOnlyInTheUsersProfile)
{
    ASSERT_NO_FATAL_FAILURE(MakeUserData());
    EXPECT_EQ(0, Remove(L"/ayarlari-sil"));
    if (HasLine(LogLines(RemovalLogPath()), kWithTheUsersRights))
        GTEST_SKIP() << "Windows gives this setup the user's unelevated token, with which the folder is deleted "
                        "wherever it is (UserDataFolderIsDeletedWithTheUsersOwnRights)";
    EXPECT_FALSE(FileExists(UserDataFolder()));
    const std::string refused = "kullanici klasoru kullanicinin profilinde degil ya da sahibi baska, silinmedi: ";

    std::wstring elsewhere = std::wstring(_wgetenv(L"PUBLIC")) + L"\\baska";
    ASSERT_TRUE(CreateDirectoryW(elsewhere.c_str(), nullptr));
    {
        ScopedRegistryString redirect(HKEY_CURRENT_USER,
                                      L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                                      L"Local AppData", elsewhere);
        ASSERT_TRUE(redirect.replaced());
        ASSERT_EQ(elsewhere + L"\\Talvor", UserDataFolder());
        ASSERT_NO_FATAL_FAILURE(MakeUserData());
        EXPECT_EQ(0, Remove(L"/ayarlari-sil"));
        EXPECT_EQ("dil=tr", ReadFileBytes(UserDataFolder() + L"\\ayarlar.ini"));
        EXPECT_TRUE(HasLine(LogLines(RemovalLogPath()), refused + Utf8(UserDataFolder())));
    }
    RemoveFolder(elsewhere);

    ASSERT_NO_FATAL_FAILURE(MakeUserData());
    ASSERT_TRUE(SetFolderOwner(UserDataFolder(), WinBuiltinAdministratorsSid));
    if (!FolderOwnerIsTrusted(UserDataFolder()))
        GTEST_SKIP() << "a folder of another owner is Windows' to show: under Wine every file reads as owned by the "
                        "user (S-1-5-21-0-0-0-1000) whatever SetNamedSecurityInfoW was given";
    EXPECT_EQ(0, Remove(L"/ayarlari-sil"));
    EXPECT_EQ("dil=tr", ReadFileBytes(UserDataFolder() + L"\\ayarlar.ini"));
    EXPECT_TRUE(HasLine(LogLines(RemovalLogPath()), refused + Utf8(UserDataFolder())));
}

// A service that someone else marked for deletion, and keeps a handle to, counts as removed: it
// is still stopped, the rest goes, and the service disappears once the last handle closes.
TEST_F(UninstallRunTest, ServiceMarkedForDeletionCountsAsRemoved)
{
    ASSERT_EQ(0, InstallFrom(release_));
    SC_HANDLE held = OpenProductService(DELETE | SERVICE_QUERY_STATUS);
    ASSERT_NE(nullptr, held);
    ASSERT_TRUE(DeleteService(held));

    long code = Remove(L"");
    ServiceState seen = {0, 0};
    QueryServiceState(held, seen);
    CloseServiceHandle(held);
    EXPECT_EQ(0, code);
    EXPECT_EQ((DWORD)SERVICE_STOPPED, seen.state);
    for (int i = 0; i < 50 && QueryProductService().exists; i++)
        Sleep(100);
    EXPECT_EQ(kNoTrace, Traces());
    EXPECT_EQ(kDoneWithoutRestart, LastLine(LogLines(RemovalLogPath())));
}

// Run from the uninstaller copy in the install folder, the removal cannot delete its own running
// program: that file, and the folder after it, are left to the next restart, and the result says
// so. Everything else is gone at once.
TEST_F(UninstallRunTest, RemovalFromTheUninstallerCopyLeavesItselfForTheRestart)
{
    ASSERT_EQ(0, InstallFrom(release_));
    std::wstring copy = std::wstring(kProductFolder) + L"\\Talvor-Kaldir.exe";
    ASSERT_TRUE(FileExists(copy));

    EXPECT_EQ(0, RunProgram(L"\"" + copy + L"\" /kaldir /sessiz", 120000));
    std::vector<std::wstring> pending = PendingDeletions();
    size_t copy_at = PathIndex(pending, copy);
    size_t folder_at = PathIndex(pending, kProductFolder);
    ASSERT_NE((size_t)-1, copy_at);
    ASSERT_NE((size_t)-1, folder_at);
    EXPECT_LT(copy_at, folder_at);
    EXPECT_EQ(std::vector<std::string>{"Talvor-Kaldir.exe"}, FolderEntries(kProductFolder));
    EXPECT_EQ((ProductTraces{false, true, false, false, false, false}), Traces());
    EXPECT_EQ("kaldirma tamam (yeniden baslatma 1)", LastLine(LogLines(RemovalLogPath())));
}

// The removal keeps no memory of /masaustu-yok: a desktop shortcut the user made after such an
// install (here a copy of the Start menu one) goes as well.
TEST_F(UninstallRunTest, DesktopShortcutMadeAfterAnInstallWithoutOneIsRemoved)
{
    ASSERT_EQ(0, InstallFrom(release_, L"/masaustu-yok"));
    ASSERT_FALSE(FileExists(DesktopShortcut()));
    ASSERT_TRUE(CopyFileW(StartMenuShortcut().c_str(), DesktopShortcut().c_str(), TRUE));

    EXPECT_EQ(0, Remove(L""));
    EXPECT_EQ(kNoTrace, Traces());
}

// Run by uninstall_restart_test before and after a restart of the prefix (across_restart.sh);
// the product stays installed in between.
class UninstallAcrossRestartTest : public UninstallRunTest {
protected:
    void SetUp() override
    {
        wchar_t phase[8] = L"";
        GetEnvironmentVariableW(L"TALVOR_RESTART_PHASE", phase, 8);
        before_ = wcscmp(phase, L"before") == 0;
        if (!before_ && wcscmp(phase, L"after") != 0)
            GTEST_SKIP() << "needs a restart of the prefix in its middle: run by uninstall_restart_test";
        if (before_)
            UninstallRunTest::SetUp();
    }
    void TearDown() override
    {
        if (!before_ || HasFailure())
            UninstallRunTest::TearDown();
    }
    bool before_ = false;
};

// A service that takes the stop but never finishes it: after its 30 s the removal ends the
// service's own process and goes through, with nothing left for the restart; after the restart
// nothing of the product starts again.
TEST_F(UninstallAcrossRestartTest, ServiceThatNeverStopsIsEndedAndNothingComesBack)
{
    if (before_) {
        std::wstring stuck = MakeTempFolder(L"kaldirma-durmaz");
        bool published = PublishProductRelease(stuck, "2.0.0", "yavas-dur");
        long installed = published ? InstallFrom(stuck) : -1;
        RemoveFolder(stuck);
        ASSERT_EQ(0, installed);
        ASSERT_NO_FATAL_FAILURE(MakeUserData());
        std::wstring program = std::wstring(kProductFolder) + L"\\surumler\\2.0.0\\talvor_svc.exe";
        std::string ended = "Talvor hizmetinin sureci sonlandiriliyor (pid " +
                            std::to_string(QueryProductService().pid) + "): " + Utf8(program);
        std::vector<std::wstring> pending_before = PendingDeletions();

        EXPECT_EQ(0, Remove(L"/ayarlari-sil"));
        std::vector<std::string> lines = LogLines(RemovalLogPath());
        EXPECT_TRUE(HasLine(lines, ended)) << ended;
        EXPECT_EQ(kDoneWithoutRestart, LastLine(lines));
        EXPECT_EQ(kNoTrace, Traces());
        EXPECT_FALSE(ProgramRunning(program));
        EXPECT_EQ(pending_before, PendingDeletions());
        EXPECT_FALSE(FileExists(UserDataFolder()));
        return;
    }
    EXPECT_EQ(kNoTrace, Traces());
}

// Two services that the old removal and reinstall stumbled over. One whose process outlives its
// stop, holding its packet library: the removal waits for the process, so nothing is left for a
// restart. One that the removal could only mark for deletion, since another program (here the
// test, as the services console would) holds it: the reinstall right after waits for the name and
// is a first install again.
TEST_F(UninstallRunTest, LingeringProcessAndDeletedServiceDoNotBlockTheNextRun)
{
    std::wstring lingering = MakeTempFolder(L"gec-cikan");
    bool published = PublishProductRelease(lingering, "1.0.0", "gec-cik 3000");
    long installed = published ? InstallFrom(lingering) : -1;
    RemoveFolder(lingering);
    ASSERT_EQ(0, installed);
    SC_HANDLE held = OpenProductService(SERVICE_QUERY_STATUS);
    ASSERT_NE(nullptr, held);
    std::vector<std::wstring> pending_before = PendingDeletions();

    EXPECT_EQ(0, Remove(L""));
    EXPECT_EQ(kDoneWithoutRestart, LastLine(LogLines(RemovalLogPath())));
    EXPECT_EQ(pending_before, PendingDeletions());
    EXPECT_FALSE(FileExists(kProductFolder));

    HANDLE closer = CreateThread(
        nullptr, 0,
        [](void *service) -> DWORD {
            Sleep(3000);
            return CloseServiceHandle((SC_HANDLE)service);
        },
        held, 0, nullptr);
    EXPECT_EQ(0, InstallFrom(release_));
    WaitForSingleObject(closer, 10000);
    CloseHandle(closer);
    std::vector<std::string> lines = LogLines(kInstallLogPath);
    EXPECT_TRUE(HasLine(lines, "Talvor hizmeti silinmek uzere isaretli; adinin bosalmasi bekleniyor"));
    EXPECT_EQ("kurulum tamam: 2.0.0", LastLine(lines));
    EXPECT_EQ(kWholeProduct, Traces());
    EXPECT_EQ((DWORD)SERVICE_RUNNING, QueryProductService().state);
}

// The elevated removal logs into the user's temporary folder. A link planted at the log's name
// gets no line: the run logs into a new file beside it. A link in place of the folder (under Wine,
// which cannot make a junction, a Unix symbolic link) leaves the run unlogged.
TEST_F(UninstallRunTest, RemovalLogIsNeverWrittenThroughALink)
{
    std::wstring target_folder = MakeTempFolder(L"hedef");
    std::wstring target = target_folder + L"\\sistem.ini";
    ASSERT_TRUE(WriteFileBytes(target, "sistem"));
    for (bool symbolic : {false, true}) {
        ASSERT_TRUE(MakeFileLink(target, RemovalLogPath(), symbolic));
        EXPECT_EQ(0, Remove(L""));
        EXPECT_EQ("sistem", ReadFileBytes(target)) << symbolic;
        std::vector<std::wstring> fresh = FreshRemovalLogs();
        EXPECT_TRUE(fresh.size() == 1 && LastLine(LogLines(fresh[0])) == kDoneWithoutRestart) << symbolic;
        RemoveLink(RemovalLogPath());
        Clean();
    }
    std::wstring linked_temp = TempFolder() + L"\\kaldirma-bagli";
    ASSERT_TRUE(MakeFolderLink(target_folder, linked_temp));
    {
        ScopedEnvironment tmp(L"TMP", linked_temp.c_str()), temp(L"TEMP", linked_temp.c_str());
        EXPECT_EQ(0, Remove(L""));
    }
    RemoveLink(linked_temp);
    EXPECT_EQ(std::vector<std::string>{"sistem.ini"}, FolderEntries(target_folder));
    RemoveFolder(target_folder);
}
