#include <gtest/gtest.h>

#include "core/process_values.h"
#include "core/setup_log.h"
#include "service/app_shutdown.h"
#include "service/legacy_driver.h"
#include "service/process_end.h"
#include "service/run_program.h"
#include "service/service_control.h"
#include "support/test_support.h"

#include <sddl.h>

#include <regex>
#include <string>
#include <vector>

typedef LoggedFolderTest RunProgramAndWaitTest;

static std::wstring CopyOfProgram(const wchar_t *program, const std::wstring &folder, const wchar_t *name)
{
    std::wstring copy = folder + L"\\" + name;
    EXPECT_TRUE(CopyFileW(BuildPath(program).c_str(), copy.c_str(), FALSE));
    return copy;
}

TEST_F(RunProgramAndWaitTest, GivesTheExitCodeAndRunsInTheProgramsFolder)
{
    std::wstring program = CopyOfProgram(L"tests\\exit_with.exe", folder_, L"exit_with.exe");
    DWORD code = 1234;
    ASSERT_TRUE(RunProgramAndWait(program.c_str(), L"7", &code));
    EXPECT_EQ(7u, code);
    EXPECT_EQ(Utf8(folder_), ReadFileBytes(folder_ + L"\\calisma_klasoru.txt"));

    ASSERT_TRUE(RunProgramAndWait(program.c_str(), L"0", &code));
    EXPECT_EQ(0u, code);

    code = 1;
    EXPECT_FALSE(RunProgramAndWait((folder_ + L"\\yok.exe").c_str(), L"kur", &code));
    EXPECT_EQ(1u, code); // left as the caller set it
}

// Slow: waits out the whole minute that a program is given.
TEST_F(RunProgramAndWaitTest, SLOW_ProgramRunningPastTheTimeOutIsLeftRunning)
{
    std::wstring program = CopyOfProgram(L"tests\\exit_with.exe", folder_, L"exit_with.exe");
    DWORD code = 0;
    ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(RunProgramAndWait(program.c_str(), L"3 90000", &code));
    ULONGLONG waited = GetTickCount64() - start;
    EXPECT_EQ((DWORD)STILL_ACTIVE, code);
    EXPECT_GE(waited, 59000u);
    EXPECT_LT(waited, 75000u);
    // still running: its image cannot be deleted
    EXPECT_FALSE(DeleteFileW(program.c_str()));
    RunProgram(L"taskkill /f /im exit_with.exe", 10000);
    for (int i = 0; i < 50 && !DeleteFileW(program.c_str()); i++)
        Sleep(100);
}

class CloseRunningAppTest : public LoggedFolderTest {
protected:
    void SetUp() override
    {
        LoggedFolderTest::SetUp();
        wcscpy(saved_folder_, InstallFolder);
        wcscpy(InstallFolder, (folder_ + L"\\Talvor").c_str()); // one of the test's own
        CreateDirectoryW(InstallFolder, nullptr);
    }
    // The idle program as `name`, in a folder of its own under `parent` (else the test's folder).
    HANDLE Start(const wchar_t *name, const std::wstring &parent = L"")
    {
        std::wstring sub = (parent.empty() ? folder_ : parent) + L"\\" + std::to_wstring(started_.size());
        CreateDirectoryW(sub.c_str(), nullptr);
        HANDLE process = StartProgram(L"\"" + CopyOfProgram(L"tests\\idle_program.exe", sub, name) + L"\"");
        EXPECT_NE(nullptr, process);
        started_.push_back(process);
        return process;
    }
    void TearDown() override
    {
        for (HANDLE process : started_) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
        wcscpy(InstallFolder, saved_folder_);
        LoggedFolderTest::TearDown();
    }
    // As Windows guards another user's process: all for LocalSystem, a look and a wait for administrators.
    bool GuardLikeAnotherUsers(HANDLE process)
    {
        PSECURITY_DESCRIPTOR guarded = nullptr;
        bool set = ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;GA;;;SY)(A;;0x101000;;;BA)",
                                                                        SDDL_REVISION_1, &guarded, nullptr) &&
                   SetKernelObjectSecurity(process, DACL_SECURITY_INFORMATION, guarded);
        LocalFree(guarded);
        return set;
    }
    wchar_t saved_folder_[260];
    std::vector<HANDLE> started_;
};

TEST_F(CloseRunningAppTest, EndsEveryInstanceAndNothingElse)
{
    CloseRunningApp();
    EXPECT_EQ("", Log()); // none running: nothing logged

    HANDLE first = Start(L"talvor_gui.exe");
    HANDLE second = Start(L"TALVOR_GUI.EXE");
    HANDLE other = Start(L"talvor_gui2.exe");
    Sleep(500);
    CloseRunningApp();

    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(first, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(second, 0));
    DWORD code = 1;
    GetExitCodeProcess(first, &code);
    EXPECT_EQ(0u, code);
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(other, 0));

    std::string log = Log();
    for (HANDLE process : {first, second})
        EXPECT_NE(std::string::npos, log.find("arayuz kapatildi (pid " + std::to_string(GetProcessId(process)) + ")"));
    std::regex line("arayuz kapatildi");
    EXPECT_EQ(2, std::distance(std::sregex_iterator(log.begin(), log.end(), line), std::sregex_iterator()));
}

