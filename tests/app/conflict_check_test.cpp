#include <gtest/gtest.h>

#include <string>

#include "app/conflict_check.h"
#include "support/test_support.h"

TEST(ConflictCheck, NothingFoundOnACleanMachine)
{
    EXPECT_FALSE(ProcessRunning());
    EXPECT_EQ(0, DetectConflictingSoftware());
}

TEST(ConflictCheck, RegisteredDriverServiceAloneIsEnough)
{
    ASSERT_TRUE(CreateTestService(L"klif"));
    int found = DetectConflictingSoftware();
    DeleteTestService(L"klif");
    EXPECT_EQ(1, found);
    EXPECT_EQ(0, DetectConflictingSoftware());
}

TEST(ConflictCheck, ServiceNamesAreLookedUpWhole)
{
    ASSERT_TRUE(CreateTestService(L"klifx"));
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(nullptr, manager);
    EXPECT_TRUE(ServiceKnown(manager, L"klifx"));
    EXPECT_FALSE(ServiceKnown(manager, L"klif"));
    CloseServiceHandle(manager);
    int found = DetectConflictingSoftware();
    DeleteTestService(L"klifx");
    EXPECT_EQ(0, found);
}

TEST(ConflictCheck, RunningProcessFoundWhateverTheCaseOfItsName)
{
    std::wstring folder = MakeTempFolder(L"conflict");
    ASSERT_FALSE(folder.empty());
    std::wstring image = folder + L"\\AVPUI.EXE";
    ASSERT_TRUE(CopyFileW(BuildPath(L"tests\\idle_program.exe").c_str(), image.c_str(), FALSE));
    HANDLE process = StartProgram(L"\"" + image + L"\"");
    ASSERT_NE(nullptr, process);
    bool running = ProcessRunning();
    int found = DetectConflictingSoftware();
    TerminateProcess(process, 0);
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
    RemoveFolder(folder);
    EXPECT_TRUE(running);
    EXPECT_EQ(1, found);
    EXPECT_FALSE(ProcessRunning());
}

TEST(ConflictCheck, WarningTextIsUtf8)
{
    wchar_t warning[600];
    ASSERT_GT(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, ConflictWarningText(), -1, warning, 600), 0);
    EXPECT_EQ(0, wcsncmp(L"Kaspersky kurulu. Kaspersky, Talvor'ın kullandığı WinDivert", warning, 59));
}
