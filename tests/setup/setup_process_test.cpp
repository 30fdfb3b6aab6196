// The setup program run as a process in the test prefix: exit codes, the single-instance guard,
// the log files and the error box. The paged run's pages are driven in tests/ui/wizard_test.cpp.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <aclapi.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "core/object_owner.h"
#include "dialog_driver/dialog_driver.h"
#include "support/installed_product.h"
#include "support/test_support.h"

namespace {

class SetupProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteFileW(kInstallLogPath);
        DeleteFileW(RemovalLogPath().c_str());
    }
};

struct BoxRun {
    long exit_code = -1;
    bool shown = false;
    std::wstring texts; // the window's title, main instruction and content, a line each
};

// Runs the setup without /sessiz, waits for its error box, reads it and presses Close.
BoxRun RunWithErrorBox(const std::wstring &arguments)
{
    BoxRun run;
    HANDLE process = StartProgram(SetupCommand(arguments));
    if (process == nullptr)
        return run;
    HWND box = nullptr;
    for (int i = 0; i < 300 && box == nullptr; i++) {
        if (WaitForSingleObject(process, 100) == WAIT_OBJECT_0)
            break;
        box = FindDialog(GetProcessId(process), L"Talvor");
    }
    if (box != nullptr) {
        DialogPage page = ReadPage(box);
        ::testing::Test::RecordProperty("reader", page.reader);
        run.shown = page.dialog != nullptr;
        run.texts = page.title + L"\n" + page.main_instruction + L"\n" + page.content + L"\n";
        SendMessageW(box, TDM_CLICK_BUTTON, IDCLOSE, 0);
    }
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(process, 20000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process, &code);
    else
        TerminateProcess(process, 99);
    CloseHandle(process);
    run.exit_code = (long)code;
    return run;
}

bool Contains(const std::wstring &text, const wchar_t *part)
{
    return text.find(part) != std::wstring::npos;
}

} // namespace

TEST_F(SetupProcessTest, InvalidCommandLineExitsWith2)
{
    for (const wchar_t *arguments : {L"/sessiz /bilinmeyen", L"kaldir /sessiz", L"/sessiz /kaldir=1", L"/sessiz --yerel="}) {
        SCOPED_TRACE(Utf8(arguments));
        EXPECT_EQ(2, RunProgram(SetupCommand(arguments)));
    }
    EXPECT_FALSE(FileExists(kInstallLogPath));
    EXPECT_FALSE(FileExists(RemovalLogPath()));
}

TEST_F(SetupProcessTest, InvalidCommandLineShowsUsage)
{
    BoxRun run = RunWithErrorBox(L"/bilinmeyen");
    EXPECT_EQ(2, run.exit_code);
    ASSERT_TRUE(run.shown);
    EXPECT_TRUE(Contains(run.texts, L"Talvor\n")) << Utf8(run.texts);
    EXPECT_TRUE(Contains(run.texts, L"Geçersiz komut")) << Utf8(run.texts);
    EXPECT_TRUE(Contains(run.texts, L"Kullanım: Talvor-Kurulum [/sessiz] [/masaustu-yok] [--yerel=<klasör>]\n"
                                    L"Kaldırma: Talvor-Kurulum /kaldir [/sessiz] [/ayarlari-sil]"))
        << Utf8(run.texts);
}

