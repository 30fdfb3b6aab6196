#include <gtest/gtest.h>

#include "core/folder_handle.h"
#include "support/installed_product.h"
#include "support/test_support.h"
#include "core/object_owner.h"
#include "uninstall/remove_tree.h"

#include <algorithm>
#include <string>
#include <vector>

// Removal tests that schedule deletions put the machine's list back as they found it.
class RemoveTreeTest : public LoggedFolderTest {
protected:
    void SetUp() override
    {
        LoggedFolderTest::SetUp();
        tree_ = folder_ + L"\\agac";
        ASSERT_TRUE(CreateDirectoryW(tree_.c_str(), nullptr));
    }
    void TearDown() override
    {
        for (const std::wstring &link : links_)
            RemoveLink(link);
        for (const std::wstring &path : read_only_)
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        LoggedFolderTest::TearDown();
    }

    std::wstring Make(const std::wstring &relative, const char *content = "x")
    {
        std::wstring path = tree_ + L"\\" + relative;
        if (content == nullptr)
            EXPECT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
        else
            EXPECT_TRUE(WriteFileBytes(path, content));
        return path;
    }
    // A folder outside the tree with files in it, and a link to it.
    std::wstring MakeLinkedTarget(const std::wstring &link)
    {
        std::wstring target = folder_ + L"\\hedef";
        CreateDirectoryW(target.c_str(), nullptr);
        CreateDirectoryW((target + L"\\alt").c_str(), nullptr);
        EXPECT_TRUE(WriteFileBytes(target + L"\\sistem.dll", "system"));
        EXPECT_TRUE(WriteFileBytes(target + L"\\alt\\ayar.ini", "settings"));
        if (!MakeFolderLink(target, link))
            return L"";
        links_.push_back(link);
        return target;
    }
    static void ExpectTargetIntact(const std::wstring &target)
    {
        EXPECT_EQ("system", ReadFileBytes(target + L"\\sistem.dll"));
        EXPECT_EQ("settings", ReadFileBytes(target + L"\\alt\\ayar.ini"));
    }
    void MakeReadOnly(const std::wstring &path)
    {
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
        read_only_.push_back(path);
    }

    std::wstring tree_;
    std::vector<std::wstring> links_;
    std::vector<std::wstring> read_only_;
    PendingDeletionsGuard pending_guard_;
};

TEST_F(RemoveTreeTest, WholeTreeIsDeleted)
{
    Make(L"a", nullptr);
    Make(L"a\\b", nullptr);
    Make(L"a\\b\\c.dll");
    Make(L"kok.exe");
    Make(L"bos", nullptr);
    EXPECT_EQ(0u, RemoveTree(tree_.c_str(), true, false));
    EXPECT_FALSE(FileExists(tree_));

    ASSERT_TRUE(CreateDirectoryW(tree_.c_str(), nullptr));
    Make(L"a", nullptr);
    Make(L"a\\c.dll");
    EXPECT_EQ(StatusOk, DeleteTreePlain(tree_.c_str()));
    EXPECT_FALSE(FileExists(tree_));
}

TEST_F(RemoveTreeTest, MissingFolderIsNoFailureAndLeavesNoTrace)
{
    std::wstring missing = folder_ + L"\\yok";
    EXPECT_EQ(0u, RemoveTree(missing.c_str(), true, true));
    EXPECT_FALSE(RemoveTreeLogged(missing.c_str(), true, true));
    EXPECT_EQ("", Log());
    EXPECT_EQ(StatusOk, DeleteTreePlain(missing.c_str()));
    EXPECT_EQ(StatusInvalid, DeleteTreePlain(L""));
    EXPECT_EQ(StatusInvalid, DeleteTreePlain(nullptr));
}

TEST_F(RemoveTreeTest, FileAtTopPathIsLeftAlone)
{
    std::wstring file = Make(L"dosya.txt");
    EXPECT_EQ(0u, RemoveTree(file.c_str(), true, false));
    EXPECT_EQ("x", ReadFileBytes(file));
}

