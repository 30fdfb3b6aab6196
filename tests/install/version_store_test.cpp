#include <gtest/gtest.h>

#include "install/version_store.h"
#include "release/version_text.h"
#include "support/test_support.h"

#include <algorithm>
#include <string>
#include <vector>

TEST(IsValidVersion, ThreeGroupsOfOneToFourDigits)
{
    for (const char *good : {"1.0.0", "0.0.1", "9999.9999.9999", "01.002.0003"})
        EXPECT_TRUE(IsValidVersion(good)) << good;
    for (const char *bad : {"", "1.2", "1.2.3.4", "12345.0.0", "1..2", ".1.2", "1.2.", "1.2.3 ", "1.2.3\n", "-1.2.3",
                            "1.2.a", "1.2.\xd9\xa3"})
        EXPECT_FALSE(IsValidVersion(bad)) << bad;
    EXPECT_FALSE(IsValidVersion(nullptr));
}

TEST(VersionDirPath, NamesTheFolderUnderSurumlerOrRefusesToCut)
{
    wchar_t path[260];
    ASSERT_TRUE(VersionDirPath(L"C:\\Program Files\\Talvor", "2.0.0", path, 260));
    EXPECT_STREQ(L"C:\\Program Files\\Talvor\\surumler\\2.0.0", path);
    // 38 characters and the terminator
    EXPECT_TRUE(VersionDirPath(L"C:\\Program Files\\Talvor", "2.0.0", path, 39));
    EXPECT_FALSE(VersionDirPath(L"C:\\Program Files\\Talvor", "2.0.0", path, 38));
}

class VersionPointerTest : public LoggedFolderTest {
protected:
    Status Read(const std::string &content, char *out)
    {
        EXPECT_TRUE(WriteFileBytes(folder_ + L"\\guncel", content));
        return ReadVersionPointer(folder_.c_str(), L"guncel", out, 32);
    }
};

TEST_F(VersionPointerTest, ReadsTheVersionWithoutTrailingLineEnds)
{
    char out[32];
    EXPECT_EQ(StatusOk, Read("1.4.2\r\n", out));
    EXPECT_STREQ("1.4.2", out);
    EXPECT_EQ(StatusOk, Read("1.4.2 \n \r\n", out));
    EXPECT_STREQ("1.4.2", out);
    // 33 bytes are read: a version followed by 28 spaces still fits, a 29th-byte line end is never seen
    EXPECT_EQ(StatusOk, Read("1.4.2" + std::string(28, ' ') + "junk", out));
    EXPECT_STREQ("1.4.2", out);
}

TEST_F(VersionPointerTest, RefusesAnythingElseAndLeavesTheBufferEmpty)
{
    char out[32];
    for (const std::string &bad : {std::string("\xef\xbb\xbf" "1.4.2"), std::string(" 1.4.2"), std::string(""),
                                   std::string("1.4.2x"), std::string("1.4.2\0" "9", 7),
                                   std::string(33, 'x') + "1.0.0\r\n"}) {
        strcpy(out, "dolu");
        EXPECT_EQ(StatusInvalid, Read(bad, out)) << bad;
        EXPECT_STREQ("", out);
    }
    // 40 bytes whose first 33 are not a version after stripping
    strcpy(out, "dolu");
    EXPECT_EQ(StatusInvalid, Read("1.4.2" + std::string(28, '0') + "\r\n\r\n\r\n\r", out));
    EXPECT_STREQ("", out);

    strcpy(out, "dolu");
    EXPECT_EQ(StatusNotFound, ReadVersionPointer(folder_.c_str(), L"onceki", out, 32));
    EXPECT_STREQ("", out);

    char small[31] = "dokunulmaz";
    EXPECT_EQ(StatusInvalid, ReadVersionPointer(folder_.c_str(), L"guncel", small, sizeof small));
    EXPECT_STREQ("dokunulmaz", small);
    EXPECT_EQ(StatusInvalid, ReadVersionPointer(nullptr, L"guncel", out, 32));
}