// While a setup waits on its confirmation page, another install, removal or paged run answers
// "already running" with exit 2 and logs nothing. A program of the user that holds the name
// "Global\Talvor-Kurulum" (given the user's own SID as its owner, as a standard user's program
// has) keeps no setup out: the removal runs and logs that the name was taken.
TEST_F(SetupProcessTest, SecondInstanceExitsWith2AndAProgramHoldingTheNameKeepsNoneOut)
{
    HANDLE first = StartProgram(SetupCommand(L"/kaldir"));
    ASSERT_NE(nullptr, first);
    HWND page = nullptr;
    for (int i = 0; i < 300 && page == nullptr && WaitForSingleObject(first, 100) == WAIT_TIMEOUT; i++)
        page = FindDialog(GetProcessId(first), L"Talvor Kaldırma");
    if (page == nullptr)
        TerminateProcess(first, 99);
    ASSERT_NE(nullptr, page);
    EXPECT_EQ(2, RunProgram(SetupCommand(L"/sessiz")));
    EXPECT_EQ(2, RunProgram(SetupCommand(L"/sessiz /kaldir")));
    BoxRun run = RunWithErrorBox(L"/kaldir");
    PressEscape(page);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(first, 20000));
    CloseHandle(first);
    EXPECT_EQ(2, run.exit_code);
    EXPECT_TRUE(run.shown);
    EXPECT_TRUE(Contains(run.texts, L"Kurulum zaten çalışıyor")) << Utf8(run.texts);
    EXPECT_TRUE(Contains(run.texts, L"Talvor kurulumu ya da kaldırması şu an başka bir pencerede sürüyor."));
    EXPECT_FALSE(FileExists(kInstallLogPath));
    DeleteFileW(RemovalLogPath().c_str());

    HANDLE squatter = CreateMutexW(nullptr, TRUE, L"Global\\Talvor-Kurulum");
    ASSERT_NE(nullptr, squatter);
    TOKEN_USER *user = ProcessUser();
    ASSERT_NE(nullptr, user);
    DWORD owned = SetSecurityInfo(squatter, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, user->User.Sid, nullptr,
                                  nullptr, nullptr);
    free(user);
    ASSERT_EQ((DWORD)ERROR_SUCCESS, owned);
    EXPECT_EQ(0, RunProgram(SetupCommand(L"/sessiz /kaldir")));
    CloseHandle(squatter);
    EXPECT_TRUE(HasLine(LogLines(RemovalLogPath()), "Global\\Talvor-Kurulum kurulum olmayan bir programin elinde; yok sayildi"));
}

// An install from a folder that holds no release fails after logging what it looked for; a
// removal with nothing installed succeeds.
TEST_F(SetupProcessTest, EachModeLogsInItsOwnPlace)
{
    struct ModeCase {
        const wchar_t *arguments;
        std::wstring log, other_log;
        long exit_code;
        const char *first_line, *last_line;
    };
    const ModeCase cases[] = {
        {L"/sessiz /masaustu-yok --yerel=C:\\talvor-yayin-yok", kInstallLogPath, RemovalLogPath(), 1,
         "Talvor 0.1.0 kurulum basladi", "HATA: Kurulum klasöründe bildirim.tdb bulunamadı."},
        {L"--kaldir --sessiz", RemovalLogPath(), kInstallLogPath, 0, "Talvor 0.1.0 kaldirma basladi",
         "kaldirma tamam (yeniden baslatma 0)"},
    };
    for (const ModeCase &c : cases) {
        SCOPED_TRACE(Utf8(c.arguments));
        SetUp();
        EXPECT_EQ(c.exit_code, RunProgram(SetupCommand(c.arguments)));
        std::vector<std::string> lines = LogLines(c.log);
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(c.first_line, lines.front());
        EXPECT_EQ(c.last_line, lines.back());
        EXPECT_FALSE(FileExists(c.other_log));
    }
}

// A temporary path too long for the removal log's buffer leaves the run unlogged; in particular
// no log appears in the current folder.
TEST_F(SetupProcessTest, RemovalWithoutRoomForTheLogPathLogsNothing)
{
    std::wstring current = MakeTempFolder(L"cwd");
    ASSERT_FALSE(current.empty());
    std::wstring long_temp = L"C:\\" + std::wstring(230, L'u') + L"\\";
    long code;
    {
        ScopedEnvironment tmp(L"TMP", long_temp.c_str());
        ScopedEnvironment temp(L"TEMP", long_temp.c_str());
        code = RunProgram(SetupCommand(L"/kaldir /sessiz"), 60000, current);
    }
    bool logged_here = FileExists(current + L"\\Talvor-Kaldir.log");
    RemoveFolder(current);
    EXPECT_EQ(0, code);
    EXPECT_FALSE(logged_here);
    EXPECT_FALSE(FileExists(RemovalLogPath()));
}

