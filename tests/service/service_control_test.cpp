#include <gtest/gtest.h>

#include "service/run_program.h"
#include "service/service_control.h"
#include "support/installed_product.h"
#include "support/test_support.h"

#include <regex>
#include <string>
#include <vector>

// The product's service through Wine's real service control manager, run from a copy of the
// service stand-in in a version folder of its own; no test leaves the service behind.
class ProductServiceTest : public LoggedFolderTest {
protected:
    void SetUp() override
    {
        RemoveProductService();
        LoggedFolderTest::SetUp();
        program_ = VersionFolder(L"sürüm 2.0.0");
    }
    void TearDown() override
    {
        RemoveProductService();
        LoggedFolderTest::TearDown();
    }
    std::wstring VersionFolder(const wchar_t *name)
    {
        std::wstring folder = folder_ + L"\\" + name;
        CreateDirectoryW(folder.c_str(), nullptr);
        std::wstring program = folder + L"\\talvor_svc.exe";
        EXPECT_TRUE(CopyFileW(ProductPath(L"talvor_svc.exe").c_str(), program.c_str(), FALSE));
        return program;
    }
    // Registers the copy as the setup does.
    void Kur(const std::wstring &program)
    {
        DWORD code = 1;
        ASSERT_TRUE(RunProgramAndWait(program.c_str(), L"kur", &code));
        ASSERT_EQ(0u, code);
    }
    void Behave(const char *text)
    {
        std::wstring folder = program_.substr(0, program_.find_last_of(L'\\'));
        ASSERT_TRUE(WriteFileBytes(folder + L"\\talvor_svc.davranis", text));
    }
    ServiceState State()
    {
        ServiceState seen = {0, 0};
        SC_HANDLE service = OpenProductService(SERVICE_QUERY_STATUS);
        if (service != nullptr) {
            QueryServiceState(service, seen);
            CloseServiceHandle(service);
        }
        return seen;
    }
    std::wstring program_;
};

TEST_F(ProductServiceTest, StoppedServiceStopsAtTheFirstQuery)
{
    Kur(program_);
    ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(SvcStop(kProductServiceName));
    EXPECT_LT(GetTickCount64() - start, 250u); // no poll pause
}

TEST_F(ProductServiceTest, StartsStaysUpStopsAndIsDeleted)
{
    Kur(program_);
    ASSERT_TRUE(SvcStartAndCheck());
    DWORD pid = State().pid;
    EXPECT_EQ((DWORD)SERVICE_RUNNING, State().state);
    // Already running and staying up in the same process: still a success.
    ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(SvcStartAndCheck());
    EXPECT_GE(GetTickCount64() - start, 3000u);
    EXPECT_EQ(pid, State().pid);

    EXPECT_TRUE(SvcStop(kProductServiceName));
    EXPECT_EQ((DWORD)SERVICE_STOPPED, State().state);
    EXPECT_TRUE(SvcStopAndDelete(kProductServiceName));
    EXPECT_EQ(nullptr, OpenProductService(SERVICE_QUERY_STATUS));
    EXPECT_EQ((DWORD)ERROR_SERVICE_DOES_NOT_EXIST, GetLastError());
    EXPECT_EQ("", Log());
}

TEST_F(ProductServiceTest, ServiceFallingBackToStoppedFailsAfterTheGraceNotTheTimeOut)
{
    Behave("baslamaz 300");
    Kur(program_);
    ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(SvcStartAndCheck());
    ULONGLONG waited = GetTickCount64() - start;
    EXPECT_GT(waited, 2000u);
    EXPECT_LT(waited, 4000u);
}

TEST_F(ProductServiceTest, ServiceStoppingDuringThePauseFailsTheCheck)
{
    Behave("hemen-dur 1000");
    Kur(program_);
    EXPECT_FALSE(SvcStartAndCheck());
}

static DWORD WINAPI StartAndCheck(void *result)
{
    *(bool *)result = SvcStartAndCheck();
    return 0;
}

