#include "support/installed_product.h"

#include <tlhelp32.h>

#include "core/progress_state.h"
#include "release/signature.h"
#include "service/app_shutdown.h"
#include "support/test_package.h"
#include "support/test_signing.h"
#include "support/test_support.h"
#include "core/object_owner.h"

#include <shlobj.h>

#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>

const wchar_t kProductFolder[] = L"C:\\Program Files\\Talvor";
const wchar_t kInstallLogPath[] = L"C:\\Program Files\\Talvor\\kurulum.log";
const wchar_t kUninstallEntryKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Talvor";
const wchar_t kRunEntryKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kSettingsKey[] = L"Software\\Tekvar Yazılım\\Talvor";

static const wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

std::wstring RemovalLogPath()
{
    return TempFolder() + L"Talvor-Kaldir.log";
}

static const TestKey &DevelopmentKey()
{
    static TestKey key(DevelopmentKeyFile());
    return key;
}

bool SetupTrustsDevelopmentKey()
{
    return DevelopmentKey().ok() && memcmp(DevelopmentKey().public_key(), GetReleasePublicKey(), 64) == 0;
}

bool PublishProductRelease(const std::wstring &folder, const std::string &version, const std::string &service_behaviour,
                           const std::vector<std::pair<std::string, std::string>> &extra,
                           const std::vector<std::string> &omit, const ReleaseStamp &stamp)
{
    std::vector<TestEntry> entries;
    for (const char *name : {"Talvor.exe", "WinDivert.dll", "WinDivert64.sys", "talvor_gui.exe", "talvor_guncelle.exe",
                             "talvor_svc.exe"}) {
        if (std::find(omit.begin(), omit.end(), name) != omit.end())
            continue;
        TestEntry entry;
        entry.name = name;
        entry.data = ReadFileBytes(ProductPath(Utf8ToWide(name).c_str()));
        if (entry.data.empty())
            return false;
        entries.push_back(entry);
    }
    if (!service_behaviour.empty())
        entries.push_back(TestEntry{"talvor_svc.davranis", service_behaviour});
    for (const auto &file : extra)
        entries.push_back(TestEntry{file.first, file.second});
    std::sort(entries.begin(), entries.end(), [](const TestEntry &a, const TestEntry &b) { return a.name < b.name; });

    std::string package = PackageBytes(entries);
    std::string package_name = "paket-" + version + ".tpk";
    ManifestLayout layout;
    layout.records = {{9, "program|" + version + "|" + HexOf(Sha256Of(package)) + "|" + std::to_string(package.size()) +
                              "|" + package_name}};
    if (!stamp.expiry.empty())
        layout.records.push_back({10, stamp.expiry});
    static uint64_t last_serial = 0;
    layout.b = stamp.serial;
    if (layout.b == 0)
        layout.b = last_serial = std::max<uint64_t>((uint64_t)time(nullptr), last_serial + 1);
    return WriteFileBytes(folder + L"\\" + Utf8ToWide(package_name), package) &&
           WriteFileBytes(folder + L"\\bildirim.tdb", SignedManifestFile(DevelopmentKey(), ManifestBody(layout)));
}

void ProductReleaseTest::SetUp()
{
    REQUIRE_DEVELOPMENT_KEY();
    RemoveProductCompletely();
    releases_ = MakeTempFolder(L"yayin");
    ASSERT_FALSE(releases_.empty());
}

void ProductReleaseTest::TearDown()
{
    RemoveProductCompletely();
    RemoveFolder(releases_);
}

std::wstring ProductReleaseTest::Release(const std::string &version, const std::string &behaviour,
                                         const std::vector<std::pair<std::string, std::string>> &extra,
                                         const ReleaseStamp &stamp)
{
    std::wstring folder = releases_ + L"\\" + std::to_wstring(++published_);
    EXPECT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_TRUE(PublishProductRelease(folder, version, behaviour, extra, {}, stamp));
    return folder;
}

std::wstring SetupCommand(const std::wstring &arguments)
{
    return L"\"" + BuildPath(L"bin\\Talvor-Kurulum.exe") + L"\" " + arguments;
}