// The same for an install folder whose log path would not fit: the run goes unlogged instead of
// writing a log under a cut name in the install folder.
TEST_F(SetupProcessTest, InstallWithoutRoomForTheLogPathLogsNothing)
{
    // "\\Talvor" makes the install folder 252 characters, which fits its 260; "\\kurulum.log" does not.
    std::wstring program_files = L"C:\\" + std::wstring(242, L'p');
    std::wstring install_folder = program_files + L"\\Talvor";
    RemoveFolder(program_files);
    // Made beforehand through the long-path form: Windows creates no folder this long otherwise.
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + program_files).c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + install_folder).c_str(), nullptr));
    long code;
    {
        // Windows keeps the place of Program Files in this value.
        ScopedRegistryString moved(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion",
                                   L"ProgramFilesDir", program_files);
        ASSERT_TRUE(moved.replaced());
        code = RunProgram(SetupCommand(L"/sessiz /masaustu-yok --yerel=C:\\talvor-yayin-yok"));
    }
    // Only an empty folder can be removed: no log was written in it under a cut name.
    bool left_empty = RemoveDirectoryW(install_folder.c_str()) != 0;
    RemoveFolder(program_files);
    EXPECT_EQ(1, code);
    EXPECT_TRUE(left_empty);
    EXPECT_FALSE(FileExists(kInstallLogPath));
}

// TEMP pointed at a folder of another owner (here the Users group, as an administrators-only or
// another user's folder would be): the elevated removal writes nothing there; its log goes to the
// system's own temporary folder, whose first lines name the folder it refused.
TEST_F(SetupProcessTest, RemovalLogsOnlyIntoAFolderOfItsOwnUserOrTheSystem)
{
    std::wstring foreign = MakeTempFolder(L"baskasinin");
    ASSERT_TRUE(SetFolderOwner(foreign, WinBuiltinUsersSid));
    if (FolderOwnerIsTrusted(foreign, true)) {
        RemoveFolder(foreign);
        GTEST_SKIP() << "Windows' to show: Wine keeps no owners, every file reads as owned by the user running "
                        "the setup (S-1-5-21-0-0-0-1000)";
    }
    wchar_t windows[MAX_PATH];
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    std::wstring logs[] = {windows + std::wstring(L"\\SystemTemp\\Talvor-Kaldir.log"),
                           windows + std::wstring(L"\\Temp\\Talvor-Kaldir.log")};
    for (const std::wstring &log : logs)
        DeleteFileW(log.c_str());
    {
        ScopedEnvironment tmp(L"TMP", foreign.c_str());
        ScopedEnvironment temp(L"TEMP", foreign.c_str());
        EXPECT_EQ(0, RunProgram(SetupCommand(L"/kaldir /sessiz")));
    }
    std::vector<std::string> lines = LogLines(logs[0]);
    if (lines.empty())
        lines = LogLines(logs[1]);
    EXPECT_EQ(std::vector<std::string>{}, FolderEntries(foreign));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ("Talvor 0.1.0 kaldirma basladi", lines[0]);
    EXPECT_NE(std::string::npos, lines[1].find("gunluk " + Utf8(foreign) + " klasorune yazilmadi")) << lines[1];
    RemoveFolder(foreign);
}

TEST_F(SetupProcessTest, ConflictIsLoggedInBothModes)
{
    ASSERT_TRUE(CreateTestService(L"klif"));
    // The removal deletes the install folder and the install log in it: each log is read first.
    long install = RunProgram(SetupCommand(L"/sessiz --yerel=C:\\talvor-yayin-yok"));
    std::vector<std::string> install_lines = LogLines(kInstallLogPath);
    long removal = RunProgram(SetupCommand(L"/sessiz /kaldir"));
    std::vector<std::string> removal_lines = LogLines(RemovalLogPath());
    DeleteTestService(L"klif");

    EXPECT_EQ(1, install);
    EXPECT_EQ(0, removal);
    for (const std::vector<std::string> &lines : {install_lines, removal_lines})
        EXPECT_TRUE(HasLine(lines, "Kaspersky bulundu"));
}
