// Checks of the built setup program as a file: what it imports, the resources it carries, and
// the check with which it knows its own file.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "core/own_image.h"
#include "support/test_support.h"

namespace {

// The built setup, or the copy that TALVOR_SETUP_EXE names (a signed one, say).
std::wstring SetupPath()
{
    const wchar_t *other = _wgetenv(L"TALVOR_SETUP_EXE");
    return other != nullptr && other[0] != 0 ? other : BuildPath(L"bin\\Talvor-Kurulum.exe");
}

std::string Lower(std::string s)
{
    for (char &c : s)
        c = (char)tolower((unsigned char)c);
    return s;
}

std::wstring VersionString(const void *info, const wchar_t *name)
{
    wchar_t *value = nullptr;
    UINT length = 0;
    std::wstring key = std::wstring(L"\\StringFileInfo\\041F04B0\\") + name;
    if (!VerQueryValueW(info, key.c_str(), (void **)&value, &length) || value == nullptr)
        return L"<yok>";
    return value;
}

} // namespace

TEST(SetupBinary, IsA64BitGuiProgram)
{
    PeImage pe;
    ASSERT_TRUE(LoadPe(pe, SetupPath()));
    EXPECT_EQ(IMAGE_FILE_MACHINE_AMD64, pe.nt->FileHeader.Machine);
    EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR64_MAGIC, pe.nt->OptionalHeader.Magic);
    EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, pe.nt->OptionalHeader.Subsystem);
}

// A DLL outside the KnownDLLs would be searched for beside the setup first, where a planted
// copy could wait; delay-loaded imports would do the same on first use. ntdll is mapped into
// every process by Windows itself before any search.
TEST(SetupBinary, ImportsOnlyKnownDlls)
{
    const std::set<std::string> known = {
        "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "coml2.dll", "difxapi.dll",
        "gdi32.dll", "gdiplus.dll", "imagehlp.dll", "imm32.dll", "kernel32.dll", "msctf.dll",
        "msvcrt.dll", "normaliz.dll", "nsi.dll", "ntdll.dll", "ole32.dll", "oleaut32.dll", "psapi.dll",
        "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shcore.dll", "shell32.dll", "shlwapi.dll",
        "user32.dll", "wldap32.dll", "ws2_32.dll"};
    PeImage pe;
    ASSERT_TRUE(LoadPe(pe, SetupPath()));
    const IMAGE_DATA_DIRECTORY &imports = pe.nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    size_t offset = RvaToOffset(pe, imports.VirtualAddress);
    ASSERT_NE(0u, offset);
    std::set<std::string> seen;
    for (;; offset += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        ASSERT_LE(offset + sizeof(IMAGE_IMPORT_DESCRIPTOR), pe.bytes.size());
        auto descriptor = (const IMAGE_IMPORT_DESCRIPTOR *)(pe.bytes.data() + offset);
        if (descriptor->Name == 0)
            break;
        size_t name = RvaToOffset(pe, descriptor->Name);
        ASSERT_NE(0u, name);
        seen.insert(Lower(pe.bytes.c_str() + name));
    }
    EXPECT_TRUE(seen.count("kernel32.dll"));
    for (const std::string &dll : seen)
        EXPECT_TRUE(known.count(dll)) << dll << " is not a KnownDLL";
    EXPECT_EQ(0u, pe.nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].Size);
}

