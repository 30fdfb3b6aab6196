// Acquisition from the update server: the loopback test server that with_servers.sh starts.
#include <gtest/gtest.h>

#include "app/worker.h"
#include "app/options.h"
#include "core/process_values.h"
#include "core/progress_state.h"
#include "fetch/fetch_servers.h"
#include "fetch/http_download.h"
#include "install/acquisition.h"
#include "release/signature.h"
#include "support/installed_product.h"
#include "support/test_package.h"
#include "support/test_signing.h"
#include "support/test_support.h"

#include <string.h>

#include <string>

namespace {

class ServerAcquisitionTest : public LoggedFolderTest {
protected:
    void SetUp() override
    {
        LoggedFolderTest::SetUp();
        REQUIRE_SERVERS();
        ParseOptions(0, nullptr, DefaultBaseUrl, &Options);
        memset(&Progress, 0, sizeof Progress);
        ASSERT_TRUE(SetBaseUrl(&Options, ServerUrl("TALVOR_TEST_HTTP", "dosyalar/").c_str()));
        target_ = folder_ + L"\\4.0.0.tpk";
    }
    // An entry for a package served under `name` with these bytes.
    ProgramEntry Entry(const char *name, const std::string &bytes)
    {
        ProgramEntry entry = {};
        strcpy(entry.name, "program");
        strcpy(entry.version, "4.0.0");
        memcpy(entry.sha256, Sha256Of(bytes).data(), 32);
        entry.size = bytes.size();
        strcpy(entry.package_file, name);
        return entry;
    }
    std::string Result() const { return Utf8(Progress.result_text); }
    std::wstring target_;
};

uint32_t CountCall(uintptr_t context, uint32_t, uint32_t)
{
    (*(unsigned *)context)++;
    return 1;
}

} // namespace

TEST_F(ServerAcquisitionTest, SignedReleaseFromTheServer)
{
    TestKey key(DevelopmentKeyFile());
    ASSERT_TRUE(key.ok());
    REQUIRE_DEVELOPMENT_KEY();
    std::string package(300000, 'q');
    ASSERT_TRUE(WriteFileBytes(ServedFile("sunucu-4.0.0.tpk"), package));
    ManifestLayout layout;
    layout.records = {{9, "program|4.0.0|" + HexOf(Sha256Of(package)) + "|300000|sunucu-4.0.0.tpk"}};
    layout.b = 1765000500;
    ASSERT_TRUE(WriteFileBytes(ServedFile("bildirim.tdb"), SignedManifestFile(key, ManifestBody(layout))));
    wcscpy(InstallFolder, folder_.c_str());

    ProgramEntry entry;
    ASSERT_TRUE(AcquireManifest(&entry));
    ASSERT_TRUE(AcquirePackage(&entry, target_.c_str()));
    EXPECT_EQ(package, ReadFileBytes(target_));
    std::string log = Log();
    size_t chosen = log.find("kurulacak surum: 4.0.0 (sunucu-4.0.0.tpk, 300000 bayt)");
    size_t verified = log.find("paket dogrulandi");
    ASSERT_NE(std::string::npos, chosen);
    ASSERT_NE(std::string::npos, verified);
    EXPECT_LT(log.find("bildirim.tdb"), chosen);
    EXPECT_NE(std::string::npos, log.find("sunucu-4.0.0.tpk", chosen + 40));
    EXPECT_LT(log.find("sunucu-4.0.0.tpk", chosen + 40), verified);

    // Once that manifest is kept, the server's older one is refused.
    ASSERT_TRUE(WriteFileBytes(folder_ + L"\\bildirim.tdb", ReadFileBytes(ServedFile("bildirim.tdb"))));
    layout.b--;
    ASSERT_TRUE(WriteFileBytes(ServedFile("bildirim.tdb"), SignedManifestFile(key, ManifestBody(layout))));
    EXPECT_FALSE(AcquireManifest(&entry));
    EXPECT_EQ(0u, Result().find(Utf8(L"Sunulan sürüm bilgisi kurulu olandan eski (yayın 1765000499 < 1765000500)")));
}