long InstallFrom(const std::wstring &release, const std::wstring &more, const char *release_at)
{
    // The worst case after the point of no return is a few minutes of the sequence's own waits.
    const DWORD longest_run_ms = 240000;
    std::wstring command = SetupCommand(L"/sessiz \"--yerel=" + release + L"\" " + more);
    if (release_at == nullptr)
        return RunProgram(command, longest_run_ms);
    size_t log_start = ReadFileBytes(kInstallLogPath).size();
    HANDLE process = StartProgram(command);
    if (process == nullptr)
        return -1;
    auto logged = [&] {
        std::vector<std::string> lines = LogLines(kInstallLogPath, log_start);
        return std::find(lines.begin(), lines.end(), release_at) != lines.end();
    };
    for (ULONGLONG start = GetTickCount64(); !logged() && GetTickCount64() - start < longest_run_ms;)
        if (WaitForSingleObject(process, 50) != WAIT_TIMEOUT)
            break;
    ReleaseHeldService();
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(process, longest_run_ms) != WAIT_OBJECT_0)
        TerminateProcess(process, 99);
    else
        GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return (long)code;
}

std::vector<std::string> LogLines(const std::wstring &path, size_t from)
{
    std::string log = ReadFileBytes(path);
    std::vector<std::string> lines;
    for (size_t at = from, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(end - at >= 20 ? log.substr(at + 20, end - at - 20) : log.substr(at, end - at));
    return lines;
}

std::string LastLine(const std::vector<std::string> &lines)
{
    return lines.empty() ? "" : lines.back();
}

bool HasLine(const std::vector<std::string> &lines, const std::string &line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string PointerFile(const wchar_t *name)
{
    std::wstring path = std::wstring(kProductFolder) + L"\\" + name;
    return FileExists(path) ? ReadFileBytes(path) : "-";
}

std::vector<std::string> FolderEntries(const std::wstring &folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (wcscmp(entry.cFileName, L".") != 0 && wcscmp(entry.cFileName, L"..") != 0)
            names.push_back(Utf8(entry.cFileName));
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> StoreEntries()
{
    return FolderEntries(std::wstring(kProductFolder) + L"\\surumler");
}

ProductService QueryProductService()
{
    ProductService result;
    SC_HANDLE service = OpenProductService(SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    if (service == nullptr)
        return result;
    result.exists = true;
    ServiceState state = {0, 0};
    if (QueryServiceState(service, state)) {
        result.state = state.state;
        result.pid = state.pid;
    }
    DWORD needed = 0;
    QueryServiceConfigW(service, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed + sizeof(QUERY_SERVICE_CONFIGW));
    auto config = (QUERY_SERVICE_CONFIGW *)buffer.data();
    if (QueryServiceConfigW(service, config, (DWORD)buffer.size(), &needed)) {
        result.command = config->lpBinaryPathName ? config->lpBinaryPathName : L"";
        result.start_type = config->dwStartType;
    }
    CloseServiceHandle(service);
    return result;
}

bool ReadMachineString(const wchar_t *key, const wchar_t *name, std::wstring &out)
{
    wchar_t value[1024];
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return false;
    out = value;
    return true;
}

static std::wstring KnownFolderFile(REFKNOWNFOLDERID folder, const wchar_t *name)
{
    wchar_t *path = nullptr;
    std::wstring result;
    if (SUCCEEDED(SHGetKnownFolderPath(folder, 0, nullptr, &path)))
        result = LongPath(path) + L"\\" + name;
    CoTaskMemFree(path);
    return result;
}

std::wstring StartMenuShortcut()
{
    return KnownFolderFile(FOLDERID_CommonPrograms, L"Talvor.lnk");
}

std::wstring DesktopShortcut()
{
    return KnownFolderFile(FOLDERID_PublicDesktop, L"Talvor.lnk");
}

std::wstring SharedDataFolder()
{
    return KnownFolderFile(FOLDERID_ProgramData, L"Talvor");
}

std::wstring UserDataFolder()
{
    return KnownFolderFile(FOLDERID_LocalAppData, L"Talvor");
}

bool ProgramRunning(const std::wstring &path)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {sizeof entry};
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry)) {
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        wchar_t image[600];
        DWORD length = 600;
        found = process != nullptr && QueryFullProcessImageNameW(process, 0, image, &length) &&
                _wcsicmp(image, path.c_str()) == 0;
        if (process != nullptr)
            CloseHandle(process);
    }
    CloseHandle(snapshot);
    return found;
}

void MakeUserData()
{
    for (const std::wstring &folder : {SharedDataFolder(), UserDataFolder()}) {
        CreateDirectoryW(folder.c_str(), nullptr);
        ASSERT_TRUE(WriteFileBytes(folder + L"\\ayarlar.ini", "dil=tr")) << Utf8(folder);
    }
    // On Windows, an elevated test's new folders belong to the Administrators group.
    TOKEN_USER *user = ProcessUser();
    bool owned = user != nullptr && SetFolderOwner(UserDataFolder(), user->User.Sid);
    free(user);
    ASSERT_TRUE(owned);
    ASSERT_TRUE(WriteSettingsValue(kSettingsKey));
}

bool WriteSettingsValue(const wchar_t *path)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    DWORD value = 1;
    bool written = RegSetValueExW(key, L"Deger", 0, REG_DWORD, (const BYTE *)&value, sizeof value) == ERROR_SUCCESS;
    RegCloseKey(key);
    return written;
}