TEST_F(RemoveTreeTest, LinkInsideTreeKeepsItsTarget)
{
    Make(L"kalan.txt");
    std::wstring link = tree_ + L"\\baglanti";
    std::wstring target = MakeLinkedTarget(link);
    ASSERT_FALSE(target.empty()) << "no link could be made";
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(link.c_str()));
    ASSERT_TRUE(GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
    // A file link, which Wine does not even list as a link.
    std::wstring file_link = tree_ + L"\\baglanti.dll";
    ASSERT_TRUE(MakeFileLink(target + L"\\sistem.dll", file_link, true));
    links_.push_back(file_link);

    RemoveTreeLogged(tree_.c_str(), true, false);
    ExpectTargetIntact(target);
    EXPECT_FALSE(FileExists(tree_ + L"\\kalan.txt"));
    if (FileExists(link)) {
        EXPECT_TRUE(HasLine(LogLines(LogFile()), "baglanti kendisi olarak acilamadi, silinmedi: " + Utf8(link)))
            << Log();
        GTEST_SKIP() << "Wine opens a Unix symbolic link's target even when asked for the link itself, so the "
                        "removal leaves the links and their folder and names them; the targets kept every file";
    }
    EXPECT_FALSE(FileExists(file_link));
    EXPECT_FALSE(FileExists(tree_));
    EXPECT_NE(std::string::npos, Log().find("baglanti noktasi izlenmedi, yalniz kendisi silindi: " + Utf8(tree_)));
}

TEST_F(RemoveTreeTest, PlainDeleteRemovesLinkInsideTreeOnly)
{
    std::wstring link = tree_ + L"\\baglanti";
    std::wstring target = MakeLinkedTarget(link);
    ASSERT_FALSE(target.empty()) << "no link could be made";
    Status status = DeleteTreePlain(tree_.c_str());
    ExpectTargetIntact(target);
    if (FileExists(link)) {
        EXPECT_EQ(StatusIoError, status);
        GTEST_SKIP() << "Wine cannot remove a Unix symbolic link as a link; the target kept every file";
    }
    EXPECT_EQ(StatusOk, status);
}

TEST_F(RemoveTreeTest, LinkAtTopPathIsRemovedAlone)
{
    std::wstring link = folder_ + L"\\ust-baglanti";
    std::wstring target = MakeLinkedTarget(link);
    ASSERT_FALSE(target.empty()) << "no link could be made";
    EXPECT_EQ((unsigned)LinkNotFollowed, RemoveTree(link.c_str(), true, false));
    ExpectTargetIntact(target);
    if (FileExists(link))
        GTEST_SKIP() << "Wine cannot remove a Unix symbolic link as a link; the target kept every file";
}

// What the attacker does once the removal opens the folder's first file: deletes the folder's
// files at once (the first through the handle that holds the lock, which any other open would
// wait for), makes the emptied folder a mount point to the victim, and lets the removal go on.
struct MountPointSwap {
    HANDLE first; // alt\a.txt, opened for the opportunistic lock
    OVERLAPPED broken;
    std::wstring folder, victim;
    bool made;
};

static DWORD WINAPI SwapWhenTheLockBreaks(void *context)
{
    MountPointSwap *swap = (MountPointSwap *)context;
    swap->made = WaitForSingleObject(swap->broken.hEvent, 60000) == WAIT_OBJECT_0 &&
                 DeleteThroughHandle(swap->first) == ERROR_SUCCESS &&
                 DeleteFileW((swap->folder + L"\\b.txt").c_str()) && MakeMountPoint(swap->folder, swap->victim);
    CloseHandle(swap->first);
    return 0;
}