TEST_F(ProductServiceTest, ServiceRestartedInAnotherProcessDuringThePauseFailsTheCheck)
{
    Kur(program_);
    SC_HANDLE service = OpenProductService(SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    ASSERT_NE(nullptr, service);
    bool healthy = true;
    HANDLE checker = CreateThread(nullptr, 0, StartAndCheck, &healthy, 0, nullptr);
    ASSERT_NE(nullptr, checker);
    ServiceState first = WaitForServiceState(service, SERVICE_RUNNING, 10000);
    ASSERT_EQ((DWORD)SERVICE_RUNNING, first.state);
    SERVICE_STATUS status;
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    ASSERT_EQ((DWORD)SERVICE_STOPPED, WaitForServiceState(service, SERVICE_STOPPED, 2000).state);
    ASSERT_TRUE(StartServiceW(service, 0, nullptr));
    ServiceState second = WaitForServiceState(service, SERVICE_RUNNING, 2000);
    EXPECT_EQ((DWORD)SERVICE_RUNNING, second.state);
    EXPECT_NE(first.pid, second.pid);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(checker, 40000));
    CloseHandle(checker);
    CloseServiceHandle(service);
    EXPECT_FALSE(healthy);
}

TEST_F(ProductServiceTest, RepointLeavesTheQuotedPathAndAutomaticStart)
{
    Kur(program_);
    SC_HANDLE service = OpenProductService(SERVICE_CHANGE_CONFIG);
    ASSERT_TRUE(ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_DEMAND_START, SERVICE_NO_CHANGE, nullptr,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    CloseServiceHandle(service);

    std::wstring next = VersionFolder(L"sürüm 2.1.0");
    ASSERT_TRUE(SvcRepoint(next.c_str()));
    service = OpenProductService(SERVICE_QUERY_CONFIG);
    ASSERT_NE(nullptr, service);
    DWORD needed = 0;
    QueryServiceConfigW(service, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    QUERY_SERVICE_CONFIGW *config = (QUERY_SERVICE_CONFIGW *)buffer.data();
    ASSERT_TRUE(QueryServiceConfigW(service, config, needed, &needed));
    EXPECT_EQ(L"\"" + next + L"\"", std::wstring(config->lpBinaryPathName));
    EXPECT_EQ((DWORD)SERVICE_AUTO_START, config->dwStartType);
    EXPECT_EQ((DWORD)SERVICE_WIN32_OWN_PROCESS, config->dwServiceType);
    CloseServiceHandle(service);

    wchar_t image[520];
    ASSERT_TRUE(SvcQueryImagePath(kProductServiceName, image, 520));
    EXPECT_EQ(next, image);
    // And the service runs from the folder it was pointed at.
    ASSERT_TRUE(SvcStartAndCheck());
    std::wstring record = next.substr(0, next.find_last_of(L'\\')) + L"\\talvor_svc.kayit";
    EXPECT_NE(std::string::npos, ReadFileBytes(record).find("basladi "));
}

TEST_F(ProductServiceTest, ServiceMarkedForDeletionCountsAsDeleted)
{
    Kur(program_);
    SC_HANDLE held = OpenProductService(DELETE | SERVICE_QUERY_STATUS);
    ASSERT_NE(nullptr, held);
    ASSERT_TRUE(DeleteService(held));
    EXPECT_TRUE(SvcStopAndDelete(kProductServiceName));
    CloseServiceHandle(held);
}

TEST_F(ProductServiceTest, FailuresHandBackTheFailingStepsError)
{
    // A name the service control manager refuses: the open's error, not the manager's close's.
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(nullptr, manager);
    SetLastError(0);
    EXPECT_EQ(nullptr, OpenServiceW(manager, L"", DELETE));
    DWORD expected = GetLastError();
    CloseServiceHandle(manager);
    ASSERT_NE(0u, expected);
    ASSERT_NE((DWORD)ERROR_SERVICE_DOES_NOT_EXIST, expected);
    DWORD error = 0;
    EXPECT_FALSE(SvcStopAndDelete(L"", &error));
    EXPECT_EQ(expected, error);
    // No service to repoint: the repoint names the open that found none.
    EXPECT_FALSE(SvcRepoint(L"C:\\yok\\talvor_svc.exe"));
    EXPECT_TRUE(HasLine(LogLines(LogFile()), "OpenServiceW basarisiz: Talvor (kod 1060)")) << Log();

    // A registration whose program is missing cannot start; the log has the code.
    Kur(program_);
    ASSERT_TRUE(SvcRepoint((folder_ + L"\\yok\\talvor_svc.exe").c_str()));
    EXPECT_FALSE(SvcStartAndCheck());
    EXPECT_TRUE(std::regex_search(Log(), std::regex("hizmet baslatilamadi \\(kod [1-9][0-9]*\\)\r\n")));
}
