#pragma once

// Releases of the stand-in product, the setup run as a process against them, and what an
// install leaves in the test prefix's file system, service manager and registry, read back.

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

// The setup's install folder in the test prefix, and its log there.
extern const wchar_t kProductFolder[];  // C:\Program Files\Talvor
extern const wchar_t kInstallLogPath[]; // C:\Program Files\Talvor\kurulum.log
// The removal log in the temporary folder.
std::wstring RemovalLogPath();

// The serial (header value B) and expiry record of a release's manifest. By default a release
// gets the time of publishing, above the serial before, as the release tool gives it; no expiry.
struct ReleaseStamp {
    uint64_t serial = 0; // 0: the next rising one
    std::string expiry;  // the expiry record's text; empty: no record
};

// Writes into `folder` (which must exist) a release the setup takes with --yerel=: a package of
// the stand-in product programs named "paket-<version>.tpk" and its manifest, signed with the
// development key. `service_behaviour`, when not empty, goes into the package as
// "talvor_svc.davranis", so that this version's service misbehaves (tests/product/README.md).
// `extra` adds further files as name and content pairs; `omit` leaves product files out.
bool PublishProductRelease(const std::wstring &folder, const std::string &version,
                           const std::string &service_behaviour = "",
                           const std::vector<std::pair<std::string, std::string>> &extra = {},
                           const std::vector<std::string> &omit = {}, const ReleaseStamp &stamp = {});
// The development key is the one the setup under test trusts; a build with another key cannot
// take the releases above, and its tests skip.
bool SetupTrustsDevelopmentKey();
#define REQUIRE_DEVELOPMENT_KEY()                                                                \
    do {                                                                                         \
        if (!SetupTrustsDevelopmentKey())                                                        \
            GTEST_SKIP() << "the setup was built with another release key than the development key"; \
    } while (0)

// A test that runs the setup against releases of the stand-in product: skipped when the setup
// does not trust the development key; the product is taken off the machine before and after.
class ProductReleaseTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // A release folder of its own for each version and variant (PublishProductRelease).
    std::wstring Release(const std::string &version, const std::string &behaviour = "",
                         const std::vector<std::pair<std::string, std::string>> &extra = {},
                         const ReleaseStamp &stamp = {});

    std::wstring releases_;
    int published_ = 0;
};

// "<build>\bin\Talvor-Kurulum.exe" quoted, followed by the arguments.
std::wstring SetupCommand(const std::wstring &arguments);
// Runs the setup silently from the release folder: "/sessiz --yerel=<folder>" and `more`. With
// `release_at`, a stand-in service held in a slow start or stop is released once the run logs
// that line, so that it goes on in the step the test means.
long InstallFrom(const std::wstring &release, const std::wstring &more = L"", const char *release_at = nullptr);

// The log's lines without their time stamps; only whole lines (ended by CR LF), from the byte
// offset `from` on.
std::vector<std::string> LogLines(const std::wstring &path, size_t from = 0);
// The last of `lines`, or "" when there is none.
std::string LastLine(const std::vector<std::string> &lines);
// Whether `line` is one of `lines`, whole.
bool HasLine(const std::vector<std::string> &lines, const std::string &line);

// A pointer file's raw content, or "-" when there is none.
std::string PointerFile(const wchar_t *name);
// The names in a folder (without "." and ".."), sorted; empty when there is no such folder.
std::vector<std::string> FolderEntries(const std::wstring &folder);
// The names in the store folder "surumler", sorted.
std::vector<std::string> StoreEntries();

struct ProductService {
    bool exists = false;
    DWORD state = 0;
    DWORD pid = 0;
    DWORD start_type = 0;
    std::wstring command; // the registered command line, as the service manager has it
};
ProductService QueryProductService();

// Whether any process runs the program at `path`.
bool ProgramRunning(const std::wstring &path);

// Reads a string value under HKEY_LOCAL_MACHINE (64-bit view); false when there is none.
bool ReadMachineString(const wchar_t *key, const wchar_t *name, std::wstring &out);
extern const wchar_t kUninstallEntryKey[];
extern const wchar_t kRunEntryKey[];
// The product's shortcut in the all-users Start menu and on the public desktop.
std::wstring StartMenuShortcut();
std::wstring DesktopShortcut();

// The user's data, which a removal takes only when asked: the data folder "Talvor" under
// ProgramData (shared) and under LocalAppData (the user's own), and the settings key under
// HKEY_CURRENT_USER.
extern const wchar_t kSettingsKey[]; // Software\Tekvar Yazılım\Talvor
std::wstring SharedDataFolder();
std::wstring UserDataFolder();
// Both data folders with "ayarlar.ini" ("dil=tr") inside, the user's owned by the user as the
// product makes it, and the settings key with its value.
void MakeUserData();
// Gives the key under HKEY_CURRENT_USER the value "Deger", creating the key; false when it cannot.
bool WriteSettingsValue(const wchar_t *key);
bool SettingsValueExists(const wchar_t *key);
// The removal's line for a shared data folder it kept because its owner is not trusted.
std::string SharedFolderRefusal();
// Takes the data folders and the settings key away.
void RemoveUserData();

// Takes the product off the machine the hard way, whatever state a test left it in: the
// service, the tray application, the install folder, the registration and the shortcuts.
void RemoveProductCompletely();

// The paths Windows will delete at the next restart, as MoveFileExW listed them.
std::vector<std::wstring> PendingDeletions();

// Where `path` stands in `paths`, ignoring case, or (size_t)-1 when it is not there.
size_t PathIndex(const std::vector<std::wstring> &paths, const std::wstring &path);

// Saves the list of deletions at the next restart and puts it back when it goes.
class PendingDeletionsGuard {
public:
    PendingDeletionsGuard();
    ~PendingDeletionsGuard();

private:
    std::vector<BYTE> saved_;
    DWORD type_ = 0;
    bool had_ = false;
};

// Runs `work` (the worker body, or a step of it) while a second thread raises the cancel flag of
// Progress as soon as the status shows `sign`, the own text of the phase the cancel is meant for.
// True when the flag was raised while that status was shown; false when `work` ended first.
bool RunCancellingOnStatus(const wchar_t *sign, const std::function<void()> &work);
