// The service stand-in through the real service control manager: its "kur" run, its life as the
// service "Talvor", and each misbehaviour its behaviour file asks for. Every test runs a copy of
// its own in a temporary folder and leaves no "Talvor" service behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

#ifndef EVENT_QUERY_STATE
#define EVENT_QUERY_STATE 0x0001
#endif

namespace {

struct ServiceConfig {
    std::wstring image;
    DWORD type;
    DWORD start;
};

bool QueryConfig(ServiceConfig &out)
{
    SC_HANDLE service = OpenProductService(SERVICE_QUERY_CONFIG);
    if (service == nullptr)
        return false;
    DWORD needed = 0;
    QueryServiceConfigW(service, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed + sizeof(QUERY_SERVICE_CONFIGW));
    auto config = (QUERY_SERVICE_CONFIGW *)buffer.data();
    bool ok = QueryServiceConfigW(service, config, (DWORD)buffer.size(), &needed);
    if (ok)
        out = {config->lpBinaryPathName, config->dwServiceType, config->dwStartType};
    CloseServiceHandle(service);
    return ok;
}

bool ProcessEnds(DWORD pid, DWORD timeout_ms)
{
    // Only a process id that names no process counts as ended: a refused open is no proof.
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr)
        return GetLastError() == ERROR_INVALID_PARAMETER;
    bool ended = WaitForSingleObject(process, timeout_ms) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size())
        lines.push_back(text.substr(start) + "<no line end>");
    return lines;
}

std::string Line(const char *event, DWORD pid)
{
    return std::string(event) + " " + std::to_string(pid);
}

// Whether the release event lets an administrator who did not make it set it, as an elevated test
// must when the service runs as LocalSystem: checked for the test's own token with its user and
// every group but the Administrators made deny-only.
bool AnotherAdministratorMaySetTheReleaseEvent()
{
    BYTE descriptor[1024], groups_buffer[4096], user[256], admins[SECURITY_MAX_SID_SIZE];
    DWORD descriptor_size = 0, groups_size = 0, user_size = 0, admins_size = sizeof admins;
    HANDLE event = OpenEventW(READ_CONTROL, FALSE, L"Global\\talvor_svc_birak");
    HANDLE own = nullptr, restricted = nullptr, token = nullptr;
    bool read = event != nullptr &&
                GetKernelObjectSecurity(event, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                                   DACL_SECURITY_INFORMATION,
                                        descriptor, sizeof descriptor, &descriptor_size) &&
                CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &admins_size) &&
                OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &own) &&
                GetTokenInformation(own, TokenGroups, groups_buffer, sizeof groups_buffer, &groups_size) &&
                GetTokenInformation(own, TokenUser, user, sizeof user, &user_size);
    std::vector<SID_AND_ATTRIBUTES> deny_only;
    if (read) {
        deny_only.push_back(((TOKEN_USER *)user)->User);
        TOKEN_GROUPS *groups = (TOKEN_GROUPS *)groups_buffer;
        for (DWORD i = 0; i < groups->GroupCount; i++)
            if (!EqualSid(groups->Groups[i].Sid, admins) && !(groups->Groups[i].Attributes & SE_GROUP_INTEGRITY))
                deny_only.push_back(groups->Groups[i]);
    }
    GENERIC_MAPPING mapping = {STANDARD_RIGHTS_READ | EVENT_QUERY_STATE, STANDARD_RIGHTS_WRITE | EVENT_MODIFY_STATE,
                               STANDARD_RIGHTS_EXECUTE | SYNCHRONIZE, EVENT_ALL_ACCESS};
    PRIVILEGE_SET privileges;
    DWORD privileges_size = sizeof privileges, granted = 0;
    BOOL allowed = FALSE;
    EXPECT_TRUE(read &&
                CreateRestrictedToken(own, 0, (DWORD)deny_only.size(), deny_only.data(), 0, nullptr, 0, nullptr,
                                      &restricted) &&
                DuplicateToken(restricted, SecurityImpersonation, &token) &&
                AccessCheck(descriptor, token, EVENT_MODIFY_STATE | SYNCHRONIZE, &mapping, &privileges,
                            &privileges_size, &granted, &allowed))
        << GetLastError();
    for (HANDLE handle : {event, own, restricted, token})
        if (handle != nullptr)
            CloseHandle(handle);
    return allowed != FALSE;
}

