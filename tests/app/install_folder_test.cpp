#include <gtest/gtest.h>

#include "app/install_folder.h"

TEST(GetInstallFolder, ProgramFilesFollowedByTalvor)
{
    wchar_t folder[260];
    ASSERT_EQ(StatusOk, GetInstallFolder(folder, 260));
    EXPECT_STREQ(L"C:\\Program Files\\Talvor", folder);

    wchar_t exact[24]; // "C:\Program Files\Talvor" is 23 characters
    EXPECT_EQ(StatusOk, GetInstallFolder(exact, 24));
    EXPECT_EQ(StatusBufferTooSmall, GetInstallFolder(exact, 23));
    EXPECT_EQ(StatusInvalid, GetInstallFolder(nullptr, 260));
    EXPECT_EQ(StatusInvalid, GetInstallFolder(folder, 0));
}
