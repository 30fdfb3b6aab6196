// Setup runs ended abruptly, as a power cut or Task Manager ends them, and then run again.
//
// Each run is started as a process and watched every millisecond: its log, or a visible effect of
// its work (an entry in the store, a pointer, the service, the registration). The moment the
// awaited line or effect shows, the process is ended with TerminateProcess; what it left is read
// back and the same run is started again without interruption. The rerun has to finish the job
// with exit code 0 and leave nothing of the interrupted run behind. Every kill point prints a
// table row (kill point, last line the run wrote, what it left, what the rerun made of it).
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "support/installed_product.h"
#include "support/test_support.h"

namespace {

const std::wstring kStore = std::wstring(kProductFolder) + L"\\surumler";

// Files added to a release so that unpacking, setting aside and deleting a version folder take
// long enough to be caught half-way.
std::vector<std::pair<std::string, std::string>> BulkFiles(int count)
{
    std::vector<std::pair<std::string, std::string>> files;
    for (int i = 0; i < count; i++) {
        char name[32];
        snprintf(name, sizeof name, "veri/%04d.dat", i);
        files.emplace_back(name, std::string(2048, (char)('a' + i % 26)));
    }
    return files;
}

std::string VersionOfCommand(const std::wstring &command)
{
    std::wstring prefix = L"\"" + kStore + L"\\";
    const std::wstring suffix = L"\\talvor_svc.exe\"";
    if (command.compare(0, prefix.size(), prefix) != 0 || command.size() < prefix.size() + suffix.size() ||
        command.compare(command.size() - suffix.size(), suffix.size(), suffix) != 0)
        return Utf8(command);
    return Utf8(command.substr(prefix.size(), command.size() - prefix.size() - suffix.size()));
}

std::wstring ServiceCommandOf(const std::string &version)
{
    return L"\"" + kStore + L"\\" + Utf8ToWide(version) + L"\\talvor_svc.exe\"";
}

const char *StateName(DWORD state)
{
    switch (state) {
    case SERVICE_RUNNING:
        return "running";
    case SERVICE_STOPPED:
        return "stopped";
    case SERVICE_STOP_PENDING:
        return "stopping";
    case SERVICE_START_PENDING:
        return "starting";
    default:
        return "?";
    }
}

bool ProcessAlive(DWORD pid)
{
    HANDLE process = pid != 0 ? OpenProcess(SYNCHRONIZE, FALSE, pid) : nullptr;
    if (process == nullptr)
        return false;
    bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return alive;
}

// "service running 1.0.0": the state and the version folder its command line names.
std::string DescribeService()
{
    ProductService service = QueryProductService();
    if (!service.exists)
        return "no service";
    std::string text = std::string("service ") + StateName(service.state) + " " + VersionOfCommand(service.command);
    // Wine's service manager keeps reporting a service running whose process has ended.
    if (service.state == SERVICE_RUNNING && !ProcessAlive(service.pid))
        text += " (process gone)";
    return text;
}

std::string Joined(const std::vector<std::string> &items)
{
    std::string text;
    for (const std::string &item : items)
        text += (text.empty() ? "" : ", ") + item;
    return "[" + text + "]";
}

bool TrayAppRunning()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry))
        found = _wcsicmp(entry.szExeFile, L"talvor_gui.exe") == 0;
    CloseHandle(snapshot);
    return found;
}

// Starts the installed tray application, as a logged-on user has it, and waits until it shows.
bool StartTrayApp(const std::string &version)
{
    HANDLE process = StartProgram(L"\"" + kStore + L"\\" + Utf8ToWide(version) + L"\\talvor_gui.exe\"");
    if (process == nullptr)
        return false;
    CloseHandle(process);
    for (int i = 0; i < 100; i++) {
        if (TrayAppRunning())
            return true;
        Sleep(20);
    }
    return false;
}

// Every file and folder left below `folder`, folders after their contents.
void CollectTree(const std::wstring &folder, std::vector<std::wstring> &out)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                CollectTree(folder + L"\\" + name, out);
            else
                out.push_back(folder + L"\\" + name);
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    if (FileExists(folder))
        out.push_back(folder);
}

