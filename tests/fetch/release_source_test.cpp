#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>

#include "app/options.h"
#include "core/process_values.h"
#include "core/progress_state.h"
#include "core/setup_log.h"
#include "fetch/fetch_servers.h"
#include "fetch/release_source.h"
#include "support/installed_product.h"
#include "support/test_signing.h"
#include "support/test_support.h"

namespace {

// Each test gets clean options, progress state and its own log.
class ReleaseSourceTest : public LoggedFolderTest {
protected:
    void SetUp() override
    {
        ParseOptions(0, nullptr, DefaultBaseUrl, &Options);
        memset(&Progress, 0, sizeof Progress);
        LoggedFolderTest::SetUp();
    }
    void TearDown() override
    {
        free(buffer_);
        LoggedFolderTest::TearDown();
    }
    bool Fetch(const char *name, uint32_t max_size, bool progress = false)
    {
        free(buffer_);
        return FetchReleaseFile(name, max_size, progress, 5, &buffer_, &size_);
    }
    void UseServer(const std::wstring &base) { ASSERT_TRUE(SetBaseUrl(&Options, base.c_str())); }

    uint8_t *buffer_ = nullptr;
    uint32_t size_ = 0;
};

} // namespace

TEST_F(ReleaseSourceTest, ProgressLineAndBar)
{
    EXPECT_EQ(1u, DownloadProgress(5, 3145728, 6291456));
    EXPECT_STREQ(L"Program paketi indiriliyor: 3.0 / 6.0 MB", Progress.status_text);
    EXPECT_EQ(32u, Progress.percent); // 5 + 27.5, the fraction cut off
    EXPECT_EQ(0u, Progress.marquee);
    DownloadProgress(5, 0xFFFFFFFFu, 0xFFFFFFFFu); // no overflow in received * 55
    EXPECT_EQ(60u, Progress.percent);

    EXPECT_EQ(1u, DownloadProgress(5, 1572864, 0));
    EXPECT_STREQ(L"Program paketi indiriliyor: 1.5 MB", Progress.status_text);
    EXPECT_EQ(5u, Progress.percent);
    EXPECT_EQ(1u, Progress.marquee);

    RaiseFlag(&Progress.cancel_requested);
    RaiseFlag(&Progress.cancel_locked); // downloads end before the lock; the request still counts
    EXPECT_EQ(0u, DownloadProgress(5, 10, 100));
}

TEST_F(ReleaseSourceTest, LocalFilesAndTheirLimits)
{
    wcscpy(Options.local_folder, folder_.c_str());
    ASSERT_TRUE(WriteFileBytes(folder_ + L"\\paket.tpk", std::string(100, 'p')));
    EXPECT_TRUE(Fetch("paket.tpk", 100));
    EXPECT_EQ(100u, size_);
    EXPECT_FALSE(Fetch("paket.tpk", 99)); // one byte too large
    EXPECT_EQ(nullptr, buffer_);
    ASSERT_TRUE(WriteFileBytes(folder_ + L"\\paket.tpk", ""));
    EXPECT_FALSE(Fetch("paket.tpk", 100)); // an empty file is no release file
    EXPECT_EQ(nullptr, buffer_);
    EXPECT_FALSE(Fetch("yok.tpk", 100));
    EXPECT_NE(std::string::npos, Log().find("CreateFileW basarisiz: " + Utf8(folder_) + "\\yok.tpk (kod 2)"));
}

// A pipe server of the user's for one client: its exit code is the impersonation level it got
// of the client, 100 for none.
static DWORD WINAPI ServeOneClient(void *pipe)
{
    DWORD level = 100;
    if ((ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) && ImpersonateNamedPipeClient(pipe)) {
        HANDLE token;
        SECURITY_IMPERSONATION_LEVEL got;
        DWORD size;
        if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
            if (GetTokenInformation(token, TokenImpersonationLevel, &got, sizeof got, &size))
                level = got;
            CloseHandle(token);
        }
        RevertToSelf();
    }
    return level;
}