class ServiceStandIn : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveProductService();
        temp_ = MakeTempFolder(L"svc");
        ASSERT_FALSE(temp_.empty());
        // As under Program Files: a blank and a Turkish letter in the path.
        folder_ = temp_ + L"\\sürüm 1.0.0";
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
        ASSERT_TRUE(CopyFileW(ProductPath(L"talvor_svc.exe").c_str(), Program().c_str(), FALSE));
    }

    void TearDown() override
    {
        if (service_ != nullptr)
            CloseServiceHandle(service_);
        RemoveProductService();
        RemoveFolder(temp_);
    }

    std::wstring Program() const { return folder_ + L"\\talvor_svc.exe"; }
    std::vector<std::string> Record() const { return Lines(ReadFileBytes(folder_ + L"\\talvor_svc.kayit")); }

    void Behave(const char *text) { ASSERT_TRUE(WriteFileBytes(folder_ + L"\\talvor_svc.davranis", text)); }

    // As the setup runs it: its own folder as working directory.
    long Kur(const std::wstring &program) const
    {
        std::wstring folder = program.substr(0, program.find_last_of(L'\\'));
        return RunProgram(L"\"" + program + L"\" kur", 60000, folder);
    }

    // Registers this copy and starts it; keeps the service open in service_.
    // Registers and starts the service; a failure says which step failed and why.
    bool KurAndStart()
    {
        long kur = Kur(Program());
        if (kur != 0) {
            ADD_FAILURE() << "kur ended with " << kur << "; its record: " << ReadFileBytes(folder_ + L"\\talvor_svc.kayit");
            return false;
        }
        service_ = OpenProductService(SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
        if (service_ == nullptr || !StartServiceW(service_, 0, nullptr)) {
            ADD_FAILURE() << (service_ == nullptr ? "OpenService" : "StartService") << " failed with " << GetLastError();
            return false;
        }
        return true;
    }

    ServiceState StartedAndRunning()
    {
        EXPECT_TRUE(KurAndStart());
        ServiceState running = WaitForServiceState(service_, SERVICE_RUNNING, 30000);
        EXPECT_EQ((DWORD)SERVICE_RUNNING, running.state);
        return running;
    }

    bool RequestStop()
    {
        SERVICE_STATUS status;
        return ControlService(service_, SERVICE_CONTROL_STOP, &status);
    }

    std::wstring temp_;
    std::wstring folder_; // the version directory the service runs from
    SC_HANDLE service_ = nullptr;
};

} // namespace

