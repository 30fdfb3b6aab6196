#include <gtest/gtest.h>

#include "release/package_extract.h"
#include "support/installed_product.h"
#include "support/test_package.h"
#include "support/test_support.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

// What a refused package must not change: every file of the prefix's drive with its size and
// time of last write, and every folder (whose own time changes with the destination made and
// removed in it).
static void ListTree(const std::wstring &folder, std::map<std::wstring, std::pair<uint64_t, uint64_t>> &out)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::wstring path = folder + L"\\" + name;
        uint64_t written = ((uint64_t)entry.ftLastWriteTime.dwHighDateTime << 32) | entry.ftLastWriteTime.dwLowDateTime;
        bool folder_entry = entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        out[path] = {((uint64_t)entry.nFileSizeHigh << 32) | entry.nFileSizeLow, folder_entry ? 0 : written};
        if (folder_entry && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            ListTree(path, out);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

class ExtractPackageTest : public LoggedFolderTest {
protected:
    void SetUp() override
    {
        LoggedFolderTest::SetUp();
        package_ = folder_ + L"\\paket.tpk";
        destination_ = folder_ + L"\\2.0.0.kur";
    }
    Status Extract(const std::string &bytes, uint32_t *count = nullptr)
    {
        EXPECT_TRUE(WriteFileBytes(package_, bytes));
        return ExtractPackage(package_.c_str(), destination_.c_str(), count);
    }
    std::string Unpacked(const wchar_t *relative) const { return ReadFileBytes(destination_ + L"\\" + relative); }

    std::wstring package_;
    std::wstring destination_;
};

TEST_F(ExtractPackageTest, UnpacksFilesIntoTheirFolders)
{
    uint32_t count = 0;
    ASSERT_EQ(StatusOk, Extract(PackageBytes({{"bos.txt", ""},
                                              {"a/b/c.dll", "MZ\x90"},
                                              {"a/kok.exe", std::string(70000, 'k')},
                                              {u8"belgeler/türkçe ı.txt", "metin"}}),
                                &count));
    EXPECT_EQ(4u, count);
    EXPECT_TRUE(FileExists(destination_ + L"\\bos.txt"));
    EXPECT_EQ("", Unpacked(L"bos.txt"));
    EXPECT_EQ("MZ\x90", Unpacked(L"a\\b\\c.dll"));
    EXPECT_EQ(std::string(70000, 'k'), Unpacked(L"a\\kok.exe"));
    EXPECT_EQ("metin", Unpacked(L"belgeler\\türkçe ı.txt"));
    EXPECT_EQ("", Log()); // the extractor logs nothing

    // A second extraction into the same folder is refused and leaves the first one alone.
    EXPECT_EQ(StatusInvalid, Extract(PackageBytes({{"bos.txt", "yeni"}})));
    EXPECT_EQ("", Unpacked(L"bos.txt"));
    EXPECT_TRUE(FileExists(destination_ + L"\\a\\kok.exe"));
}

TEST_F(ExtractPackageTest, RefusedPackagesLeaveNothingAnywhere)
{
    std::string long_name(240, 'n');
    struct Case {
        const char *why;
        std::string bytes;
        Status status;
    } cases[] = {
        {"dot dot", PackageBytes({{"ilk.txt", "1"}, {"../kacak.txt", "x"}}), StatusInvalid},
        {"inner dot dot", PackageBytes({{"ilk.txt", "1"}, {"a/../../kacak.txt", "x"}}), StatusInvalid},
        {"dot", PackageBytes({{"./a", "x"}}), StatusInvalid},
        {"leading slash", PackageBytes({{"ilk.txt", "1"}, {"/kacak.txt", "x"}}), StatusInvalid},
        {"trailing slash", PackageBytes({{"a/", "x"}}), StatusInvalid},
        {"two slashes", PackageBytes({{"a//b", "x"}}), StatusInvalid},
        {"backslash", PackageBytes({{"ilk.txt", "1"}, {"..\\kacak.txt", "x"}}), StatusInvalid},
        {"drive", PackageBytes({{"C:kacak.txt", "x"}}), StatusInvalid},
        {"stream", PackageBytes({{"a.txt:gizli", "x"}}), StatusInvalid},
        {"control", PackageBytes({{"a\tb", "x"}}), StatusInvalid},
        {"trailing dot", PackageBytes({{"a./b", "x"}}), StatusInvalid},
        {"trailing space", PackageBytes({{"a /b", "x"}}), StatusInvalid},
        {"device", PackageBytes({{"ilk.txt", "1"}, {"alt/NUL.txt", "x"}}), StatusInvalid},
        {"not utf-8", PackageBytes({{"a\xff\xfe.txt", "x"}}), StatusInvalid},
        {"name too long", PackageBytes({{long_name + "n", "x"}}), StatusInvalid},
        {"name length 0", PackageBytes({{"", "x"}}), StatusInvalid},
        {"digest", PackageBytes({{"ilk.txt", "1"}, {"b.txt", "x", 0, "", -1, -1, Sha256Of("y")}}), StatusInvalid},
        {"stored size differs", PackageBytes({{"a.txt", "xy", 0, "", 0x20000000, 2}}), StatusInvalid},
        {"unpacked too big", PackageBytes({{"a.txt", "x", 1, "x", 0x20000001, 1}}), StatusInvalid},
        {"method 2", PackageBytes({{"a.txt", "x", 2, "x"}}), StatusInvalid},
        {"stored past the end", PackageBytes({{"a.txt", "x", 0, "", 1, 2}}), StatusInvalid},
        {"truncated entry", PackageBytes({{"ilk.txt", "1"}}, 2), StatusInvalid},
        {"trailing bytes", PackageBytes({{"ilk.txt", "1"}}) + "z", StatusInvalid},
        {"same name", PackageBytes({{"a.txt", "1"}, {"a.txt", "2"}}), StatusIoError},
        {"same name but case", PackageBytes({{"A.TXT", "1"}, {"a.txt", "2"}}), StatusIoError},
        {"file then folder", PackageBytes({{"a", "1"}, {"a/b", "2"}}), StatusIoError},
        {"count 0", PackageBytes({}, 0), StatusInvalid},
        {"count 4097", PackageBytes({{"a", "1"}}, 4097), StatusInvalid},
        {"magic", "TPK2" + PackageBytes({{"a", "1"}}).substr(4), StatusInvalid},
        {"short", "TPK1", StatusInvalid},
    };
    std::map<std::wstring, std::pair<uint64_t, uint64_t>> before, after;
    for (const Case &c : cases)
        ASSERT_TRUE(WriteFileBytes(package_ + Utf8ToWide(c.why), c.bytes));
    ListTree(L"C:", before);
    for (const Case &c : cases) {
        std::wstring package = package_ + Utf8ToWide(c.why);
        EXPECT_EQ(c.status, ExtractPackage(package.c_str(), destination_.c_str(), nullptr)) << c.why;
        EXPECT_FALSE(FileExists(destination_)) << c.why;
    }
    ListTree(L"C:", after);
    // The log is the one file a refusal may write: the packages that fail on writing name the call.
    std::vector<std::string> lines = LogLines(LogFile());
    std::string same_name = "CreateFileW basarisiz: " + Utf8(destination_) + "\\a.txt (kod 80)";
    EXPECT_EQ(2, std::count(lines.begin(), lines.end(), same_name)) << Log();
    EXPECT_TRUE(HasLine(lines, "CreateFileW basarisiz: " + Utf8(destination_) + "\\a\\b (kod 3)")) << Log();
    after.erase(LogFile());
    EXPECT_EQ(before.size(), after.size());
    for (const auto &file : after)
        EXPECT_TRUE(before.count(file.first) && before[file.first] == file.second) << Utf8(file.first);
    EXPECT_FALSE(FileExists(folder_ + L"\\kacak.txt"));
}

TEST_F(ExtractPackageTest, LimitsOfCountsNamesAndPaths)
{
    std::vector<TestEntry> many;
    for (int i = 0; i < 4096; i++)
        many.push_back({std::to_string(i), ""});
    uint32_t count = 0;
    ASSERT_EQ(StatusOk, Extract(PackageBytes(many), &count));
    EXPECT_EQ(4096u, count);
    EXPECT_TRUE(FileExists(destination_ + L"\\4095"));
    RemoveFolder(destination_);

    // A name of 240 bytes needs a short destination to fit in 260 characters.
    std::string name = std::string(120, 'a') + "/" + std::string(119, 'b');
    std::wstring short_destination = L"C:\\t240-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(WriteFileBytes(package_, PackageBytes({{name, "x"}})));
    EXPECT_EQ(StatusOk, ExtractPackage(package_.c_str(), short_destination.c_str(), nullptr));
    EXPECT_EQ("x", ReadFileBytes(short_destination + L"\\" + std::wstring(120, L'a') + L"\\" + std::wstring(119, L'b')));
    RemoveFolder(short_destination);
    // The same name below the test's longer folder does not fit: refused, not cut.
    EXPECT_EQ(StatusInvalid, Extract(PackageBytes({{name, "x"}})));
    EXPECT_FALSE(FileExists(destination_));

    std::wstring too_long = folder_ + L"\\" + std::wstring(245 - folder_.size(), L'd');
    EXPECT_EQ(StatusInvalid, ExtractPackage(package_.c_str(), too_long.c_str(), nullptr));
    EXPECT_EQ(StatusNotFound, ExtractPackage((folder_ + L"\\yok.tpk").c_str(), destination_.c_str(), nullptr));
    EXPECT_EQ(StatusInvalid, ExtractPackage(nullptr, destination_.c_str(), nullptr));
    EXPECT_FALSE(FileExists(destination_));
}

// The Compression API's own output for the seven samples, stored as method 1 entries.
static std::string Sample(const std::string &file)
{
    return ReadFileBytes(SourceFile(L"tests/data/compress-api-lzms/" + Utf8ToWide(file)));
}

TEST_F(ExtractPackageTest, CompressedEntriesAreDecodedThroughTheCompressionApi)
{
    std::vector<TestEntry> entries;
    for (const char *name : {"english", "pattern", "random", "sequential", "single_byte", "small", "zeros"}) {
        std::string raw = Sample(std::string(name) + ".raw");
        std::string compressed = Sample(std::string(name) + ".lzms");
        ASSERT_FALSE(raw.empty()) << name;
        ASSERT_FALSE(compressed.empty()) << name;
        entries.push_back({std::string("lzms/") + name + ".bin", raw, 1, compressed});
    }
    entries.push_back({"saklanan.bin", "stored as it is"});
    uint32_t count = 0;
    ASSERT_EQ(StatusOk, Extract(PackageBytes(entries), &count));
    EXPECT_EQ(8u, count);
    for (const TestEntry &e : entries) {
        std::wstring relative = Utf8ToWide(e.name);
        std::replace(relative.begin(), relative.end(), L'/', L'\\');
        EXPECT_EQ(e.data, ReadFileBytes(destination_ + L"\\" + relative)) << e.name;
    }
    RemoveFolder(destination_);

    TestEntry english = entries[0];
    TestEntry over_compressed = english;
    over_compressed.digest = Sha256Of(english.stored);
    TestEntry longer = english;
    longer.unpacked_size = (int64_t)english.data.size() + 1;
    TestEntry damaged = english;
    damaged.stored[damaged.stored.size() / 2] ^= 0x55;
    TestEntry truncated = english;
    truncated.stored.resize(english.stored.size() - 2);
    for (const TestEntry &bad : {over_compressed, longer, damaged, truncated}) {
        EXPECT_EQ(StatusInvalid, Extract(PackageBytes({{"ilk.txt", "1"}, bad})));
        EXPECT_FALSE(FileExists(destination_));
    }
}