TEST_F(VersionPointerTest, WriteLeavesExactlyTheVersionAndNoTemporaryFile)
{
    ASSERT_EQ(StatusOk, WriteVersionPointer(folder_.c_str(), L"guncel", "1.0.0"));
    ASSERT_EQ(StatusOk, WriteVersionPointer(folder_.c_str(), L"guncel", "2.0.0"));
    EXPECT_EQ("2.0.0", ReadFileBytes(folder_ + L"\\guncel"));
    EXPECT_FALSE(FileExists(folder_ + L"\\guncel.yeni"));
    char out[32];
    EXPECT_EQ(StatusOk, ReadVersionPointer(folder_.c_str(), L"guncel", out, 32));
    EXPECT_STREQ("2.0.0", out);

    // A stale temporary file from an interrupted write is simply recreated.
    ASSERT_TRUE(WriteFileBytes(folder_ + L"\\onceki.yeni", "yarim"));
    EXPECT_EQ(StatusOk, WriteVersionPointer(folder_.c_str(), L"onceki", "1.0.0"));
    EXPECT_EQ("1.0.0", ReadFileBytes(folder_ + L"\\onceki"));
    EXPECT_FALSE(FileExists(folder_ + L"\\onceki.yeni"));

    // An empty value deletes the pointer, and deleting a missing one is no failure.
    EXPECT_EQ(StatusOk, WriteVersionPointer(folder_.c_str(), L"onceki", ""));
    EXPECT_FALSE(FileExists(folder_ + L"\\onceki"));
    EXPECT_EQ(StatusOk, WriteVersionPointer(folder_.c_str(), L"onceki", ""));

    EXPECT_EQ(StatusInvalid, WriteVersionPointer(folder_.c_str(), L"guncel", "2.0"));
    EXPECT_EQ(StatusInvalid, WriteVersionPointer(folder_.c_str(), L"guncel", nullptr));
    EXPECT_EQ("2.0.0", ReadFileBytes(folder_ + L"\\guncel"));
}

