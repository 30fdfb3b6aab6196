// The install sequence called inside this test program, as the progress page's worker calls it:
// cancel requests at their moments, the finishing texts, and an install folder too long for the
// sequence's paths.
#include <gtest/gtest.h>

#include "app/worker.h"
#include "app/options.h"
#include "core/own_image.h"
#include "core/process_values.h"
#include "core/progress_state.h"
#include "core/setup_log.h"
#include "support/installed_product.h"
#include "support/test_support.h"

#include <string.h>

#include <string>

namespace {

class InstallSequenceTest : public LoggedFolderTest {
protected:
    void SetUp() override
    {
        LoggedFolderTest::SetUp();
        REQUIRE_DEVELOPMENT_KEY();
        // The sequence writes the uninstaller copy from the running program's file, as the
        // setup's entry opens it: here that program is this test.
        static bool own_image_opened = OpenOwnImage();
        ASSERT_TRUE(own_image_opened);
        RemoveProductCompletely();
        ResetProcessValues();
    }
    void TearDown() override
    {
        RemoveProductCompletely();
        LoggedFolderTest::TearDown();
    }
    void ResetProcessValues()
    {
        ParseOptions(0, nullptr, DefaultBaseUrl, &Options);
        wcscpy(InstallFolder, kProductFolder);
    }
    // Publishes a release into a folder of its own and points the options at it.
    void UseRelease(const std::string &version, const std::vector<std::pair<std::string, std::string>> &extra = {})
    {
        std::wstring release = folder_ + L"\\" + Utf8ToWide(version) + L"-" + std::to_wstring(++published_);
        ASSERT_TRUE(CreateDirectoryW(release.c_str(), nullptr));
        ASSERT_TRUE(PublishProductRelease(release, version, "", extra));
        wcscpy(Options.local_folder, release.c_str());
    }
    // One run of the worker body from a fresh progress state, the cancel flag raised first when
    // asked, or raised by a second thread once the status shows `cancel_on`.
    bool Run(bool cancel_first = false, const wchar_t *cancel_on = nullptr)
    {
        memset(&Progress, 0, sizeof Progress);
        if (cancel_first)
            RaiseFlag(&Progress.cancel_requested);
        if (cancel_on == nullptr)
            WorkerThread(nullptr);
        else
            EXPECT_TRUE(RunCancellingOnStatus(cancel_on, [] { WorkerThread(nullptr); })) << "no cancel while it showed "
                                                                                         << Utf8(cancel_on);
        return Progress.succeeded != 0;
    }
    std::string Result() const { return Utf8(Progress.result_text); }
    int published_ = 0;
};

} // namespace

// A request that came while the local package was read (no progress call there) is caught right
// after it: the copied package goes and nothing else has changed.
TEST_F(InstallSequenceTest, CancelBeforeTheUnpackLeavesNothing)
{
    UseRelease("1.0.0");
    EXPECT_FALSE(Run(true));
    EXPECT_EQ("Kurulumdan vazgeçildi. Bilgisayarında hiçbir şey değiştirilmedi.", Result());
    EXPECT_TRUE(StoreEntries().empty());
    EXPECT_EQ("-", PointerFile(L"guncel"));
    EXPECT_FALSE(QueryProductService().exists);
}

// Past the download a cancel request no longer stops the install, and the finishing texts tell
// a first install (with or without the desktop), a reinstall and an update apart.
TEST_F(InstallSequenceTest, CancelWhileUnpackingIsIgnoredAndFinishingTextsFit)
{
    // A large file keeps the unpacking going long enough for the request to arrive during it.
    UseRelease("1.0.0", {{"veri.bin", std::string(48 << 20, 'v')}});
    Options.desktop_shortcut = false;
    ASSERT_TRUE(Run(false, L"Dosyalar açılıyor…")) << Result();
    EXPECT_EQ("Talvor 1.0.0 kuruldu ve hizmeti çalışıyor. Başlat menüsünden açabilirsin; Windows açılınca "
              "kendiliğinden başlar.",
              Result());

    Options.desktop_shortcut = true;
    ASSERT_TRUE(Run()) << Result();
    EXPECT_EQ("Talvor 1.0.0 kuruldu ve hizmeti çalışıyor. Başlat menüsünden ya da masaüstünden açabilirsin; "
              "Windows açılınca kendiliğinden başlar.",
              Result());

    UseRelease("1.2.0");
    ASSERT_TRUE(Run()) << Result();
    EXPECT_EQ("Talvor 1.0.0 sürümünden 1.2.0 sürümüne güncellendi. Ayarların korundu ve hizmet çalışıyor.", Result());
    EXPECT_EQ(100u, Progress.percent);
    EXPECT_EQ(L"Kurulum tamamlandı.", std::wstring(Progress.status_text));
}

// The longest path the install forms is the backup folder's name. An install folder that leaves
// no room for it is refused before the package is fetched or anything is created.
TEST_F(InstallSequenceTest, InstallFolderTooLongForItsPathsChangesNothing)
{
    UseRelease("1.0.0");
    std::wstring parent = folder_ + L"\\" + std::wstring(240 - folder_.size() - 1, L'k');
    ASSERT_TRUE(CreateDirectoryW(parent.c_str(), nullptr));
    wcscpy(InstallFolder, parent.c_str());
    EXPECT_FALSE(Run());
    EXPECT_EQ("Kurulum klasörünün yolu çok uzun. Bilgisayarında hiçbir şey değiştirilmedi.", Result());
    EXPECT_FALSE(FileExists(parent + L"\\surumler"));
    EXPECT_EQ(std::string::npos, Log().find("paket-1.0.0.tpk\r\n")) << Log();
    EXPECT_FALSE(QueryProductService().exists);
}