// An instance that ended after the list was taken may have left its id to another process: only
// one created before the list and running the tray program counts as listed.
TEST_F(CloseRunningAppTest, OnlyAnOlderProcessRunningTheProgramCountsAsListed)
{
    HANDLE older = Start(L"TALVOR_GUI.EXE"), other = Start(L"talvor_gui2.exe");
    FILETIME listed_at;
    Sleep(50); // apart by more than the tick of the clock that both times are taken with
    GetSystemTimeAsFileTime(&listed_at);
    Sleep(50);
    HANDLE younger = Start(L"talvor_gui.exe");
    EXPECT_TRUE(IsListedProcess(older, L"talvor_gui.exe", &listed_at));
    EXPECT_FALSE(IsListedProcess(other, L"talvor_gui.exe", &listed_at));
    EXPECT_FALSE(IsListedProcess(younger, L"talvor_gui.exe", &listed_at));
    EXPECT_EQ("", Log()); // no query failed
}

// The tray application of another user's session, which the elevated setup may open only with the
// debug privilege: used for a program under the install folder only, as elsewhere a listed id may
// have passed to a service or a critical process. One left or not ended is named in the log.
TEST_F(CloseRunningAppTest, OnlyAnInstanceUnderTheInstallFolderIsOpenedWithTheDebugPrivilege)
{
    HANDLE own = Start(L"talvor_gui.exe", InstallFolder), elsewhere = Start(L"talvor_gui.exe");
    ASSERT_TRUE(GuardLikeAnotherUsers(own) && GuardLikeAnotherUsers(elsewhere));
    Sleep(500);

    CloseRunningApp();
    std::string log = Log(), own_pid = std::to_string(GetProcessId(own));
    std::string elsewhere_pid = std::to_string(GetProcessId(elsewhere));
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(elsewhere, 0));
    EXPECT_NE(std::string::npos, log.find("yetkisiyle acilmadi (pid " + elsewhere_pid + "): ")) << log;
    EXPECT_NE(std::string::npos, log.find("arayuz kapatilamadi (pid " + elsewhere_pid + ", kod 5)")) << log;
    if (RunningUnderWine() && WaitForSingleObject(own, 0) == WAIT_TIMEOUT) {
        EXPECT_NE(std::string::npos, log.find("arayuz kapatilamadi (pid " + own_pid + ", kod 5)")) << log;
        GTEST_SKIP() << "Wine checks a process's security but lets no debug privilege pass it; the ending is "
                        "Windows' to show";
    }
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(own, 0));
    EXPECT_NE(std::string::npos, log.find("arayuz kapatildi (pid " + own_pid + ")")) << log;
}

static bool ServiceExists(const wchar_t *name)
{
    wchar_t image[520];
    return SvcQueryImagePath(name, image, 520);
}

typedef LoggedFolderTest LegacyDriverTest;

TEST_F(LegacyDriverTest, ProductsOwnRegistrationIsRemoved)
{
    RemoveLegacyDriverService();
    EXPECT_EQ("", Log()); // no such service: nothing logged

    ASSERT_TRUE(CreateTestService(L"WinDivert", L"\\??\\C:\\Program Files\\Talvor\\WinDivert64.sys"));
    wchar_t image[520];
    ASSERT_TRUE(SvcQueryImagePath(L"WinDivert", image, 520));
    EXPECT_STREQ(L"\\??\\C:\\Program Files\\Talvor\\WinDivert64.sys", image);
    RemoveLegacyDriverService();
    EXPECT_FALSE(ServiceExists(L"WinDivert"));
    EXPECT_NE(std::string::npos, Log().find("eski WinDivert kaydi kaldiriliyor\r\n"));
    DeleteTestService(L"WinDivert");
}

TEST_F(LegacyDriverTest, RegistrationOfOtherSoftwareStays)
{
    ASSERT_TRUE(CreateTestService(L"WinDivert", L"C:\\Windows\\System32\\drivers\\WinDivert64.sys"));
    RemoveLegacyDriverService();
    EXPECT_TRUE(ServiceExists(L"WinDivert"));
    EXPECT_EQ("", Log());
    DeleteTestService(L"WinDivert");
}

TEST(ServiceControl, MissingServiceCountsAsStoppedAndDeleted)
{
    EXPECT_TRUE(SvcStop(L"TalvorYokBoyleHizmet"));
    EXPECT_TRUE(SvcStopAndDelete(L"TalvorYokBoyleHizmet"));
    wchar_t image[520] = L"dolu";
    EXPECT_FALSE(SvcQueryImagePath(L"TalvorYokBoyleHizmet", image, 520));
    EXPECT_STREQ(L"", image);
    DWORD error = 0;
    EXPECT_EQ(nullptr, SvcOpen(L"TalvorYokBoyleHizmet", SERVICE_QUERY_STATUS, &error));
    EXPECT_EQ((DWORD)ERROR_SERVICE_DOES_NOT_EXIST, error);
}