TEST_F(VersionPointerTest, FailedWriteKeepsTheOldContent)
{
    ASSERT_EQ(StatusOk, WriteVersionPointer(folder_.c_str(), L"guncel", "1.0.0"));
    // The replacing move cannot replace a file held open without delete sharing.
    HANDLE held = CreateFileW((folder_ + L"\\guncel").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(StatusIoError, WriteVersionPointer(folder_.c_str(), L"guncel", "2.0.0"));
    CloseHandle(held);
    EXPECT_FALSE(FileExists(folder_ + L"\\guncel.yeni"));
    EXPECT_EQ("1.0.0", ReadFileBytes(folder_ + L"\\guncel"));

    // A folder in the temporary file's place makes its creation fail.
    ASSERT_TRUE(CreateDirectoryW((folder_ + L"\\guncel.yeni").c_str(), nullptr));
    EXPECT_EQ(StatusIoError, WriteVersionPointer(folder_.c_str(), L"guncel", "2.0.0"));
    EXPECT_EQ("1.0.0", ReadFileBytes(folder_ + L"\\guncel"));
    RemoveDirectoryW((folder_ + L"\\guncel.yeni").c_str());

    EXPECT_EQ(StatusIoError, WriteVersionPointer((folder_ + L"\\yok").c_str(), L"guncel", "2.0.0"));
}

TEST(PreviousToKeep, TheReplacedVersionOrTheNewOne)
{
    EXPECT_STREQ("1.0.0", PreviousToKeep("1.0.0", "2.0.0"));
    EXPECT_STREQ("2.0.0", PreviousToKeep("2.0.0", "2.0.0"));
    EXPECT_STREQ("2.0.0", PreviousToKeep("", "2.0.0"));
    EXPECT_STREQ("2.0.0", PreviousToKeep("bozuk", "2.0.0"));
    EXPECT_STREQ("2.0.0", PreviousToKeep(nullptr, "2.0.0"));
    EXPECT_STREQ("02.0.0", PreviousToKeep("02.0.0", "2.0.0")); // texts, not numbers
}

class VersionStoreTest : public LoggedFolderTest {
protected:
    void SetUp() override
    {
        LoggedFolderTest::SetUp();
        store_ = folder_ + L"\\surumler";
        ASSERT_TRUE(CreateDirectoryW(store_.c_str(), nullptr));
    }
    void TearDown() override
    {
        for (const std::wstring &link : links_)
            RemoveLink(link);
        LoggedFolderTest::TearDown();
    }
    std::wstring MakeVersion(const wchar_t *name)
    {
        std::wstring dir = store_ + L"\\" + name;
        EXPECT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
        for (const wchar_t *file : RequiredFiles)
            EXPECT_TRUE(WriteFileBytes(dir + L"\\" + file, "MZ"));
        return dir;
    }
    std::vector<std::string> Visited()
    {
        std::vector<std::string> names;
        ForEachVersionDir(folder_.c_str(), [](const char *name, void *context) {
            ((std::vector<std::string> *)context)->push_back(name);
        }, &names);
        std::sort(names.begin(), names.end());
        return names;
    }
    std::wstring store_;
    std::vector<std::wstring> links_;
};

TEST_F(VersionStoreTest, WalkVisitsOnlyRealVersionDirectories)
{
    MakeVersion(L"1.0.0");
    MakeVersion(L"2.0.0");
    MakeVersion(L"2.0.0.kur");
    MakeVersion(L"2.0.0.eski-12345");
    MakeVersion(L"yabanci");
    ASSERT_TRUE(WriteFileBytes(store_ + L"\\3.0.0", "a file named like a version"));
    ASSERT_TRUE(WriteFileBytes(store_ + L"\\2.0.0.tpk", "TPK1"));
    EXPECT_EQ((std::vector<std::string>{"1.0.0", "2.0.0"}), Visited());

    ForEachVersionDir((folder_ + L"\\yok").c_str(), [](const char *, void *) { ADD_FAILURE(); }, nullptr);
}

TEST_F(VersionStoreTest, PruneKeepsTheTwoVersionsAndSkipsEverythingElse)
{
    std::wstring target = folder_ + L"\\hedef";
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(target + L"\\sistem.dll", "system"));
    std::wstring old = MakeVersion(L"0.9.0");
    ASSERT_TRUE(SetFileAttributesW((old + L"\\Talvor.exe").c_str(), FILE_ATTRIBUTE_READONLY));
    MakeVersion(L"1.0.0");
    MakeVersion(L"2.0.0");
    MakeVersion(L"2.0.0.kur");
    bool linked = MakeFolderLink(target, store_ + L"\\0.8.0");
    if (linked)
        links_.push_back(store_ + L"\\0.8.0");

    EXPECT_EQ(1u, PruneVersions(folder_.c_str(), "2.0.0", "1.0.0"));
    EXPECT_FALSE(FileExists(old));
    EXPECT_TRUE(HasRequiredFiles((store_ + L"\\1.0.0").c_str()));
    EXPECT_TRUE(HasRequiredFiles((store_ + L"\\2.0.0").c_str()));
    EXPECT_TRUE(FileExists(store_ + L"\\2.0.0.kur"));
    EXPECT_EQ("system", ReadFileBytes(target + L"\\sistem.dll"));
    if (linked) {
        EXPECT_TRUE(FileExists(store_ + L"\\0.8.0"));
    }

    // With one version to keep, the other goes; a version to keep must be a version.
    EXPECT_EQ(1u, PruneVersions(folder_.c_str(), "2.0.0", nullptr));
    EXPECT_FALSE(FileExists(store_ + L"\\1.0.0"));
    EXPECT_EQ(0u, PruneVersions(folder_.c_str(), "bozuk", nullptr));
    EXPECT_EQ(0u, PruneVersions(folder_.c_str(), nullptr, nullptr));
    EXPECT_TRUE(FileExists(store_ + L"\\2.0.0"));
    if (!linked)
        GTEST_SKIP() << "no link could be made for 0.8.0";
}

TEST_F(VersionStoreTest, RequiredFilesMustAllBeFiles)
{
    std::wstring dir = MakeVersion(L"2.0.0");
    EXPECT_TRUE(HasRequiredFiles(dir.c_str()));
    EXPECT_EQ("", Log());

    ASSERT_TRUE(DeleteFileW((dir + L"\\Talvor.exe").c_str()));
    ASSERT_TRUE(CreateDirectoryW((dir + L"\\Talvor.exe").c_str(), nullptr));
    ASSERT_TRUE(DeleteFileW((dir + L"\\WinDivert64.sys").c_str()));
    EXPECT_FALSE(HasRequiredFiles(dir.c_str()));
    std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("pakette eksik dosya: Talvor.exe\r\n"));
    EXPECT_EQ(std::string::npos, log.find("WinDivert64.sys")); // only the first missing one is named
    EXPECT_FALSE(IsRegularFile((dir + L"\\Talvor.exe").c_str()));
    EXPECT_TRUE(IsRegularFile((dir + L"\\talvor_svc.exe").c_str()));
    EXPECT_FALSE(IsRegularFile((dir + L"\\yok.exe").c_str()));
}