bool SettingsValueExists(const wchar_t *path)
{
    DWORD value = 0, size = sizeof value;
    return RegGetValueW(HKEY_CURRENT_USER, path, L"Deger", RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS;
}

std::string SharedFolderRefusal()
{
    return "sahibi yonetici olmayan klasor silinmedi: " + Utf8(SharedDataFolder());
}

void RemoveUserData()
{
    RemoveFolder(SharedDataFolder());
    RemoveFolder(UserDataFolder());
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKey);
}

void RemoveProductCompletely()
{
    RemoveProductService();
    CloseRunningApp();
    RemoveFolder(kProductFolder);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUninstallEntryKey);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kUninstallEntryKey);
    HKEY run;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunEntryKey, 0, KEY_SET_VALUE, &run) == ERROR_SUCCESS) {
        RegDeleteValueW(run, L"Talvor");
        RegCloseKey(run);
    }
    DeleteFileW(StartMenuShortcut().c_str());
    DeleteFileW(DesktopShortcut().c_str());
}

std::vector<std::wstring> PendingDeletions()
{
    std::vector<std::wstring> paths;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return paths;
    std::vector<wchar_t> value(65536);
    DWORD size = (DWORD)(value.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, (BYTE *)value.data(), &size) ==
        ERROR_SUCCESS) {
        // Pairs of source and destination, where an empty destination means delete: the empty
        // strings are part of the value, so it is split by its size, not at the first double zero.
        std::vector<std::wstring> strings;
        size_t count = size / sizeof(wchar_t);
        for (size_t start = 0; start < count;) {
            size_t end = start;
            while (end < count && value[end] != 0)
                end++;
            strings.emplace_back(value.data() + start, end - start);
            start = end + 1;
        }
        for (size_t i = 0; i + 1 < strings.size(); i += 2) {
            std::wstring path = strings[i];
            if (path.compare(0, 4, L"\\??\\") == 0)
                path.erase(0, 4);
            paths.push_back(path);
        }
    }
    RegCloseKey(key);
    return paths;
}

size_t PathIndex(const std::vector<std::wstring> &paths, const std::wstring &path)
{
    for (size_t i = 0; i < paths.size(); i++)
        if (_wcsicmp(paths[i].c_str(), path.c_str()) == 0)
            return i;
    return (size_t)-1;
}

PendingDeletionsGuard::PendingDeletionsGuard() : saved_(131072)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    DWORD size = (DWORD)saved_.size();
    had_ = RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type_, saved_.data(), &size) ==
           ERROR_SUCCESS;
    saved_.resize(had_ ? size : 0);
    RegCloseKey(key);
}

PendingDeletionsGuard::~PendingDeletionsGuard()
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    if (had_)
        RegSetValueExW(key, L"PendingFileRenameOperations", 0, type_, saved_.data(), (DWORD)saved_.size());
    else
        RegDeleteValueW(key, L"PendingFileRenameOperations");
    RegCloseKey(key);
}

namespace {

struct CancelWatch {
    const wchar_t *sign;
    volatile LONG work_done;
};

DWORD WINAPI CancelOnSign(void *parameter)
{
    CancelWatch *watch = (CancelWatch *)parameter;
    for (ULONGLONG start = GetTickCount64(); !watch->work_done && GetTickCount64() - start < 60000; Sleep(1)) {
        // Raised under the status lock: the worker cannot move on to its next status meanwhile.
        AcquireSRWLockShared(&Progress.status_lock);
        bool shown = wcsstr(Progress.status_text, watch->sign) != nullptr;
        if (shown)
            RaiseFlag(&Progress.cancel_requested);
        ReleaseSRWLockShared(&Progress.status_lock);
        if (shown)
            return 0;
    }
    return 1;
}

} // namespace

bool RunCancellingOnStatus(const wchar_t *sign, const std::function<void()> &work)
{
    CancelWatch watch = {sign, 0};
    HANDLE watcher = CreateThread(nullptr, 0, CancelOnSign, &watch, 0, nullptr);
    work();
    InterlockedExchange(&watch.work_done, 1);
    DWORD code = 1;
    if (watcher != nullptr) {
        WaitForSingleObject(watcher, 60000);
        GetExitCodeThread(watcher, &code);
        CloseHandle(watcher);
    }
    return code == 0;
}