TEST_F(ServiceStandIn, KurRegistersItsQuotedPathAndRepointsAnExistingService)
{
    ULONGLONG start = GetTickCount64();
    ASSERT_EQ(0, Kur(Program()));
    EXPECT_LT(GetTickCount64() - start, 10000u);
    ServiceConfig config;
    ASSERT_TRUE(QueryConfig(config));
    EXPECT_EQ(L"\"" + Program() + L"\"", config.image);
    EXPECT_EQ((DWORD)SERVICE_WIN32_OWN_PROCESS, config.type);
    std::vector<std::string> record = Record();
    ASSERT_EQ(1u, record.size());
    EXPECT_EQ(0u, record[0].rfind("kur ", 0)) << record[0];

    // A second version directory takes the existing registration over.
    std::wstring other = temp_ + L"\\sürüm 2.0.0";
    ASSERT_TRUE(CreateDirectoryW(other.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(Program().c_str(), (other + L"\\talvor_svc.exe").c_str(), FALSE));
    ASSERT_EQ(0, Kur(other + L"\\talvor_svc.exe"));
    ASSERT_TRUE(QueryConfig(config));
    EXPECT_EQ(L"\"" + other + L"\\talvor_svc.exe\"", config.image);
    EXPECT_EQ(1u, Lines(ReadFileBytes(other + L"\\talvor_svc.kayit")).size());
    EXPECT_EQ(1u, Record().size());
}

TEST_F(ServiceStandIn, RunsInOneProcessUntilAskedToStop)
{
    ULONGLONG start = GetTickCount64();
    ServiceState running = StartedAndRunning();
    EXPECT_LT(GetTickCount64() - start, 10000u);
    ASSERT_NE(0u, running.pid);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, running.pid);
    ASSERT_NE(nullptr, process);

    Sleep(3000);
    ServiceState later = {0, 0};
    EXPECT_TRUE(QueryServiceState(service_, later));
    EXPECT_EQ((DWORD)SERVICE_RUNNING, later.state);
    EXPECT_EQ(running.pid, later.pid);
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(process, 0));

    start = GetTickCount64();
    EXPECT_TRUE(RequestStop());
    EXPECT_EQ((DWORD)SERVICE_STOPPED, WaitForServiceState(service_, SERVICE_STOPPED, 30000).state);
    EXPECT_LT(GetTickCount64() - start, 5000u);
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(process, 5000));
    CloseHandle(process);

    std::vector<std::string> record = Record();
    ASSERT_EQ(4u, record.size());
    EXPECT_EQ(Line("basladi", running.pid), record[1]);
    EXPECT_EQ(Line("durduruluyor", running.pid) + " 0", record[2]);
    EXPECT_EQ(Line("durdu", running.pid), record[3]);
}

TEST_F(ServiceStandIn, KurHataFailsAndRegistersNothing)
{
    Behave("kur-hata\r\n");
    EXPECT_NE(0, Kur(Program()));
    EXPECT_EQ(nullptr, OpenProductService(SERVICE_QUERY_CONFIG));
    EXPECT_EQ((DWORD)ERROR_SERVICE_DOES_NOT_EXIST, GetLastError());
    std::vector<std::string> record = Record();
    ASSERT_EQ(1u, record.size());
    EXPECT_EQ(0u, record[0].rfind("kur-hata ", 0)) << record[0];
}

TEST_F(ServiceStandIn, HemenDurStopsRightAfterReachingRunning)
{
    Behave("hemen-dur");
    ASSERT_TRUE(KurAndStart());
    EXPECT_EQ((DWORD)SERVICE_STOPPED, WaitForServiceState(service_, SERVICE_STOPPED, 5000).state);
    std::vector<std::string> record = Record();
    ASSERT_EQ(3u, record.size());
    ASSERT_EQ(0u, record[1].rfind("basladi ", 0)) << record[1];
    DWORD pid = (DWORD)std::stoul(record[1].substr(8));
    EXPECT_EQ(Line("durdu", pid), record[2]);
    EXPECT_TRUE(ProcessEnds(pid, 5000));
}

TEST_F(ServiceStandIn, YavasDurStopsOnlyAfterTheGivenDelay)
{
    Behave("yavas-dur 4000");
    ServiceState running = StartedAndRunning();
    ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(RequestStop());
    ServiceState pending = WaitForServiceState(service_, SERVICE_STOPPED, 2500);
    EXPECT_EQ((DWORD)SERVICE_STOP_PENDING, pending.state);
    EXPECT_EQ(running.pid, pending.pid);
    EXPECT_EQ((DWORD)SERVICE_STOPPED, WaitForServiceState(service_, SERVICE_STOPPED, 10000).state);
    EXPECT_GE(GetTickCount64() - start, 3900u);
    EXPECT_TRUE(ProcessEnds(running.pid, 5000));
    std::vector<std::string> record = Record();
    ASSERT_EQ(4u, record.size());
    EXPECT_EQ(Line("durduruluyor", running.pid) + " 4000", record[2]);
    EXPECT_EQ(Line("durdu", running.pid), record[3]);
}