// Whether the pointer file has been replaced since the first call, told by its last write time. The
// file is never opened: a reader holding it at the wrong moment makes the setup's replacing move
// fail.
std::function<bool()> PointerReplaced(const wchar_t *name)
{
    std::wstring path = std::wstring(kProductFolder) + L"\\" + name;
    auto written = [path] {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
            return 0ULL;
        return ((ULONGLONG)data.ftLastWriteTime.dwHighDateTime << 32) | data.ftLastWriteTime.dwLowDateTime;
    };
    return [written, first = 0ULL, asked = false]() mutable {
        if (!asked) {
            first = written();
            asked = true;
        }
        return written() != first;
    };
}

// The paths in the install folder that are to be deleted at the next restart.
std::vector<std::wstring> ScheduledProductPaths()
{
    std::vector<std::wstring> paths;
    for (const std::wstring &path : PendingDeletions())
        if (_wcsnicmp(path.c_str(), kProductFolder, wcslen(kProductFolder)) == 0)
            paths.push_back(path);
    return paths;
}

// Stops the product's service and waits until it has stopped.
bool StopProductService()
{
    SC_HANDLE service = OpenProductService(SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (service == nullptr)
        return false;
    SERVICE_STATUS status;
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    bool stopped = WaitForServiceState(service, SERVICE_STOPPED, 10000).state == SERVICE_STOPPED;
    CloseServiceHandle(service);
    return stopped;
}

// Copies the folder `from` with everything in it to the new folder `to`.
bool CopyFolder(const std::wstring &from, const std::wstring &to)
{
    std::wstring source = from + L'\0';
    std::wstring target = to + L'\0';
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_COPY;
    op.pFrom = source.c_str();
    op.pTo = target.c_str();
    op.fFlags = FOF_NO_UI;
    return SHFileOperationW(&op) == 0 && !op.fAnyOperationsAborted && FileExists(to + L"\\talvor_svc.exe");
}

// The run ended from outside, and what it wrote to its log until then.
struct Interruption {
    bool killed = false;    // false: the run ended by itself before the moment came
    long exit_code = -1;    // of a run that ended by itself
    std::vector<std::string> lines; // every line the run wrote
};

// The lines a run adds to a log: those after the size the log had when the object was made. The
// count is read again only when the size has changed.
class LogWatch {
public:
    explicit LogWatch(const std::wstring &path) : path_(path), start_(Size()), seen_size_(start_) {}

    size_t Count()
    {
        ULONGLONG size = Size();
        if (size != seen_size_) {
            seen_size_ = size;
            count_ = Lines().size();
        }
        return count_;
    }

    std::vector<std::string> Lines() const { return LogLines(path_, (size_t)start_); }

private:
    ULONGLONG Size() const
    {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data))
            return 0;
        return ((ULONGLONG)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    }

    std::wstring path_;
    ULONGLONG start_;
    ULONGLONG seen_size_;
    size_t count_ = 0;
};

// Starts `command` and ends it with TerminateProcess as soon as `moment` says so; `moment` is
// given the number of lines the run has written so far.
Interruption RunAndKill(const std::wstring &command, const std::wstring &log,
                        const std::function<bool(size_t lines)> &moment)
{
    Interruption result;
    LogWatch watch(log);
    HANDLE process = StartProgram(command);
    if (process == nullptr)
        return result;
    ULONGLONG started = GetTickCount64();
    for (;;) {
        if (moment(watch.Count())) {
            result.killed = TerminateProcess(process, 1) != 0;
            break;
        }
        if (WaitForSingleObject(process, 1) == WAIT_OBJECT_0)
            break;
        if (GetTickCount64() - started > 240000) {
            TerminateProcess(process, 1);
            break;
        }
    }
    WaitForSingleObject(process, 60000);
    DWORD code = (DWORD)-1;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    if (!result.killed)
        result.exit_code = (long)code;
    result.lines = watch.Lines();
    return result;
}