// A local folder that leads to a named pipe ("--yerel=\\.\pipe\..."): the setup refuses what
// is no file on a disk, and the pipe's server never gets more than an identification of it.
TEST_F(ReleaseSourceTest, LocalFolderLeadingToAPipeIsRefused)
{
    std::wstring folder = L"\\\\.\\pipe\\talvor-deneme-" + std::to_wstring(GetCurrentProcessId());
    HANDLE pipe = CreateNamedPipeW((folder + L"\\bildirim.tdb").c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 4096,
                                   4096, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
    HANDLE server = CreateThread(nullptr, 0, ServeOneClient, pipe, 0, nullptr);
    wcscpy(Options.local_folder, folder.c_str());

    EXPECT_FALSE(Fetch("bildirim.tdb", 1000));
    DWORD level = 0;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(server, 10000));
    GetExitCodeThread(server, &level);
    CloseHandle(server);
    CloseHandle(pipe);
    EXPECT_TRUE(HasLine(LogLines(LogFile()), "disk dosyasi degil, okunmadi: " + Utf8(folder) + "\\bildirim.tdb"))
        << Log();
    if (RunningUnderWine() && level == SecurityImpersonation)
        GTEST_SKIP() << "Wine ignores SECURITY_IDENTIFICATION on CreateFileW and hands the pipe's server an "
                        "impersonation token; the level is Windows' to show";
    EXPECT_TRUE(level <= SecurityIdentification || level == 100) << level;
}

TEST_F(ReleaseSourceTest, SavingReplacesOrLeavesNothing)
{
    std::wstring path = folder_ + L"\\paket.tpk";
    ASSERT_TRUE(WriteFileBytes(path, "eski ve daha uzun icerik"));
    EXPECT_TRUE(SaveBufferToFile(path.c_str(), (const uint8_t *)"yeni", 4));
    EXPECT_EQ("yeni", ReadFileBytes(path));
    std::wstring missing = folder_ + L"\\yok\\paket.tpk";
    EXPECT_FALSE(SaveBufferToFile(missing.c_str(), (const uint8_t *)"yeni", 4));
    EXPECT_FALSE(FileExists(missing));
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_FALSE(SaveBufferToFile(path.c_str(), (const uint8_t *)"baska", 5)); // in use: nothing changes
    CloseHandle(held);
    EXPECT_EQ("yeni", ReadFileBytes(path));
    // Each refusal is logged with the path and the Windows error: no folder, then a sharing violation.
    std::string log = Log();
    EXPECT_NE(std::string::npos, log.find(" CreateFileW basarisiz: " + Utf8(missing) + " (kod 3)\r\n")) << log;
    EXPECT_NE(std::string::npos, log.find(" CreateFileW basarisiz: " + Utf8(path) + " (kod 32)\r\n")) << log;
}

TEST_F(ReleaseSourceTest, LocalFolderIsUsedWhenGiven)
{
    wcscpy(Options.local_folder, folder_.c_str());
    UseServer(ServerUrl("TALVOR_TEST_REFUSED").empty() ? L"http://127.0.0.1:9/" : ServerUrl("TALVOR_TEST_REFUSED"));
    ASSERT_TRUE(WriteFileBytes(folder_ + L"\\bildirim.tdb", "imzali"));
    EXPECT_TRUE(Fetch("bildirim.tdb", 100));
    EXPECT_EQ("imzali", std::string((const char *)buffer_, size_));
    EXPECT_FALSE(Fetch("yok.tdb", 100));
    std::string log = Log();
    EXPECT_NE(std::string::npos, log.find(" yerel dosya okunuyor: bildirim.tdb\r\n"));
    EXPECT_NE(std::string::npos, log.find(" yerel dosya okunuyor: yok.tdb\r\n"));
    EXPECT_EQ(std::string::npos, log.find("indir")); // the server was never asked
}

TEST_F(ReleaseSourceTest, NameThatIsNotUtf8FailsSilently)
{
    wcscpy(Options.local_folder, folder_.c_str());
    EXPECT_FALSE(Fetch("bildirim\xff.tdb", 100));
    EXPECT_EQ("", Log());
}

TEST_F(ReleaseSourceTest, DownloadsAndLogsByFileName)
{
    REQUIRE_SERVERS();
    UseServer(ServerUrl("TALVOR_TEST_HTTP", "dosyalar/"));
    ASSERT_TRUE(WriteFileBytes(ServedFile("paket-1.0.0.tpk"), std::string(300000, 'k')));
    EXPECT_TRUE(Fetch("paket-1.0.0.tpk", 300000, true));
    EXPECT_EQ(300000u, size_);
    EXPECT_EQ(60u, Progress.percent);
    EXPECT_STREQ(L"Program paketi indiriliyor: 0.3 / 0.3 MB", Progress.status_text);
    EXPECT_FALSE(Fetch("yok.tpk", 1000));
    UseServer(ServerUrl("TALVOR_TEST_REFUSED"));
    EXPECT_FALSE(Fetch("bildirim.tdb", 1000));
    std::string log = Log();
    EXPECT_NE(std::string::npos, log.find(" indiriliyor: paket-1.0.0.tpk\r\n"));
    EXPECT_NE(std::string::npos, log.find(" indirilemedi: yok.tpk (http 404)\r\n"));
    EXPECT_NE(std::string::npos, log.find(" indirilemedi: bildirim.tdb (http 0)\r\n"));
    EXPECT_EQ(std::string::npos, log.find("127.0.0.1")); // names the file, not the address
}