// The setup's check of its own file, against a copy of the setup mapped here as an image (marked
// as a DLL, since Wine maps a program only at its preferred base): the file it was mapped from is
// its file; a copy of the same bytes, another program, and the copy with one byte changed are not.
TEST(SetupBinary, OwnImageCheckTellsItsFileFromAnyOther)
{
    PeImage pe;
    ASSERT_TRUE(LoadPe(pe, SetupPath()));
    std::string as_dll = pe.bytes;
    auto characteristics = (WORD *)&as_dll[(const char *)&pe.nt->FileHeader.Characteristics - pe.bytes.data()];
    *characteristics |= IMAGE_FILE_DLL;
    std::string changed = as_dll;
    changed[RvaToOffset(pe, pe.nt->OptionalHeader.AddressOfEntryPoint)] ^= 1;
    std::wstring folder = MakeTempFolder(L"goruntu");
    ASSERT_TRUE(WriteFileBytes(folder + L"\\kurulum.dll", as_dll));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\ayni.dll", as_dll));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\degismis.dll", changed));
    HMODULE image = LoadLibraryExW((folder + L"\\kurulum.dll").c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(nullptr, image);
    auto is_its_file = [image](const std::wstring &path) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_EXECUTE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        bool same = file != INVALID_HANDLE_VALUE && IsFileOfImage(image, file);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        return same;
    };

    EXPECT_TRUE(is_its_file(folder + L"\\kurulum.dll"));
    EXPECT_FALSE(is_its_file(folder + L"\\ayni.dll"));
    EXPECT_FALSE(is_its_file(folder + L"\\degismis.dll"));
    EXPECT_FALSE(is_its_file(BuildPath(L"bin\\talvor-denetle.exe")));
    FreeLibrary(image);
    RemoveFolder(folder);
}

TEST(SetupBinary, ManifestAsksForAdminCommonControls6DpiAndUtf8)
{
    HMODULE image = LoadLibraryExW(SetupPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(nullptr, image);
    HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(nullptr, found);
    std::string manifest((const char *)LockResource(LoadResource(image, found)), SizeofResource(image, found));
    EXPECT_EQ(nullptr, FindResourceW(image, MAKEINTRESOURCEW(2), RT_MANIFEST));
    FreeLibrary(image);

    for (const char *part : {"name=\"TekvarYazilim.Talvor.Kurulum\"", "<description>Talvor Kurulum</description>",
                             "level=\"requireAdministrator\"", "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                             ">PerMonitorV2</dpiAwareness>", ">UTF-8</activeCodePage>"})
        EXPECT_NE(std::string::npos, manifest.find(part)) << part;
}

TEST(SetupBinary, IconHasFourSizes)
{
#pragma pack(push, 2)
    struct GroupEntry {
        BYTE width, height, colours, reserved;
        WORD planes, bits;
        DWORD bytes;
        WORD id;
    };
#pragma pack(pop)
    HMODULE image = LoadLibraryExW(SetupPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(nullptr, image);
    HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), RT_GROUP_ICON);
    ASSERT_NE(nullptr, found);
    auto group = (const WORD *)LockResource(LoadResource(image, found));
    std::set<int> sizes;
    auto entries = (const GroupEntry *)(group + 3);
    for (WORD i = 0; i < group[2]; i++)
        sizes.insert(entries[i].width == 0 ? 256 : entries[i].width);
    FreeLibrary(image);
    EXPECT_EQ((std::set<int>{16, 32, 48, 256}), sizes);
}

TEST(SetupBinary, VersionResource)
{
    std::wstring path = SetupPath();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::string info(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, &info[0]));
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", (void **)&fixed, &length));
    EXPECT_EQ(0x00000001u, fixed->dwFileVersionMS);
    EXPECT_EQ(0u, fixed->dwFileVersionLS);
    EXPECT_EQ(0x00000001u, fixed->dwProductVersionMS);
    EXPECT_EQ(L"Tekvar Yazılım", VersionString(info.data(), L"CompanyName"));
    EXPECT_EQ(L"Talvor", VersionString(info.data(), L"ProductName"));
    EXPECT_EQ(L"Talvor Kurulum", VersionString(info.data(), L"FileDescription"));
    EXPECT_EQ(L"0.1.0", VersionString(info.data(), L"FileVersion"));
    EXPECT_EQ(L"0.1.0", VersionString(info.data(), L"ProductVersion"));
}
