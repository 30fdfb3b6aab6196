// The setup run as a process against signed releases of the stand-in product: installs,
// updates, reinstalls, failures and rollbacks, read back from the prefix's file system, service
// manager, registry and shell folders.
#include <gtest/gtest.h>

#include "support/installed_product.h"
#include "support/test_support.h"

#include <shlobj.h>
#include <time.h>

#include <algorithm>
#include <memory>
#include <regex>

#include <string>
#include <vector>

namespace {

const char kNoStoreLeftovers[] = "only version folders";

std::wstring VersionFolder(const std::string &version)
{
    return std::wstring(kProductFolder) + L"\\surumler\\" + Utf8ToWide(version);
}

std::wstring ServiceCommand(const std::string &version)
{
    return L"\"" + VersionFolder(version) + L"\\talvor_svc.exe\"";
}

// The service is registered for the version's program and runs.
void ExpectServiceRuns(const std::string &version)
{
    ProductService service = QueryProductService();
    ASSERT_TRUE(service.exists);
    EXPECT_EQ((DWORD)SERVICE_RUNNING, service.state);
    EXPECT_EQ(ServiceCommand(version), service.command);
    EXPECT_EQ((DWORD)SERVICE_AUTO_START, service.start_type);
}

class InstallRunTest : public ProductReleaseTest {
protected:
    // Runs the setup (InstallFrom) and returns its exit code; the log lines it wrote are in
    // last_lines_.
    long Install(const std::wstring &release, const std::wstring &more = L"", const char *release_at = nullptr)
    {
        size_t before = LogLines(kInstallLogPath).size();
        long code = InstallFrom(release, more, release_at);
        std::vector<std::string> lines = LogLines(kInstallLogPath);
        last_lines_.assign(lines.begin() + std::min(before, lines.size()), lines.end());
        return code;
    }
    bool Logged(const std::string &line) const { return HasLine(last_lines_, line); }
    std::string LastLine() const { return ::LastLine(last_lines_); }
    // The whole log of the last run, for failure messages.
    std::string Lines() const
    {
        std::string all;
        for (const std::string &l : last_lines_)
            all += l + "\n";
        return all;
    }

    // A new service that does not come up: a first install with it is undone, and an update to it
    // goes back to the old program, which runs again with guncel naming it. No process of the broken
    // version is left, and the next update and the removal go through.
    void ExpectBrokenServiceStrandsNothing(const std::string &behaviour)
    {
        std::wstring broken = Release("2.0.0", behaviour);
        std::wstring broken_program = VersionFolder("2.0.0") + L"\\talvor_svc.exe";
        EXPECT_EQ(1, Install(broken));
        EXPECT_EQ("HATA: Talvor hizmeti başlatılamadı. Ayrıntı: C:\\Program Files\\Talvor\\kurulum.log", LastLine())
            << Lines();
        EXPECT_EQ(std::vector<std::string>{"kurulum.log"}, FolderEntries(kProductFolder));
        EXPECT_FALSE(QueryProductService().exists);
        EXPECT_FALSE(ProgramRunning(broken_program));
        ASSERT_EQ(0, Install(Release("1.0.0")));
        // Published anew: the same release served again would be refused as older than 1.0.0's.
        EXPECT_EQ(1, Install(Release("2.0.0", behaviour)));
        EXPECT_EQ("HATA: Yeni sürüm 2.0.0 bu bilgisayarda açılamadı; önceki Talvor'ya geri dönüldü ve çalışıyor.",
                  LastLine())
            << Lines();
        ExpectServiceRuns("1.0.0");
        EXPECT_EQ("1.0.0", PointerFile(L"guncel"));
        EXPECT_FALSE(ProgramRunning(broken_program));
        EXPECT_EQ(0, Install(Release("3.0.0"))) << Lines();
        ExpectServiceRuns("3.0.0");
        EXPECT_EQ(0, RunProgram(SetupCommand(L"/kaldir /sessiz"), 120000));
        EXPECT_FALSE(QueryProductService().exists);
        EXPECT_FALSE(FileExists(kProductFolder));
    }

    std::vector<std::string> last_lines_;
};

} // namespace

TEST_F(InstallRunTest, FreshInstallPlacesEverything)
{
    ASSERT_EQ(0, Install(Release("1.0.0"))) << Lines();

    ExpectServiceRuns("1.0.0");
    // Registered by the service program's own "kur" run from the version folder.
    std::string record = ReadFileBytes(VersionFolder("1.0.0") + L"\\talvor_svc.kayit");
    EXPECT_EQ(0u, record.find("kur ")) << record;
    EXPECT_EQ("1.0.0", PointerFile(L"guncel"));
    EXPECT_EQ("1.0.0", PointerFile(L"onceki"));
    EXPECT_EQ(std::vector<std::string>{"1.0.0"}, StoreEntries());
    std::wstring folder = kProductFolder;
    EXPECT_EQ(ReadFileBytes(VersionFolder("1.0.0") + L"\\Talvor.exe"), ReadFileBytes(folder + L"\\Talvor.exe"));
    EXPECT_EQ(ReadFileBytes(BuildPath(L"bin\\Talvor-Kurulum.exe")), ReadFileBytes(folder + L"\\Talvor-Kaldir.exe"));

    std::wstring value;
    ASSERT_TRUE(ReadMachineString(kUninstallEntryKey, L"DisplayVersion", value));
    EXPECT_EQ(L"1.0.0", value);
    ASSERT_TRUE(ReadMachineString(kUninstallEntryKey, L"UninstallString", value));
    EXPECT_EQ(L"\"" + folder + L"\\Talvor-Kaldir.exe\" /kaldir", value);
    ASSERT_TRUE(ReadMachineString(kRunEntryKey, L"Talvor", value));
    EXPECT_NE(std::wstring::npos, value.find(folder + L"\\Talvor.exe"));
    EXPECT_TRUE(FileExists(StartMenuShortcut()));
    EXPECT_TRUE(FileExists(DesktopShortcut()));

    EXPECT_TRUE(Logged("paket acildi: 6 dosya")) << Lines();
    EXPECT_TRUE(Logged("onceki kurulum: hizmet=0 yol= guncel=")) << Lines();
    EXPECT_TRUE(Logged("hizmet calisiyor: C:\\Program Files\\Talvor\\surumler\\1.0.0\\talvor_svc.exe")) << Lines();
    EXPECT_EQ("kurulum tamam: 1.0.0", LastLine());
}