// A moment to end a run at: after its n-th log line, or when an effect of its work shows.
struct KillPoint {
    std::string name;
    std::function<bool(size_t lines)> reached;
};

KillPoint AfterLine(size_t n)
{
    return {"line " + std::to_string(n), [n](size_t lines) { return lines >= n; }};
}

KillPoint WhenSeen(const std::string &name, std::function<bool()> seen)
{
    return {name, [seen](size_t) { return seen(); }};
}

// The lines by which a rerun says it cleared up after another run, store paths shortened.
std::string RecoveryLines(const std::vector<std::string> &lines)
{
    std::string text;
    for (std::string line : lines) {
        if (line.compare(0, 11, "yarim kalan") != 0 && line.find("esas aliniyor") == std::string::npos)
            continue;
        size_t store = line.find(Utf8(kStore) + "\\");
        if (store != std::string::npos)
            line.erase(store, kStore.size() + 1);
        text += " «" + line + "»";
    }
    return text;
}

// The table's "last line written (count)".
std::string LastWritten(const std::vector<std::string> &lines)
{
    return std::to_string(lines.size()) + ": " + LastLine(lines);
}

void PrintRow(const std::string &point, const std::string &last, const std::string &left, const std::string &rerun)
{
    printf("| %s | %s | %s | %s |\n", point.c_str(), last.c_str(), left.c_str(), rerun.c_str());
    fflush(stdout);
}

std::string Dump(const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines)
        text += "  " + line + "\n";
    return text;
}

class InterruptedRunTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        for (std::wstring *folder : {&base_, &update_, &bulky_, &newer_})
            *folder = MakeTempFolder(L"yayin");
        // Published in the order the tests install them in.
        published_ = PublishProductRelease(base_, "1.0.0") &&
                     PublishProductRelease(bulky_, "1.0.0", "", BulkFiles(400)) &&
                     PublishProductRelease(update_, "1.1.0", "", BulkFiles(150)) && PublishProductRelease(newer_, "1.2.0");
    }

    static void TearDownTestSuite()
    {
        RemoveProductCompletely();
        for (std::wstring *folder : {&base_, &update_, &bulky_, &newer_})
            RemoveFolder(*folder);
    }

    void SetUp() override
    {
        REQUIRE_DEVELOPMENT_KEY();
        ASSERT_TRUE(published_);
        RemoveProductCompletely();
    }

    void TearDown() override { RemoveProductCompletely(); }

    // Pointers and store: "guncel 1.1.0, onceki 1.0.0, store [1.0.0, 1.1.0.kur]".
    static std::string DescribeVersions()
    {
        return "guncel " + PointerFile(L"guncel") + ", onceki " + PointerFile(L"onceki") + ", store " +
               Joined(StoreEntries());
    }

    // The product as a finished install of `version` leaves it, with `previous` kept beside it.
    static void ExpectInstalled(const std::string &version, const std::string &previous)
    {
        ProductService service = QueryProductService();
        EXPECT_TRUE(service.exists);
        EXPECT_EQ((DWORD)SERVICE_RUNNING, service.state);
        EXPECT_TRUE(ProcessAlive(service.pid)) << "the service's process " << service.pid << " is gone";
        EXPECT_EQ(ServiceCommandOf(version), service.command);
        EXPECT_EQ((DWORD)SERVICE_AUTO_START, service.start_type);
        EXPECT_EQ(version, PointerFile(L"guncel"));
        EXPECT_EQ(previous, PointerFile(L"onceki"));
        std::vector<std::string> store = {version};
        if (previous != version)
            store.push_back(previous);
        std::sort(store.begin(), store.end());
        EXPECT_EQ(store, StoreEntries()) << "only the version folders may stay in the store";
        for (const wchar_t *name : {L"guncel.yeni", L"onceki.yeni"})
            EXPECT_FALSE(FileExists(std::wstring(kProductFolder) + L"\\" + name)) << Utf8(name);
        for (const wchar_t *name : {L"Talvor.exe", L"Talvor-Kaldir.exe"})
            EXPECT_TRUE(FileExists(std::wstring(kProductFolder) + L"\\" + name)) << Utf8(name);
        std::wstring value;
        EXPECT_TRUE(ReadMachineString(kUninstallEntryKey, L"DisplayVersion", value) && Utf8(value) == version)
            << Utf8(value);
        EXPECT_TRUE(ReadMachineString(kRunEntryKey, L"Talvor", value));
        EXPECT_TRUE(FileExists(StartMenuShortcut()));
        EXPECT_TRUE(FileExists(DesktopShortcut()));
    }

    // Kills a run of `command` at each point in turn, from a state `prepare` makes, reruns it
    // uninterrupted and checks the result with `check`, which is given the service as the
    // interrupted run left it. Log line points go on until a run ends by itself before its line or
    // has written its final line, the one that starts with `final_line`. Returns how many points
    // ended a run.
    int KillAndRerun(const std::vector<KillPoint> &points, bool by_line, const std::wstring &command,
                     const std::wstring &log, const char *final_line, const std::function<bool()> &prepare,
                     const std::function<std::string()> &describe,
                     const std::function<void(const ProductService &left)> &check)
    {
        int killed = 0;
        for (size_t i = 0; by_line ? i < 40 : i < points.size(); i++) {
            KillPoint point = by_line ? AfterLine(i + 1) : points[i];
            SCOPED_TRACE(point.name);
            // What the runs of this point leave for the next restart, and nothing before them.
            PendingDeletionsGuard pending;
            if (!prepare()) {
                ADD_FAILURE() << "could not prepare the state to start from; in the install folder:\n"
                              << Dump(FolderEntries(kProductFolder)) << "service: " << DescribeService();
                return killed;
            }
            Interruption run = RunAndKill(command, log, point.reached);
            if (!run.killed) {
                EXPECT_EQ(0, run.exit_code) << Dump(run.lines);
                PrintRow(point.name, LastWritten(run.lines), "not reached: the run ended by itself", "-");
                if (by_line)
                    break;
                continue;
            }
            killed++;
            for (const std::string &line : run.lines)
                EXPECT_NE(0, line.compare(0, 5, "HATA:")) << "the run failed before it was ended:\n" << Dump(run.lines);
            Rerun(point.name, LastWritten(run.lines), command, log, describe, check);
            if (by_line && !run.lines.empty() && run.lines.back().compare(0, strlen(final_line), final_line) == 0)
                break;
        }
        return killed;
    }

    // Reads what a run left, runs `command` again uninterrupted, checks the result and prints the
    // kill point's row.
    static void Rerun(const std::string &point, const std::string &last_line, const std::wstring &command,
                      const std::wstring &log, const std::function<std::string()> &describe,
                      const std::function<void(const ProductService &left)> &check)
    {
        ProductService service_left = QueryProductService();
        std::string left = describe();
        LogWatch rerun_log(log);
        long code = RunProgram(command, 240000);
        std::vector<std::string> rerun_lines = rerun_log.Lines();
        EXPECT_EQ(0, code) << "the rerun failed:\n" << Dump(rerun_lines);
        check(service_left);
        PrintRow(point, last_line, left,
                 "exit " + std::to_string(code) + "; " + describe() + RecoveryLines(rerun_lines));
    }

    static std::wstring InstallCommand(const std::wstring &release)
    {
        return SetupCommand(L"/sessiz \"--yerel=" + release + L"\"");
    }

    static std::string DescribeInstall() { return DescribeService() + "; " + DescribeVersions(); }

    // Install runs from `release`: what they leave, and the log they write.
    int KillAndRerunInstall(const std::vector<KillPoint> &points, bool by_line, const std::wstring &release,
                            const std::function<bool()> &prepare,
                            const std::function<void(const ProductService &left)> &check)
    {
        return KillAndRerun(points, by_line, InstallCommand(release), kInstallLogPath, "kurulum tamam", prepare,
                            DescribeInstall, check);
    }

    // 1.0.0 installed afresh with its tray application running, and what an update from it to
    // 1.1.0 leaves once it is run again after being ended.
    static bool Installed100WithTrayApp()
    {
        RemoveProductCompletely();
        return InstallFrom(base_) == 0 && StartTrayApp("1.0.0");
    }
    static void ExpectUpdateFinished(const ProductService &left)
    {
        ExpectInstalled("1.1.0", left.command == ServiceCommandOf("1.1.0") ? "1.1.0" : "1.0.0");
        EXPECT_FALSE(TrayAppRunning());
    }

    static void PrintHeader(const char *title)
    {
        printf("\n%s\n| kill point | last line written (count) | left behind | rerun |\n|---|---|---|---|\n", title);
        fflush(stdout);
    }

    static std::wstring base_, update_, bulky_, newer_;
    static bool published_;
    PendingDeletionsGuard pending_;
};

