#include <gtest/gtest.h>

#include "app/options.h"
#include "core/process_values.h"
#include "core/progress_state.h"
#include "install/acquisition.h"
#include "support/installed_product.h"
#include "support/test_package.h"
#include "support/test_signing.h"
#include "support/test_support.h"

#include <string.h>

#include <string>

// A release folder signed with the development key, which the tests' setup trusts.
class AcquisitionTest : public LoggedFolderTest {
protected:
    void SetUp() override
    {
        LoggedFolderTest::SetUp();
        ParseOptions(0, nullptr, DefaultBaseUrl, &Options);
        memset(&Progress, 0, sizeof Progress);
        release_ = folder_ + L"\\yayin";
        ASSERT_TRUE(CreateDirectoryW(release_.c_str(), nullptr));
        wcscpy(Options.local_folder, release_.c_str());
        ASSERT_TRUE(key_.ok());
        REQUIRE_DEVELOPMENT_KEY();
        package_ = std::string(5000, 'p') + "sonu";
        target_ = folder_ + L"\\2.1.0.tpk";
    }
    void Publish(const std::string &program_line)
    {
        ManifestLayout layout;
        layout.records = {{9, program_line}};
        ASSERT_TRUE(WriteFileBytes(release_ + L"\\bildirim.tdb", SignedManifestFile(key_, ManifestBody(layout))));
    }
    std::string ProgramLine(const std::string &version = "2.1.0", uint64_t size = 0)
    {
        return "program|" + version + "|" + HexOf(Sha256Of(package_)) + "|" +
               std::to_string(size ? size : package_.size()) + "|paket-2.1.0.tpk";
    }
    void PublishPackage(const std::string &bytes)
    {
        ASSERT_TRUE(WriteFileBytes(release_ + L"\\paket-2.1.0.tpk", bytes));
    }
    std::string Result() const { return Utf8(Progress.result_text); }

    TestKey key_{DevelopmentKeyFile()};
    std::wstring release_;
    std::wstring target_;
    std::string package_;
    ProgramEntry entry_;
};

TEST_F(AcquisitionTest, TakesTheSignedReleaseAndLogsInOrder)
{
    Publish(ProgramLine());
    PublishPackage(package_);
    ASSERT_TRUE(AcquireManifest(&entry_));
    EXPECT_STREQ("2.1.0", entry_.version);
    EXPECT_STREQ("paket-2.1.0.tpk", entry_.package_file);
    ASSERT_TRUE(AcquirePackage(&entry_, target_.c_str()));
    EXPECT_EQ(package_, ReadFileBytes(target_));

    std::string log = Log();
    size_t manifest = log.find("bildirim.tdb");
    size_t chosen = log.find("kurulacak surum: 2.1.0 (paket-2.1.0.tpk, 5004 bayt)\r\n");
    size_t fetched = log.find("paket-2.1.0.tpk", chosen + 20);
    size_t verified = log.find("paket dogrulandi\r\n");
    ASSERT_NE(std::string::npos, manifest);
    ASSERT_NE(std::string::npos, chosen);
    ASSERT_NE(std::string::npos, fetched);
    ASSERT_NE(std::string::npos, verified);
    EXPECT_LT(manifest, chosen);
    EXPECT_LT(chosen, fetched);
    EXPECT_LT(fetched, verified);
}

TEST_F(AcquisitionTest, ManifestFailuresHaveTheirMessages)
{
    EXPECT_FALSE(AcquireManifest(&entry_));
    EXPECT_EQ(Utf8(L"Kurulum klasöründe bildirim.tdb bulunamadı."), Result());

    TestKey other;
    ManifestLayout layout;
    layout.records = {{9, ProgramLine()}};
    ASSERT_TRUE(WriteFileBytes(release_ + L"\\bildirim.tdb", SignedManifestFile(other, ManifestBody(layout))));
    EXPECT_FALSE(AcquireManifest(&entry_));
    EXPECT_EQ(Utf8(L"Sürüm bilgisinin Tekvar Yazılım imzası doğrulanamadı. Kurulum güvenlik için durduruldu."), Result());

    for (const std::string &line : {ProgramLine("2.1.0", 536870913), ProgramLine("2.1.0.4"), ProgramLine("2.12345.0"),
                                    std::string("arac|1.0.0|") + HexOf(Sha256Of("x")) + "|1|arac.tpk",
                                    "program|2.1.0|" + HexOf(Sha256Of(package_)) + "|0|paket-2.1.0.tpk"}) {
        Publish(line);
        EXPECT_FALSE(AcquireManifest(&entry_)) << line;
        EXPECT_EQ(Utf8(L"İmzalı sürüm bilgisinde kurulabilir bir program bulunamadı."), Result()) << line;
    }
}

TEST_F(AcquisitionTest, PackageFailuresHaveTheirMessagesAndLeaveNoFile)
{
    Publish(ProgramLine());
    ASSERT_TRUE(AcquireManifest(&entry_));
    struct Case {
        std::string package; // empty: none published
        const wchar_t *message;
    } cases[] = {
        {"", L"Kurulum klasöründe program paketi bulunamadı ya da boyutu tutmuyor."},
        {package_ + "x", L"Kurulum klasöründe program paketi bulunamadı ya da boyutu tutmuyor."},
        {package_.substr(1), L"Program paketi kaydedilemedi ya da eksik indi."},
        {"q" + package_.substr(1), L"Program paketi imzalı sürüm bilgisiyle eşleşmedi; kullanılmadı."},
    };
    for (const Case &c : cases) {
        DeleteFileW((release_ + L"\\paket-2.1.0.tpk").c_str());
        if (!c.package.empty())
            PublishPackage(c.package);
        ASSERT_TRUE(WriteFileBytes(target_, "an older file in the way"));
        EXPECT_FALSE(AcquirePackage(&entry_, target_.c_str()));
        EXPECT_EQ(Utf8(c.message), Result());
        EXPECT_FALSE(FileExists(target_));
    }

    // A target that cannot be written.
    PublishPackage(package_);
    EXPECT_FALSE(AcquirePackage(&entry_, (folder_ + L"\\yok\\2.1.0.tpk").c_str()));
    EXPECT_EQ(Utf8(L"Program paketi kaydedilemedi ya da eksik indi."), Result());
}
