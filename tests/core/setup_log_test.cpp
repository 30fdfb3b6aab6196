#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "core/setup_log.h"
#include "support/test_support.h"

typedef LoggedFolderTest SetupLogTest;

TEST_F(SetupLogTest, LinesAreStampedAndAppended)
{
    LogLine("Talvor %s %s basladi", "0.1.0", "kurulum");
    LogLine("klasor %ls", L"C:\\Users\\Aydın");
    std::string log = Log();
    std::regex line("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d ([^\r\n]*)\r\n");
    auto it = std::sregex_iterator(log.begin(), log.end(), line);
    ASSERT_NE(std::sregex_iterator(), it);
    EXPECT_EQ("Talvor 0.1.0 kurulum basladi", (*it)[1].str());
    EXPECT_EQ(0, it->position());
    ++it;
    ASSERT_NE(std::sregex_iterator(), it);
    EXPECT_EQ(u8"klasor C:\\Users\\Aydın", (*it)[1].str());
    EXPECT_EQ(log.size(), (size_t)(it->position() + it->length())); // nothing else, no byte-order mark
}

TEST_F(SetupLogTest, LongMessageIsCutAt1023Bytes)
{
    std::string message(2000, 'x');
    LogLine("%s", message.c_str());
    std::string log = Log();
    ASSERT_EQ(20u + 1023u + 2u, log.size());
    EXPECT_EQ(std::string(1023, 'x'), log.substr(20, 1023));
    EXPECT_EQ("\r\n", log.substr(1043));
}

TEST_F(SetupLogTest, EmptyLogPathWritesNothing)
{
    LogPath[0] = 0;
    LogLine("kaybolur");
    EXPECT_FALSE(FileExists(LogFile()));
}

TEST_F(SetupLogTest, LineIsLostWhenTheFileCannotBeOpened)
{
    wcscpy(LogPath, (folder_ + L"\\yok\\kurulum.log").c_str());
    LogLine("kaybolur");
    EXPECT_FALSE(FileExists(folder_ + L"\\yok"));
}

// The line of a failed call: its subject when there is one, Windows errors in decimal, HRESULTs
// in hexadecimal, the kind after the code.
TEST_F(SetupLogTest, FailedCallLinesNameCallSubjectAndCode)
{
    LogFailedCall("CreateFileW", L"C:\\Users\\Aydın\\paket.tpk", ERROR_ACCESS_DENIED);
    LogFailedCall("IPersistFile::Save", L"Talvor.lnk", (unsigned long)E_ACCESSDENIED);
    LogFailedCall("OpenSCManagerW", nullptr, ERROR_ACCESS_DENIED);
    LogFailedCall("WinHttpSendRequest", L"bildirim.tdb", 12002, "zaman asimi");
    std::string log = Log();
    std::regex stamp("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d ");
    EXPECT_EQ(u8"CreateFileW basarisiz: C:\\Users\\Aydın\\paket.tpk (kod 5)\r\n"
              "IPersistFile::Save basarisiz: Talvor.lnk (kod 0x80070005)\r\n"
              "OpenSCManagerW basarisiz (kod 5)\r\n"
              "WinHttpSendRequest basarisiz: bildirim.tdb (kod 12002, zaman asimi)\r\n",
              std::regex_replace(log, stamp, ""));
}