std::wstring InterruptedRunTest::base_;
std::wstring InterruptedRunTest::update_;
std::wstring InterruptedRunTest::bulky_;
std::wstring InterruptedRunTest::newer_;
bool InterruptedRunTest::published_ = false;

} // namespace

// 1.0.0 installed with its tray application running, then the update to 1.1.0 ended at one point
// and run again. The rerun keeps 1.0.0 as the previous version as long as the service still ran
// from it; once the service was switched to 1.1.0 the rerun is a reinstall of 1.1.0, which keeps
// 1.1.0 alone.
TEST_F(InterruptedRunTest, UpdateEndedAfterAnyLogLineIsFinishedByTheRerun)
{
    PrintHeader("Update 1.0.0 -> 1.1.0, ended after each log line");
    EXPECT_GE(KillAndRerunInstall({}, true, update_, Installed100WithTrayApp, ExpectUpdateFinished), 9);
}

// The same at the steps between stopping the old service and running the new one.
TEST_F(InterruptedRunTest, UpdateEndedAtAnyStepIsFinishedByTheRerun)
{
    std::vector<KillPoint> steps = {
        WhenSeen("1.1.0.kur in the store", [] { return FileExists(kStore + L"\\1.1.0.kur"); }),
        WhenSeen("service no longer running", [] { return QueryProductService().state != SERVICE_RUNNING; }),
        WhenSeen("1.1.0 in the store", [] { return FileExists(kStore + L"\\1.1.0"); }),
        WhenSeen("guncel replaced", PointerReplaced(L"guncel")),
        WhenSeen("service pointed at 1.1.0", [] { return QueryProductService().command == ServiceCommandOf("1.1.0"); }),
    };
    PrintHeader("Update 1.0.0 -> 1.1.0, ended when a step shows");
    EXPECT_GE(KillAndRerunInstall(steps, false, update_, Installed100WithTrayApp, ExpectUpdateFinished), 4);
}

// The update to 1.1.0 ended between writing the pointers and switching the service, and then
// not the same update but a newer release, 1.2.0, installed (an online setup takes whatever is
// newest). The service still ran 1.0.0, so 1.0.0 is the version to keep and to go back to; 1.1.0
// never ran. Should the kill come after the switch, 1.1.0 is the version that ran.
TEST_F(InterruptedRunTest, NewerReleaseAfterAnUpdateEndedBeforeTheServiceSwitchKeepsTheRunningVersion)
{
    ASSERT_EQ(0, InstallFrom(base_));
    KillPoint point = WhenSeen("guncel replaced", PointerReplaced(L"guncel"));
    PrintHeader("Update 1.0.0 -> 1.1.0 ended, then 1.2.0 installed");
    Interruption run = RunAndKill(InstallCommand(update_), kInstallLogPath, point.reached);
    ASSERT_TRUE(run.killed) << run.exit_code << "\n" << Dump(run.lines);
    Rerun(point.name, LastWritten(run.lines), InstallCommand(newer_), kInstallLogPath, DescribeInstall,
          [](const ProductService &left) {
              ExpectInstalled("1.2.0", left.command == ServiceCommandOf("1.1.0") ? "1.1.0" : "1.0.0");
          });
}