// What an interrupted run leaves in the store goes; a backup is put back where its version
// folder is missing; the running install's own package and staging folder, the version folders
// and anything not named like a leftover stay.
TEST_F(VersionStoreTest, LeftoversOfAnInterruptedRunAreClearedOrRestored)
{
    MakeVersion(L"1.0.0");
    MakeVersion(L"1.0.0.eski-99");
    MakeVersion(L"1.0.0.kur");
    ASSERT_TRUE(WriteFileBytes(store_ + L"\\1.0.0.tpk", "TPK1"));
    MakeVersion(L"3.0.0.eski-18446744073709551615");
    MakeVersion(L"2.0.0.kur");
    ASSERT_TRUE(WriteFileBytes(store_ + L"\\2.0.0.tpk", "TPK1"));
    for (const wchar_t *foreign : {L"notlar.txt", L"1.0.0.eski-", L"1.0.0.eski-12x", L"x.kur", L"1.0.kur"})
        ASSERT_TRUE(WriteFileBytes(store_ + L"\\" + foreign, "x"));

    ClearStoreLeftovers(folder_.c_str(), "2.0.0");

    std::vector<std::string> left;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((store_ + L"\\*").c_str(), &entry);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    do {
        if (entry.cFileName[0] != L'.')
            left.push_back(Utf8(entry.cFileName));
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    std::sort(left.begin(), left.end());
    EXPECT_EQ((std::vector<std::string>{"1.0.0", "1.0.0.eski-", "1.0.0.eski-12x", "1.0.kur", "2.0.0.kur", "2.0.0.tpk",
                                        "3.0.0", "notlar.txt", "x.kur"}),
              left);
    EXPECT_TRUE(HasRequiredFiles((store_ + L"\\3.0.0").c_str()));
    std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("yarim kalan kurulumun yedegi geri kondu: " + Utf8(store_) + "\\3.0.0\r\n"));
    EXPECT_NE(std::string::npos, log.find("yarim kalan kurulumdan kalan silindi: " + Utf8(store_) + "\\1.0.0.kur\r\n"));

    ClearStoreLeftovers((folder_ + L"\\yok").c_str(), "2.0.0");
}

TEST(VersionOfServiceProgram, OnlyTheServiceProgramDirectlyInAVersionFolder)
{
    const wchar_t *folder = L"C:\\Program Files\\Talvor";
    char version[32];
    ASSERT_TRUE(VersionOfServiceProgram(folder, L"C:\\Program Files\\Talvor\\surumler\\1.2.3\\talvor_svc.exe", version,
                                        sizeof version));
    EXPECT_STREQ("1.2.3", version);
    EXPECT_TRUE(VersionOfServiceProgram(folder, L"c:\\program files\\TALVOR\\SURUMLER\\0001.2.3\\Talvor_Svc.EXE", version,
                                        sizeof version));
    EXPECT_STREQ("0001.2.3", version);
    for (const wchar_t *other : {L"C:\\Program Files\\Talvor\\surumler\\1.2.3.kur\\talvor_svc.exe",
                                 L"C:\\Program Files\\Talvor\\surumler\\1.2.3\\alt\\talvor_svc.exe",
                                 L"C:\\Program Files\\Talvor\\surumler\\1.2.3\\talvor_gui.exe",
                                 L"C:\\Program Files\\Talvor\\talvor_svc.exe", L"D:\\Talvor\\surumler\\1.2.3\\talvor_svc.exe",
                                 L"C:\\Program Files\\Talvor\\surumler\\\\talvor_svc.exe", L""})
        EXPECT_FALSE(VersionOfServiceProgram(folder, other, version, sizeof version)) << Utf8(other);
    EXPECT_FALSE(VersionOfServiceProgram(folder, L"C:\\Program Files\\Talvor\\surumler\\1.2.3\\talvor_svc.exe", version, 5));
}
