#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "core/progress_state.h"
#include "core/setup_log.h"
#include "support/test_support.h"

class ProgressStateTest : public LoggedFolderTest {
protected:
    void SetUp() override
    {
        memset(&Progress, 0, sizeof Progress);
        LoggedFolderTest::SetUp();
    }
};

TEST_F(ProgressStateTest, ReportErrorKeepsTheLastTextAndLogsEvery)
{
    EXPECT_FALSE(ReportError(L"Sürüm bilgisi alınamadı (%d).", 404));
    EXPECT_FALSE(ReportError(L"Paket doğrulanamadı: %hs", "boyut"));
    EXPECT_STREQ(L"Paket doğrulanamadı: boyut", Progress.result_text);
    std::string log = Log();
    size_t first = log.find(u8"HATA: Sürüm bilgisi alınamadı (404).\r\n");
    size_t second = log.find(u8"HATA: Paket doğrulanamadı: boyut\r\n");
    ASSERT_NE(std::string::npos, first);
    ASSERT_NE(std::string::npos, second);
    EXPECT_LT(first, second);
}

TEST_F(ProgressStateTest, ReportErrorCutsLongTexts)
{
    std::wstring text(1500, L'ı');
    ReportError(L"%s", text.c_str());
    EXPECT_EQ(1023u, wcslen(Progress.result_text)); // as many as the page's buffer holds
    // 1023 dotless i take 2046 bytes of UTF-8, more than the log's 1500: the log gets a prefix of
    // whole characters, then the log's own cut.
    std::string log = Log();
    size_t at = log.find("HATA: ");
    ASSERT_NE(std::string::npos, at);
    std::string logged = log.substr(at + 6, log.size() - at - 8);
    EXPECT_EQ(Utf8(std::wstring(499, L'ı')), logged);
}

TEST_F(ProgressStateTest, SetStatusClampsAndCuts)
{
    SetStatus(std::wstring(300, L'a').c_str(), 250, 1);
    EXPECT_EQ(std::wstring(255, L'a'), Progress.status_text);
    EXPECT_EQ(100u, Progress.percent);
    EXPECT_EQ(1u, Progress.marquee);

    SetStatus(L"Dosyalar açılıyor…", 62, 0);
    EXPECT_STREQ(L"Dosyalar açılıyor…", Progress.status_text);
    for (size_t i = wcslen(L"Dosyalar açılıyor…"); i < 256; i++)
        ASSERT_EQ(0, Progress.status_text[i]) << i; // the longer old text is gone entirely
    EXPECT_EQ(62u, Progress.percent);
    EXPECT_EQ(0u, Progress.marquee);

    SetStatus(L"", 0xFFFFFFFFu, 0); // unsigned comparison: no wrap to a small value
    EXPECT_EQ(100u, Progress.percent);
}

TEST_F(ProgressStateTest, CancelHonouredOnlyBeforeTheLock)
{
    EXPECT_FALSE(CancelRequested());
    RaiseFlag(&Progress.cancel_requested);
    EXPECT_TRUE(CancelRequested());
    RaiseFlag(&Progress.cancel_locked);
    EXPECT_FALSE(CancelRequested());
    EXPECT_EQ(1, Progress.cancel_requested);
}
