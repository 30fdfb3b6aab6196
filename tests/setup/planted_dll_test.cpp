// A setup is often started from a downloads folder that also holds whatever else was
// downloaded. DLLs planted there under the names of the system DLLs the programs load on first
// use must never be loaded.
#include <gtest/gtest.h>

#include <string>

#include "release/component_list.h"
#include "support/test_signing.h"
#include "support/test_support.h"

namespace {

const wchar_t *const kPlantedNames[] = {L"bcrypt.dll", L"comctl32.dll", L"winhttp.dll", L"cabinet.dll"};

// Wine prefers its own builtin DLLs whatever the search finds. Told (per program, in the
// prefix's registry) to prefer native ones for these names, it loads a planted copy exactly
// when the search reaches the program's folder.
const wchar_t *const kProgramCopies[] = {L"naive_loader.exe", L"planted-setup.exe", L"planted-checker.exe"};

void PreferNativeDlls(bool on)
{
    for (const wchar_t *program : kProgramCopies) {
        std::wstring key = std::wstring(L"Software\\Wine\\AppDefaults\\") + program + L"\\DllOverrides";
        if (!on) {
            RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(L"Software\\Wine\\AppDefaults\\") + program).c_str());
            continue;
        }
        for (const wchar_t *name : kPlantedNames) {
            std::wstring dll(name, wcslen(name) - 4);
            RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), dll.c_str(), REG_SZ, L"native,builtin",
                            sizeof L"native,builtin");
        }
    }
}

class PlantedDllTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        PreferNativeDlls(true);
        folder_ = MakeTempFolder(L"planted");
        ASSERT_FALSE(folder_.empty());
        for (const wchar_t *name : kPlantedNames)
            ASSERT_TRUE(CopyFileW(BuildPath(L"tests\\planted.dll").c_str(), (folder_ + L"\\" + name).c_str(), FALSE));
    }
    void TearDown() override
    {
        PreferNativeDlls(false);
        RemoveFolder(folder_);
    }

    std::wstring Copy(const wchar_t *built, const wchar_t *copy)
    {
        std::wstring target = folder_ + L"\\" + copy;
        EXPECT_TRUE(CopyFileW(BuildPath(built).c_str(), target.c_str(), FALSE));
        return target;
    }
    void ExpectNoneLoaded()
    {
        for (const wchar_t *name : kPlantedNames)
            EXPECT_FALSE(FileExists(folder_ + L"\\" + name + L".loaded")) << Utf8(name);
    }
    std::wstring folder_;
};

} // namespace

// Without this the other tests would pass even if a planted DLL could never be picked up.
TEST_F(PlantedDllTest, ACarelessProgramPicksThePlantedDllUp)
{
    std::wstring loader = Copy(L"tests\\naive_loader.exe", L"naive_loader.exe");
    for (const wchar_t *name : kPlantedNames) {
        EXPECT_EQ(0, RunProgram(L"\"" + loader + L"\" " + name, 60000, folder_)) << Utf8(name);
        EXPECT_TRUE(FileExists(folder_ + L"\\" + name + L".loaded")) << Utf8(name);
    }
}

// comctl32 is loaded at every start. Two things keep a planted copy out: the manifest's common
// controls 6 dependency (served from the side-by-side store) and the restricted search; this
// fails only when both are lost, while the checker's test below guards the search alone.
TEST_F(PlantedDllTest, SetupLoadsCommonControlsFromTheSystem)
{
    std::wstring setup = Copy(L"bin\\Talvor-Kurulum.exe", L"planted-setup.exe");
    // The folder holds no release, so the run ends before it would fetch or verify anything.
    EXPECT_EQ(1, RunProgram(L"\"" + setup + L"\" /sessiz \"--yerel=" + folder_ + L"\"", 60000, folder_));
    ExpectNoneLoaded();
}

TEST_F(PlantedDllTest, CheckerVerifiesWithTheSystemCrypto)
{
    std::wstring checker = Copy(L"bin\\talvor-denetle.exe", L"planted-checker.exe");
    // A release signed with some key: the checker must reach its signature check, which needs
    // bcrypt; a planted one would fail it or announce itself.
    TestKey key;
    ASSERT_TRUE(key.ok());
    ManifestLayout layout;
    layout.records = {{9, "program|1.0.0|" + std::string(64, 'a') + "|1|a.tpk"}};
    ASSERT_TRUE(WriteFileBytes(folder_ + L"\\bildirim.tdb", SignedManifestFile(key, ManifestBody(layout))));
    EXPECT_EQ(1, RunProgram(L"\"" + checker + L"\" \"--yerel=" + folder_ + L"\"", 60000, folder_)); // not the built-in key
    ExpectNoneLoaded();
}