TEST_F(ServerAcquisitionTest, FailuresFromTheServerHaveTheirMessages)
{
    ASSERT_TRUE(SetBaseUrl(&Options, ServerUrl("TALVOR_TEST_HTTP", "yok/").c_str()));
    ProgramEntry entry;
    EXPECT_FALSE(AcquireManifest(&entry));
    EXPECT_EQ(Utf8(L"Sürüm bilgisi alınamadı. İnternet bağlantını denetleyip kurulumu yeniden çalıştır."), Result());

    entry = Entry("sunucuda-yok.tpk", "x");
    ASSERT_TRUE(WriteFileBytes(target_, "an older file"));
    EXPECT_FALSE(AcquirePackage(&entry, target_.c_str()));
    EXPECT_EQ(Utf8(L"Program paketi indirilemedi. İnternet bağlantını denetleyip yeniden dene."), Result());
    EXPECT_FALSE(FileExists(target_));

    ASSERT_TRUE(SetBaseUrl(&Options, ServerUrl("TALVOR_TEST_HTTP", "dosyalar/").c_str()));
    std::string package(1000, 'k');
    ASSERT_TRUE(WriteFileBytes(ServedFile("degismis-4.0.0.tpk"), "K" + package.substr(1)));
    entry = Entry("degismis-4.0.0.tpk", package);
    EXPECT_FALSE(AcquirePackage(&entry, target_.c_str()));
    EXPECT_EQ(Utf8(L"Program paketi imzalı sürüm bilgisiyle eşleşmedi; kullanılmadı."), Result());
    EXPECT_FALSE(FileExists(target_));

    // A cancel request ends the download after its first read, whatever the lock says.
    RaiseFlag(&Progress.cancel_locked);
    RaiseFlag(&Progress.cancel_requested);
    ASSERT_TRUE(WriteFileBytes(ServedFile("degismis-4.0.0.tpk"), package));
    EXPECT_FALSE(AcquirePackage(&entry, target_.c_str()));
    EXPECT_EQ(Utf8(L"Kurulumdan vazgeçildi. Bilgisayarında hiçbir şey değiştirilmedi."), Result());
    EXPECT_FALSE(FileExists(target_));
}

TEST_F(ServerAcquisitionTest, CancelDuringTheDownloadStopsIt)
{
    // 8 MiB with a pause after each: the cancel surely comes while bytes are still arriving.
    ASSERT_TRUE(SetBaseUrl(&Options, ServerUrl("TALVOR_TEST_HTTP", "yavas/200/").c_str()));
    std::string package(8 << 20, 'b');
    ASSERT_TRUE(WriteFileBytes(ServedFile("iptal-4.0.0.tpk"), package));
    // A cancel takes effect between two reads; it needs a download that arrives in more than one.
    unsigned calls = 0;
    uint8_t *body = nullptr;
    uint32_t size = 0, http_status = 0;
    ASSERT_EQ(StatusOk, HttpDownload((ServerUrl("TALVOR_TEST_HTTP", "yavas/200/") + L"iptal-4.0.0.tpk").c_str(),
                                     (uint32_t)package.size(), 30000, CountCall, (uintptr_t)&calls, &body, &size,
                                     &http_status));
    free(body);
    if (calls < 2)
        GTEST_SKIP() << "Wine's WinHttpReadData returns only when the whole amount asked for has arrived ("
                     << calls << " read for 8 MiB paced over 1.6 s), so there is no moment between two reads to cancel in";
    ProgramEntry entry = Entry("iptal-4.0.0.tpk", package);
    bool acquired = true;
    // The download's progress line replaces the status once the first bytes are in.
    EXPECT_TRUE(RunCancellingOnStatus(L" MB", [&] { acquired = AcquirePackage(&entry, target_.c_str()); }))
        << "the cancel did not come while bytes were arriving";
    EXPECT_FALSE(acquired);
    EXPECT_EQ(Utf8(L"Kurulumdan vazgeçildi. Bilgisayarında hiçbir şey değiştirilmedi."), Result());
    EXPECT_FALSE(FileExists(target_));
    EXPECT_NE(std::string::npos, Log().find("indirilemedi: iptal-4.0.0.tpk"));
}

// The whole install asked to stop while its package comes slowly from the server: whether the
// download's progress call or the check after it sees the request, nothing is installed and no
// package stays in the store.
TEST_F(ServerAcquisitionTest, InstallCancelledDuringTheDownloadChangesNothing)
{
    REQUIRE_DEVELOPMENT_KEY();
    RemoveProductCompletely();
    std::wstring served = ServedFile("");
    served.pop_back();
    ASSERT_TRUE(PublishProductRelease(served, "4.1.0", "", {{"dolgu.bin", std::string(8 << 20, 'd')}}));
    ASSERT_TRUE(SetBaseUrl(&Options, ServerUrl("TALVOR_TEST_HTTP", "yavas/200/").c_str()));
    wcscpy(InstallFolder, kProductFolder);

    EXPECT_TRUE(RunCancellingOnStatus(L"Program paketi indiriliyor", [] { WorkerThread(nullptr); }));
    EXPECT_FALSE(Progress.succeeded);
    EXPECT_EQ(Utf8(L"Kurulumdan vazgeçildi. Bilgisayarında hiçbir şey değiştirilmedi."), Result());
    EXPECT_TRUE(StoreEntries().empty());
    EXPECT_EQ("-", PointerFile(L"guncel"));
    EXPECT_FALSE(QueryProductService().exists);
    RemoveProductCompletely();
}
