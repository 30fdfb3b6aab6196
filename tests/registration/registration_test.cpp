#include <gtest/gtest.h>

#include "core/process_values.h"
#include "registration/registry_values.h"
#include "registration/shortcuts.h"
#include "registration/startup_entry.h"
#include "registration/uninstall_entry.h"
#include "support/test_support.h"

#include <shobjidl.h>

#include <string>
#include <vector>

struct RegistryValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

static RegistryValue ReadValue(const wchar_t *key_name, const wchar_t *name)
{
    RegistryValue value;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_name, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.data.resize(size);
        RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size);
    }
    RegCloseKey(key);
    return value;
}

// A REG_SZ value must carry exactly the text and its terminator.
static void ExpectString(const wchar_t *key, const wchar_t *name, const std::wstring &text)
{
    RegistryValue value = ReadValue(key, name);
    EXPECT_EQ((DWORD)REG_SZ, value.type) << name;
    std::wstring with_terminator = text + L'\0';
    EXPECT_EQ(std::vector<BYTE>((const BYTE *)with_terminator.data(),
                                (const BYTE *)(with_terminator.data() + with_terminator.size())),
              value.data)
        << name;
}

static void ExpectDword(const wchar_t *key, const wchar_t *name, DWORD number)
{
    RegistryValue value = ReadValue(key, name);
    EXPECT_EQ((DWORD)REG_DWORD, value.type) << name;
    ASSERT_EQ(4u, value.data.size()) << name;
    EXPECT_EQ(number, *(const DWORD *)value.data.data()) << name;
}

class RegistrationTest : public LoggedFolderTest {
protected:
    void SetUp() override
    {
        LoggedFolderTest::SetUp();
        wcscpy(saved_folder_, InstallFolder);
        wcscpy(InstallFolder, (folder_ + L"\\Talvor").c_str());
        CreateDirectoryW(InstallFolder, nullptr);
        version_ = std::wstring(InstallFolder) + L"\\surumler\\2.10.0";
        CreateDirectoryW((std::wstring(InstallFolder) + L"\\surumler").c_str(), nullptr);
        CreateDirectoryW(version_.c_str(), nullptr);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUninstallKey);
    }
    void TearDown() override
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUninstallKey);
        if (!link_.empty())
            RemoveLink(link_);
        wcscpy(InstallFolder, saved_folder_);
        LoggedFolderTest::TearDown();
    }
    wchar_t saved_folder_[260];
    std::wstring version_;
    std::wstring link_;
};

TEST_F(RegistrationTest, UninstallEntryHoldsItsTwelveValues)
{
    ASSERT_TRUE(WriteFileBytes(version_ + L"\\talvor_svc.exe", std::string(3000, 'x')));
    ASSERT_TRUE(WriteFileBytes(version_ + L"\\b.dll", std::string(100, 'x')));
    ASSERT_TRUE(WriteUninstallEntry(version_.c_str(), "2.10.0"));

    std::wstring folder = InstallFolder;
    const wchar_t *key = kUninstallKey;
    ExpectString(key, L"DisplayName", L"Talvor");
    ExpectString(key, L"DisplayVersion", L"2.10.0");
    ExpectString(key, L"Publisher", L"Tekvar Yazılım");
    ExpectString(key, L"URLInfoAbout", L"https://www.tekvar.com.tr/talvor/");
    ExpectString(key, L"InstallLocation", folder);
    ExpectString(key, L"DisplayIcon", folder + L"\\Talvor.exe,0");
    ExpectString(key, L"UninstallString", L"\"" + folder + L"\\Talvor-Kaldir.exe\" /kaldir");
    ExpectString(key, L"QuietUninstallString", L"\"" + folder + L"\\Talvor-Kaldir.exe\" /kaldir /sessiz");
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t date[16];
    swprintf(date, 16, L"%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    ExpectString(key, L"InstallDate", date);
    EXPECT_EQ(8u, wcslen(date));
    ExpectDword(key, L"NoModify", 1);
    ExpectDword(key, L"NoRepair", 1);
    ExpectDword(key, L"EstimatedSize", 3100 / 1024);
}

TEST_F(RegistrationTest, RewriteKeepsValuesOfOthers)
{
    ASSERT_TRUE(WriteUninstallEntry(version_.c_str(), "2.10.0"));
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_SET_VALUE, &key));
    ASSERT_TRUE(SetStringValue(key, L"Comments", L"başkasının"));
    ASSERT_TRUE(SetStringValue(key, L"DisplayName", L"eski ad"));
    RegCloseKey(key);

    ASSERT_TRUE(WriteUninstallEntry(version_.c_str(), "2.11.0"));
    ExpectString(kUninstallKey, L"Comments", L"başkasının");
    ExpectString(kUninstallKey, L"DisplayName", L"Talvor");
    ExpectString(kUninstallKey, L"DisplayVersion", L"2.11.0");
}

