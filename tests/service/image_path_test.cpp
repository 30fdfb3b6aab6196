#include <gtest/gtest.h>

#include "service/legacy_driver.h"
#include "service/service_control.h"

#include <string>

TEST(ExtractImagePath, CutsTheExecutableOutOfAServiceCommandLine)
{
    struct Case {
        const wchar_t *command_line;
        const wchar_t *path; // null: refused
    } cases[] = {
        {L"\"C:\\Program Files\\Talvor\\surumler\\2.0.0\\talvor_svc.exe\" --hizmet",
         L"C:\\Program Files\\Talvor\\surumler\\2.0.0\\talvor_svc.exe"},
        {L"   \"C:\\A B\\svc.exe\"", L"C:\\A B\\svc.exe"},
        {L"C:\\A\\svc.exe -x", L"C:\\A\\svc.exe"},
        {L"C:\\A\\SVC.EXE -x", L"C:\\A\\SVC.EXE -x"}, // the search is for lower case only
        {L"\\??\\C:\\Program Files\\Talvor\\WinDivert64.sys", L"\\??\\C:\\Program Files\\Talvor\\WinDivert64.sys"},
        {L"C:\\x.exe.exe", L"C:\\x.exe"},
        {L"\"C:\\A\\svc.exe -x", nullptr}, // no closing quote
        {L"\"\" -x", nullptr},
        {L"   ", nullptr},
        {L"", nullptr},
    };
    for (const Case &c : cases) {
        wchar_t out[520] = L"dolu";
        bool ok = ExtractImagePath(c.command_line, out, 520);
        if (c.path == nullptr) {
            EXPECT_FALSE(ok) << c.command_line;
        } else {
            EXPECT_TRUE(ok) << c.command_line;
            EXPECT_STREQ(c.path, out);
        }
    }
    wchar_t out[9]; // "C:\a.exe" is 8 characters
    EXPECT_TRUE(ExtractImagePath(L"C:\\a.exe -x", out, 9));
    EXPECT_STREQ(L"C:\\a.exe", out);
    EXPECT_FALSE(ExtractImagePath(L"C:\\a.exe -x", out, 8)); // exactly as long as the buffer
    EXPECT_FALSE(ExtractImagePath(L"\"C:\\a.exe\"", out, 8));
    EXPECT_FALSE(ExtractImagePath(nullptr, out, 8));
    EXPECT_FALSE(ExtractImagePath(L"C:\\a.exe", out, 0));
}

TEST(PathHasProductFolder, NeedsBothBackslashesAndIgnoresCase)
{
    EXPECT_TRUE(PathHasProductFolder(L"\\??\\C:\\Program Files\\Talvor\\WinDivert64.sys"));
    EXPECT_TRUE(PathHasProductFolder(L"C:\\PROGRAM FILES\\TALVOR\\WinDivert64.sys"));
    EXPECT_TRUE(PathHasProductFolder(L"\\talvor\\"));
    EXPECT_FALSE(PathHasProductFolder(L"C:\\Program Files\\Talvor"));
    EXPECT_FALSE(PathHasProductFolder(L"C:\\Program Files\\Talvor2\\WinDivert64.sys"));
    EXPECT_FALSE(PathHasProductFolder(L"C:\\Windows\\System32\\drivers\\WinDivert64.sys"));
    EXPECT_FALSE(PathHasProductFolder(L""));
    EXPECT_FALSE(PathHasProductFolder(nullptr));
}