// Update, reinstall and pruning: an update keeps the new and the previous version only; a
// reinstall sets the existing folder aside and deletes it after the swap.
TEST_F(InstallRunTest, UpdatesPruneAndReinstallsReplaceTheFolder)
{
    ASSERT_EQ(0, Install(Release("0.9.0")));
    ASSERT_EQ(0, Install(Release("1.0.0")));
    ASSERT_EQ(0, Install(Release("2.0.0"))) << Lines();
    ExpectServiceRuns("2.0.0");
    EXPECT_EQ("2.0.0", PointerFile(L"guncel"));
    EXPECT_EQ("1.0.0", PointerFile(L"onceki"));
    EXPECT_EQ((std::vector<std::string>{"1.0.0", "2.0.0"}), StoreEntries());
    EXPECT_TRUE(Logged("onceki kurulum: hizmet=1 yol=C:\\Program Files\\Talvor\\surumler\\1.0.0\\talvor_svc.exe "
                       "guncel=1.0.0"))
        << Lines();

    // A marker in the installed folder shows whether the folder was replaced.
    std::wstring marker = VersionFolder("2.0.0") + L"\\eski-dosya";
    ASSERT_TRUE(WriteFileBytes(marker, "x"));
    ASSERT_EQ(0, Install(Release("2.0.0"))) << Lines();
    ExpectServiceRuns("2.0.0");
    EXPECT_FALSE(FileExists(marker));
    EXPECT_EQ("2.0.0", PointerFile(L"guncel"));
    EXPECT_EQ("2.0.0", PointerFile(L"onceki"));
    EXPECT_EQ(std::vector<std::string>{"2.0.0"}, StoreEntries()) << kNoStoreLeftovers;
}

TEST_F(InstallRunTest, WithoutDesktopShortcutOnlyTheStartMenuGetsOne)
{
    ASSERT_EQ(0, Install(Release("1.0.0"), L"/masaustu-yok")) << Lines();
    EXPECT_TRUE(FileExists(StartMenuShortcut()));
    EXPECT_FALSE(FileExists(DesktopShortcut()));
}

// A pointer that holds no version counts as no current version: the update is taken as a first
// install of the new version. So does one naming a version whose files a power cut left as zeros:
// it is neither kept nor gone back to, and the next install puts whole files in its place.
TEST_F(InstallRunTest, CurrentPointerNamingNoWholeVersionCountsAsNone)
{
    ASSERT_EQ(0, Install(Release("1.0.0")));
    ASSERT_TRUE(WriteFileBytes(std::wstring(kProductFolder) + L"\\guncel", "1.0"));
    ASSERT_EQ(0, Install(Release("2.0.0"))) << Lines();
    ExpectServiceRuns("2.0.0");
    EXPECT_TRUE(Logged("onceki kurulum: hizmet=1 yol=C:\\Program Files\\Talvor\\surumler\\1.0.0\\talvor_svc.exe "
                       "guncel="))
        << Lines();
    EXPECT_EQ("2.0.0", PointerFile(L"guncel"));
    EXPECT_EQ("2.0.0", PointerFile(L"onceki"));
    EXPECT_EQ(std::vector<std::string>{"2.0.0"}, StoreEntries());

    // A file of the current version as a power cut leaves one that was never written: zeros.
    std::wstring cut = VersionFolder("2.0.0") + L"\\talvor_gui.exe";
    ASSERT_TRUE(WriteFileBytes(cut, std::string(ReadFileBytes(cut).size(), '\0')));
    ASSERT_EQ(0, Install(Release("3.0.0"))) << Lines();
    EXPECT_TRUE(Logged("guncel surum 2.0.0 butun degil; kurulum yerine butun dosyalar koyacak")) << Lines();
    ExpectServiceRuns("3.0.0");
    EXPECT_EQ("3.0.0", PointerFile(L"onceki"));
    EXPECT_EQ(std::vector<std::string>{"3.0.0"}, StoreEntries());
}