TEST_F(RegistrationTest, EstimatedSizeCountsWholeKilobytesAndNoLinks)
{
    ASSERT_TRUE(WriteFileBytes(version_ + L"\\a.bin", std::string(1000, 'x')));
    CreateDirectoryW((version_ + L"\\alt").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(version_ + L"\\alt\\b.bin", std::string(23, 'x')));
    EXPECT_EQ(1023u, DirectorySize(version_.c_str()));
    ASSERT_TRUE(WriteUninstallEntry(version_.c_str(), "2.10.0"));
    ExpectDword(kUninstallKey, L"EstimatedSize", 0);

    ASSERT_TRUE(WriteFileBytes(version_ + L"\\c.bin", "x"));
    ASSERT_TRUE(WriteUninstallEntry(version_.c_str(), "2.10.0"));
    ExpectDword(kUninstallKey, L"EstimatedSize", 1);

    std::wstring big = folder_ + L"\\buyuk";
    CreateDirectoryW(big.c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(big + L"\\d.bin", std::string(1 << 20, 'x')));
    if (!MakeFolderLink(big, version_ + L"\\baglanti"))
        GTEST_SKIP() << "no link could be made";
    link_ = version_ + L"\\baglanti";
    EXPECT_EQ(1024u, DirectorySize(version_.c_str()));
    EXPECT_EQ(0u, DirectorySize((folder_ + L"\\yok").c_str()));
}

// The Run key as it was, to be put back after a test that removes it.
class RunKeyTest : public RegistrationTest {
protected:
    void TearDown() override
    {
        HKEY key;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
            ERROR_SUCCESS) {
            RegDeleteValueW(key, kRunValueName);
            for (auto &value : saved_)
                RegSetValueExW(key, value.first.c_str(), 0, value.second.type, value.second.data.data(),
                               (DWORD)value.second.data.size());
            RegCloseKey(key);
        }
        RegistrationTest::TearDown();
    }
    void SaveRunKey()
    {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
            return;
        wchar_t name[16384];
        for (DWORD i = 0;; i++) {
            DWORD length = 16384;
            if (RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            saved_.push_back({name, ReadValue(kRunKey, name)});
        }
        RegCloseKey(key);
    }
    std::vector<std::pair<std::wstring, RegistryValue>> saved_;
};

TEST_F(RunKeyTest, StartupEntryStartsTheLauncherInTheNotificationArea)
{
    SaveRunKey();
    ASSERT_TRUE(WriteStartupEntry());
    ExpectString(kRunKey, kRunValueName, L"\"" + std::wstring(InstallFolder) + L"\\Talvor.exe\" --tepside");

    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_LOCAL_MACHINE, kRunKey));
    EXPECT_FALSE(WriteStartupEntry());
    HKEY key;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_QUERY_VALUE, &key));
}

class ShortcutTest : public RegistrationTest {
protected:
    void SetUp() override
    {
        RegistrationTest::SetUp();
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    }
    void TearDown() override
    {
        DeleteShortcut(FOLDERID_CommonPrograms);
        DeleteShortcut(FOLDERID_PublicDesktop);
        CoUninitialize();
        RegistrationTest::TearDown();
    }
};

TEST_F(ShortcutTest, ShortcutReadsBackThroughTheShellLink)
{
    for (REFKNOWNFOLDERID known : {FOLDERID_CommonPrograms, FOLDERID_PublicDesktop}) {
        wchar_t path[260];
        ASSERT_TRUE(ShortcutPath(known, path));
        ASSERT_TRUE(CreateShortcut(known));
        ASSERT_TRUE(CreateShortcut(known)); // overwritten, not doubled

        IShellLinkW *link = nullptr;
        ASSERT_TRUE(SUCCEEDED(
            CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, (void **)&link)));
        IPersistFile *file = nullptr;
        ASSERT_TRUE(SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void **)&file)));
        ASSERT_TRUE(SUCCEEDED(file->Load(path, STGM_READ)));
        wchar_t text[MAX_PATH];
        std::wstring target = std::wstring(InstallFolder) + L"\\Talvor.exe";
        link->GetPath(text, MAX_PATH, nullptr, 0);
        EXPECT_STREQ(target.c_str(), text);
        link->GetWorkingDirectory(text, MAX_PATH);
        EXPECT_STREQ(InstallFolder, text);
        int icon = -1;
        link->GetIconLocation(text, MAX_PATH, &icon);
        EXPECT_STREQ(target.c_str(), text);
        EXPECT_EQ(0, icon);
        link->GetDescription(text, MAX_PATH);
        EXPECT_STREQ(L"Talvor \u00b7 Tekvar Yazılım", text);
        link->GetArguments(text, MAX_PATH);
        EXPECT_STREQ(L"", text);
        file->Release();
        link->Release();

        std::wstring folder(path, wcsrchr(path, L'\\'));
        WIN32_FIND_DATAW entry;
        HANDLE find = FindFirstFileW((folder + L"\\Talvor*").c_str(), &entry);
        ASSERT_NE(INVALID_HANDLE_VALUE, find);
        int count = 1;
        while (FindNextFileW(find, &entry))
            count++;
        FindClose(find);
        EXPECT_EQ(1, count);

        DeleteShortcut(known);
        EXPECT_FALSE(FileExists(path));
        DeleteShortcut(known); // a missing shortcut is no error
    }
}