// 1.0.0 (with a large folder) and 1.1.0 installed, then the update to 1.2.0 ended while it prunes
// 1.0.0 after its new service runs. The service was switched, so the rerun is a reinstall of
// 1.2.0, which prunes the rest, the half-deleted 1.0.0 with it.
TEST_F(InterruptedRunTest, UpdateEndedWhilePruningTheOldestVersionIsFinishedByTheRerun)
{
    std::vector<std::wstring> bulk;
    auto installed_1_1_0_over_1_0_0 = [&bulk] {
        RemoveProductCompletely();
        if (InstallFrom(bulky_) != 0 || InstallFrom(update_) != 0)
            return false;
        bulk.clear();
        CollectTree(kStore + L"\\1.0.0\\veri", bulk);
        return bulk.size() > 100;
    };
    std::vector<KillPoint> steps = {
        WhenSeen("a file of 1.0.0 deleted", [&bulk] { return !FileExists(bulk[0]); }),
    };
    PrintHeader("Update 1.1.0 -> 1.2.0 (1.0.0 kept before it), ended while pruning 1.0.0");
    EXPECT_EQ(1, KillAndRerunInstall(steps, false, newer_, installed_1_1_0_over_1_0_0,
                                     [](const ProductService &) { ExpectInstalled("1.2.0", "1.2.0"); }));
}

// 1.1.0 installed, then a reinstall of 1.1.0 ended while the installed copy is set aside as a
// ".eski-" backup. The window between setting it aside and moving the new copy in is two renames
// long, too short for a watcher to end the run in; kills land while the backup is being deleted.
// The state a kill between the two moves leaves is therefore made by hand: the service stopped
// and pointing at the missing version folder, the backup and the complete staging folder beside
// it. The rerun puts the backup back or deletes it, and installs 1.1.0 again.
TEST_F(InterruptedRunTest, ReinstallEndedWhileTheOldCopyIsSetAsideIsFinishedByTheRerun)
{
    auto installed_1_1_0 = [] {
        RemoveProductCompletely();
        return InstallFrom(update_) == 0;
    };
    auto backup_of_1_1_0 = [] {
        for (const std::string &name : StoreEntries())
            if (name.compare(0, 11, "1.1.0.eski-") == 0)
                return true;
        return false;
    };
    auto check = [](const ProductService &) { ExpectInstalled("1.1.0", "1.1.0"); };
    std::vector<KillPoint> steps = {WhenSeen("1.1.0.eski- in the store", backup_of_1_1_0)};
    PrintHeader("Reinstall of 1.1.0, ended while the installed copy is set aside");
    EXPECT_EQ(1, KillAndRerunInstall(steps, false, update_, installed_1_1_0, check));

    ASSERT_TRUE(installed_1_1_0());
    ASSERT_TRUE(StopProductService());
    const std::wstring version = kStore + L"\\1.1.0";
    ASSERT_TRUE(CopyFolder(version, version + L".kur"));
    ASSERT_TRUE(MoveFileW(version.c_str(), (version + L".eski-123456789").c_str()));
    Rerun("between the two moves (made by hand)", "-", InstallCommand(update_), kInstallLogPath, DescribeInstall,
          check);
}

// Nothing installed, then a first install of 1.1.0 ended at each log line and once the service
// program has registered the service; the rerun installs 1.1.0, its own previous version.
TEST_F(InterruptedRunTest, FirstInstallEndedAtAnyPointIsFinishedByTheRerun)
{
    auto nothing_installed = [] {
        RemoveProductCompletely();
        return !FileExists(kProductFolder);
    };
    auto check = [](const ProductService &) { ExpectInstalled("1.1.0", "1.1.0"); };
    PrintHeader("First install of 1.1.0, ended after each log line");
    EXPECT_GE(KillAndRerunInstall({}, true, update_, nothing_installed, check), 7);

    std::vector<KillPoint> steps = {
        WhenSeen("service registered", [] { return QueryProductService().exists; }),
    };
    PrintHeader("First install of 1.1.0, ended when a step shows");
    KillAndRerunInstall(steps, false, update_, nothing_installed, check);
}

