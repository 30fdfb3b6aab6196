#include <gtest/gtest.h>

#include "support/installed_product.h"
#include "support/test_support.h"
#include "uninstall/restart_deletions.h"

#include <string>
#include <vector>

namespace {

const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

void SetPendingList(const std::wstring &pairs)
{
    std::wstring value = pairs + L'\0';
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations",
                                             REG_MULTI_SZ, value.data(), (DWORD)(value.size() * sizeof(wchar_t))));
}

std::wstring PendingListValue()
{
    std::vector<wchar_t> value(4096);
    DWORD size = (DWORD)(value.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ,
                     nullptr, value.data(), &size) != ERROR_SUCCESS)
        return L"(none)";
    return std::wstring(value.data(), size / sizeof(wchar_t));
}

std::wstring Deletion(const wchar_t *path)
{
    return std::wstring(L"\\??\\") + path + L'\0' + L'\0';
}

} // namespace

// Deletions of the folder and of anything below it go, in any letter case; a rename out of it,
// a folder whose name only begins the same way and other folders' deletions stay in order.
TEST(CancelRestartDeletions, TakesBackOnlyTheFoldersDeletions)
{
    PendingDeletionsGuard guard;
    std::wstring rename = std::wstring(L"\\??\\C:\\Program Files\\Talvor\\yeni.txt") + L'\0' + L"\\??\\C:\\baska.txt" + L'\0';
    SetPendingList(Deletion(L"C:\\Program Files\\Talvor\\Talvor-Kaldir.exe") + Deletion(L"C:\\temp\\a") + rename +
                   Deletion(L"c:\\program files\\TALVOR\\surumler\\1.0.0\\x") + Deletion(L"C:\\Program Files\\TalvorX\\b") +
                   Deletion(L"C:\\Program Files\\Talvor"));

    EXPECT_EQ(3u, CancelRestartDeletions(L"C:\\Program Files\\Talvor"));
    EXPECT_EQ(Deletion(L"C:\\temp\\a") + rename + Deletion(L"C:\\Program Files\\TalvorX\\b") + L'\0', PendingListValue());
    EXPECT_EQ(0u, CancelRestartDeletions(L"C:\\Program Files\\Talvor"));

    // Nothing left to keep: the value goes.
    SetPendingList(Deletion(L"C:\\Program Files\\Talvor"));
    EXPECT_EQ(1u, CancelRestartDeletions(L"C:\\Program Files\\Talvor"));
    EXPECT_EQ(L"(none)", PendingListValue());
    EXPECT_EQ(0u, CancelRestartDeletions(L"C:\\Program Files\\Talvor"));
    EXPECT_EQ(0u, CancelRestartDeletions(L""));
}