// On Windows a folder the removal holds open can still be emptied and made a mount point, and an
// opportunistic lock on its first file tells the attacker the moment: the removal has listed the
// folder and opens that file. What the removal deletes from then on must be the folder's own
// entries, never what the mount point leads to.
TEST_F(RemoveTreeTest, MountPointMadeOfAHeldFolderLeadsNowhere)
{
    std::wstring probe = Make(L"deneme", nullptr);
    if (!MakeMountPoint(probe, folder_))
        GTEST_SKIP() << "Wine cannot make a mount point (FSCTL_SET_REPARSE_POINT gives ERROR_NOT_SUPPORTED), nor hold "
                        "an opportunistic lock; this is the Windows attack";
    ASSERT_TRUE(RemoveDirectoryW(probe.c_str()));
    MountPointSwap swap = {INVALID_HANDLE_VALUE, {}, Make(L"alt", nullptr), folder_ + L"\\kurban", false};
    ASSERT_TRUE(CreateDirectoryW(swap.victim.c_str(), nullptr));
    for (const wchar_t *name : {L"\\a.txt", L"\\b.txt"})
        ASSERT_TRUE(WriteFileBytes(swap.victim + name, "victim") && WriteFileBytes(swap.folder + name, "x"));
    swap.first = CreateFileW((swap.folder + L"\\a.txt").c_str(), GENERIC_READ | DELETE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
    swap.broken.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_FALSE(DeviceIoControl(swap.first, FSCTL_REQUEST_BATCH_OPLOCK, nullptr, 0, nullptr, 0, nullptr, &swap.broken));
    ASSERT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
    HANDLE attacker = CreateThread(nullptr, 0, SwapWhenTheLockBreaks, &swap, 0, nullptr);

    RemoveTree(tree_.c_str(), false, false);
    WaitForSingleObject(attacker, 60000);
    CloseHandle(attacker);
    CloseHandle(swap.broken.hEvent);
    EXPECT_TRUE(swap.made) << "the swap was not made, so this run shows nothing";
    EXPECT_EQ("victim", ReadFileBytes(swap.victim + L"\\b.txt"));
    RemoveDirectoryW(swap.folder.c_str()); // the mount point, if the removal left it
}

TEST_F(RemoveTreeTest, FileInUseWaitsForRestartWhenAllowed)
{
    std::wstring file = Make(L"kullanimda.dll");
    Make(L"diger.txt");
    FileHeldElsewhere holder(file);
    ASSERT_TRUE(holder.held());

    EXPECT_TRUE(RemoveTreeLogged(tree_.c_str(), true, false));
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(FileExists(tree_ + L"\\diger.txt"));
    std::vector<std::wstring> pending = PendingDeletions();
    size_t file_at = PathIndex(pending, file);
    size_t folder_at = PathIndex(pending, tree_);
    ASSERT_NE((size_t)-1, file_at);
    ASSERT_NE((size_t)-1, folder_at);
    EXPECT_LT(file_at, folder_at); // the folder goes after what it holds
    // Only the retries are logged: what waits for the restart is no failure.
    std::vector<std::string> lines = LogLines(LogFile());
    EXPECT_TRUE(lines.empty() || (lines.size() == 1 && lines[0].rfind("mesgul, yeniden deneniyor:", 0) == 0)) << Log();
}

TEST_F(RemoveTreeTest, FileInUseStaysWhenRestartIsNotAllowed)
{
    std::wstring file = Make(L"kullanimda.dll");
    FileHeldElsewhere holder(file);
    ASSERT_TRUE(holder.held());
    size_t pending_before = PendingDeletions().size();

    EXPECT_EQ(0u, RemoveTree(tree_.c_str(), false, false));
    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(FileExists(tree_));
    EXPECT_EQ(pending_before, PendingDeletions().size());
    // The file that stays is named once with the sharing violation of opening it for deletion;
    // its folder, not empty, is not.
    std::string failure = " basarisiz: " + Utf8(file) + " (kod 32)";
    std::vector<std::string> lines = LogLines(LogFile());
    EXPECT_EQ(1, std::count(lines.begin(), lines.end(), "NtCreateFile" + failure)) << Log();
    EXPECT_EQ(StatusIoError, DeleteTreePlain(tree_.c_str()));
    EXPECT_TRUE(FileExists(file));
    // The plain removal that pruning uses names the file the same way, once, and the folder neither.
    lines = LogLines(LogFile());
    EXPECT_EQ(1, std::count(lines.begin(), lines.end(), "DeleteFileW" + failure)) << Log();
    EXPECT_EQ(std::string::npos, Log().find(Utf8(tree_) + " (kod")) << Log();
}

TEST_F(RemoveTreeTest, ReadOnlyFileIsKeptForRestartButPlainDeleteClearsIt)
{
    std::wstring file = Make(L"salt-okunur.txt");
    MakeReadOnly(file);
    EXPECT_EQ((unsigned)ScheduledAtRestart, RemoveTree(tree_.c_str(), true, false));
    EXPECT_TRUE(FileExists(file));
    EXPECT_NE((size_t)-1, PathIndex(PendingDeletions(), file));

    EXPECT_EQ(StatusOk, DeleteTreePlain(tree_.c_str()));
    EXPECT_FALSE(FileExists(tree_));
}

TEST_F(RemoveTreeTest, SubfolderThatCannotBeOpenedIsLeftWithItsContents)
{
    std::wstring locked = Make(L"kilitli", nullptr);
    std::wstring inner = Make(L"kilitli\\ic.txt");
    Make(L"serbest.txt");
    // Opened without any sharing, the folder cannot be opened by the removal.
    HANDLE hold = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                              nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hold);

    EXPECT_EQ(0u, RemoveTree(tree_.c_str(), false, false));
    EXPECT_TRUE(FileExists(inner));
    EXPECT_FALSE(FileExists(tree_ + L"\\serbest.txt"));

    // With deletion at restart allowed the parent is not scheduled either: what it still holds
    // is not, so Windows could not delete it then, and no restart would be announced for nothing.
    size_t pending_before = PendingDeletions().size();
    EXPECT_EQ(0u, RemoveTree(tree_.c_str(), true, false));
    EXPECT_TRUE(FileExists(inner));
    EXPECT_EQ(pending_before, PendingDeletions().size());
    CloseHandle(hold);
}