TEST_F(ReleaseSourceTest, CancelStopsThePackageDownload)
{
    REQUIRE_SERVERS();
    UseServer(ServerUrl("TALVOR_TEST_HTTP", "dosyalar/"));
    ASSERT_TRUE(WriteFileBytes(ServedFile("iptal.tpk"), std::string(2000000, 'c')));
    RaiseFlag(&Progress.cancel_requested);
    EXPECT_FALSE(Fetch("iptal.tpk", 2000000, true));
    EXPECT_EQ(nullptr, buffer_);
    EXPECT_NE(std::string::npos, Log().find(" indirilemedi: iptal.tpk (http 200)\r\n"));
}

// A base URL and name too long for the URL buffer would fetch a cut name: refused instead.
TEST_F(ReleaseSourceTest, UrlTooLongIsNotCut)
{
    REQUIRE_SERVERS();
    std::string base = "dosyalar/" + std::string(440, 'd') + "/../";
    UseServer(ServerUrl("TALVOR_TEST_HTTP", base.c_str()));
    EXPECT_FALSE(Fetch("paket-1.0.0.tpk", 1000));
    EXPECT_NE(std::string::npos, Log().find(" indirilemedi: paket-1.0.0.tpk (http 0)\r\n"));
}

TEST_F(ReleaseSourceTest, ReleaseFileFromNginxOverHttps)
{
    REQUIRE_SERVERS();
    if (ServerUrl("TALVOR_TEST_NGINX").empty())
        GTEST_SKIP() << "no nginx beside the test server: the Windows test kit has none, as Debian packages no "
                        "Windows build of it";
    std::string content(123457, 'n');
    for (size_t i = 0; i < content.size(); i++)
        content[i] = (char)(i * 31 + 7);
    ASSERT_TRUE(WriteFileBytes(ServedFile("paket-2.0.0.tpk"), content));
    UseServer(ServerUrl("TALVOR_TEST_NGINX"));
    ASSERT_TRUE(Fetch("paket-2.0.0.tpk", (uint32_t)content.size(), true));
    EXPECT_EQ(content, std::string((const char *)buffer_, size_));
}

TEST_F(ReleaseSourceTest, CheckerDownloadsTheManifest)
{
    REQUIRE_SERVERS();
    TestKey key;
    ASSERT_TRUE(key.ok());
    ASSERT_TRUE(WriteFileBytes(ServedFile("bildirim.tdb"), SignedManifestFile(key, ManifestBody({}))));
    std::wstring checker = L"\"" + BuildPath(L"bin\\talvor-denetle.exe") + L"\" --adres=";
    std::wstring out = folder_ + L"\\cikti.txt";
    auto run = [&](const std::wstring &base) {
        std::wstring line = L"cmd /c \"" + checker + base + L" > \"" + out + L"\"\"";
        long code = RunProgram(line);
        std::string text = ReadFileBytes(out);
        return std::to_string(code) + ":" + text;
    };
    // Signed with a test key, not the built-in one: downloaded, then refused.
    EXPECT_EQ("1:indirme=0\nbildirim=1\n", run(ServerUrl("TALVOR_TEST_HTTP", "dosyalar/")));
    EXPECT_EQ("1:indirme=404\nhata=" + Utf8(L"Sürüm bilgisi alınamadı. İnternet bağlantını denetleyip kurulumu yeniden çalıştır.") + "\n",
              run(ServerUrl("TALVOR_TEST_HTTP", "yok/")));
    EXPECT_EQ("1:indirme=0\nhata=" + Utf8(L"Sürüm bilgisi alınamadı. İnternet bağlantını denetleyip kurulumu yeniden çalıştır.") + "\n",
              run(ServerUrl("TALVOR_TEST_REFUSED")));
}