// 1.0.0 with a large install folder and its tray application running, then the removal ended at
// each log line and at each of its steps, down to the install folder half deleted. The rerun
// removes whatever is left but the restart-scheduled uninstaller.
TEST_F(InterruptedRunTest, RemovalEndedAtAnyPointIsFinishedByTheRerun)
{
    // The bulk folder as listed before the run: the removal deletes it in this order.
    std::vector<std::wstring> bulk;
    auto installed_1_0_0 = [&bulk] {
        RemoveProductCompletely();
        if (InstallFrom(bulky_) != 0 || !StartTrayApp("1.0.0"))
            return false;
        bulk.clear();
        CollectTree(kStore + L"\\1.0.0\\veri", bulk);
        return bulk.size() > 100;
    };
    auto describe = [] {
        std::vector<std::wstring> files;
        CollectTree(kProductFolder, files);
        std::wstring value;
        return DescribeService() + "; tray app " + (TrayAppRunning() ? "running" : "gone") + "; install folder " +
               (files.empty() ? "gone" : std::to_string(files.size()) + " entries") + "; uninstall entry " +
               (ReadMachineString(kUninstallEntryKey, L"DisplayVersion", value) ? "present" : "gone") +
               "; shortcut " + (FileExists(StartMenuShortcut()) ? "present" : "gone") + "; " +
               std::to_string(ScheduledProductPaths().size()) + " scheduled for restart";
    };
    auto check = [](const ProductService &) {
        EXPECT_FALSE(QueryProductService().exists);
        EXPECT_FALSE(TrayAppRunning());
        std::vector<std::wstring> files;
        CollectTree(kProductFolder, files);
        std::vector<std::wstring> scheduled = ScheduledProductPaths();
        for (const std::wstring &file : files)
            EXPECT_NE((size_t)-1, PathIndex(scheduled, file)) << "left and not scheduled for deletion: " << Utf8(file);
        std::wstring value;
        EXPECT_FALSE(ReadMachineString(kUninstallEntryKey, L"DisplayName", value));
        EXPECT_FALSE(ReadMachineString(kRunEntryKey, L"Talvor", value));
        EXPECT_FALSE(FileExists(StartMenuShortcut()));
        EXPECT_FALSE(FileExists(DesktopShortcut()));
    };
    // As the user removes the product: with the uninstaller in the install folder, which cannot
    // delete itself while it runs and is left for deletion at the next restart.
    const std::wstring removal = L"\"" + std::wstring(kProductFolder) + L"\\Talvor-Kaldir.exe\" /kaldir /sessiz";
    PrintHeader("Removal of 1.0.0, ended after each log line");
    EXPECT_GE(KillAndRerun({}, true, removal, RemovalLogPath(), "kaldirma tamam", installed_1_0_0, describe, check), 2);

    auto bulk_file_gone = [&bulk](double share) {
        return [&bulk, share] { return !FileExists(bulk[(size_t)(share * (double)(bulk.size() - 1))]); };
    };
    std::vector<KillPoint> steps = {
        WhenSeen("service no longer running", [] { return QueryProductService().state != SERVICE_RUNNING; }),
        WhenSeen("service deleted", [] { return !QueryProductService().exists; }),
        WhenSeen("shortcut deleted", [] { return !FileExists(StartMenuShortcut()); }),
        WhenSeen("uninstall entry deleted",
                 [] {
                     std::wstring value;
                     return !ReadMachineString(kUninstallEntryKey, L"DisplayName", value);
                 }),
        WhenSeen("first bulk file deleted", bulk_file_gone(0.0)),
        WhenSeen("half the bulk files deleted", bulk_file_gone(0.5)),
        WhenSeen("store folder gone", [] { return !FileExists(kStore); }),
    };
    PrintHeader("Removal of 1.0.0, ended when a step shows");
    EXPECT_GE(KillAndRerun(steps, false, removal, RemovalLogPath(), "kaldirma tamam", installed_1_0_0, describe, check),
              6);
}