// The uninstaller copy in the install folder is the setup itself; run from there it must not
// try to copy itself onto itself.
TEST_F(InstallRunTest, SetupRunningAsTheUninstallerCopyIsNotCopiedOntoItself)
{
    ASSERT_EQ(0, Install(Release("1.0.0")));
    std::wstring copy = std::wstring(kProductFolder) + L"\\Talvor-Kaldir.exe";
    FILETIME before = {}, after = {};
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(copy.c_str(), GetFileExInfoStandard, &data));
    before = data.ftLastWriteTime;
    Sleep(1100); // file times here have a resolution of a second or finer

    size_t lines_before = LogLines(kInstallLogPath).size();
    ASSERT_EQ(0, RunProgram(L"\"" + copy + L"\" /sessiz \"--yerel=" + Release("1.1.0") + L"\"", 240000));
    std::vector<std::string> lines = LogLines(kInstallLogPath);
    last_lines_.assign(lines.begin() + lines_before, lines.end());
    ASSERT_TRUE(GetFileAttributesExW(copy.c_str(), GetFileExInfoStandard, &data));
    after = data.ftLastWriteTime;
    EXPECT_EQ(0, CompareFileTime(&before, &after));
    EXPECT_EQ("kurulum tamam: 1.1.0", LastLine()) << Lines();
    for (const std::string &line : last_lines_)
        EXPECT_EQ(std::string::npos, line.find("kaldirici kopyalanamadi")) << line;
}

// The setup with one byte changed in each part of its file, as an attacker would plant it: some
// of these still load and run (a time stamp, the case of an imported DLL's name, a byte of
// padding, data the program writes anyway), and each carries what an attacker needs.
static std::vector<std::pair<const char *, std::string>> OneByteVariants(const PeImage &pe)
{
    const IMAGE_OPTIONAL_HEADER64 &optional = pe.nt->OptionalHeader;
    std::vector<std::pair<const char *, size_t>> spots = {
        {"headers", (const char *)&pe.nt->FileHeader.TimeDateStamp - pe.bytes.data()},
        {"code", RvaToOffset(pe, optional.AddressOfEntryPoint)},
        {"resources", RvaToOffset(pe, optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].VirtualAddress) + 40},
        {"relocations", RvaToOffset(pe, optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].VirtualAddress) + 9},
    };
    auto imports = (const IMAGE_IMPORT_DESCRIPTOR *)(pe.bytes.data() +
                                                     RvaToOffset(pe, optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress));
    spots.push_back({"imports", RvaToOffset(pe, imports->Name)});
    const IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(pe.nt);
    for (WORD i = 0; i < pe.nt->FileHeader.NumberOfSections; i++, section++) {
        std::string name((const char *)section->Name, strnlen((const char *)section->Name, 8));
        if (name == ".text" && section->Misc.VirtualSize < section->SizeOfRawData)
            spots.push_back({"padding after the code", section->PointerToRawData + section->Misc.VirtualSize});
        if (name == ".rdata")
            spots.push_back({"read-only data", section->PointerToRawData + 16});
        if (name == ".data")
            spots.push_back({"writable data", section->PointerToRawData + 16});
    }
    std::vector<std::pair<const char *, std::string>> variants;
    for (const auto &[part, offset] : spots) {
        std::string bytes = pe.bytes;
        bytes[offset] ^= 0x20;
        variants.push_back({part, bytes});
    }
    return variants;
}

