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

struct PeImage {
    std::string bytes;
    const IMAGE_NT_HEADERS64 *nt = nullptr;
};

bool LoadPe(PeImage &pe)
{
    pe.bytes = ReadFileBytes(SetupPath());
    if (pe.bytes.size() < sizeof(IMAGE_DOS_HEADER))
        return false;
    auto dos = (const IMAGE_DOS_HEADER *)pe.bytes.data();
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || (size_t)dos->e_lfanew + sizeof(IMAGE_NT_HEADERS64) > pe.bytes.size())
        return false;
    pe.nt = (const IMAGE_NT_HEADERS64 *)(pe.bytes.data() + dos->e_lfanew);
    return pe.nt->Signature == IMAGE_NT_SIGNATURE;
}

// File offset of a relative virtual address, or 0 when no section holds it.
size_t RvaToOffset(const PeImage &pe, DWORD rva)
{
    const IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(pe.nt);
    for (WORD i = 0; i < pe.nt->FileHeader.NumberOfSections; i++, section++) {
        DWORD size = std::max(section->Misc.VirtualSize, section->SizeOfRawData);
        if (rva >= section->VirtualAddress && rva < section->VirtualAddress + size)
            return rva - section->VirtualAddress + section->PointerToRawData;
    }
    return 0;
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
    ASSERT_TRUE(LoadPe(pe));
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
    ASSERT_TRUE(LoadPe(pe));
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

// The setup's check of its own file, against the setup mapped as an image here at another base
// than its preferred one, and so relocated, as Windows does at every start. Marked as a DLL, the
// copy is relocated by Wine's loader too, which maps a program at its preferred base or not at
// all. The file matches its image; another program does not, nor the file with one byte of its
// code changed.
TEST(SetupBinary, OwnImageCheckTellsItsFileFromAnyOther)
{
    PeImage pe;
    ASSERT_TRUE(LoadPe(pe));
    std::string as_dll = pe.bytes;
    auto characteristics = (WORD *)&as_dll[(const char *)&pe.nt->FileHeader.Characteristics - pe.bytes.data()];
    *characteristics |= IMAGE_FILE_DLL;
    std::string changed = as_dll;
    changed[RvaToOffset(pe, pe.nt->OptionalHeader.AddressOfEntryPoint)] ^= 1;
    std::wstring folder = MakeTempFolder(L"goruntu");
    ASSERT_TRUE(WriteFileBytes(folder + L"\\kurulum.dll", as_dll));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\degismis.dll", changed));
    HMODULE image = LoadLibraryExW((folder + L"\\kurulum.dll").c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(nullptr, image);
    EXPECT_NE(pe.nt->OptionalHeader.ImageBase, (ULONGLONG)(uintptr_t)image) << "the mapping was not relocated";
    auto matches = [image](const std::wstring &path) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        bool same = file != INVALID_HANDLE_VALUE && ImageMatchesFile(image, file);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        return same;
    };

    EXPECT_TRUE(matches(folder + L"\\kurulum.dll"));
    EXPECT_FALSE(matches(folder + L"\\degismis.dll"));
    EXPECT_FALSE(matches(BuildPath(L"bin\\talvor-denetle.exe")));
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