TEST_F(RemoveTreeTest, FolderOfAnOrdinaryOwnerIsRefusedWhole)
{
    Make(L"ayarlar.ini");
    Make(L"alt", nullptr);
    if (FolderOwnerIsTrusted(tree_))
        GTEST_SKIP() << "new folders here are owned by a trusted account";
    EXPECT_FALSE(IsTrustedOwner(nullptr, SE_FILE_OBJECT, false));
    EXPECT_EQ((unsigned)OwnerRefused, RemoveTree(tree_.c_str(), true, true));
    EXPECT_EQ("x", ReadFileBytes(tree_ + L"\\ayarlar.ini"));
    EXPECT_TRUE(FileExists(tree_ + L"\\alt"));

    RemoveTreeLogged(tree_.c_str(), false, true);
    EXPECT_NE(std::string::npos, Log().find("sahibi yonetici olmayan klasor silinmedi: " + Utf8(tree_) + "\r\n"));
    EXPECT_TRUE(FileExists(tree_ + L"\\ayarlar.ini"));
}

TEST_F(RemoveTreeTest, FolderOwnedByAdministratorsOrLocalSystemIsDeleted)
{
    for (WELL_KNOWN_SID_TYPE owner : {WinBuiltinAdministratorsSid, WinLocalSystemSid}) {
        if (!FileExists(tree_)) {
            ASSERT_TRUE(CreateDirectoryW(tree_.c_str(), nullptr));
        }
        Make(L"ayarlar.ini");
        ASSERT_TRUE(SetFolderOwner(tree_, owner));
        if (!FolderOwnerIsTrusted(tree_))
            GTEST_SKIP() << "the owner cannot be changed here: Wine reports success for SetNamedSecurityInfoW with "
                            "owner and DACL, but keeps no stored descriptor and still reads the current user's SID";
        EXPECT_EQ(0u, RemoveTree(tree_.c_str(), false, true));
        EXPECT_FALSE(FileExists(tree_));
    }
}

// Entries whose paths do not fit, a file in a folder whose own path just fits and a file beside it:
// each stays, is named in the log and reported, and no folder above them is handed to the restart,
// where Windows could not delete it. The plain removal's wider paths reach them.
TEST_F(RemoveTreeTest, PathThatDoesNotFitIsReportedNotSkipped)
{
    std::wstring deep = tree_ + L"\\" + std::wstring(258 - tree_.size() - 1, L'd');
    std::wstring long_file = tree_ + L"\\" + std::wstring(260 - tree_.size() - 1, L'f');
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    if (!WriteFileBytes(deep + L"\\ic.txt", "x") || !WriteFileBytes(long_file, "x"))
        GTEST_SKIP() << "this Windows cannot make a path of more than 259 characters";
    std::vector<std::wstring> pending_before = PendingDeletions();

    EXPECT_EQ((unsigned)PathTooLong, RemoveTree(tree_.c_str(), true, false));
    EXPECT_TRUE(FileExists(deep + L"\\ic.txt"));
    EXPECT_TRUE(FileExists(long_file));
    EXPECT_EQ(pending_before, PendingDeletions());
    std::vector<std::string> lines = LogLines(LogFile());
    EXPECT_TRUE(HasLine(lines, "yol cok uzun, silinmedi: " + Utf8(deep) + "\\ic.txt")) << Log();
    EXPECT_TRUE(HasLine(lines, "yol cok uzun, silinmedi: " + Utf8(long_file))) << Log();

    EXPECT_EQ(StatusOk, DeleteTreePlain(tree_.c_str()));
    EXPECT_FALSE(FileExists(tree_));
}