// The uninstaller copy, which Windows runs as administrator, is the setup's own file and a plain
// one. A program of the user renames the setup that the user started from the Downloads folder
// and puts another program at its name, or the setup with one byte changed anywhere: done before
// the setup could open its own file (it is started suspended here), the setup refuses and changes
// nothing; once it runs, its file cannot be moved. Started from a read-only file with a download
// mark (as from a DVD, or as a browser leaves it), the copy has neither, and the next setup
// replaces it.
TEST_F(InstallRunTest, UninstallerCopyIsTheSetupsOwnFileAndAPlainOne)
{
    std::wstring downloads = MakeTempFolder(L"indirilenler");
    std::wstring setup = downloads + L"\\Talvor-Kurulum.exe";
    std::wstring moved = downloads + L"\\tasindi.exe";
    std::wstring other = BuildPath(L"bin\\talvor-denetle.exe");
    std::wstring uninstaller = std::wstring(kProductFolder) + L"\\Talvor-Kaldir.exe";
    ASSERT_TRUE(CopyFileW(BuildPath(L"bin\\Talvor-Kurulum.exe").c_str(), setup.c_str(), FALSE));
    PeImage pe;
    ASSERT_TRUE(LoadPe(pe, setup));
    const std::string &own = pe.bytes;
    std::vector<std::pair<const char *, std::string>> planted = OneByteVariants(pe);
    ASSERT_EQ(8u, planted.size());
    planted.push_back({"another program", ReadFileBytes(other)});
    // Wine has no alternate data streams: the name would make a file of its own beside the setup.
    bool marked = !RunningUnderWine() && WriteFileBytes(setup + L":Zone.Identifier", "[ZoneTransfer]\r\nZoneId=3\r\n");
    ASSERT_TRUE(SetFileAttributesW(setup.c_str(), FILE_ATTRIBUTE_READONLY));
    std::wstring command = L"\"" + setup + L"\" /sessiz \"--yerel=" + Release("1.0.0") + L"\"";

    DWORD code = 99;
    for (const auto &[part, bytes] : planted) {
        STARTUPINFOW startup = {sizeof startup};
        PROCESS_INFORMATION suspended;
        std::vector<wchar_t> line(command.begin(), command.end());
        line.push_back(0);
        ASSERT_TRUE(CreateProcessW(setup.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                                   downloads.c_str(), &startup, &suspended));
        bool swapped = MoveFileW(setup.c_str(), moved.c_str()) && WriteFileBytes(setup, bytes);
        ResumeThread(suspended.hThread);
        if (WaitForSingleObject(suspended.hProcess, 60000) != WAIT_OBJECT_0)
            TerminateProcess(suspended.hProcess, 99);
        GetExitCodeProcess(suspended.hProcess, &code);
        CloseHandle(suspended.hThread);
        CloseHandle(suspended.hProcess);
        EXPECT_TRUE(swapped) << part;
        EXPECT_EQ(1u, code) << part;
        EXPECT_FALSE(FileExists(kProductFolder)) << part;
        ASSERT_TRUE(DeleteFileW(setup.c_str()) && MoveFileW(moved.c_str(), setup.c_str()));
    }

    // Tried from the moment the setup has logged its start until it has made the copy and started
    // the service; not later, when its end could release the file between a look and a try.
    HANDLE running = StartProgram(command, downloads);
    ASSERT_NE(nullptr, running);
    bool renamed = false;
    auto copying = [] {
        std::vector<std::string> lines = LogLines(kInstallLogPath);
        return !lines.empty() && std::none_of(lines.begin(), lines.end(), [](const std::string &line) {
            return line.rfind("hizmet calisiyor: ", 0) == 0;
        });
    };
    while (WaitForSingleObject(running, 10) == WAIT_TIMEOUT)
        if (!renamed && copying() && MoveFileW(setup.c_str(), moved.c_str())) {
            renamed = true;
            CopyFileW(other.c_str(), setup.c_str(), FALSE);
        }
    GetExitCodeProcess(running, &code);
    CloseHandle(running);
    EXPECT_FALSE(renamed);
    EXPECT_EQ(0u, code);
    EXPECT_TRUE(ReadFileBytes(uninstaller) == own) << "the uninstaller copy is not the setup's own file";
    EXPECT_FALSE(GetFileAttributesW(uninstaller.c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(marked && FileExists(uninstaller + L":Zone.Identifier")) << "the download mark came along";
    EXPECT_EQ(0, Install(Release("1.1.0")));
    EXPECT_FALSE(Logged("kaldirici kopyalanamadi (kod 5)")) << Lines();
    SetFileAttributesW(setup.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveFolder(downloads);
}

// A package that fails its digest, and a correctly signed one that lacks a product file, change
// nothing: the same service process runs on, the pointers and the store are as they were.
TEST_F(InstallRunTest, RefusedPackagesChangeNothing)
{
    ASSERT_EQ(0, Install(Release("1.0.0")));
    DWORD pid = QueryProductService().pid;

    std::wstring damaged = Release("2.0.0");
    std::wstring package = damaged + L"\\paket-2.0.0.tpk";
    std::string bytes = ReadFileBytes(package);
    bytes[bytes.size() / 2] ^= 1;
    ASSERT_TRUE(WriteFileBytes(package, bytes));
    EXPECT_EQ(1, Install(damaged));
    EXPECT_EQ("HATA: Program paketi imzalı sürüm bilgisiyle eşleşmedi; kullanılmadı.", LastLine()) << Lines();

    std::wstring incomplete = releases_ + L"\\eksik";
    ASSERT_TRUE(CreateDirectoryW(incomplete.c_str(), nullptr));
    ASSERT_TRUE(PublishProductRelease(incomplete, "2.0.0", "", {}, {"talvor_guncelle.exe"}));
    EXPECT_EQ(1, Install(incomplete));
    EXPECT_TRUE(Logged("pakette eksik dosya: talvor_guncelle.exe")) << Lines();
    EXPECT_EQ("HATA: Program paketi açılamadı ya da eksik. Bilgisayarında hiçbir şey değiştirilmedi.", LastLine());

    ProductService service = QueryProductService();
    EXPECT_EQ(pid, service.pid);
    EXPECT_EQ((DWORD)SERVICE_RUNNING, service.state);
    EXPECT_EQ(ServiceCommand("1.0.0"), service.command);
    EXPECT_EQ("1.0.0", PointerFile(L"guncel"));
    EXPECT_EQ("1.0.0", PointerFile(L"onceki"));
    EXPECT_EQ(std::vector<std::string>{"1.0.0"}, StoreEntries()) << kNoStoreLeftovers;
}

// A new version whose service stops again during the health check is rolled back: the old
// program runs again and the pointers return, onceki to the old version when it was empty. The
// same release, mended, then installs as an update over the folder the failed attempt left.
TEST_F(InstallRunTest, UnhealthyUpdateRollsBackAndARetrySucceeds)
{
    ASSERT_EQ(0, Install(Release("1.0.0")));
    ASSERT_EQ(0, Install(Release("1.1.0")));
    ASSERT_TRUE(DeleteFileW((std::wstring(kProductFolder) + L"\\onceki").c_str()));

    EXPECT_EQ(1, Install(Release("2.0.0", "hemen-dur")));
    EXPECT_TRUE(Logged("yeni hizmet saglikli acilmadi")) << Lines();
    EXPECT_EQ("HATA: Yeni sürüm 2.0.0 bu bilgisayarda açılamadı; önceki Talvor'ya geri dönüldü ve çalışıyor.",
              LastLine());
    ExpectServiceRuns("1.1.0");
    EXPECT_EQ("1.1.0", PointerFile(L"guncel"));
    EXPECT_EQ("1.1.0", PointerFile(L"onceki"));
    EXPECT_EQ((std::vector<std::string>{"1.0.0", "1.1.0", "2.0.0"}), StoreEntries()) << "no pruning after a rollback";

    ASSERT_EQ(0, Install(Release("2.0.0"))) << Lines();
    ExpectServiceRuns("2.0.0");
    EXPECT_EQ("2.0.0", PointerFile(L"guncel"));
    EXPECT_EQ("1.1.0", PointerFile(L"onceki"));
    EXPECT_FALSE(FileExists(VersionFolder("2.0.0") + L"\\talvor_svc.davranis")) << "the failed attempt's folder stayed";
    EXPECT_EQ((std::vector<std::string>{"1.1.0", "2.0.0"}), StoreEntries()) << kNoStoreLeftovers;
}

// A first install that fails after placing files (a folder in the uninstaller copy's place; a
// service that stops at once) leaves only the log its message names: no service, no registration.
TEST_F(InstallRunTest, FailedFirstInstallLeavesOnlyItsLog)
{
    auto expect_only = [this](std::vector<std::string> entries) {
        EXPECT_FALSE(QueryProductService().exists);
        EXPECT_EQ(entries, FolderEntries(kProductFolder));
        std::wstring value;
        EXPECT_FALSE(ReadMachineString(kUninstallEntryKey, L"UninstallString", value));
        EXPECT_TRUE(Logged("ilk kurulum geri alindi")) << Lines();
    };
    std::wstring blocker = std::wstring(kProductFolder) + L"\\Talvor-Kaldir.exe";
    ASSERT_EQ(0, SHCreateDirectoryExW(nullptr, blocker.c_str(), nullptr));
    EXPECT_EQ(1, Install(Release("1.0.0")));
    EXPECT_EQ("HATA: Program dosyaları kurulum klasörüne kopyalanamadı (kod 5). Ayrıntı: C:\\Program "
              "Files\\Talvor\\kurulum.log",
              LastLine())
        << Lines();
    EXPECT_TRUE(Logged("kaldirici kopyalanamadi (kod 5)")) << Lines();
    expect_only({"Talvor-Kaldir.exe", "kurulum.log"});

    ASSERT_TRUE(RemoveDirectoryW(blocker.c_str()));
    EXPECT_EQ(1, Install(Release("1.0.0", "hemen-dur")));
    EXPECT_EQ("HATA: Talvor hizmeti başlatılamadı. Ayrıntı: C:\\Program Files\\Talvor\\kurulum.log", LastLine())
        << Lines();
    expect_only({"kurulum.log"});
}

// Runs the setup with `arguments` while another program holds `held`, and lets it go half a
// second after the run logged `retry` into `log`: the run's exit code, or -1 when the line never
// came (the hold then lasts the whole run).
static long RunWhileHeldForAMoment(const std::wstring &arguments, const std::wstring &held, const std::wstring &log,
                            const std::string &retry)
{
    std::unique_ptr<FileHeldElsewhere> holder(new FileHeldElsewhere(held));
    size_t start = ReadFileBytes(log).size();
    HANDLE setup = holder->held() ? StartProgram(SetupCommand(arguments)) : nullptr;
    if (setup == nullptr)
        return -2;
    bool seen = false;
    while (!seen && WaitForSingleObject(setup, 20) == WAIT_TIMEOUT)
        seen = HasLine(LogLines(log, start), retry);
    if (seen) {
        Sleep(500);
        holder.reset();
    }
    DWORD code = 99;
    if (WaitForSingleObject(setup, 240000) != WAIT_OBJECT_0)
        TerminateProcess(setup, 99);
    GetExitCodeProcess(setup, &code);
    CloseHandle(setup);
    return seen ? (long)code : -1;
}

// A folder that another program holds for a moment (an antivirus program, the search indexer)
// is waited for: a reinstall whose version folder cannot be set aside for half a second, and a
// removal with a file in use for as long, go through and log their retries.
TEST_F(InstallRunTest, FolderOrFileBusyForAMomentIsWaitedFor)
{
    ASSERT_EQ(0, Install(Release("1.0.0")));
    std::wstring folder = VersionFolder("1.0.0");
    EXPECT_EQ(0, RunWhileHeldForAMoment(L"/sessiz \"--yerel=" + Release("1.0.0") + L"\"", folder, kInstallLogPath,
                                        "mesgul, yeniden deneniyor: MoveFileExW " + Utf8(folder) + " (kod 32)"));
    EXPECT_EQ("kurulum tamam: 1.0.0", ::LastLine(LogLines(kInstallLogPath)));
    ExpectServiceRuns("1.0.0");

    std::wstring file = folder + L"\\WinDivert64.sys";
    EXPECT_EQ(0, RunWhileHeldForAMoment(L"/kaldir /sessiz", file, RemovalLogPath(),
                                        "mesgul, yeniden deneniyor: NtCreateFile " + Utf8(file) + " (kod 32)"));
    EXPECT_EQ("kaldirma tamam (yeniden baslatma 0)", ::LastLine(LogLines(RemovalLogPath())));
    EXPECT_FALSE(FileExists(kProductFolder));
}

// A reinstall whose installed folder cannot be set aside (held open, as by a virus scanner) for
// longer than the few seconds of retries ends: that folder stays whole, nothing waits for the
// restart, the old service runs again.
TEST_F(InstallRunTest, ReinstallWhoseFolderCannotBeSetAsideLeavesItWhole)
{
    ASSERT_EQ(0, Install(Release("1.0.0")));
    std::wstring marker = VersionFolder("1.0.0") + L"\\eski-dosya";
    ASSERT_TRUE(WriteFileBytes(marker, "x"));
    std::vector<std::wstring> pending_before = PendingDeletions();
    {
        FileHeldElsewhere held(VersionFolder("1.0.0"));
        ASSERT_TRUE(held.held());
        EXPECT_EQ(1, Install(Release("1.0.0")));
    }
    EXPECT_EQ("HATA: Dosyalar yerine konamadı (kod 32). Önceki kurulum olduğu gibi bırakıldı.", LastLine()) << Lines();
    EXPECT_TRUE(Logged("mesgul, yeniden deneniyor: MoveFileExW " + Utf8(VersionFolder("1.0.0")) + " (kod 32)"));
    EXPECT_EQ("x", ReadFileBytes(marker));
    EXPECT_TRUE(FileExists(VersionFolder("1.0.0") + L"\\talvor_svc.exe"));
    EXPECT_EQ(pending_before, PendingDeletions());
    EXPECT_EQ(std::vector<std::string>{"1.0.0"}, StoreEntries()) << kNoStoreLeftovers;
    ExpectServiceRuns("1.0.0");
    EXPECT_EQ("1.0.0", PointerFile(L"guncel"));
}

// A new service that is still starting after the 30 s start wait (held until the rollback has
// begun) is stopped before the rollback, so the old program really runs again. A reinstall has no
// other program: no return is claimed, and the hung start is ended.
TEST_F(InstallRunTest, SLOW_RollbackStopsASlowNewServiceAndClaimsOnlyARealReturn)
{
    ASSERT_EQ(0, Install(Release("1.0.0")));
    EXPECT_EQ(1, Install(Release("1.1.0", "yavas-basla"), L"", "yeni hizmet saglikli acilmadi"));
    EXPECT_EQ("HATA: Yeni sürüm 1.1.0 bu bilgisayarda açılamadı; önceki Talvor'ya geri dönüldü ve çalışıyor.",
              LastLine())
        << Lines();
    ExpectServiceRuns("1.0.0");
    EXPECT_EQ("1.0.0", PointerFile(L"guncel"));
    std::string record = ReadFileBytes(VersionFolder("1.0.0") + L"\\talvor_svc.kayit");
    EXPECT_NE(std::string::npos, record.find("basladi " + std::to_string(QueryProductService().pid))) << record;

    EXPECT_EQ(1, Install(Release("1.0.0", "yavas-basla")));
    EXPECT_EQ("HATA: Talvor hizmeti başlatılamadı. Ayrıntı: C:\\Program Files\\Talvor\\kurulum.log", LastLine())
        << Lines();
    EXPECT_EQ(ServiceCommand("1.0.0"), QueryProductService().command);
    EXPECT_EQ("1.0.0", PointerFile(L"guncel"));
    EXPECT_FALSE(ProgramRunning(VersionFolder("1.0.0") + L"\\talvor_svc.exe")) << "the hung start was left";
}

// A running service that takes the stop but never finishes it (held until the test ends): after
// its 30 s its own process is ended, as Windows does at shutdown, and the update goes through.
TEST_F(InstallRunTest, SLOW_ServiceThatNeverStopsIsEndedAndTheUpdateGoesThrough)
{
    ASSERT_EQ(0, Install(Release("1.0.0", "yavas-dur")));
    DWORD pid = QueryProductService().pid;
    EXPECT_EQ(0, Install(Release("2.0.0"))) << Lines();
    EXPECT_TRUE(Logged("Talvor hizmetinin sureci sonlandiriliyor (pid " + std::to_string(pid) +
                       "): " + Utf8(VersionFolder("1.0.0")) + "\\talvor_svc.exe"))
        << Lines();
    ExpectServiceRuns("2.0.0");
    EXPECT_EQ("2.0.0", PointerFile(L"guncel"));
    EXPECT_FALSE(ProgramRunning(VersionFolder("1.0.0") + L"\\talvor_svc.exe"));
}

// Its process ends before it reports running: the commonest broken release, a crash in its start.
TEST_F(InstallRunTest, ServiceThatDiesWhileStartingStrandsNothing)
{
    ExpectBrokenServiceStrandsNothing("baslarken-coker");
}

// It stays start-pending and never takes a stop control: ended after the 30 s stop wait.
TEST_F(InstallRunTest, SLOW_ServiceThatHangsWhileStartingStrandsNothing)
{
    ExpectBrokenServiceStrandsNothing("yavas-basla");
}

// A pointer that cannot be replaced (another program holds it open) fails the update after the
// old service was stopped and the new folder moved in: the old service runs again, guncel keeps
// (or, when onceki failed, gets back) the old version, and the same update succeeds once the
// pointer is free.
TEST_F(InstallRunTest, PointerThatCannotBeWrittenLeavesTheOldServiceRunning)
{
    ASSERT_EQ(0, Install(Release("1.0.0")));
    std::wstring release = Release("1.1.0");
    for (const wchar_t *pointer : {L"guncel", L"onceki"}) {
        {
            FileHeldElsewhere held(std::wstring(kProductFolder) + L"\\" + pointer);
            ASSERT_TRUE(held.held());
            EXPECT_EQ(1, Install(release));
        }
        EXPECT_EQ("HATA: Kurulum bilgisi yazılamadı.", LastLine()) << Lines();
        ExpectServiceRuns("1.0.0");
        EXPECT_EQ("1.0.0", PointerFile(L"guncel"));
    }

    ASSERT_EQ(0, Install(release)) << Lines();
    ExpectServiceRuns("1.1.0");
    EXPECT_EQ("1.1.0", PointerFile(L"guncel"));
    EXPECT_EQ("1.0.0", PointerFile(L"onceki"));
    EXPECT_EQ((std::vector<std::string>{"1.0.0", "1.1.0"}), StoreEntries()) << kNoStoreLeftovers;
}

// A removal from the uninstaller copy leaves that copy and the folder for deletion at the next
// restart. Installing again before the restart takes those deletions back, so the restart does
// not take the new install's files.
TEST_F(InstallRunTest, InstallAfterARemovalWaitingForTheRestartKeepsItsFiles)
{
    PendingDeletionsGuard guard;
    ASSERT_EQ(0, Install(Release("1.0.0")));
    std::wstring copy = std::wstring(kProductFolder) + L"\\Talvor-Kaldir.exe";
    ASSERT_EQ(0, RunProgram(L"\"" + copy + L"\" /kaldir /sessiz", 120000));
    auto under_install_folder = [] {
        unsigned count = 0;
        for (const std::wstring &path : PendingDeletions())
            count += _wcsnicmp(path.c_str(), kProductFolder, wcslen(kProductFolder)) == 0;
        return count;
    };
    ASSERT_EQ(2u, under_install_folder()) << "the running copy and its folder";

    ASSERT_EQ(0, Install(Release("1.0.0"))) << Lines();
    EXPECT_TRUE(Logged("yeniden baslatmada silinecek 2 kayit geri alindi")) << Lines();
    EXPECT_EQ(0u, under_install_folder());
    ExpectServiceRuns("1.0.0");
}

// A release the maker has since replaced, served again (its folder, or a manifest of the same
// serial for another version), and an expired or unusable manifest are refused before anything is
// fetched: the newer version runs on. The same release repairs; the maker's return to 1.0.0,
// published anew, installs; a damaged kept manifest counts as none, as a missing one does.
TEST_F(InstallRunTest, OnlyTheSameOrALaterReleaseInstalls)
{
    const std::wstring kept = std::wstring(kProductFolder) + L"\\bildirim.tdb";
    std::wstring first = Release("1.0.0", "", {}, {1000, ""});
    ASSERT_EQ(0, Install(first));
    EXPECT_TRUE(Logged("kurulu surumun surum bilgisi yok; yayin sirasi denetlenmiyor")) << Lines();
    std::wstring second = Release("2.0.0", "", {}, {2000, ""});
    ASSERT_EQ(0, Install(second)) << Lines();
    std::string manifest = ReadFileBytes(kept);
    DWORD pid = QueryProductService().pid;
    std::string expired = std::to_string(time(nullptr) - 1);
    struct Refusal {
        std::wstring release;
        std::string message, logged;
    } refusals[] = {
        {first, "Sunulan sürüm bilgisi kurulu olandan eski (yayın 1000 < 2000), eski bir yayın yeniden sunulmuş olabilir",
         "yayin sirasi: sunulan 1000 (1.0.0), kurulu 2000 (2.0.0)"},
        {Release("2.0.1", "", {}, {2000, ""}),
         "Sunulan sürüm bilgisi 2.0.1 sürümünü kurulu 2.0.0 sürümünün yayın numarasıyla (2000) getiriyor",
         "yayin sirasi: sunulan 2000 (2.0.1), kurulu 2000 (2.0.0)"},
        {Release("3.0.0", "", {}, {0, expired}), "Sunulan sürüm bilgisinin geçerlilik süresi dolmuş",
         "surum bilgisinin suresi dolmus: gecerlilik " + expired + ", simdi "},
        {Release("3.0.0", "", {}, {0, "0" + expired}), "İmzalı sürüm bilgisinin geçerlilik kaydı bozuk",
         "surum bilgisinin gecerlilik kaydi sayi degil: 0" + expired},
    };
    for (const Refusal &refusal : refusals) {
        EXPECT_EQ(1, Install(refusal.release));
        EXPECT_EQ(0u, LastLine().find("HATA: " + refusal.message)) << Lines();
        EXPECT_NE(std::string::npos, Lines().find(refusal.logged)) << Lines();
        EXPECT_EQ(std::string::npos, Lines().find(".tpk")) << "no package is fetched";
    }
    EXPECT_EQ(pid, QueryProductService().pid);
    ExpectServiceRuns("2.0.0");
    EXPECT_EQ(manifest, ReadFileBytes(kept));

    EXPECT_EQ(0, Install(second)) << Lines();
    std::wstring back = Release("1.0.0", "", {}, {0, std::to_string(time(nullptr) + 86400)});
    ASSERT_EQ(0, Install(back)) << Lines();
    ExpectServiceRuns("1.0.0");
    EXPECT_EQ(ReadFileBytes(back + L"\\bildirim.tdb"), ReadFileBytes(kept));

    std::string damaged = ReadFileBytes(kept);
    damaged[damaged.size() - 70] ^= 1;
    ASSERT_TRUE(WriteFileBytes(kept, damaged));
    std::wstring update = Release("3.0.0");
    ASSERT_EQ(0, Install(update)) << Lines();
    EXPECT_TRUE(Logged("kurulu surumun surum bilgisi okunamadi ya da imzasi tutmadi; yok sayiliyor")) << Lines();
    EXPECT_EQ(ReadFileBytes(update + L"\\bildirim.tdb"), ReadFileBytes(kept));
}

// The install folder on a small file system of its own (tmpfs), mounted by the test and taken
// away after it.
class SmallDiskTest : public InstallRunTest {
protected:
    void SetUp() override
    {
        InstallRunTest::SetUp();
        if (!RunningUnderWine())
            GTEST_SKIP() << "needs a small file system mounted at the install folder, which the Linux side makes";
        ASSERT_TRUE(CreateDirectoryW(kProductFolder, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        mounted_ = Mount("-t tmpfs -o size=10m tmpfs");
        if (!mounted_)
            GTEST_SKIP() << "this machine cannot mount a small file system here (mount -t tmpfs needs root)";
    }
    void TearDown() override
    {
        InstallRunTest::TearDown();
        if (mounted_)
            RunLinuxCommands("umount -l " + QuotedUnixPath(kProductFolder));
    }
    bool Mount(const std::string &how) { return RunLinuxCommands("mount " + how + " " + QuotedUnixPath(kProductFolder)) == 0; }
    // The refusal's figures, checked against the run's own: MB needed (at least, at most) and MB free.
    void ExpectNoRoom(uint64_t needed_from_mb, uint64_t needed_to_mb, uint64_t free_at_most_mb)
    {
        std::smatch figures;
        std::string last = LastLine();
        ASSERT_TRUE(std::regex_match(last, figures,
                                     std::regex("HATA: C: sürücüsünde yeterli boş yer yok: kurulum için ([0-9]+) MB "
                                                "gerekiyor, ([0-9]+) MB boş; yer açıp kurulumu yeniden çalıştır\\.")))
            << Lines();
        EXPECT_GE(std::stoull(figures[1]), needed_from_mb);
        EXPECT_LE(std::stoull(figures[1]), needed_to_mb);
        EXPECT_LE(std::stoull(figures[2]), free_at_most_mb);
        EXPECT_TRUE(std::any_of(last_lines_.begin(), last_lines_.end(),
                                [](const std::string &line) { return line.rfind("yer yetmiyor: C:", 0) == 0; }));
    }
    bool mounted_ = false;
};

// Files the packer cannot make smaller, 30 MB of them.
std::string Incompressible()
{
    std::string bytes(30 << 20, 0);
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (char &c : bytes) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        c = (char)state;
    }
    return bytes;
}

// A disk too small for the package is named before the download and nothing is written; one too
// small for the package's files, as the package gives their sizes, before the unpack, with only
// the log left;
// a disk that another program fills during the unpack gives the same sentence, leaves nothing of
// the run, and the old version runs on; the same command succeeds once there is room.
TEST_F(SmallDiskTest, FullDiskIsNamedAsSuchAndTheSameCommandSucceedsOnceThereIsRoom)
{
    std::wstring large = Release("2.0.0", "", {{"veri.bin", Incompressible()}});
    uint64_t package = 0;
    for (const std::string &name : FolderEntries(large))
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tpk") == 0)
            package = ReadFileBytes(large + L"\\" + Utf8ToWide(name)).size();
    ASSERT_GT(package, 30u << 20);
    EXPECT_EQ(1, Install(large));
    uint64_t needed_mb = (package + package - package / 8 + (16 << 20) + (1 << 20) - 1) >> 20;
    ExpectNoRoom(needed_mb, needed_mb, 10);
    EXPECT_EQ(std::vector<std::string>{"kurulum.log"}, FolderEntries(kProductFolder));

    // Room for the package and the bound on its files, but not for the files as the package
    // itself gives their sizes.
    ASSERT_TRUE(Mount("-o remount,size=74m"));
    EXPECT_EQ(1, Install(large));
    ASSERT_TRUE(Logged("paket dogrulandi")) << Lines();
    ExpectNoRoom(47, 50, 44); // 30 MB, the product's files and the margin
    EXPECT_EQ(std::vector<std::string>{"kurulum.log"}, FolderEntries(kProductFolder));

    ASSERT_TRUE(Mount("-o remount,size=200m"));
    // Published as if before the large release, which installs over it.
    ASSERT_EQ(0, Install(Release("1.0.0", "", {}, {1, ""})));
    // Another program takes all but 1 MB once the unpack has begun. The setups of this prefix are
    // held still meanwhile: a write of theirs between the measure and the fill would make the fill
    // fail as a whole, after the setup had met a full disk for a moment.
    std::string folder = QuotedUnixPath(kProductFolder);
    // Only while the small file system is there: a run that never unpacks must not fill the real disk.
    ASSERT_EQ(0, RunLinuxCommands("end=$(( $(date +%s) + 120 )); while [ ! -d " +
                                      QuotedUnixPath(VersionFolder("2.0.0") + L".kur") +
                                      " ] && [ $(date +%s) -lt $end ]; do :; done; mountpoint -q " + folder +
                                      " || exit; setups=$(for p in $(pgrep -f Talvor-Kurulum); do grep -qzx "
                                      "\"WINEPREFIX=$WINEPREFIX\" /proc/$p/environ && echo $p; done); "
                                      "kill -STOP $setups; fallocate -l $(( $(df --output=avail -B1 " + folder +
                                      " | tail -1) - 1048576 )) " + folder + "/dolgu; kill -CONT $setups",
                                  0, true));
    EXPECT_EQ(1, Install(large));
    ExpectNoRoom(47, 50, 2); // 30 MB, the product's files and the margin
    EXPECT_EQ((std::vector<std::string>{"1.0.0"}), StoreEntries()) << kNoStoreLeftovers;
    ExpectServiceRuns("1.0.0");
    EXPECT_EQ("1.0.0", PointerFile(L"guncel"));

    ASSERT_TRUE(DeleteFileW((std::wstring(kProductFolder) + L"\\dolgu").c_str()));
    EXPECT_EQ(0, Install(large)) << Lines();
    ExpectServiceRuns("2.0.0");
}