// Without a delay a slow stop, and then a slow start, last until the test releases them.
TEST_F(ServiceStandIn, SlowStopAndStartWithoutADelayLastUntilReleased)
{
    Behave("yavas-dur");
    ServiceState running = StartedAndRunning();
    EXPECT_TRUE(AnotherAdministratorMaySetTheReleaseEvent());
    ASSERT_TRUE(RequestStop());
    EXPECT_EQ((DWORD)SERVICE_STOP_PENDING, WaitForServiceState(service_, SERVICE_STOPPED, 1500).state);
    ReleaseHeldService();
    EXPECT_EQ((DWORD)SERVICE_STOPPED, WaitForServiceState(service_, SERVICE_STOPPED, 10000).state);
    EXPECT_TRUE(ProcessEnds(running.pid, 5000));
    std::vector<std::string> record = Record();
    ASSERT_EQ(4u, record.size());
    EXPECT_EQ(Line("durduruluyor", running.pid) + " birakilinca", record[2]);

    Behave("yavas-basla");
    ASSERT_TRUE(StartServiceW(service_, 0, nullptr));
    EXPECT_EQ((DWORD)SERVICE_START_PENDING, WaitForServiceState(service_, SERVICE_RUNNING, 1500).state);
    ReleaseHeldService();
    EXPECT_EQ((DWORD)SERVICE_RUNNING, WaitForServiceState(service_, SERVICE_RUNNING, 10000).state);
}

TEST_F(ServiceStandIn, CokerEndsItsProcessDuringTheStabilityPause)
{
    Behave("coker");
    ServiceState running = StartedAndRunning();
    ULONGLONG seen = GetTickCount64();
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, running.pid);
    ASSERT_NE(nullptr, process);
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(process, 3000));
    ULONGLONG ended = GetTickCount64() - seen;
    CloseHandle(process);
    EXPECT_GE(ended, 300u); // long enough for the setup to see it running first
    if (ended < 3000)
        Sleep((DWORD)(3000 - ended));

    // Windows marks the service stopped; Wine's manager goes on reporting it running in the
    // ended process. Either way it no longer runs where it started.
    ServiceState after = {0, 0};
    EXPECT_TRUE(QueryServiceState(service_, after));
    EXPECT_FALSE(after.state == SERVICE_RUNNING && after.pid == running.pid && !ProcessEnds(after.pid, 0))
        << "state " << after.state << ", process " << after.pid;
    std::vector<std::string> record = Record();
    ASSERT_EQ(3u, record.size());
    EXPECT_EQ(Line("basladi", running.pid), record[1]);
    EXPECT_EQ(Line("cikti", running.pid), record[2]);
}

// baslarken-coker ends its process while start-pending, never running; gec-cik reports stopped
// and keeps its process, with WinDivert.dll held open, for the delay after.
TEST_F(ServiceStandIn, StartThatCrashesAndProcessThatOutlivesItsStop)
{
    Behave("baslarken-coker 300");
    ASSERT_TRUE(KurAndStart());
    ServiceState starting = WaitForServiceState(service_, SERVICE_START_PENDING, 5000);
    ASSERT_NE(0u, starting.pid);
    EXPECT_TRUE(ProcessEnds(starting.pid, 5000));
    EXPECT_NE((DWORD)SERVICE_RUNNING, WaitForServiceState(service_, SERVICE_RUNNING, 1000).state);
    EXPECT_EQ(Line("cikti", starting.pid), Record().back());
    RemoveProductService();
    CloseServiceHandle(service_);
    service_ = nullptr;

    Behave("gec-cik 2000");
    std::wstring library = folder_ + L"\\WinDivert.dll";
    ASSERT_TRUE(CopyFileW(ProductPath(L"WinDivert.dll").c_str(), library.c_str(), FALSE));
    ServiceState running = StartedAndRunning();
    ASSERT_TRUE(RequestStop());
    EXPECT_EQ((DWORD)SERVICE_STOPPED, WaitForServiceState(service_, SERVICE_STOPPED, 5000).state);
    EXPECT_FALSE(DeleteFileW(library.c_str()));
    EXPECT_FALSE(ProcessEnds(running.pid, 500));
    EXPECT_TRUE(ProcessEnds(running.pid, 5000));
}
