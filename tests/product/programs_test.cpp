// The other product stand-ins: the folder a version directory is made from, the tray
// application that waits to be ended, and the launcher that records how it was started.
#include "support/test_support.h"

#include <shellapi.h>

#include <string>

TEST(ProductFolder, HoldsTheSixProgramFilesAsAVersionDirectoryDoes)
{
    for (const wchar_t *name : {L"talvor_svc.exe", L"talvor_gui.exe", L"Talvor.exe", L"talvor_guncelle.exe",
                                L"WinDivert.dll", L"WinDivert64.sys"}) {
        DWORD attributes = GetFileAttributesW(ProductPath(name).c_str());
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, attributes) << Utf8(name);
        EXPECT_EQ(0u, attributes & FILE_ATTRIBUTE_DIRECTORY) << Utf8(name);
    }
    // Started at logon or from the shell, they must not bring up a console window.
    for (const wchar_t *name : {L"talvor_gui.exe", L"Talvor.exe", L"talvor_guncelle.exe"}) {
        DWORD_PTR type = SHGetFileInfoW(ProductPath(name).c_str(), 0, nullptr, 0, SHGFI_EXETYPE);
        EXPECT_EQ((DWORD_PTR)'P' | ('E' << 8), type & 0xFFFF) << Utf8(name);
        EXPECT_NE(0u, type >> 16) << Utf8(name) << " is a console program";
    }
    HMODULE library = LoadLibraryW(ProductPath(L"WinDivert.dll").c_str());
    EXPECT_NE(nullptr, library);
    if (library != nullptr)
        FreeLibrary(library);
}

TEST(GuiStandIn, RunsUntilTerminated)
{
    HANDLE process = StartProgram(L"\"" + ProductPath(L"talvor_gui.exe") + L"\"");
    ASSERT_NE(nullptr, process);
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(process, 1500));
    EXPECT_TRUE(TerminateProcess(process, 0));
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(process, 5000));
    DWORD code = 1;
    EXPECT_TRUE(GetExitCodeProcess(process, &code));
    EXPECT_EQ(0u, code);
    CloseHandle(process);
}

// Each start appends its arguments exactly as given, beside the program and not in the working
// folder: the start-up entry's, the shortcuts', and the shell's after an install.
TEST(LauncherStandIn, RecordsTheArgumentsOfEachStartBesideItself)
{
    std::wstring folder = MakeTempFolder(L"launcher");
    ASSERT_FALSE(folder.empty());
    std::wstring launcher = folder + L"\\Talvor.exe";
    ASSERT_TRUE(CopyFileW(ProductPath(L"Talvor.exe").c_str(), launcher.c_str(), FALSE));
    std::wstring elsewhere = BuildPath(L"tests");

    EXPECT_EQ(0, RunProgram(L"\"" + launcher + L"\" --tepside", 10000, elsewhere));
    EXPECT_EQ(0, RunProgram(L"\"" + launcher + L"\"", 10000, elsewhere));
    EXPECT_EQ(0, RunProgram(L"\"" + launcher + L"\" --tepside \"iki kelime\" ğüşİ", 10000, elsewhere));
    SHELLEXECUTEINFOW shell = {};
    shell.cbSize = sizeof shell;
    shell.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    shell.lpVerb = L"open";
    shell.lpFile = launcher.c_str();
    shell.nShow = SW_SHOWNORMAL;
    EXPECT_TRUE(ShellExecuteExW(&shell));
    if (shell.hProcess != nullptr) {
        EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(shell.hProcess, 10000));
        CloseHandle(shell.hProcess);
    }

    EXPECT_EQ("--tepside\r\n\r\n--tepside \"iki kelime\" ğüşİ\r\n\r\n", ReadFileBytes(folder + L"\\Talvor.kayit"));
    EXPECT_FALSE(FileExists(elsewhere + L"\\Talvor.kayit"));
    RemoveFolder(folder);
}

namespace {

BOOL CALLBACK TakeFirstName(HMODULE, const wchar_t *, wchar_t *name, LONG_PTR first)
{
    *(std::wstring *)first = IS_INTRESOURCE(name) ? L"#" + std::to_wstring((ULONG_PTR)name) : name;
    return FALSE;
}

std::string Resource(HMODULE image, const wchar_t *name, const wchar_t *type)
{
    HRSRC found = FindResourceW(image, name, type);
    if (found == nullptr)
        return "";
    return std::string((const char *)LockResource(LoadResource(image, found)), SizeofResource(image, found));
}

} // namespace

// The start-up entry and the shortcuts show the launcher's first icon: it must be the product's
// icon, image for image.
TEST(LauncherStandIn, FirstIconIsTheProductIcon)
{
    std::string icon_file = ReadFileBytes(BuildPath(L"resources\\talvor.ico"));
    ASSERT_GE(icon_file.size(), 6u);
    WORD count = *(const WORD *)(icon_file.data() + 4);
    ASSERT_GT(count, 0);
    ASSERT_GE(icon_file.size(), 6u + 16u * count);

    HMODULE image = LoadLibraryExW(ProductPath(L"Talvor.exe").c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(nullptr, image);
    std::wstring first;
    EnumResourceNamesW(image, RT_GROUP_ICON, TakeFirstName, (LONG_PTR)&first);
    std::string group = Resource(image, first.c_str(), RT_GROUP_ICON);
    ASSERT_GE(group.size(), 6u + 14u * count) << Utf8(first);
    EXPECT_EQ(count, *(const WORD *)(group.data() + 4));
    for (WORD i = 0; i < count; i++) {
        const char *file_entry = icon_file.data() + 6 + 16 * i;
        DWORD size = *(const DWORD *)(file_entry + 8), offset = *(const DWORD *)(file_entry + 12);
        ASSERT_LE((size_t)offset + size, icon_file.size());
        WORD id = *(const WORD *)(group.data() + 6 + 14 * i + 12);
        EXPECT_EQ(icon_file.substr(offset, size), Resource(image, MAKEINTRESOURCEW(id), RT_ICON)) << "image " << i;
    }
    FreeLibrary(image);
}
